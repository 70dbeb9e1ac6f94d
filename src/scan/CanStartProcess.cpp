#include "scan/CanStartProcess.h"

#include "scan/PathExists.h"
#include "win32/base/Handles.h"
#include "win32/processes/Processes.h"

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

} // namespace

bool CanStartProcess(const std::string& commandLine) {
    if (startsProcess(commandLine))
        return true;
    if (commandLine.find('%') == std::string::npos)
        return false;
    const std::string expanded = ExpandEnvironmentText(commandLine);
    return expanded != commandLine && startsProcess(expanded);
}
