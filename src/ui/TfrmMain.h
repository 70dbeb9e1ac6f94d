#pragma once
// The home window: starts the Registry Wizard in one of its three modes, names the
// installation the program works on, shows when the last jobs ran, and opens the Options
// and About windows and the manual.

#include <QWidget>
#include <cstdint>

class QLabel;

namespace ui {

class WordWrapLabel;

class TfrmMain : public QWidget {
    Q_OBJECT
public:
    explicit TfrmMain(QWidget* parent = nullptr);

    // A sentence about the installation under its name (the sandbox says what it is),
    // plain text.
    void SetMachineNote(const QString& note);

    // Runs the wizard modally in `mode` (0 clean, 1 backup and restore, 2 compact), then
    // shows the status again.
    void StartWizard(uint8_t mode);

    // Runs the Options window modally and, after OK, saves it to the store.
    void ShowOptions();
    // Shows the times of the last scan, backup and compaction from the store; a time the
    // store does not hold keeps what its label shows. Runs whenever the window is shown.
    void ShowStatus();
    // Empties the three times, on the window and in the store (when it exists).
    void ResetStatistics();

    // Opens a page of the manual installed beside the program in the desktop's browser
    // ("manual.html" for Help, "index.html" for Home); says so when it cannot.
    void ShowManualPage(const QString& page);
    // Runs the About window modally.
    void ShowAbout();

signals:
    // The user closed the window: the program ends.
    void Closed();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // The three job links share this: the link's tag less one is the wizard's mode.
    void WizardLinkClick();

    WordWrapLabel* lblMachineNote_;
    QLabel* lblPendingReplacements_;
    QLabel* lblLastscan_;
    QLabel* lbllastBackup_;
    QLabel* lbllastCompact_;
    bool centred_ = false;
    static constexpr int kWidth = 715;
    static constexpr int kHeight = 543;
    void FitHeight();
};

} // namespace ui
