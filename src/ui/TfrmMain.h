#pragma once
// The home window: names the installation the program works on and opens the Options
// and About windows.

#include <QWidget>

class QLabel;

namespace ui {

class TfrmMain : public QWidget {
    Q_OBJECT
public:
    explicit TfrmMain(QWidget* parent = nullptr);

    // A sentence about the installation under its name (the sandbox says what it is).
    void SetMachineNote(const QString& note);

    // Runs the Options window modally and, after OK, saves it to the store.
    void ShowOptions();
    // Runs the About window modally.
    void ShowAbout();

private:
    QLabel* lblMachineNote_;
};

} // namespace ui
