#include "win32/host/MachinePaths.h"

#include "hive/HiveKey.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using win32::MachinePaths;

namespace {

std::string show(std::u16string_view text) {
    std::string out;
    for (const char16_t c : text)
        out += c < 0x80 ? std::string(1, char(c)) : "\\u" + std::to_string(unsigned(c));
    return out;
}

// A machine folder with the usual system folders, a non-ASCII folder and a set of links,
// beside a folder "outside" that no Windows path may reach.
class MachinePathsTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = ::testing::TempDir() + "machine_paths_XXXXXX";
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        base_ = fs::canonical(pattern);
        machine_ = base_ / "machine";
        fs::create_directories(machine_ / "WINDOWS" / "system32" / "config");
        writeFile(machine_ / "WINDOWS" / "system32" / "config" / "SYSTEM");
        fs::create_directories(machine_ / "Program Files" / "App");
        writeFile(machine_ / "Program Files" / "App" / "app.exe");
        fs::create_directories(machine_ / "GRÖßE");
        writeFile(machine_ / "GRÖßE" / "Größe.txt");
        fs::create_directories(base_ / "outside");
        writeFile(base_ / "outside" / "secret");
        fs::create_directories(base_ / "machine2"); // shares the machine's name as a prefix

        const fs::path links = machine_ / "links";
        fs::create_directories(links);
        fs::create_directory_symlink("/etc", links / "etc");
        fs::create_directory_symlink("../../outside", links / "outside");
        fs::create_directory_symlink("../../..", links / "up");
        fs::create_directory_symlink("../../machine2", links / "sibling");
        fs::create_symlink(base_ / "outside" / "secret", links / "secret");
        fs::create_directory_symlink("../WINDOWS/system32", links / "toSystem32");
        fs::create_directory_symlink("toSystem32", links / "chain");
        fs::create_directory_symlink(machine_ / "WINDOWS", links / "absolute");
        fs::create_directory_symlink("..", links / "root");
        fs::create_symlink("../WINDOWS/system32/config/SYSTEM", links / "hive");
        fs::create_symlink("nowhere", links / "dangling");
        fs::create_symlink("loop", links / "loop");
    }

    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(base_, ignored);
    }

    static void writeFile(const fs::path& path) { std::ofstream(path) << "x"; }

    std::string host(const std::string& relative) const {
        return relative.empty() ? machine_.string() : (machine_ / relative).string();
    }

    fs::path base_;
    fs::path machine_;
};

TEST_F(MachinePathsTest, RootIsCanonical) {
    fs::create_directory_symlink(machine_, base_ / "alias");
    EXPECT_EQ(MachinePaths((base_ / "alias").string() + "/").root(), machine_.string());
    EXPECT_EQ(MachinePaths(machine_.string() + "/WINDOWS/..").root(), machine_.string());
}

TEST_F(MachinePathsTest, MissingRootThrowsNamingIt) {
    const std::string missing = (base_ / "no such machine").string();
    for (const std::string& root : {missing, (machine_ / "links" / "hive").string()}) {
        try {
            MachinePaths paths(root);
            ADD_FAILURE() << "accepted " << root;
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find(root), std::string::npos) << e.what();
        }
    }
}

struct HostCase {
    std::u16string windows;
    std::string relative; // below the machine root; empty for the root itself
};

