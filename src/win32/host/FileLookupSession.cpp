#include "win32/host/FileLookupSession.h"

#include "win32/host/MachinePaths.h"

#include <atomic>

namespace win32 {

namespace {

std::atomic<uint64_t> g_lastSession{0};
std::atomic<uint64_t> g_changes{0};
thread_local uint64_t t_session = 0;

} // namespace

FileLookupSession::FileLookupSession() : outermost_(t_session == 0) {
    if (outermost_)
        t_session = ++g_lastSession;
}

FileLookupSession::~FileLookupSession() {
    if (!outermost_)
        return;
    t_session = 0;
    ForgetSessionFolders();
}

uint64_t FileLookupSession::Current() {
    return t_session;
}

uint64_t FileLookupSession::ChangeCount() {
    return g_changes.load(std::memory_order_acquire);
}

void FileLookupSession::Changed() {
    g_changes.fetch_add(1, std::memory_order_acq_rel);
}

} // namespace win32
