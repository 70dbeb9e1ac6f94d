#pragma once
// The engines' way onto the user-interface thread. The program implements it on the
// GUI thread's event loop; tests implement it with a loop of their own.

#include <functional>

class UiDispatcher {
public:
    virtual ~UiDispatcher() = default;

    // Queues `task` to run on the user-interface thread after every task queued before
    // it. Callable from any thread; never waits for the task. Once the application
    // shuts down, queued tasks may never run.
    virtual void Post(std::function<void()> task) = 0;

    // True once the application has begun to shut down. Callable from any thread.
    virtual bool IsShuttingDown() const = 0;
};
