#pragma once
// The registry viewer: the machine's registry as a tree of keys beside the values of the
// selected key, with the key's location in the status line. It stands in for the
// registry editor of Windows, which the scan results open at a key. It only reads.

#include <QMainWindow>
#include <string>

class QLabel;
class QTreeView;

namespace ui {

class RegistryTreeModel;
class RegistryValueModel;

class RegistryViewer : public QMainWindow {
    Q_OBJECT
public:
    explicit RegistryViewer(QWidget* parent = nullptr);

    // Walks the tree down a key location ("HKEY_LOCAL_MACHINE\SOFTWARE\...", machine
    // text), letters compared as the registry does, expanding on the way, and selects
    // the deepest key found: a key that is not there leaves its parent selected.
    void SelectKeyLocation(const std::string& keyLocation);
    // Selects the value of the selected key named `name` ("" for the default value);
    // false, with no value selected, when the key has none of that name.
    bool SelectValue(const std::string& name);
    // The selected key's location; empty while the top node is selected.
    std::string SelectedKeyLocation() const;
    // Reads the registry anew (the keys shown, their subkeys and values), keeping the
    // selected key as far as it still exists.
    void Refresh();
    // Back as at the program's start: the tree read anew and closed down to the hives,
    // the top node selected.
    void Restart();

    QTreeView* Tree() const { return tvRegistry_; }
    QTreeView* ValueList() const { return lvValues_; }
    RegistryTreeModel* TreeModel() const { return keys_; }
    RegistryValueModel* ValueModel() const { return values_; }

private:
    void keyChanged();

    RegistryTreeModel* keys_;
    RegistryValueModel* values_;
    QTreeView* tvRegistry_;
    QTreeView* lvValues_;
    QLabel* lblKeyPath_;
};

} // namespace ui