TEST_F(MachinePathsTest, ResolvesComponentsAsWindowsDoes) {
    const std::vector<HostCase> cases = {
        // any case at any level
        {u"C:\\windows\\SYSTEM32\\Config\\system", "WINDOWS/system32/config/SYSTEM"},
        {u"c:/windows/system32/CONFIG/System", "WINDOWS/system32/config/SYSTEM"},
        {u"C:\\PROGRAM FILES\\app\\APP.EXE", "Program Files/App/app.exe"},
        {u"\\Windows\\System32", "WINDOWS/system32"},
        // the root of C:
        {u"C:", ""},
        {u"C:\\", ""},
        {u"c:/", ""},
        {u"\\", ""},
        // empty and "." components
        {u"C:\\\\windows//.\\system32\\\\", "WINDOWS/system32"},
        // missing components keep their spelling, and so does everything after them
        {u"C:\\windows\\Temp\\SUB\\x.TMP", "WINDOWS/Temp/SUB/x.TMP"},
        {u"C:\\windows\\system32\\config\\SYSTEM\\under a file",
         "WINDOWS/system32/config/SYSTEM/under a file"},
        // ".." is textual and stops at the drive's root
        {u"C:\\..\\..\\etc\\passwd", "etc/passwd"},
        {u"\\..\\windows", "WINDOWS"},
        {u"C:\\windows\\..\\..\\..\\WINDOWS\\System32", "WINDOWS/system32"},
        {u"C:\\windows\\missing\\..\\system32", "WINDOWS/system32"},
        {u"C:\\windows\\system32\\..\\..", ""},
        // trailing dots and spaces do not count; leading ones do
        {u"C:\\windows. \\system32..\\config  ", "WINDOWS/system32/config"},
        {u"C:\\windows\\...\\system32", "WINDOWS/system32"},
        {u"C:\\ windows", " windows"},
        // one UTF-16 unit at a time: "ß" has no single-unit capital
        {u"C:\\größe\\GRÖßE.TXT", "GRÖßE/Größe.txt"},
        {u"C:\\GRÖSSE", "GRÖSSE"},
    };
    const MachinePaths paths(machine_.string());
    for (const auto& c : cases) {
        SCOPED_TRACE(show(c.windows));
        const auto result = paths.toHost(c.windows);
        ASSERT_TRUE(result.has_value());
        EXPECT_EQ(*result, host(c.relative));
    }
}

TEST_F(MachinePathsTest, RefusesPathsNotOnDriveC) {
    const std::vector<std::u16string> cases = {
        u"",
        u"D:\\WINDOWS",
        u"d:",
        u"\\\\server\\share\\file",
        u"//server/share",
        u"\\/server/share",
        u"\\\\?\\C:\\WINDOWS",
        u"\\\\.\\C:",
        u"WINDOWS\\system32",
        u"..\\WINDOWS",
        u".",
        u"C:WINDOWS",
        u"1:\\",
        std::u16string(u"C:\\WIN\0DOWS", 11),
        u"C:\\\xD800",                         // a lone surrogate names no host file
        u"C:\\" + std::u16string(40000, u'a'), // longer than any Windows path
    };
    const MachinePaths paths(machine_.string());
    for (const auto& c : cases)
        EXPECT_EQ(paths.toHost(c), std::nullopt) << show(c);
}

TEST_F(MachinePathsTest, FollowsLinksOnlyWithinTheMachine) {
    struct LinkCase {
        std::u16string windows;
        std::optional<std::string> relative; // nullopt: refused
    };
    const std::vector<LinkCase> cases = {
        {u"C:\\links\\etc", std::nullopt},
        {u"C:\\LINKS\\ETC\\passwd", std::nullopt},
        {u"C:\\links\\outside\\secret", std::nullopt},
        {u"C:\\links\\secret", std::nullopt},
        {u"C:\\links\\up", std::nullopt},
        {u"C:\\links\\up\\tmp", std::nullopt},
        {u"C:\\links\\sibling", std::nullopt},
        {u"C:\\links\\dangling", std::nullopt},
        {u"C:\\links\\loop\\x", std::nullopt},
        {u"C:\\links\\toSystem32\\CONFIG\\system", "WINDOWS/system32/config/SYSTEM"},
        {u"C:\\links\\CHAIN\\config", "WINDOWS/system32/config"},
        {u"C:\\links\\absolute\\system32", "WINDOWS/system32"},
        {u"C:\\links\\root\\windows", "WINDOWS"},
        {u"C:\\links\\root", ""},
        {u"C:\\links\\hive", "WINDOWS/system32/config/SYSTEM"},
        {u"C:\\links\\toSystem32\\new\\file", "WINDOWS/system32/new/file"},
        // ".." applies to the text before any link is looked at
        {u"C:\\links\\etc\\..\\windows", "links/windows"},
    };
    const MachinePaths paths(machine_.string());
    for (const auto& c : cases) {
        SCOPED_TRACE(show(c.windows));
        const auto result = paths.toHost(c.windows);
        if (!c.relative)
            EXPECT_EQ(result, std::nullopt);
        else
            EXPECT_EQ(result, host(*c.relative));
    }
}

