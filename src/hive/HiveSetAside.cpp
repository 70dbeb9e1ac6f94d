// The copies are made before anything is replaced, and the logs are emptied only once the
// hive itself is clean: until then Windows still finds the hive and the logs it needs.

#include "hive/HiveSetAside.h"

#include "hive/HiveFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace hive {

namespace {

Bytes ReadWhole(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const int error = fd < 0 ? errno : EINVAL;
        if (fd >= 0)
            ::close(fd);
        throw std::runtime_error(path +
                                 ": cannot read the file to keep it: " + std::strerror(error));
    }
    Bytes bytes(size_t(info.st_size));
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += size_t(got);
    }
    ::close(fd);
    if (done != bytes.size())
        throw std::runtime_error(path + ": cannot read the file to keep it");
    return bytes;
}

bool Exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

} // namespace

std::string SetAsideFileOf(const std::string& hostPath) {
    return hostPath + ".hwpre";
}

std::vector<std::string> SetAsideAndReplace(const std::string& hostPath,
                                            const std::vector<std::string>& logs,
                                            const Bytes& clean) {
    std::vector<std::string> originals{hostPath};
    originals.insert(originals.end(), logs.begin(), logs.end());
    // One suffix for the whole set, free for every file of it.
    std::string suffix;
    for (int n = 1;; ++n) {
        suffix = SetAsideFileOf("") + (n == 1 ? "" : std::to_string(n));
        bool free = true;
        for (const std::string& original : originals)
            free = free && !Exists(original + suffix);
        if (free)
            break;
    }
    std::vector<std::string> kept;
    for (const std::string& original : originals) {
        const std::string copy = original + suffix;
        if (!CreateFileAtomically(copy, ReadWhole(original)))
            throw std::runtime_error(copy + ": cannot keep the original there: the name is taken");
        kept.push_back(copy);
    }
    ReplaceFileAtomically(hostPath, clean);
    // The hive is clean: Windows no longer reads these logs, and starts them afresh.
    for (const std::string& log : logs)
        ReplaceFileAtomically(log, {});
    return kept;
}

} // namespace hive
