// The small pieces around reading and writing hives: replacing a file so that a
// crash never leaves it torn, the descriptor of new keys, and the current FILETIME.

#include "hive/HiveFile.h"

#include "hive/HostFiles.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <initializer_list>
#include <sys/stat.h>
#include <unistd.h>

namespace hive {

namespace {

[[noreturn]] void FailFile(const std::string& path, const char* action, int error) {
    throw FileError(path + ": cannot " + action + ": " + std::strerror(error), error);
}

// Writes, flushes and closes the temporary file; returns 0 or the errno of the failure.
int WriteAndSync(int fd, const Bytes& bytes, const char*& action) {
    size_t done = 0;
    action = "write";
    if (const int fault = FaultPoint(); fault != 0)
        return fault;
    while (done < bytes.size()) {
        const ssize_t wrote = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote < 0)
            return errno;
        done += size_t(wrote);
    }
    action = "flush";
    if (const int fault = FaultPoint(); fault != 0 && fault != ENOSPC)
        return fault;
    if (::fsync(fd) != 0)
        return errno;
    return 0;
}

void AppendSid(Bytes& out, uint8_t authority, std::initializer_list<uint32_t> subAuthorities) {
    out.push_back(1); // revision
    out.push_back(uint8_t(subAuthorities.size()));
    for (int i = 0; i < 5; ++i)
        out.push_back(0);
    out.push_back(authority); // 48-bit big-endian identifier authority
    for (const uint32_t sub : subAuthorities)
        for (int i = 0; i < 4; ++i)
            out.push_back(uint8_t(sub >> (8 * i)));
}

void Put16(Bytes& out, size_t at, uint16_t v) {
    out[at] = uint8_t(v);
    out[at + 1] = uint8_t(v >> 8);
}
void Put32(Bytes& out, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out[at + size_t(i)] = uint8_t(v >> (8 * i));
}

Bytes BuildDefaultKeySecurity() {
    constexpr uint8_t kAccessAllowed = 0;
    constexpr uint8_t kContainerInherit = 0x02;
    constexpr uint8_t kInheritOnly = 0x08;
    constexpr uint32_t kKeyAllAccess = 0xF003F;
    constexpr uint32_t kKeyRead = 0x20019;
    struct Ace {
        uint8_t flags;
        uint32_t mask;
        uint8_t authority;
        std::initializer_list<uint32_t> sub;
    };
    // Registry keys have no objects below them, so only container inheritance applies;
    // CREATOR OWNER stands for the creator of each subkey, never for the key itself.
    const Ace aces[] = {
        {kContainerInherit, kKeyAllAccess, 5, {18}},               // SYSTEM
        {kContainerInherit, kKeyAllAccess, 5, {32, 544}},          // Administrators
        {kContainerInherit | kInheritOnly, kKeyAllAccess, 3, {0}}, // CREATOR OWNER
        {kContainerInherit, kKeyRead, 5, {32, 545}},               // Users
    };

    Bytes sd(20, 0);
    sd[0] = 1;            // revision
    Put16(sd, 2, 0x8004); // SE_SELF_RELATIVE | SE_DACL_PRESENT
    Put32(sd, 16, 20);    // the DACL follows the header
    const size_t acl = sd.size();
    sd.resize(acl + 8, 0);
    sd[acl] = 2; // ACL_REVISION
    for (const Ace& ace : aces) {
        const size_t at = sd.size();
        sd.resize(at + 8, 0);
        sd[at] = kAccessAllowed;
        sd[at + 1] = ace.flags;
        Put32(sd, at + 4, ace.mask);
        AppendSid(sd, ace.authority, ace.sub);
        Put16(sd, at + 2, uint16_t(sd.size() - at));
    }
    Put16(sd, acl + 2, uint16_t(sd.size() - acl));
    Put16(sd, acl + 4, uint16_t(std::size(aces)));
    Put32(sd, 4, uint32_t(sd.size())); // owner: Administrators
    AppendSid(sd, 5, {32, 544});
    Put32(sd, 8, uint32_t(sd.size())); // group: SYSTEM
    AppendSid(sd, 5, {18});
    return sd;
}

} // namespace