// Every combination of hostile components stays inside, on disk and as text.
TEST_F(MachinePathsTest, NoCombinationLeavesTheMachine) {
    const std::vector<std::u16string> pieces = {
        u"..", u"links", u"ETC", u"up", u"outside", u"root", u"toSystem32", u"windows", u"x",
    };
    const MachinePaths paths(machine_.string());
    const std::string root = machine_.string();
    std::vector<std::u16string> frontier = {u"C:"};
    for (int depth = 0; depth < 4; ++depth) {
        std::vector<std::u16string> next;
        for (const auto& prefix : frontier) {
            for (const auto& piece : pieces) {
                const std::u16string path = prefix + u"\\" + piece;
                next.push_back(path);
                const auto result = paths.toHost(path);
                if (!result)
                    continue;
                ASSERT_TRUE(*result == root || result->starts_with(root + "/")) << *result;
                ASSERT_EQ(result->find("/.."), std::string::npos) << *result;
                std::error_code error;
                const fs::path real = fs::weakly_canonical(*result, error);
                ASSERT_FALSE(error) << *result;
                ASSERT_TRUE(real == machine_ || real.string().starts_with(root + "/")) << real;
            }
        }
        frontier = std::move(next);
    }
}

TEST_F(MachinePathsTest, PrefersTheExactSpellingAmongCaseVariants) {
    fs::create_directories(machine_ / "Dir");
    if (!fs::create_directory(machine_ / "DIR"))
        GTEST_SKIP() << "the temporary folder ignores case";
    fs::create_directory(machine_ / "dIR");
    const MachinePaths paths(machine_.string());
    EXPECT_EQ(paths.toHost(u"C:\\Dir"), host("Dir"));
    EXPECT_EQ(paths.toHost(u"C:\\DIR"), host("DIR"));
    EXPECT_EQ(paths.toHost(u"C:\\dIR"), host("dIR"));
    // No exact spelling: always the same one, whatever order the folder lists them in.
    EXPECT_EQ(paths.toHost(u"C:\\dir"), host("DIR"));
}

TEST_F(MachinePathsTest, WindowsPathOfHostPath) {
    struct WindowsCase {
        std::string host;
        std::optional<std::u16string> windows;
    };
    const std::string root = machine_.string();
    const std::vector<WindowsCase> cases = {
        {root, u"C:\\"},
        {root + "/", u"C:\\"},
        {root + "/WINDOWS/system32", u"C:\\WINDOWS\\system32"},
        {root + "//WINDOWS/./system32/", u"C:\\WINDOWS\\system32"},
        {root + "/GRÖßE/Größe.txt", u"C:\\GRÖßE\\Größe.txt"},
        {root + "/Missing Folder/new.txt", u"C:\\Missing Folder\\new.txt"},
        // outside the machine
        {root + "2/WINDOWS", std::nullopt},
        {base_.string(), std::nullopt},
        {"/etc/passwd", std::nullopt},
        {"/", std::nullopt},
        {"", std::nullopt},
        {"machine/WINDOWS", std::nullopt},
        {root + "/../outside/secret", std::nullopt},
        {root + "/WINDOWS/../WINDOWS", std::nullopt},
        // names Windows would read as another file
        {root + "/a\\b", std::nullopt},
        {root + "/name.", std::nullopt},
        {root + "/name ", std::nullopt},
        {root + "/bad\xff", std::nullopt},
    };
    const MachinePaths paths(root);
    for (const auto& c : cases)
        EXPECT_EQ(paths.toWindows(c.host), c.windows) << c.host;
}

TEST_F(MachinePathsTest, RoundTripsEveryEntry) {
    const MachinePaths paths(machine_.string());
    int checked = 0;
    for (const auto& entry : fs::recursive_directory_iterator(machine_)) {
        if (entry.is_symlink())
            continue;
        const std::string path = entry.path().string();
        const auto windows = paths.toWindows(path);
        ASSERT_TRUE(windows.has_value()) << path;
        EXPECT_EQ(paths.toHost(*windows), path);
        EXPECT_EQ(paths.toHost(hive::UpcaseName(*windows)), path);
        ++checked;
    }
    EXPECT_GE(checked, 8);
}

} // namespace
