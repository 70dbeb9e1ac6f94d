// CreateProcessA over a test machine: finding the program of a command line as Windows
// finds it, and the life of the process it gives.

#include "support/MachineFixture.h"
#include "support/NamedPipes.h"
#include "win32/base/LastError.h"
#include "win32/processes/Processes.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <thread>

using namespace testing_support;

namespace {

struct Started {
    DWORD error = ERROR_SUCCESS;
    std::string image; // the Windows path of the program found
};

// Creates a process as the scanners do, notes the image, and ends it.
Started start(const char* commandLine, const char* applicationName = nullptr) {
    std::string line = commandLine ? commandLine : "";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION info{};
    Started out;
    SetLastError(0);
    if (!CreateProcessA(applicationName, commandLine ? line.data() : nullptr, nullptr, nullptr,
                        FALSE, CREATE_NEW_CONSOLE | NORMAL_PRIORITY_CLASS, nullptr, nullptr,
                        &startup, &info)) {
        out.error = GetLastError();
        return out;
    }
    char image[MAX_PATH];
    DWORD size = sizeof image;
    EXPECT_TRUE(QueryFullProcessImageNameA(info.hProcess, 0, image, &size));
    out.image.assign(image, size);
    EXPECT_TRUE(TerminateProcess(info.hProcess, 0));
    EXPECT_TRUE(CloseHandle(info.hThread));
    EXPECT_TRUE(CloseHandle(info.hProcess));
    return out;
}

struct Case {
    const char* commandLine;
    DWORD error;
    const char* image; // when found
};

void check(const std::vector<Case>& cases) {
    for (const auto& c : cases) {
        SCOPED_TRACE(c.commandLine);
        const Started started = start(c.commandLine);
        EXPECT_EQ(started.error, c.error);
        if (c.error == ERROR_SUCCESS) {
            EXPECT_EQ(started.image, c.image);
        }
    }
}

TEST(CreateProcess, FindsTheProgramOfACommandLine) {
    TestMachine machine("", {
                                {"C:\\Program Files\\My App\\app.exe", MzImage()},
                                {"C:\\Program Files\\My App\\notes.txt", "not a program"},
                                {"C:\\Program Files\\Other\\tool.exe", "MZ"},
                                {"C:\\Program Files\\Other\\fake.exe", "ZM not an image"},
                                {"C:\\Program Files\\Other\\empty.exe", ""},
                                {"C:\\Dir.exe\\placeholder", ""},
                            });
    check({
        // unquoted with spaces: "C:\Program.exe", "C:\Program Files\My.exe", then the file
        {"C:\\Program Files\\My App\\app.exe -x /y", 0, "C:\\Program Files\\My App\\app.exe"},
        {"C:\\Program Files\\My App\\app.exe", 0, "C:\\Program Files\\My App\\app.exe"},
        {"  C:\\Program Files\\My App\\app.exe\t-x", 0, "C:\\Program Files\\My App\\app.exe"},
        // the default extension
        {"C:\\Program Files\\My App\\app -x", 0, "C:\\Program Files\\My App\\app.exe"},
        // another letter case than on disk
        {"c:\\PROGRAM FILES\\my app\\APP.EXE", 0, "C:\\PROGRAM FILES\\my app\\APP.EXE"},
        // quoted, with and without arguments and extension
        {"\"C:\\Program Files\\My App\\app.exe\" -x \"a b\"", 0,
         "C:\\Program Files\\My App\\app.exe"},
        {"\"C:\\Program Files\\My App\\app\"", 0, "C:\\Program Files\\My App\\app.exe"},
        {"\"C:\\Program Files\\My App\\app.exe", 0, "C:\\Program Files\\My App\\app.exe"},
        {"C:\\PROGRA~1\\Other\\tool.exe", 0, "C:\\PROGRA~1\\Other\\tool.exe"},
        {"C:\\Program Files\\Other\\tool.exe", 0, "C:\\Program Files\\Other\\tool.exe"},
        // files that are no programs
        {"C:\\Program Files\\My App\\notes.txt", ERROR_BAD_EXE_FORMAT, nullptr},
        {"C:\\Program Files\\Other\\fake.exe -x", ERROR_BAD_EXE_FORMAT, nullptr},
        {"C:\\Program Files\\Other\\empty.exe", ERROR_BAD_EXE_FORMAT, nullptr},
        // a quoted path is not searched further: the space stays part of the name
        {"\"C:\\Program Files\\My App\\app.exe -x\"", ERROR_FILE_NOT_FOUND, nullptr},
        {"C:\\Program Files\\My App\\missing.exe -x", ERROR_FILE_NOT_FOUND, nullptr},
        {"C:\\No Such Folder\\app.exe", ERROR_PATH_NOT_FOUND, nullptr},
        // a folder is no program, not even with the extension
        {"C:\\Dir.exe", ERROR_FILE_NOT_FOUND, nullptr},
        {"", ERROR_FILE_NOT_FOUND, nullptr},
        {"   ", ERROR_FILE_NOT_FOUND, nullptr},
    });
}

// The first file found ends the search, whether it is a program or not.
TEST(CreateProcess, AFileOnTheWayEndsTheProgressiveSearch) {
    TestMachine machine("", {{"C:\\Program Files\\My App\\app.exe", MzImage()},
                             {"C:\\Program Files\\My.exe", "a text file"}});
    check({{"C:\\Program Files\\My App\\app.exe", ERROR_BAD_EXE_FORMAT, nullptr}});
    std::ofstream(machine.hostPath("Program Files/My.exe"), std::ios::binary) << MzImage();
    check({{"C:\\Program Files\\My App\\app.exe", 0, "C:\\Program Files\\My.exe"}});
    std::filesystem::remove(machine.hostPath("Program Files/My.exe"));
    check({{"C:\\Program Files\\My App\\app.exe", 0, "C:\\Program Files\\My App\\app.exe"}});
}

// A program's name is shorter than MAX_PATH, and a command line shorter than 32,767
// characters: a long line of arguments ends the search at once.
TEST(CreateProcess, LongCommandLines) {
    TestMachine machine("", {{"C:\\Tools\\tool.exe", MzImage()}});
    std::string arguments;
    while (arguments.size() < 32766 - 17)
        arguments += " a";
    arguments.resize(32766 - 17);
    const std::string found = "C:\\Tools\\tool.exe" + arguments;
    const std::string missing = "C:\\Tools\\gone.exe" + arguments;
    const std::string tooLong = found + "b";
    check({
        {found.c_str(), 0, "C:\\Tools\\tool.exe"},
        {missing.c_str(), ERROR_FILE_NOT_FOUND, nullptr},
        {tooLong.c_str(), ERROR_FILENAME_EXCED_RANGE, nullptr},
    });
}

TEST(CreateProcess, SearchesTheSystemFoldersThenThePath) {
    TestMachine machine("[HKEY_CURRENT_USER\\Environment]\n\"Path\"=\"C:\\\\Tools;\\\"C:\\\\My "
                        "Tools\\\"\"\n",
                        {
                            {"C:\\WINDOWS\\system32\\notepad.exe", MzImage()},
                            {"C:\\WINDOWS\\notepad.exe", MzImage()},
                            {"C:\\WINDOWS\\regedit.exe", MzImage()},
                            {"C:\\WINDOWS\\system\\legacy.exe", MzImage()},
                            {"C:\\WINDOWS\\legacy.exe", MzImage()},
                            {"C:\\Tools\\tool.exe", MzImage()},
                            {"C:\\My Tools\\other.exe", MzImage()},
                            {"C:\\Tools\\legacy.exe", MzImage()},
                        });
    check({
        {"notepad", 0, "C:\\WINDOWS\\system32\\notepad.exe"},
        {"NOTEPAD.EXE file.txt", 0, "C:\\WINDOWS\\system32\\NOTEPAD.EXE"},
        {"regedit /s x.reg", 0, "C:\\WINDOWS\\regedit.exe"},
        {"legacy", 0, "C:\\WINDOWS\\system\\legacy.exe"},
        {"tool -v", 0, "C:\\Tools\\tool.exe"},
        {"other", 0, "C:\\My Tools\\other.exe"},
        {"nothing", ERROR_FILE_NOT_FOUND, nullptr},
        // a relative path is taken from the current folder, system32
        {"..\\regedit.exe", 0, "C:\\WINDOWS\\regedit.exe"},
    });
}

TEST(CreateProcess, BatchFilesNeedTheCommandInterpreter) {
    TestMachine machine(
        "", {{"C:\\Scripts\\run.bat", "@echo off\r\n"}, {"C:\\Scripts\\run.cmd", "@echo off\r\n"}});
    check({{"C:\\Scripts\\run.bat arg", ERROR_FILE_NOT_FOUND, nullptr},
           {"C:\\Scripts\\RUN.CMD", ERROR_FILE_NOT_FOUND, nullptr}});
    std::ofstream(machine.hostPath("WINDOWS/system32/cmd.exe"), std::ios::binary) << MzImage();
    check({{"C:\\Scripts\\run.bat arg", 0, "C:\\Scripts\\run.bat"},
           {"C:\\Scripts\\RUN.CMD", 0, "C:\\Scripts\\RUN.CMD"},
           // no default extension but .exe
           {"C:\\Scripts\\run", ERROR_FILE_NOT_FOUND, nullptr}});
}

TEST(CreateProcess, ApplicationNameIsTakenAsItIs) {
    TestMachine machine("", {{"C:\\Program Files\\My App\\app.exe", MzImage()},
                             {"C:\\WINDOWS\\system32\\helper.exe", MzImage()}});
    EXPECT_EQ(start("anything at all", "C:\\Program Files\\My App\\app.exe").image,
              "C:\\Program Files\\My App\\app.exe");
    EXPECT_EQ(start(nullptr, "c:\\program files\\my app\\app.exe").error, DWORD(ERROR_SUCCESS));
    EXPECT_EQ(start("x", "C:\\Program Files\\My App\\app").error, DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(start("x", "helper.exe").image, "C:\\WINDOWS\\system32\\helper.exe");
    EXPECT_EQ(start(nullptr, nullptr).error, DWORD(ERROR_INVALID_PARAMETER));
}

// A pipe is passed over as a folder is; a pipe where the interpreter should be cannot
// run a batch file.
TEST(CreateProcess, ANamedPipeIsNoProgram) {
    TestMachine machine("", {{"C:\\WINDOWS\\tool.exe", MzImage()},
                             {"C:\\Program Files\\My App\\app.exe", MzImage()},
                             {"C:\\Scripts\\run.bat", "@echo off\r\n"}});
    const std::string pipe = machine.hostPath("pipes/pipe");
    std::filesystem::create_directories(machine.hostPath("pipes"));
    MakePipe(pipe);
    const std::pair<const char*, const char*> links[] = {
        {"WINDOWS/system32/tool.exe", "../../pipes/pipe"},
        {"Program Files/My.exe", "../pipes/pipe"},
        {"pipes/pipe.exe", "pipe"},
        {"WINDOWS/system32/cmd.exe", "../../pipes/pipe"}};
    for (const auto& [name, target] : links)
        std::filesystem::create_symlink(target, machine.hostPath(name));
    const std::vector<Case> cases = {
        {"tool", 0, "C:\\WINDOWS\\tool.exe"},
        {"C:\\Program Files\\My App\\app.exe", 0, "C:\\Program Files\\My App\\app.exe"},
        {"C:\\pipes\\pipe", ERROR_FILE_NOT_FOUND, nullptr},
        {"\"C:\\pipes\\pipe.exe\"", ERROR_FILE_NOT_FOUND, nullptr},
        {"C:\\Scripts\\run.bat", ERROR_ACCESS_DENIED, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.commandLine);
        const auto started = CallPastPipe(pipe, [&c] { return start(c.commandLine); });
        ASSERT_TRUE(started);
        EXPECT_EQ(started->error, c.error);
        if (c.error == ERROR_SUCCESS) {
            EXPECT_EQ(started->image, c.image);
        }
    }
    const auto named = CallPastPipe(pipe, [] { return start("x", "C:\\pipes\\pipe"); });
    ASSERT_TRUE(named);
    EXPECT_EQ(named->error, DWORD(ERROR_FILE_NOT_FOUND));
}

TEST(CreateProcess, AProcessLivesUntilTerminatedAndItsHandlesClose) {
    TestMachine machine("", {{"C:\\app.exe", MzImage()}});
    char line[] = "C:\\app.exe";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(CreateProcessA(nullptr, line, nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                               nullptr, &startup, &info));
    EXPECT_NE(info.dwProcessId, 0u);
    EXPECT_NE(info.dwThreadId, 0u);
    EXPECT_NE(info.dwProcessId, info.dwThreadId);
    EXPECT_NE(info.hProcess, info.hThread);

    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeProcess(info.hProcess, &code));
    EXPECT_EQ(code, STILL_ACTIVE);
    EXPECT_EQ(ResumeThread(info.hThread), 1u);
    EXPECT_EQ(ResumeThread(info.hThread), 0u);
    EXPECT_FALSE(GetExitCodeProcess(info.hThread, &code)); // a thread is no process
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));

    ASSERT_TRUE(TerminateProcess(info.hProcess, 42));
    ASSERT_TRUE(GetExitCodeProcess(info.hProcess, &code));
    EXPECT_EQ(code, 42u);
    EXPECT_FALSE(TerminateProcess(info.hProcess, 1));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    ASSERT_TRUE(GetExitCodeProcess(info.hProcess, &code));
    EXPECT_EQ(code, 42u);

    EXPECT_TRUE(CloseHandle(info.hThread));
    EXPECT_TRUE(CloseHandle(info.hProcess));
    for (HANDLE closed : {info.hProcess, info.hThread}) {
        EXPECT_FALSE(CloseHandle(closed));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    }
    EXPECT_FALSE(GetExitCodeProcess(info.hProcess, &code));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(TerminateProcess(reinterpret_cast<HANDLE>(0x1234), 0));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
}

// The scan worker and the window start processes at the same time.
TEST(CreateProcess, ManyThreadsAtOnce) {
    TestMachine machine("", {{"C:\\Program Files\\My App\\app.exe", MzImage()}});
    std::atomic<int> failures{0};
    std::mutex idsLock;
    std::set<DWORD> ids;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 50; ++i) {
                char line[] = "C:\\Program Files\\My App\\app.exe /x";
                STARTUPINFOA startup{};
                startup.cb = sizeof startup;
                PROCESS_INFORMATION info{};
                DWORD code = 0;
                if (!CreateProcessA(nullptr, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                    &startup, &info) ||
                    !GetExitCodeProcess(info.hProcess, &code) || code != STILL_ACTIVE ||
                    !TerminateProcess(info.hProcess, code) || !CloseHandle(info.hThread) ||
                    !CloseHandle(info.hProcess)) {
                    ++failures;
                    continue;
                }
                std::lock_guard guard(idsLock);
                ids.insert(info.dwProcessId);
            }
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(ids.size(), 200u);
}

} // namespace
