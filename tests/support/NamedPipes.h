#pragma once
// Named pipes where a file is expected, as a damaged or hostile disk may hold them.
// Opening or reading one waits for a writer, so a call that reads it would hang the
// test: CallPastPipe runs the call on a thread of its own and fails the test when the
// call has not returned after a generous wait, then plays the writer until it does.

#include <chrono>
#include <fcntl.h>
#include <future>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace testing_support {

inline void MakePipe(const std::string& hostPath) {
    ASSERT_EQ(::mkfifo(hostPath.c_str(), 0644), 0) << hostPath;
}

template <typename Call>
auto CallPastPipe(const std::string& pipeHostPath, Call call) -> std::optional<decltype(call())> {
    auto result = std::async(std::launch::async, std::move(call));
    if (result.wait_for(std::chrono::minutes(1)) == std::future_status::ready)
        return result.get();
    ADD_FAILURE() << "the call waits on the named pipe " << pipeHostPath;
    // A writer that comes and goes ends the wait of an open, and then of a read.
    while (result.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
        const int fd = ::open(pipeHostPath.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0)
            ::close(fd);
    }
    result.get();
    return std::nullopt;
}

} // namespace testing_support
