#pragma once
// Driving the windows as a user does: answering message boxes, acting on a modal window
// once it is up, finding controls by name.

#include "ui/MessageBox.h"

#include <QApplication>
#include <QList>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>

namespace ui {
class TfrmRepair;
}
namespace testing_support {
class TestMachine;
}

namespace ui_testing {

// The Registry Wizard shown in `mode` (TfrmRepair::wmClean, ...), as the home window's
// links open it.
std::unique_ptr<ui::TfrmRepair> OpenWizard(uint8_t mode);

// Leaves a replacement of SOFTWARE waiting on disk for the booted `machine`, as an earlier
// run does that could not make it (its old-file name was taken when it let the machine
// go), and shuts the machine down. False, with the step that failed, if it could not.
bool LeaveSoftwareReplacementWaiting(testing_support::TestMachine& machine, QString& failed);

// While alive, every message box is recorded instead of shown and answered with the
// next of `answers` (the last one again when they run out).
class MessageBoxes {
public:
    explicit MessageBoxes(QList<QMessageBox::StandardButton> answers = {QMessageBox::Ok});
    ~MessageBoxes();
    const QList<ui::MessageBoxRequest>& asked() const { return asked_; }

private:
    QList<QMessageBox::StandardButton> answers_;
    QList<ui::MessageBoxRequest> asked_;
};

// Runs `act` on the first modal window of type Window that comes up while the event loop
// runs (the caller then opens it with a click). Gives up after ten seconds. A window that
// `act` left open (a failed check returns early) is closed, so that the test goes on.
template <typename Window> void WhenModal(std::function<void(Window&)> act) {
    auto* timer = new QTimer;
    auto* waited = new int(0);
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, waited, act] {
        auto* window = qobject_cast<Window*>(QApplication::activeModalWidget());
        if (!window && ++*waited < 1000)
            return;
        timer->stop();
        timer->deleteLater();
        delete waited;
        if (!window)
            return;
        act(*window);
        if (window->isVisible())
            window->reject();
    });
    timer->start();
}

// Runs `act` once, as soon as the windowed program's home window is shown (the program
// mounts its machine first, its event loop running meanwhile). Stops looking when it
// goes out of scope.
class WhenHomeShown {
public:
    explicit WhenHomeShown(std::function<void()> act);

private:
    QTimer poll_;
};

// The child of `parent` with the object name `name`, of type T; fails the test if none.
template <typename T> T* Child(QWidget& parent, const char* name) {
    T* child = parent.findChild<T*>(name);
    if (!child)
        qFatal("no control named %s", name);
    return child;
}

} // namespace ui_testing
