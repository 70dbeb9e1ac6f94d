#include "scan/CanStartProcess.h"

#include "scan/PathExists.h"
#include "win32/base/FileSystemView.h"
#include "win32/base/Handles.h"
#include "win32/host/FileLookupSession.h"
#include "win32/processes/Processes.h"

#include <unordered_map>
#include <vector>

namespace {

bool startsProcess(const std::string& commandLine) {
    // CreateProcess may write into the command line.
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE,
                        CREATE_NEW_CONSOLE | NORMAL_PRIORITY_CLASS | CREATE_SUSPENDED, nullptr,
                        nullptr, &startup, &process))
        return false;
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    TerminateProcess(process.hProcess, exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

bool judge(const std::string& commandLine) {
    if (startsProcess(commandLine))
        return true;
    if (commandLine.find('%') == std::string::npos)
        return false;
    const std::string expanded = ExpandEnvironmentText(commandLine);
    return expanded != commandLine && startsProcess(expanded);
}

// A lookup session (a scan) judges each command line once for each view: the files it
// names are taken as the session first saw them, so the answer cannot change within it.
struct Verdicts {
    uint64_t session = 0, changes = 0;
    std::unordered_map<std::string, bool> byLine;
};
thread_local Verdicts t_verdicts[2];
constexpr size_t kMaxVerdicts = 1 << 16;

} // namespace

bool CanStartProcess(const std::string& commandLine) {
    const uint64_t session = win32::FileLookupSession::Current();
    if (!session)
        return judge(commandLine);
    const uint64_t changes = win32::FileLookupSession::ChangeCount();
    Verdicts& memo =
        t_verdicts[win32::ThreadFileSystemView() == win32::FileSystemView::Wow64 ? 1 : 0];
    if (memo.session != session || memo.changes != changes || memo.byLine.size() >= kMaxVerdicts) {
        memo.byLine.clear();
        memo.session = session;
        memo.changes = changes;
    }
    if (const auto it = memo.byLine.find(commandLine); it != memo.byLine.end())
        return it->second;
    const bool verdict = judge(commandLine);
    memo.byLine.emplace(commandLine, verdict);
    return verdict;
}
