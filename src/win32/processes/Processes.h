#pragma once
// Processes on the booted machine. Nothing of the machine ever runs: CreateProcessA
// finds the program a command line names as Windows finds it and checks that Windows
// could start it; the process it gives exists to be queried and ended. Its handles
// live in the table of base/Handles.h (CloseHandle closes them). Thread-safe.
//
// How the program is found:
// - lpApplicationName, when given, names the file: a relative name is taken from the
//   current folder (%SystemRoot%\system32, see files/Files.h); no extension is added and no
//   folders are searched.
// - Otherwise the first token of lpCommandLine: the text between quotes when it begins
//   with one; else the line up to its first space or tab, then up to its second, and so
//   on, until a file is found ("C:\Program Files\My App\app.exe -x" tries
//   "C:\Program.exe", "C:\Program Files\My.exe", "C:\Program Files\My App\app.exe").
//   Runs of MAX_PATH characters or more are not tried: a program's name is shorter.
//   A command line of 32,767 characters or more fails with ERROR_FILENAME_EXCED_RANGE.
//   ".exe" is added to a file name that has no extension. A name without a folder is
//   searched in the program's folder, the current folder, the 32-bit system folder
//   (all three %SystemRoot%\system32 here: the program's own folder lies outside the
//   machine), the 16-bit system folder (%SystemRoot%\system), the Windows folder and
//   then the folders of the machine's Path.
// Only a regular file is a file here: a folder, named pipe, device or socket of that
// name is passed over as if nothing were there.
// The file found must be an executable image (it begins with "MZ"), or a ".bat" or
// ".cmd" file when the machine has the command interpreter (cmd.exe in
// %SystemRoot%\system32) to run it. Failures: ERROR_FILE_NOT_FOUND,
// ERROR_PATH_NOT_FOUND, ERROR_BAD_EXE_FORMAT, ERROR_ACCESS_DENIED, ERROR_DIRECTORY
// (lpCurrentDirectory is no folder), ERROR_INVALID_PARAMETER.

#include "win32/base/Handles.h"
#include "win32/base/WinTypes.h"

struct STARTUPINFOA {
    DWORD cb;
    LPSTR lpReserved;
    LPSTR lpDesktop;
    LPSTR lpTitle;
    DWORD dwX;
    DWORD dwY;
    DWORD dwXSize;
    DWORD dwYSize;
    DWORD dwXCountChars;
    DWORD dwYCountChars;
    DWORD dwFillAttribute;
    DWORD dwFlags;
    WORD wShowWindow;
    WORD cbReserved2;
    LPBYTE lpReserved2;
    HANDLE hStdInput;
    HANDLE hStdOutput;
    HANDLE hStdError;
};
using LPSTARTUPINFOA = STARTUPINFOA*;

struct PROCESS_INFORMATION {
    HANDLE hProcess;
    HANDLE hThread;
    DWORD dwProcessId;
    DWORD dwThreadId;
};
using LPPROCESS_INFORMATION = PROCESS_INFORMATION*;

// Creation flags
constexpr DWORD DEBUG_PROCESS = 0x00000001;
constexpr DWORD DEBUG_ONLY_THIS_PROCESS = 0x00000002;
constexpr DWORD CREATE_SUSPENDED = 0x00000004;
constexpr DWORD DETACHED_PROCESS = 0x00000008;
constexpr DWORD CREATE_NEW_CONSOLE = 0x00000010;
constexpr DWORD NORMAL_PRIORITY_CLASS = 0x00000020;
constexpr DWORD IDLE_PRIORITY_CLASS = 0x00000040;
constexpr DWORD HIGH_PRIORITY_CLASS = 0x00000080;
constexpr DWORD CREATE_NEW_PROCESS_GROUP = 0x00000200;
constexpr DWORD CREATE_NO_WINDOW = 0x08000000;

// STARTUPINFO flags
constexpr DWORD STARTF_USESHOWWINDOW = 0x00000001;
constexpr DWORD STARTF_USESIZE = 0x00000002;
constexpr DWORD STARTF_USEPOSITION = 0x00000004;
constexpr DWORD STARTF_USESTDHANDLES = 0x00000100;

constexpr DWORD STILL_ACTIVE = 259;

BOOL CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine,
                    LPSECURITY_ATTRIBUTES lpProcessAttributes,
                    LPSECURITY_ATTRIBUTES lpThreadAttributes, BOOL bInheritHandles,
                    DWORD dwCreationFlags, LPVOID lpEnvironment, LPCSTR lpCurrentDirectory,
                    LPSTARTUPINFOA lpStartupInfo, LPPROCESS_INFORMATION lpProcessInformation);

// STILL_ACTIVE until the process is terminated, then the code it was ended with.
// ERROR_INVALID_HANDLE for anything but an open process handle.
BOOL GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode);
// Ends the process with uExitCode; ERROR_ACCESS_DENIED when it has ended already.
BOOL TerminateProcess(HANDLE hProcess, UINT uExitCode);
// The previous suspend count of a thread (1 for one created with CREATE_SUSPENDED).
DWORD ResumeThread(HANDLE hThread);
// The Windows path of the process's image (for a batch file, the batch file's).
// *lpdwSize: the buffer's size in, the length without the zero out;
// ERROR_INSUFFICIENT_BUFFER when it does not fit.
BOOL QueryFullProcessImageNameA(HANDLE hProcess, DWORD dwFlags, LPSTR lpExeName, LPDWORD lpdwSize);
