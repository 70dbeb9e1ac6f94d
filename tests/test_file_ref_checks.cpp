// The checks of file references: type library paths, folder lists, paths in any value,
// service images.

#include "scan/FileRefChecks.h"
#include "support/MachineFixture.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

struct Case {
    std::string text;
    bool valid;
};

const std::vector<FixtureFile> kFiles = {
    {"C:\\WINDOWS\\system32\\msxml3.dll", MzImage()},
    {"C:\\WINDOWS\\system32\\svchost.exe", MzImage()},
    {"C:\\WINDOWS\\system32\\drivers\\beep.sys", "driver"},
    {"C:\\Program Files\\My App\\app.exe", MzImage()},
    {"C:\\Program Files\\My App\\lib\\typelib.tlb", "tlb"},
    {"C:\\App\\bin\\tool.exe", MzImage()},
    {"C:\\App\\x.exec.exe", MzImage()},
};

} // namespace

TEST(FileRefValid, JudgesTheFileOrFolderOfATypeLibraryPath) {
    TestMachine machine("", kFiles);
    const Case cases[] = {
        {R"(C:\WINDOWS\system32\msxml3.dll)", true},
        // A resource number after the file, in any form the runtime reads as an integer.
        {R"(C:\WINDOWS\system32\msxml3.dll\2)", true},
        {R"(C:\WINDOWS\system32\msxml3.dll\ 3 )", true},
        {R"(C:\WINDOWS\system32\msxml3.dll\$1F)", true},
        {R"(C:\WINDOWS\system32\msxml3.dll\0x10)", true},
        {R"(C:\WINDOWS\system32\msxml3.dll\-1)", true},
        {R"(C:\WINDOWS\system32\msxml3.dll\2x)", false},
        {R"(C:\WINDOWS\system32\gone.dll\2)", false},
        // A trailing backslash asks for a folder; without it a folder is no file.
        {R"(C:\WINDOWS\system32\)", true},
        {R"(C:\Gone\)", false},
        {R"(C:\WINDOWS\system32)", false},
        // Windows' spelling rules: case, short names, environment, quotes.
        {R"(c:\program files\MY APP\LIB\TYPELIB.TLB)", true},
        {R"(C:\PROGRA~1\MYAPP~1\lib\typelib.tlb)", true},
        {R"(%SystemRoot%\system32\msxml3.dll)", true},
        {R"("C:\Program Files\My App\lib\typelib.tlb")", true},
        // Nothing to judge without a drive marker.
        {"msxml3.dll", true},
        {"", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FileRefValid(c.text), c.valid) << c.text;
}

TEST(DirListValid, EveryFolderOfTheListMustExist) {
    TestMachine machine("", kFiles);
    const Case cases[] = {
        {"", true},
        {"bin", true},
        {R"(C:\App)", true},
        {R"(C:\App\bin\)", true},
        {R"(c:\app\BIN)", true},
        {R"(C:\AppC:\App\bin)", true},
        {R"(C:\App C:\App\bin)", true},
        {R"(C:\AppC:\Gone)", false},
        {R"(C:\GoneC:\App)", false},
        {R"(C:\Program Files\My App\app.exe)", false},
        // Semicolons left in the text came with a variable's value, a list of its own.
        {R"(C:\App;C:\App\bin)", true},
        {R"(C:\App;relative;C:\WINDOWS)", true},
        {R"(C:\App;C:\Gone)", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DirListValid(c.text), c.valid) << c.text;
}

TEST(PathListValid, TheFolderOfEachDrivePathMustExist) {
    TestMachine machine("", kFiles);
    const Case cases[] = {
        {"", true},
        {"no drive here", true},
        {R"(:\x\y)", true},
        {R"(%SystemRoot%\gone\x.dll)", true},
        {R"(C:\Program Files\My App\app.exe %1)", true},
        {R"("C:\Program Files\My App\app.exe" "%1")", true},
        {R"(C:\PROGRA~1\MYAPP~1\app.exe)", true},
        {R"(c:\program files\my app\gone.exe)", true},
        {R"(C:\file.txt)", true}, // the folder is the drive
        {R"(Z:\x.exe)", false},
        {R"(C:\Gone\app.exe)", false},
        {R"(C:\WINDOWS\system32\rundll32.exe C:\Gone\x.dll,Entry)", false},
        {R"(C:\WINDOWS\system32\rundll32.exe C:\App\bin\x.dll,Entry)", true},
        // A folder that is a file counts.
        {R"(C:\Program Files\My App\app.exe\res)", true},
        // Arguments holding backslashes: the program before them is what is judged.
        {R"(C:\Program Files\My App\app.exe /dir \temp)", true},
        {R"("C:\Program Files\My App\app.exe" -path \\server\share)", true},
        {R"(C:\WINDOWS\system32\msxml3.dll,Register \x)", true},
        {R"(C:\Program Files\My App\gone.exe /dir \temp)", false},
        {R"(C:\Gone\app.exe /dir \temp)", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PathListValid(c.text), c.valid) << c.text;
}

TEST(ServiceImageValid, TheExeOrSysFileMustExist) {
    TestMachine machine("", kFiles);
    const Case cases[] = {
        {R"(system32\drivers\beep.sys)", true},
        {R"(System32\DRIVERS\BEEP.SYS)", true},
        {R"(system32\drivers\gone.sys)", false},
        {R"(\SystemRoot\System32\drivers\gone.sys)", true}, // no drive marker
        {R"(\??\C:\WINDOWS\system32\drivers\beep.sys)", true},
        {R"(\??\C:\WINDOWS\system32\drivers\gone.sys)", false},
        {R"(C:\WINDOWS\system32\svchost.exe -k netsvcs)", true},
        {R"(%SystemRoot%\system32\svchost.EXE -k netsvcs)", true},
        {R"("C:\Program Files\My App\app.exe" /service)", true},
        {R"(C:\PROGRA~1\MYAPP~1\app.exe)", true},
        {R"(C:\Program Files\My App\gone.exe)", false},
        {R"(C:\WINDOWS\system32\noextension)", true},
        {R"(C:\WINDOWS\system32\svchost.exe -config C:\App\conf)", true},
        // The extension twice in one name: the file is found by its real end.
        {R"(C:\App\x.exec.exe)", true},
        {R"(C:\App\y.exec.exe)", false},
        {"", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ServiceImageValid(c.text), c.valid) << c.text;
}

TEST(FileRefChecks, LongHostileTextsAreJudged) {
    TestMachine machine("", kFiles);
    auto repeat = [](const std::string& piece, size_t count) {
        std::string text;
        for (size_t i = 0; i < count; ++i)
            text += piece;
        return text;
    };
    EXPECT_FALSE(ServiceImageValid("C:\\App\\x" + repeat(".exe", 25000)));
    EXPECT_FALSE(ServiceImageValid("C:\\App\\x" + repeat(".sys", 25000)));
    EXPECT_TRUE(PathListValid(repeat("C:\\App\\bin\\tool.exe ", 5000)));
    EXPECT_FALSE(PathListValid(repeat("C:\\App\\bin\\tool.exe \\", 5000) + "C:\\Gone\\x"));
    EXPECT_TRUE(DirListValid(repeat("C:\\App", 10000)));
    EXPECT_FALSE(FileRefValid("C:\\" + repeat("a b\\", 25000) + "2"));
    EXPECT_TRUE(FileRefValid(repeat("%", 100000)));
}
