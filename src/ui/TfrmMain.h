#pragma once
// The home window: names the installation the program works on and opens the Options
// and About windows.

#include <QWidget>

namespace ui {

class TfrmMain : public QWidget {
    Q_OBJECT
public:
    explicit TfrmMain(QWidget* parent = nullptr);

    // Runs the Options window modally and, after OK, saves it to the store.
    void ShowOptions();
    // Runs the About window modally.
    void ShowAbout();
};

} // namespace ui
