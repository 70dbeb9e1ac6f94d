#include "backup/ProfileHiveFile.h"

#include "hive/HiveFormat.h"
#include "hive/HiveKey.h"
#include "hive/HiveLogs.h"
#include "hive/HostFiles.h"
#include "registry/AsciiCase.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace base = hive::regf::base;

// Enough for a fast copy, small beside any hive.
constexpr size_t kCopyBuffer = 1 << 20;
// A transaction log larger than this is no log Windows writes for a system hive.
constexpr uint64_t kMaxLogSize = uint64_t(1) << 30;
// Cell offsets are 32 bits wide: no hive declares more.
constexpr uint64_t kMaxDeclaredSize = uint64_t(1) << 31;

// Closes a descriptor when it goes out of scope.
class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

std::string reason(int error) {
    return std::strerror(error);
}

// Opens a profile file for reading; a symbolic link is not followed.
int openForReading(const std::string& path) {
    return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
}

// Reads exactly `size` bytes at `offset`; false at the end of the file or on an error
// (errno set; 0 at the end).
bool readAt(int fd, uint8_t* data, size_t size, uint64_t offset) {
    while (size > 0) {
        const ssize_t got = ::pread(fd, data, size, off_t(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            if (got == 0)
                errno = 0;
            return false;
        }
        data += got;
        size -= size_t(got);
        offset += uint64_t(got);
    }
    return true;
}

[[noreturn]] void failRead(const std::string& path, int error) {
    throw std::runtime_error("Cannot read " + path + ": " +
                             (error == 0 ? std::string("the file ends early") : reason(error)));
}

hive::Bytes readHead(const std::string& path, uint64_t size) {
    const Fd fd(openForReading(path));
    if (fd.get() < 0)
        failRead(path, errno);
    hive::Bytes bytes(size);
    if (!readAt(fd.get(), bytes.data(), bytes.size(), 0))
        failRead(path, errno);
    return bytes;
}

std::vector<hive::HiveLogFile> readLogs(const std::string& path) {
    std::vector<hive::HiveLogFile> logs;
    for (const std::string& log : hive::FindLogFiles(path)) {
        struct stat info {};
        if (::lstat(log.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
            continue;
        if (uint64_t(info.st_size) > kMaxLogSize)
            throw std::runtime_error("The log " + log + " is larger than any log of a hive");
        logs.push_back({log, readHead(log, uint64_t(info.st_size))});
    }
    return logs;
}

bool hasKey(const hive::HiveKey& root, std::u16string_view path) {
    const hive::HiveKey* key = &root;
    size_t start = 0;
    while (key && start <= path.size()) {
        const size_t end = std::min(path.find(u'\\', start), path.size());
        key = key->findSubkey(path.substr(start, end - start));
        start = end + 1;
    }
    return key != nullptr;
}

// "ControlSet" and three digits, as Windows numbers its control sets.
bool hasControlSet(const hive::HiveKey& root) {
    for (const auto& child : root.stableSubkeys()) {
        const std::u16string upper = hive::UpcaseName(child->name);
        if (upper.size() == 13 && upper.starts_with(u"CONTROLSET") &&
            std::all_of(upper.begin() + 10, upper.end(),
                        [](char16_t c) { return c >= u'0' && c <= u'9'; }))
            return true;
    }
    return false;
}

} // namespace

std::string ReadProfileHiveHeader(const std::string& path, TProfileHiveHeader& header) {
    header = {};
    const Fd fd(openForReading(path));
    struct stat info {};
    if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0)
        return "Cannot read " + path + ": " + reason(errno);
    if (!S_ISREG(info.st_mode))
        return path + " is not a file";
    header.FileSize = uint64_t(info.st_size);
    uint8_t block[hive::regf::kBaseBlockSize];
    if (header.FileSize < sizeof block || !readAt(fd.get(), block, sizeof block, 0) ||
        std::memcmp(block + base::kSignature, "regf", 4) != 0)
        return path + " is no hive file";
    header.DeclaredSize =
        uint64_t(hive::regf::kBaseBlockSize) + hive::regf::Read32(block + base::kBinsSize);
    if (header.DeclaredSize == hive::regf::kBaseBlockSize ||
        header.DeclaredSize % hive::regf::kPageSize != 0 || header.DeclaredSize > kMaxDeclaredSize)
        return path + " declares no valid size for its hive bins";
    if (header.DeclaredSize > header.FileSize)
        return path + " declares " + std::to_string(header.DeclaredSize) +
               " bytes but holds only " + std::to_string(header.FileSize);
    header.Unfinished = hive::HiveNeedsRecovery(block, sizeof block);
    return {};
}

hive::LoadedHive LoadProfileHive(const std::string& path, const TProfileHiveHeader& header) {
    // A file that is its hive and no more is read as a file; only one with a tail (or
    // logs to apply) is read from its declared bytes.
    if (!header.Unfinished && header.FileSize == header.DeclaredSize)
        return hive::LoadHiveFile(path, {.applyLogs = false});
    const hive::Bytes image = readHead(path, header.DeclaredSize);
    std::vector<hive::HiveLogFile> logs;
    if (header.Unfinished)
        logs = readLogs(path);
    hive::LoadedHive loaded = hive::LoadHiveImage(image, path, logs);
    if (header.Unfinished && !loaded.recovery.applied)
        throw std::runtime_error(
            path + " was left unfinished by Windows, and no log beside it brings it up to date" +
            (logs.empty() ? std::string(" (the profile holds none)") : std::string()));
    return loaded;
}

void CopyFileHead(const std::string& source, const std::string& target, uint64_t size,
                  QCryptographicHash* hash) {
    const Fd in(openForReading(source));
    if (in.get() < 0)
        failRead(source, errno);
    const std::string temporary = hive::ReplacementFileOf(target);
    ::unlink(temporary.c_str());
    Fd out(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    const auto failWrite = [&](int error) {
        ::unlink(temporary.c_str());
        throw std::runtime_error("Cannot write " + target + ": " + reason(error));
    };
    if (out.get() < 0)
        failWrite(errno);
    std::vector<uint8_t> buffer(size_t(std::min<uint64_t>(size, kCopyBuffer)));
    for (uint64_t done = 0; done < size;) {
        const size_t chunk = size_t(std::min<uint64_t>(size - done, buffer.size()));
        if (!readAt(in.get(), buffer.data(), chunk, done)) {
            const int error = errno;
            ::unlink(temporary.c_str());
            failRead(source, error);
        }
        if (hash)
            hash->addData(QByteArrayView(buffer.data(), qsizetype(chunk)));
        if (const int fault = hive::FaultPoint(); fault != 0)
            failWrite(fault);
        for (size_t written = 0; written < chunk;) {
            const ssize_t put = ::write(out.get(), buffer.data() + written, chunk - written);
            if (put < 0 && errno == EINTR)
                continue;
            if (put <= 0)
                failWrite(put < 0 ? errno : ENOSPC);
            written += size_t(put);
        }
        done += chunk;
    }
    hive::FaultPoint();
    if (::fsync(out.get()) != 0)
        failWrite(errno);
    if (::close(out.release()) != 0)
        failWrite(errno);
    hive::FaultPoint();
    if (::rename(temporary.c_str(), target.c_str()) != 0)
        failWrite(errno);
    if (const int error = hive::SyncFolderOf(target); error != 0 && error != EINVAL)
        throw std::runtime_error("Cannot write " + target + ": " + reason(error));
}

THiveKind HiveKindOfKeyName(const std::string& keyName) {
    const std::string upper = AsciiUpper(keyName);
    if (upper == "SYSTEM")
        return THiveKind::System;
    if (upper == "SOFTWARE")
        return THiveKind::Software;
    if (upper == "SAM")
        return THiveKind::Sam;
    if (upper == "SECURITY")
        return THiveKind::Security;
    if (upper == ".DEFAULT")
        return THiveKind::DefaultUser;
    return THiveKind::Unknown;
}

bool HiveHasKindKeys(const hive::HiveKey& root, THiveKind kind) {
    switch (kind) {
    case THiveKind::System:
        return hasKey(root, u"Select") && hasControlSet(root);
    case THiveKind::Software:
        return hasKey(root, u"Microsoft");
    case THiveKind::Sam:
        return hasKey(root, u"SAM\\Domains");
    case THiveKind::Security:
        return hasKey(root, u"Policy");
    case THiveKind::DefaultUser:
        return hasKey(root, u"Software") || hasKey(root, u"Control Panel");
    case THiveKind::Unknown:
        break;
    }
    return false;
}

THiveKind GuessHiveKind(const hive::HiveKey& root) {
    for (THiveKind kind : {THiveKind::System, THiveKind::Sam, THiveKind::Security,
                           THiveKind::Software, THiveKind::DefaultUser})
        if (HiveHasKindKeys(root, kind))
            return kind;
    return THiveKind::Unknown;
}

std::string HiveKindPhrase(THiveKind kind) {
    switch (kind) {
    case THiveKind::System:
        return "a SYSTEM hive";
    case THiveKind::Software:
        return "a SOFTWARE hive";
    case THiveKind::Sam:
        return "a SAM hive";
    case THiveKind::Security:
        return "a SECURITY hive";
    case THiveKind::DefaultUser:
        return "a user hive";
    case THiveKind::Unknown:
        break;
    }
    return "no system hive";
}
