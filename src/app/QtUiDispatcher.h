#pragma once
// The engines' way onto the program's main thread: tasks run in the Qt event loop of
// the thread that made the dispatcher, in the order they were posted. The windowed
// program and the command-line companion share it.

#include "scan/UiDispatcher.h"

#include <QObject>
#include <atomic>

namespace app {

class QtUiDispatcher : public UiDispatcher {
public:
    // Shutting down begins when the application is about to quit.
    QtUiDispatcher();
    void Post(std::function<void()> task) override;
    bool IsShuttingDown() const override { return shuttingDown_; }

private:
    QObject context_; // lives on the thread whose loop runs the tasks
    std::atomic<bool> shuttingDown_{false};
};

} // namespace app
