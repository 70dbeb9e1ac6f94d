#pragma once
// Driving the scan engine in tests: a user-interface loop run by the test's own thread,
// and a whole scan of the booted machine with the engine's own scanners.

#include "scan/TFixRegistry.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace testing_support {

// The user-interface thread of a test: tasks queued from any thread run on the test's
// own thread, in order, while it runs the loop.
class TestUiLoop : public UiDispatcher {
public:
    void Post(std::function<void()> task) override {
        std::lock_guard guard(lock_);
        tasks_.push_back(std::move(task));
        changed_.notify_all();
    }
    bool IsShuttingDown() const override { return shuttingDown; }

    // Runs tasks until `done` holds; false when it does not hold within a minute (a
    // hang, reported rather than waited out).
    bool RunUntil(const std::function<bool()>& done) {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!done()) {
            std::function<void()> task;
            {
                std::unique_lock guard(lock_);
                if (!changed_.wait_until(guard, limit, [&] { return !tasks_.empty(); }))
                    return done();
                task = std::move(tasks_.front());
                tasks_.pop_front();
            }
            task();
        }
        return true;
    }
    // Waits, without running anything, until at least `count` tasks are queued.
    bool WaitForQueued(size_t count) {
        std::unique_lock guard(lock_);
        return changed_.wait_for(guard, std::chrono::seconds(60),
                                 [&] { return tasks_.size() >= count; });
    }
    // Runs every task queued so far.
    void RunPending() {
        std::deque<std::function<void()>> tasks;
        {
            std::lock_guard guard(lock_);
            tasks.swap(tasks_);
        }
        for (auto& task : tasks)
            task();
    }

    std::atomic<bool> shuttingDown{false};

private:
    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<std::function<void()>> tasks_;
};

// What one scan gave and raised.
struct ScanOutcome {
    bool ended = false; // false: the scan did not end within a minute
    std::vector<TInvalidRegData> records;
    std::string error; // LastScanError
    std::vector<TRepairItem> statuses;
    std::vector<std::string> keys; // OnKeyChange, in order
    std::vector<int> percents;     // OnProgressing, in order
    // The number of records in the list each time OnFound was raised, and its category.
    std::vector<std::pair<size_t, TRepairItem>> found;
};

// Reads the booted machine's version (as the program does at start-up) and scans it
// with the engine's own scanners. `prepare` may set more of the engine before Start.
ScanOutcome ScanMachine(TRepairItems items, const std::vector<std::string>& exclusions = {},
                        const std::function<void(TFixRegistry&)>& prepare = {});

} // namespace testing_support
