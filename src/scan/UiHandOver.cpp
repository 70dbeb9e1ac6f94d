#include "scan/UiHandOver.h"

#include <chrono>
#include <thread>

namespace {
// How often a waiting worker looks whether the application is shutting down, when
// nothing else wakes it.
constexpr std::chrono::milliseconds kShutdownPoll{50};
// A task of the user-interface thread usually runs within some microseconds; a worker
// that sleeps at once pays for its wake-up as much again, once for every record a scan
// hands over. It looks this long first.
constexpr std::chrono::microseconds kLookBeforeSleeping{40};
} // namespace

UiHandOver::UiHandOver(UiDispatcher& ui) : ui_(ui) {}

bool UiHandOver::Invoke(std::function<void()> task) {
    unsigned long long ticket = 0;
    {
        std::lock_guard guard(state_->lock);
        if (state_->abandoned)
            return false;
        ticket = ++state_->queued;
    }
    ui_.Post([state = state_, ticket, task = std::move(task)] {
        std::lock_guard guard(state->lock);
        if (state->abandoned)
            return;
        bool ran = false;
        try {
            task();
            ran = true;
        } catch (...) {
            // The worker learns of it from the result; the loop must go on.
        }
        state->lastRan = ran;
        state->done.store(ticket, std::memory_order_release);
        state->changed.notify_all();
    });
    const auto lookUntil = std::chrono::steady_clock::now() + kLookBeforeSleeping;
    while (state_->done.load(std::memory_order_acquire) < ticket &&
           std::chrono::steady_clock::now() < lookUntil)
        std::this_thread::yield();
    std::unique_lock guard(state_->lock);
    while (state_->done < ticket && !state_->abandoned) {
        if (ui_.IsShuttingDown()) {
            // The task may never run; should it run later, it must not act any more.
            state_->abandoned = true;
            break;
        }
        state_->changed.wait_for(guard, kShutdownPoll);
    }
    return state_->done >= ticket && state_->lastRan;
}

void UiHandOver::Abandon() {
    std::lock_guard guard(state_->lock);
    state_->abandoned = true;
    state_->changed.notify_all();
}
