#pragma once
// The Options window: the keys that scans leave alone, the pruning of old backups and
// auto start, kept under "\Options" of the settings store.

#include <QDialog>
#include <string>
#include <vector>

class QCheckBox;
class QListWidget;
class QPushButton;
class QSpinBox;
class TfxRegFile;

namespace ui {

class TfrmOptions : public QDialog {
    Q_OBJECT
public:
    explicit TfrmOptions(QWidget* parent = nullptr);

    // Fills the controls from "\Options", each from its value where it exists; nothing
    // when the key does not exist. Store errors are raised (StoreError).
    void LoadFromStore(TfxRegFile& store);
    // Writes the controls under "\Options", creating it, then creates or removes the
    // host's autostart entry for this machine. Store errors are raised; a failure of the
    // autostart entry is shown in a message box.
    void SaveToStore(TfxRegFile& store);

    // The exclusion lines as they stand (machine text).
    std::vector<std::string> ExclusionLines() const;
    // Whether `path` is present within `line`, ignoring letter case, as whole key names.
    static bool LineHoldsKeyPath(const std::string& line, const std::string& path);

private:
    void addLine(const std::string& line);
    // Add (no preset) and Edit (the selected line as preset) run the browse-key dialog
    // and add the key it gives as a new line, unless a line already holds it.
    void browseAndAdd(const std::string* presetLine);
    void removeSelected();
    void updateActions();

    QListWidget* lsExclude_;
    QPushButton* btnAdd_;
    QPushButton* btnEdit_;
    QPushButton* btnRemove_;
    QCheckBox* chkReplace_;
    QSpinBox* edtAmount_;
    QCheckBox* chkAutoRun_;
};

} // namespace ui
