#pragma once
// The rows of the wizard's result list: one problem each, with its check box. Columns as
// the list's slides show them: 0 check box, 1 image index, 2 "Key Location", 3 "Value
// Name", 4 "Value Data", 5 "Diagnosis", 6 "Repair", 7 to 11 the five labels.

#include <QAbstractTableModel>
#include <string>
#include <vector>

namespace ui {

class ResultModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column {
        colCheck,
        colImage,
        colKeyLocation,
        colValueName,
        colValueData,
        colDiagnosis,
        colRepair,
        colFirstLabel,
        kColumnCount = colFirstLabel + 5
    };
    static const char* const kLabels[5];

    // Key location and value name stay in the machine's text, as the engine gave them,
    // so that a repair names exactly the record it was shown.
    struct Row {
        bool checked = true;
        int imageIndex = -1;
        std::string keyLocation;
        std::string valueName;
        QString valueData; // "{ null }" for none
        QString diagnosis;
        QString repair;
    };

    using QAbstractTableModel::QAbstractTableModel;

    void Clear();
    void Append(std::vector<Row> rows);
    void RemoveRow(int row);
    // `count` rows from `row` on, in one change for the views.
    void RemoveRows(int row, int count);
    const Row& At(int row) const { return rows_[size_t(row)]; }
    int Count() const { return int(rows_.size()); }
    bool IsChecked(int row) const { return rows_[size_t(row)].checked; }
    void SetChecked(int row, bool checked);
    // For every row at once (one change for the views).
    void SetAllChecked(bool checked);
    void InvertChecked();
    int CheckedCount() const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

signals:
    // A check box changed (the count of checked rows may differ).
    void checkChanged();

private:
    std::vector<Row> rows_;
};

} // namespace ui
