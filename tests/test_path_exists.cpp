// Whether the paths the scanners judge exist on the machine.

#include "scan/PathExists.h"
#include "support/MachineFixture.h"

#include <QTemporaryDir>
#include <filesystem>
#include <gtest/gtest.h>

using namespace testing_support;

TEST(PathExists, WindowsPathsOnTheMachineOnly) {
    TestMachine machine("", {{"C:\\Program Files\\My App\\App.exe", MzImage()}});
    // A folder outside the machine, with a file of the same name, reached through links.
    QTemporaryDir outside;
    const std::string host = outside.path().toStdString();
    std::filesystem::create_directories(host + "/My App");
    std::filesystem::copy_file(machine.hostPath("Program Files/My App/App.exe"),
                               host + "/My App/App.exe");
    std::filesystem::create_directory_symlink(host, machine.hostPath("Out"));
    std::filesystem::create_symlink(host + "/My App/App.exe", machine.hostPath("out.exe"));

    struct Case {
        const char* path;
        bool file, folder;
    } cases[] = {
        {R"(C:\Program Files\My App\App.exe)", true, false},
        {R"(c:\PROGRAM FILES\my app\app.EXE)", true, false},
        {R"(C:\PROGRA~1\MYAPP~1\APP.EXE)", true, false},
        {R"(C:\Program Files\My App)", false, true},
        {R"(C:\Program Files\My App\)", false, true},
        {R"(C:\Program Files\My App\gone.exe)", false, false},
        {R"(C:\Out\My App\App.exe)", false, false},
        {R"(C:\Out)", false, false},
        {R"(C:\out.exe)", false, false},
        {"", false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FileExists(c.path), c.file) << c.path;
        EXPECT_EQ(DirectoryExists(c.path), c.folder) << c.path;
        EXPECT_EQ(ReferenceExists(c.path), c.file) << c.path;
        EXPECT_EQ(ReferenceExists(c.path, true), c.file || c.folder) << c.path;
    }
}

TEST(PathExists, ReferencesAreFoundAsWrittenOrExpanded) {
    TestMachine machine(
        "", {{"C:\\WINDOWS\\Fonts\\arial.ttf", "font"}, {"C:\\Data\\100%done%.txt", "text"}});
    EXPECT_TRUE(ReferenceExists(R"(%SystemRoot%\Fonts\arial.ttf)"));
    EXPECT_TRUE(ReferenceExists(R"(%SYSTEMROOT%\Fonts)", true));
    EXPECT_FALSE(ReferenceExists(R"(%SystemRoot%\Fonts)"));
    EXPECT_FALSE(ReferenceExists(R"(%NoSuchVariable%\Fonts\arial.ttf)"));
    // A name with percent signs of its own is found as written.
    EXPECT_TRUE(ReferenceExists(R"(C:\Data\100%done%.txt)"));
    EXPECT_EQ(ExpandEnvironmentText(R"("%SystemRoot%";x)"), R"("C:\WINDOWS";x)");
}
