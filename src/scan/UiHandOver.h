#pragma once
// A worker's blocking call onto the user-interface thread that the user-interface
// thread can abandon: an owner that must wait for its worker to end (in its
// destructor, on that same thread) cannot also run the call the worker waits for.

#include "scan/UiDispatcher.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

class UiHandOver {
public:
    explicit UiHandOver(UiDispatcher& ui);

    // Worker: runs `task` on the user-interface thread and waits until it has run.
    // Returns false, without the task having run or ever running, when the hand-over
    // was abandoned or the application shut down before the task's turn came, and
    // false when the task threw. One worker calls it, one call at a time.
    bool Invoke(std::function<void()> task);

    // User-interface thread: every waiting and later Invoke returns false at once, and
    // tasks still queued are dropped unrun.
    void Abandon();

private:
    struct State {
        std::mutex lock;
        std::condition_variable changed;
        bool abandoned = false;
        unsigned long long queued = 0; // tickets handed out
        // The last ticket whose turn has come; changed under the lock, and atomic for a
        // worker that looks without the lock before it sleeps.
        std::atomic<unsigned long long> done{0};
        bool lastRan = false; // whether that ticket's task ran to its end
    };
    UiDispatcher& ui_;
    // Shared with the queued tasks, which may outlive this object.
    std::shared_ptr<State> state_ = std::make_shared<State>();
};