std::string ReplacementFileOf(const std::string& hostPath) {
    return hostPath + ".hwnew";
}

namespace {

// Writes and syncs `bytes` as a temporary beside `hostPath`, with the mode of the file at
// `hostPath` when there is one, and gives the temporary's name: ReplacementFileOf(hostPath),
// or with `unique`, a name no other writer uses.
std::string WriteTemporary(const std::string& hostPath, const Bytes& bytes, bool unique) {
    std::string temporary = unique ? hostPath + ".XXXXXX.hwnew" : ReplacementFileOf(hostPath);
    mode_t mode = 0644;
    struct stat existing {};
    const bool exists = ::stat(hostPath.c_str(), &existing) == 0;
    if (exists)
        mode = existing.st_mode & 07777;

    int fd = -1;
    if (unique) {
        fd = ::mkostemps(temporary.data(), 6, O_CLOEXEC);
    } else {
        // A temporary left by a crash may be read-only or a link; start afresh.
        ::unlink(temporary.c_str());
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, mode);
    }
    if (fd < 0)
        FailFile(temporary, "create", errno);
    const char* action = "write";
    int error = 0;
    // The umask must not narrow the old mode. A new unique file stays private, as
    // mkostemps makes it: a hive holds the machine's secrets.
    if (exists && ::fchmod(fd, mode) != 0) {
        error = errno;
        action = "set the mode of";
    }
    if (!error)
        error = WriteAndSync(fd, bytes, action);
    if (::close(fd) != 0 && !error) {
        error = errno;
        action = "close";
    }
    if (error) {
        ::unlink(temporary.c_str());
        FailFile(temporary, action, error);
    }
    return temporary;
}

// A rename is durable only once the folder is flushed.
void SyncFolderOrFail(const std::string& hostPath) {
    const int error = SyncFolderOf(hostPath);
    if (error != 0 && error != EINVAL) // some file systems cannot flush folders
        FailFile(ParentFolder(hostPath), "flush the folder of the new file", error);
}

} // namespace

void ReplaceFileAtomically(const std::string& hostPath, const Bytes& bytes) {
    const std::string temporary = WriteTemporary(hostPath, bytes, false);
    int fault = FaultPoint();
    if (fault == ENOSPC)
        fault = 0; // a rename needs no space
    if (fault != 0 || ::rename(temporary.c_str(), hostPath.c_str()) != 0) {
        const int error = fault != 0 ? fault : errno;
        ::unlink(temporary.c_str());
        FailFile(hostPath, "replace the file", error);
    }
    SyncFolderOrFail(hostPath);
}

bool CreateFileAtomically(const std::string& hostPath, const Bytes& bytes) {
    const std::string temporary = WriteTemporary(hostPath, bytes, true);
    // Whatever a caller checked before may be overtaken: only a rename that refuses to
    // replace is safe.
    const int error = RenameNoReplace(temporary, hostPath);
    if (error != 0) {
        ::unlink(temporary.c_str());
        if (error == EEXIST)
            return false;
        FailFile(hostPath, "create the file", error);
    }
    SyncFolderOrFail(hostPath);
    return true;
}

std::shared_ptr<const Bytes> DefaultKeySecurity() {
    static const std::shared_ptr<const Bytes> descriptor =
        std::make_shared<const Bytes>(BuildDefaultKeySecurity());
    return descriptor;
}

uint64_t FileTimeNow() {
    constexpr uint64_t kSecondsFrom1601To1970 = 11644473600ull;
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return (uint64_t(now.tv_sec) + kSecondsFrom1601To1970) * 10000000ull +
           uint64_t(now.tv_nsec) / 100;
}

} // namespace hive
