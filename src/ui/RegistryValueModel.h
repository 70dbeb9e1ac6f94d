#pragma once
// The registry viewer's value list: the values of one key of the live registry with
// their names, types and data, the unnamed value first as "(Default)", then the others
// sorted by name without regard to letter case. Read-only.

#include "win32/base/WinTypes.h"

#include <QAbstractTableModel>
#include <string>
#include <vector>

namespace ui {

class RegistryValueModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { NameColumn, TypeColumn, DataColumn, ColumnCount };

    explicit RegistryValueModel(QObject* parent = nullptr);

    // Reads the values of the key at a key location ("HKEY_CURRENT_USER\Software", machine
    // text); an empty location, or a key that cannot be opened, lists nothing.
    void ShowKey(const std::string& keyLocation);
    const std::string& KeyLocation() const { return keyLocation_; }

    // The value's name as the registry spells it; empty for the default value.
    std::string Name(int row) const;
    // The row of the value named `name`, letters compared as the registry does (the
    // code page's upper case); "" is the default value. -1 when the key has none.
    int RowOf(const std::string& name) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    struct Value {
        std::string name; // machine text
        bool set = true;  // false for a default value the key does not have
        DWORD type = REG_SZ;
        std::string data; // at most kShownValueDataBytes of it
    };
    // The data texts are made as rows are shown, so that a key with very many values
    // opens at once.
    std::vector<Value> values_;
    std::string keyLocation_;
};

} // namespace ui
