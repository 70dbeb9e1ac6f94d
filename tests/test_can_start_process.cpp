// Judging a command line by whether Windows would start a process from it.

#include "scan/CanStartProcess.h"
#include "support/MachineFixture.h"
#include "win32/base/Handles.h"

#include <QTemporaryDir>
#include <filesystem>
#include <gtest/gtest.h>

using namespace testing_support;

namespace {

class Placeholder : public win32::KernelObject {};

} // namespace

TEST(CanStartProcess, CommandLinesAsWindowsStartsThem) {
    TestMachine machine("", {
                                {"C:\\Program Files\\My App\\app.exe", MzImage()},
                                {"C:\\Program Files\\My App\\readme.txt", "text"},
                                {"C:\\WINDOWS\\system32\\rundll32.exe", MzImage()},
                                {"C:\\Tools\\tool.exe", MzImage()},
                            });
    QTemporaryDir outside;
    std::filesystem::copy_file(machine.hostPath("Tools/tool.exe"),
                               outside.path().toStdString() + "/far.exe");
    std::filesystem::create_directory_symlink(outside.path().toStdString(),
                                              machine.hostPath("Out"));
    struct Case {
        std::string commandLine;
        bool valid;
    } cases[] = {
        {R"(C:\Program Files\My App\app.exe)", true},
        {R"(C:\Program Files\My App\app.exe -tray /x)", true},
        {R"("C:\Program Files\My App\app.exe" -tray)", true},
        {R"(c:\program files\MY APP\APP.EXE)", true},
        {R"(C:\PROGRA~1\MYAPP~1\app.exe)", true},
        {R"(C:\Tools\tool)", true},
        {R"(rundll32.exe shell32.dll,Control_RunDLL)", true},
        {R"(%ProgramFiles%\My App\app.exe /x)", true},
        {R"("%SystemRoot%\system32\rundll32.exe" x)", true},
        {R"(C:\Program Files\My App\gone.exe)", false},
        {R"(C:\Program Files\My App\readme.txt)", false},
        {R"(C:\Program Files\My App)", false},
        {R"(%NoSuchVariable%\app.exe)", false},
        {R"(C:\Out\far.exe)", false}, // the link leads off the machine
        {"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CanStartProcess(c.commandLine), c.valid) << c.commandLine;
}

TEST(CanStartProcess, EndsForVeryLongCommandLines) {
    TestMachine machine("", {{"C:\\Tools\\tool.exe", MzImage()}});
    std::string spaced = "C:\\Tools\\gone.exe";
    while (spaced.size() < 30000)
        spaced += " a";
    EXPECT_FALSE(CanStartProcess(spaced));
    EXPECT_TRUE(CanStartProcess("C:\\Tools\\tool.exe" + spaced.substr(17)));
    // Longer than Windows takes, with a program that exists in front.
    std::string huge = "C:\\Tools\\tool.exe";
    while (huge.size() < 100000)
        huge += " a";
    EXPECT_FALSE(CanStartProcess(huge));
    EXPECT_FALSE(CanStartProcess(std::string(100000, 'x')));
}

TEST(CanStartProcess, ClosesTheHandlesOfEveryProcess) {
    TestMachine machine("", {{"C:\\Tools\\tool.exe", MzImage()}});
    const HANDLE before = win32::AddKernelHandle(std::make_shared<Placeholder>());
    ASSERT_TRUE(CloseHandle(before));
    for (int i = 0; i < 50; ++i)
        ASSERT_TRUE(CanStartProcess("C:\\Tools\\tool.exe"));
    // Handles left open would have taken a hundred more values.
    const HANDLE after = win32::AddKernelHandle(std::make_shared<Placeholder>());
    EXPECT_LT(reinterpret_cast<uintptr_t>(after), reinterpret_cast<uintptr_t>(before) + 4 * 8);
    CloseHandle(after);
}
