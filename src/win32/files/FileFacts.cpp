#include "win32/files/FileFacts.h"

#include "win32/files/FileLookup.h"
#include "win32/host/FileLookupSession.h"
#include "win32/host/RegularFile.h"
#include "win32/host/TextTable.h"

#include <cerrno>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace win32 {

namespace {

struct Known {
    bool factsKnown = false;
    bool headKnown = false;
    FileFacts facts;
    FileHead head;
};

// What the calling thread's session has learnt, by host path: one entry for a file
// however many spellings and views lead to it.
struct SessionFiles {
    uint64_t session = 0, changes = 0;
    TextTable<char, Known> byHost;
};
thread_local SessionFiles t_files;
constexpr size_t kMaxKnownFiles = 1 << 20;
constexpr size_t kMaxKnownText = size_t(64) << 20;

// The entry of the calling thread's session for a host path, valid until the next call;
// null without a session.
Known* known(std::string_view hostPath) {
    const uint64_t session = FileLookupSession::Current();
    if (!session)
        return nullptr;
    const uint64_t changes = FileLookupSession::ChangeCount();
    SessionFiles& files = t_files;
    if (files.session != session || files.changes != changes ||
        files.byHost.size() >= kMaxKnownFiles || files.byHost.textSize() >= kMaxKnownText) {
        files.byHost.clear();
        files.session = session;
        files.changes = changes;
    }
    uint32_t index = files.byHost.find(hostPath);
    if (index == files.byHost.npos)
        index = files.byHost.insert(hostPath, Known{});
    return &files.byHost.at(index);
}

FileFacts examine(const MachinePaths::Resolved& where) {
    FileFacts out;
    struct stat info;
    const struct stat* found = &where.info;
    if (!where.infoKnown) {
        if (::stat(where.host.c_str(), &info) != 0) {
            out.error = ErrorOfErrno(errno);
            return out;
        }
        found = &info;
    }
    out.mode = found->st_mode;
    out.attributes = AttributesOf(where.host, *found);
    return out;
}

FileHead readHead(const std::string& hostPath) {
    FileHead out;
    const RegularFile file(hostPath);
    if (!file.isOpen()) {
        out.error =
            file.error() == ENOENT ? DWORD(ERROR_FILE_NOT_FOUND) : DWORD(ERROR_ACCESS_DENIED);
        return out;
    }
    ssize_t got;
    do
        got = ::read(file.fd(), out.bytes, sizeof out.bytes);
    while (got < 0 && errno == EINTR);
    if (got < 0) {
        out.error = ERROR_ACCESS_DENIED;
        return out;
    }
    out.size = static_cast<unsigned char>(got);
    return out;
}

} // namespace

FileFacts FactsOf(const MachinePaths::Resolved& where) {
    Known* entry = known(where.host);
    if (!entry)
        return examine(where);
    if (!entry->factsKnown) {
        entry->facts = examine(where);
        entry->factsKnown = true;
    }
    return entry->facts;
}

FileHead HeadOf(const std::string& hostPath) {
    Known* entry = known(hostPath);
    if (!entry)
        return readHead(hostPath);
    if (!entry->headKnown) {
        entry->head = readHead(hostPath);
        entry->headKnown = true;
    }
    return entry->head;
}

} // namespace win32
