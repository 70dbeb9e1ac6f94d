#pragma once
// The browse-key dialog: the user picks one key of the live registry from a tree, and
// whether the keys below it are meant too.

#include <QDialog>
#include <string>

class QCheckBox;
class QLabel;
class QPushButton;
class QTreeView;

namespace ui {

class RegistryTreeModel;

class TfrmBrowsekey : public QDialog {
    Q_OBJECT
public:
    explicit TfrmBrowsekey(QWidget* parent = nullptr);

    // Before showing: the key to select (machine text, "HKEY_LOCAL_MACHINE\SOFTWARE")
    // and the state of "Include sub keys".
    void SetKeyPath(const std::string& path) { keyPath_ = path; }
    void SetIncludeSubKeys(bool include);
    // After OK: the selected key's path and the check box's state.
    const std::string& KeyPath() const { return keyPath_; }
    bool IncludeSubKeys() const;

    QTreeView* Tree() const { return tvRegistry_; }
    RegistryTreeModel* Model() const { return model_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    // Walks the preset path down the tree as far as its names are found, expanding on
    // the way, and selects the deepest node found.
    void selectPresetPath();
    void selectionMoved();

    RegistryTreeModel* model_;
    QTreeView* tvRegistry_;
    QCheckBox* chkIncludeSub_;
    QLabel* lblKeyPath_;
    QPushButton* btnOK_;
    std::string keyPath_;
    bool shown_ = false;
};

} // namespace ui
