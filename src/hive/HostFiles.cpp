#include "hive/HostFiles.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace hive {

namespace {

struct FaultPlan {
    long at = 0; // the step that fails; 0: none
    bool diskFull = false;
};

FaultPlan faultPlan() {
    FaultPlan plan;
    if (const char* text = std::getenv("HIVEWARDEN_FAULT_AT")) {
        char* end = nullptr;
        plan.at = std::strtol(text, &end, 10);
        plan.diskFull = end && std::strcmp(end, ":enospc") == 0;
    }
    return plan;
}

} // namespace

int FaultPoint() {
    static const FaultPlan plan = faultPlan();
    static std::atomic<long> steps{0};
    if (plan.at <= 0)
        return 0;
    const long step = ++steps;
    if (step < plan.at)
        return 0;
    if (!plan.diskFull)
        ::kill(::getpid(), SIGKILL);
    return ENOSPC;
}

int RemoveFile(const std::string& path) {
    if (const int fault = FaultPoint(); fault != 0 && fault != ENOSPC)
        return fault; // a removal needs no space: a full disk lets it be
    return ::unlink(path.c_str()) == 0 ? 0 : errno;
}

int RenameNoReplace(const std::string& from, const std::string& to) {
    if (const int fault = FaultPoint(); fault != 0 && fault != ENOSPC)
        return fault;
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    // A file system without the flag: a new link fails as well when the name is taken.
    if (::link(from.c_str(), to.c_str()) != 0)
        return errno;
    if (::unlink(from.c_str()) != 0) {
        const int error = errno;
        ::unlink(to.c_str());
        return error;
    }
    return 0;
}

std::string ParentFolder(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

int SyncFolderOf(const std::string& path) {
    if (const int fault = FaultPoint(); fault != 0 && fault != ENOSPC)
        return fault;
    const int dir = ::open(ParentFolder(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        return errno;
    const int error = ::fsync(dir) == 0 ? 0 : errno;
    ::close(dir);
    return error;
}

} // namespace hive
