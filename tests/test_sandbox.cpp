// The sandbox machine: what a new user works on when no installation is named.

#include "sandbox/SandboxTemplate.h"
#include "support/MachineFixture.h"
#include "win32/base/CodePage.h"
#include "win32/host/MachineFolder.h"
#include "win32/host/MachineLock.h"
#include "win32/machine/Machine.h"
#include "win32/shell/ShellLink.h"

#include <QByteArray>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <set>
#include <tuple>

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

struct PlantedEntry {
    int category;
    std::string key, value, diagnosis;
};

// The leftovers of the two programs the template's user removed, and nothing else.
const std::vector<PlantedEntry> kPlanted = {
    {0, R"(HKEY_CLASSES_ROOT\Interface\{3C5E7A90-2B4D-4F6A-8C0E-1A3B5C7D9E0F}\ProxyStubClsid)",
     R"(ProxyStubClsid)",
     R"(Missing CLSID "{3C5E7A90-2B4D-4F6A-8C0E-1A3B5C7D9E0F}" Empty Reference)"},
    {0, R"(HKEY_CLASSES_ROOT\Interface\{9A3F1C21-5B6D-4E7F-8A9B-0C1D2E3F4A5B}\ProxyStubClsid32)",
     R"(ProxyStubClsid32)",
     R"(Missing CLSID "{9A3F1C2F-5B6D-4E7F-8A9B-0C1D2E3F4A5B}" Invalid Reference)"},
    {0, R"(HKEY_CLASSES_ROOT\TypeLib\{9A3F1C22-5B6D-4E7F-8A9B-0C1D2E3F4A5B}\3.0\0\win32)",
     R"(win32)", R"(Missing or Invalid Path "C:\Program Files\Lumina\PhotoViewer\pvlib.tlb")"},
    {1, R"(HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\oldsync.exe)",
     R"(Default)", R"(Default value is Empty)"},
    {1, R"(HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\photoview.exe)",
     R"(Path)", R"(Application directory "C:\Program Files\Lumina\PhotoViewer"  does not exist)"},
    {2, R"(HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Run)", R"(OldSync)",
     R"(File ""C:\Program Files\OldSync\oldsync.exe" /background" does not execute)"},
    {2, R"(HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Run)", R"(PhotoViewerTray)",
     R"(File "C:\Program Files\Lumina\PhotoViewer\pvtray.exe /startup" does not execute)"},
    {3, R"(HKEY_CLASSES_ROOT\Lumina.PhotoViewer.Image\DefaultIcon)", R"(Default)",
     R"(File does not exist)"},
    {3, R"(HKEY_CLASSES_ROOT\Lumina.PhotoViewer.Image\shell\open\command)", R"(Default)",
     R"(File does not exist)"},
    {3, R"(HKEY_CLASSES_ROOT\OldSync.Folder\shell\sync\command)", R"(Default)",
     R"(File does not exist)"},
    {3, R"(HKEY_CLASSES_ROOT\TypeLib\{9A3F1C22-5B6D-4E7F-8A9B-0C1D2E3F4A5B}\3.0\0\win32)",
     R"(Default)", R"(File does not exist)"},
    {4, R"(HKEY_CLASSES_ROOT\.osy)", R"(Default)", R"(The associations Application is not valid)"},
    {4, R"(HKEY_CLASSES_ROOT\.pvx)", R"(Default)", R"(The associations Application is not valid)"},
    {5, R"(HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Fonts)",
     R"(Lumina Sans (TrueType))", R"(File "C:\WINDOWS\Fonts\LuminaSans.ttf" does not exist)"},
    {5, R"(HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Fonts)",
     R"(OldSync Symbols (TrueType))", R"(File "C:\WINDOWS\Fonts\oldsyncs.ttf" does not exist)"},
    {6, R"(HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\Help)", R"(photoview.hlp)",
     R"(File "C:\Program Files\Lumina\PhotoViewer\Help\photoview.hlp" does not exist)"},
    {6, R"(HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\Html Help)", R"(oldsync.chm)",
     R"(File "C:\Program Files\OldSync\oldsync.chm" does not exist)"},
    {7, R"(HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\SharedDlls)",
     R"(C:\Program Files\Common Files\Lumina\pvcodec.dll)",
     R"(File "C:\Program Files\Common Files\Lumina\pvcodec.dll" does not exist)"},
    {7, R"(HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\SharedDlls)",
     R"(C:\Program Files\OldSync\syncore.dll)",
     R"(File "C:\Program Files\OldSync\syncore.dll" does not exist)"},
    {8, R"(HKEY_CURRENT_USER\Software\OldSync)", R"(OldSync)", R"(Unused Software Entries)"},
    {8, R"(HKEY_LOCAL_MACHINE\Software\Lumina Software)", R"(Lumina Software)",
     R"(Unused Software Entries)"},
    {9, R"(HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\LuminaUpdate)", R"(ImagePath)",
     R"(File ""C:\Program Files\Lumina\Update\luminaupd.exe"" does not exist)"},
    {9, R"(HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\oldsyncflt)", R"(ImagePath)",
     R"(File "system32\DRIVERS\oldsyncflt.sys" does not exist)"},
    {10,
     R"(HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Lumina PhotoViewer Pro)",
     R"(UninstallString)",
     R"(Uninstall File Path "C:\Program Files\Lumina\PhotoViewer\uninstall.exe" does not exist)"},
    {10, R"(HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\OldSync)",
     R"(UninstallString)",
     R"(Uninstall File Path ""C:\Program Files\OldSync\unins000.exe"" does not exist)"},
    {11,
     R"(HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\MenuOrder\Start Menu2\Programs)",
     R"(Lumina PhotoViewer)", R"(Obsolete StartMenus "Lumina PhotoViewer")"},
    {11,
     R"(HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\MenuOrder\Start Menu2\Programs)",
     R"(OldSync)", R"(Obsolete StartMenus "OldSync")"},
};

using Entry = std::tuple<int, std::string, std::string, std::string>;

class Sandbox : public ::testing::Test {
protected:
    QTemporaryDir dir;
    std::string programFolder = dir.path().toStdString() + "/program";
    std::string sandbox = programFolder + "/Sandbox";

    // hivewarden-cli with no machine named: it works on the sandbox.
    ProcessResult run(const std::vector<std::string>& args) {
        return RunProcess(
            HW_CLI_PATH, args,
            {{"HIVEWARDEN_MACHINE", ""}, {"HIVEWARDEN_PROGRAM_FOLDER", programFolder}});
    }

    std::multiset<Entry> scan() {
        const ProcessResult result = run({"scan", "--json"});
        EXPECT_EQ(result.exitCode, 0) << result.err;
        std::multiset<Entry> found;
        for (const QByteArray& line : QByteArray::fromStdString(result.out).split('\n')) {
            if (line.isEmpty())
                continue;
            const QJsonObject o = QJsonDocument::fromJson(line).object();
            found.insert({o["category"].toInt(), o["key"].toString().toStdString(),
                          o["value"].toString().toStdString(),
                          o["diagnosis"].toString().toStdString()});
        }
        return found;
    }

    static std::multiset<Entry> planted() {
        std::multiset<Entry> entries;
        for (const PlantedEntry& e : kPlanted)
            entries.insert({e.category, e.key, e.value, e.diagnosis});
        return entries;
    }

    std::vector<std::string> hiveFiles() const {
        std::vector<std::string> files;
        for (const char* hive : kMachineHives)
            files.push_back(sandbox + "/" + hive);
        return files;
    }
};

TEST_F(Sandbox, AFirstScanReportsExactlyThePlantedLeftoversInEverySection) {
    const ProcessResult first = run({"scan", "--section", "5"});
    ASSERT_EQ(first.exitCode, 0) << first.err;
    EXPECT_NE(first.err.find("Made the sandbox machine"), std::string::npos) << first.err;
    EXPECT_NE(first.err.find("--machine DIR"), std::string::npos) << first.err;
    EXPECT_TRUE(fs::is_regular_file(sandbox + "/WINDOWS/system32/config/SYSTEM"));

    EXPECT_EQ(scan(), planted());
    std::set<int> sections;
    for (const PlantedEntry& e : kPlanted)
        sections.insert(e.category);
    EXPECT_EQ(sections.size(), 12u);
}

TEST_F(Sandbox, TwoProgramsStartingTogetherBothGetTheOneSandbox) {
    std::vector<std::unique_ptr<QProcess>> runs;
    for (int i = 0; i < 2; ++i) {
        auto process = std::make_unique<QProcess>();
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HIVEWARDEN_MACHINE", "");
        environment.insert("HIVEWARDEN_PROGRAM_FOLDER", QString::fromStdString(programFolder));
        process->setProcessEnvironment(environment);
        process->start(HW_CLI_PATH, {"info"});
        runs.push_back(std::move(process));
    }
    for (auto& process : runs) {
        ASSERT_TRUE(process->waitForFinished(120000));
        EXPECT_EQ(process->exitCode(), 0) << process->readAllStandardError().toStdString();
    }
    EXPECT_EQ(scan(), planted());
    for (const auto& entry : fs::directory_iterator(programFolder))
        EXPECT_EQ(entry.path().filename().string().find("Sandbox."), std::string::npos)
            << entry.path();
}

TEST_F(Sandbox, CleanRemovesEveryLeftoverAndItsUndoFileBringsThemBack) {
    const std::string undo = dir.path().toStdString() + "/undo.reg";
    const ProcessResult clean = run({"clean", "--undo", undo, "--yes"});
    ASSERT_EQ(clean.exitCode, 0) << clean.err;
    EXPECT_TRUE(scan().empty());

    const ProcessResult import = run({"reg", "import", undo});
    ASSERT_EQ(import.exitCode, 0) << import.err;
    EXPECT_EQ(scan(), planted());
}

TEST_F(Sandbox, BackupCompactAndRestoreOfAProfileLeaveTheScanUnchanged) {
    const std::multiset<Entry> before = scan();
    for (const std::vector<std::string>& step : {std::vector<std::string>{"backup", "first"},
                                                 {"compact"},
                                                 {"restart"},
                                                 {"restore", "first"},
                                                 {"restart"}}) {
        const ProcessResult result = run(step);
        ASSERT_EQ(result.exitCode, 0) << step.front() << ": " << result.err;
    }
    for (const std::string& hive : hiveFiles())
        EXPECT_TRUE(fs::is_regular_file(hive + ".rcbak")) << hive;
    EXPECT_EQ(scan(), before);
}

TEST_F(Sandbox, ResetMakesANewSandboxAndIsRefusedWhileTheSandboxIsMounted) {
    ASSERT_EQ(run({"clean", "--undo", "", "--yes"}).exitCode, 0);
    ASSERT_TRUE(scan().empty());

    // Another process holding the machine: the reset is refused and changes nothing.
    {
        win32::MachineLock held = win32::MachineLock::acquire(sandbox);
        const ProcessResult refused = run({"machine", "reset-sandbox"});
        EXPECT_NE(refused.exitCode, 0);
        EXPECT_NE(refused.err.find("Cannot reset the sandbox"), std::string::npos) << refused.err;
    }
    EXPECT_TRUE(scan().empty());

    const ProcessResult reset = run({"machine", "reset-sandbox"});
    ASSERT_EQ(reset.exitCode, 0) << reset.err;
    EXPECT_EQ(scan(), planted());
}

TEST_F(Sandbox, AReadOnlyMountMakesTheResetRefuseWithASentence) {
    ASSERT_EQ(run({"info"}).exitCode, 0);
    win32::BootOptions readOnly;
    readOnly.readOnly = true;
    win32::BootMachine(sandbox, readOnly);
    const ProcessResult refused = run({"machine", "reset-sandbox"});
    // The lock of a read-only mount writes nothing into the machine.
    EXPECT_FALSE(fs::exists(sandbox + "/" + win32::kMachineLockFileName));
    win32::ShutdownMachine();
    EXPECT_NE(refused.exitCode, 0);
    EXPECT_NE(refused.err.find("Cannot reset the sandbox: The machine "), std::string::npos)
        << refused.err;
    EXPECT_NE(refused.err.find("Sandbox is in use by another process, which has it open for "
                               "reading."),
              std::string::npos)
        << refused.err;
    for (const auto& entry : fs::directory_iterator(programFolder))
        EXPECT_EQ(entry.path().filename().string().find("Sandbox."), std::string::npos)
            << entry.path();
    // A writer is refused by the read-only mount as well, and a second reader is not.
    win32::BootMachine(sandbox, readOnly);
    const ProcessResult writer = run({"reg", "delete", "HKLM\\SOFTWARE\\Classes\\.txt"});
    const ProcessResult reader = run({"reg", "query", "HKLM\\SOFTWARE\\Classes\\.txt"});
    win32::ShutdownMachine();
    EXPECT_NE(writer.exitCode, 0);
    EXPECT_NE(writer.err.find("is in use by another process"), std::string::npos) << writer.err;
    EXPECT_EQ(reader.exitCode, 0) << reader.err;
}

TEST_F(Sandbox, ResetsBesideScansLeaveOneWholeSandboxAndNothingElse) {
    ASSERT_EQ(run({"info"}).exitCode, 0);
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HIVEWARDEN_MACHINE", "");
    environment.insert("HIVEWARDEN_PROGRAM_FOLDER", QString::fromStdString(programFolder));
    for (int round = 0; round < 3; ++round) {
        std::vector<std::unique_ptr<QProcess>> runs;
        const QList<QStringList> commands = {{"machine", "reset-sandbox"},
                                             {"scan", "--section", "2"},
                                             {"scan", "--section", "5"},
                                             {"machine", "reset-sandbox"},
                                             {"info"}};
        for (const QStringList& command : commands) {
            auto process = std::make_unique<QProcess>();
            process->setProcessEnvironment(environment);
            process->start(HW_CLI_PATH, command);
            runs.push_back(std::move(process));
        }
        for (size_t i = 0; i < runs.size(); ++i) {
            ASSERT_TRUE(runs[i]->waitForFinished(300000));
            const std::string err = runs[i]->readAllStandardError().toStdString();
            // Each either did its work or was refused with a sentence saying why.
            if (runs[i]->exitCode() != 0) {
                EXPECT_NE(err.find("is in use by another process"), std::string::npos)
                    << commands[int(i)].join(' ').toStdString() << ": " << err;
            }
            EXPECT_EQ(err.find("filesystem error"), std::string::npos) << err;
        }
        for (const auto& entry : fs::directory_iterator(programFolder))
            EXPECT_EQ(entry.path().filename().string().find("Sandbox."), std::string::npos)
                << entry.path();
    }
    EXPECT_EQ(scan(), planted());
}

TEST_F(Sandbox, ItsHivesAndShortcutsLoadInOtherTools) {
    ASSERT_EQ(run({"info"}).exitCode, 0);
    const QString hivex = QStandardPaths::findExecutable("hivexregedit");
    const QString lnkinfo = QStandardPaths::findExecutable("lnkinfo");
    for (const std::string& hive : hiveFiles()) {
        ASSERT_TRUE(fs::is_regular_file(hive)) << hive;
        if (hivex.isEmpty())
            continue;
        QProcess p;
        p.start(hivex, {"--export", QString::fromStdString(hive), "\\"});
        ASSERT_TRUE(p.waitForFinished(60000));
        EXPECT_EQ(p.exitCode(), 0) << hive << p.readAllStandardError().toStdString();
        EXPECT_TRUE(p.readAllStandardOutput().startsWith("Windows Registry Editor")) << hive;
    }

    const win32::CodePage ansi(1252);
    int shortcuts = 0;
    for (const TSandboxFile& file : SandboxFiles()) {
        if (file.kind != TSandboxFile::Kind::Shortcut)
            continue;
        ++shortcuts;
        std::string relative = file.path.substr(3);
        std::replace(relative.begin(), relative.end(), '\\', '/');
        const std::string path = sandbox + "/" + relative;
        std::ifstream in(path, std::ios::binary);
        const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
        const win32::ShellLinkData link = win32::ParseShellLink(bytes, ansi);
        EXPECT_EQ(link.localPath, file.target) << path;
        EXPECT_EQ(link.workingDirectory, file.target.substr(0, file.target.rfind('\\'))) << path;
        if (lnkinfo.isEmpty())
            continue;
        QProcess p;
        p.start(lnkinfo, {QString::fromStdString(path)});
        ASSERT_TRUE(p.waitForFinished(60000));
        EXPECT_EQ(p.exitCode(), 0) << path;
        EXPECT_NE(p.readAllStandardOutput().indexOf(QByteArray::fromStdString(file.target)), -1)
            << path;
    }
    EXPECT_GT(shortcuts, 0);
}

// The Windows 10 sandbox: the leftovers of the 64-bit and the 32-bit program, each in the
// view it was registered in, and nothing of the valid 32-bit registrations.
const std::vector<PlantedEntry> kPlanted10 = {
    {0, R"(HKEY_CLASSES_ROOT\TypeLib\{9A3F1C22-5B6D-4E7F-8A9B-0C1D2E3F4A5B}\3.0\0\win32)",
     R"(win32)", R"(Missing or Invalid Path "C:\Program Files\Lumina\PhotoViewer\pvlib.tlb")"},
    {0,
     R"(HKEY_CLASSES_ROOT\Wow6432Node\Interface\{3C5E7A90-2B4D-4F6A-8C0E-1A3B5C7D9E0F}\ProxyStubClsid32)",
     R"(ProxyStubClsid32)",
     R"(Missing CLSID "{3C5E7A9F-2B4D-4F6A-8C0E-1A3B5C7D9E0F}" Invalid Reference)"},
    {1, R"(HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\photoview.exe)",
     R"(Path)", R"(Application directory "C:\Program Files\Lumina\PhotoViewer"  does not exist)"},
    {1,
     R"(HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\Microsoft\Windows\CurrentVersion\App Paths\oldsync.exe)",
     R"(Path)", R"(Application directory "C:\Program Files (x86)\OldSync"  does not exist)"},
    {2, R"(HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Run)", R"(PhotoViewerTray)",
     R"(File "C:\Program Files\Lumina\PhotoViewer\pvtray.exe /startup" does not execute)"},
    {2, R"(HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\Microsoft\Windows\CurrentVersion\Run)",
     R"(OldSync)",
     R"(File ""C:\Program Files (x86)\OldSync\oldsync.exe" /background" does not execute)"},
    {3, R"(HKEY_CLASSES_ROOT\Lumina.PhotoViewer.Image\shell\open\command)", R"(Default)",
     R"(File does not exist)"},
    {3, R"(HKEY_CLASSES_ROOT\TypeLib\{9A3F1C22-5B6D-4E7F-8A9B-0C1D2E3F4A5B}\3.0\0\win32)",
     R"(Default)", R"(File does not exist)"},
    {3,
     R"(HKEY_CLASSES_ROOT\Wow6432Node\CLSID\{7D2B4E60-1C3A-4B5D-9E8F-0A1B2C3D4E5F}\InprocServer32)",
     R"(Default)", R"(File does not exist)"},
    {4, R"(HKEY_CLASSES_ROOT\.osy)", R"(Default)", R"(The associations Application is not valid)"},
    {4, R"(HKEY_CLASSES_ROOT\.pvx)", R"(Default)", R"(The associations Application is not valid)"},
    {5, R"(HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Fonts)",
     R"(Lumina Sans (TrueType))", R"(File "C:\WINDOWS\Fonts\LuminaSans.ttf" does not exist)"},
    {6, R"(HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\Help)", R"(photoview.chm)",
     R"(File "C:\Program Files\Lumina\PhotoViewer\Help\photoview.chm" does not exist)"},
    {6, R"(HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\Microsoft\Windows\Html Help)", R"(oldsync.chm)",
     R"(File "C:\Program Files (x86)\OldSync\oldsync.chm" does not exist)"},
    {7, R"(HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\SharedDlls)",
     R"(C:\Program Files\Common Files\Lumina\pvcodec.dll)",
     R"(File "C:\Program Files\Common Files\Lumina\pvcodec.dll" does not exist)"},
    {7, R"(HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\Microsoft\Windows\CurrentVersion\SharedDlls)",
     R"(C:\WINDOWS\system32\syncore.dll)",
     R"(File "C:\WINDOWS\system32\syncore.dll" does not exist)"},
    {8, R"(HKEY_CURRENT_USER\Software\OldSync)", R"(OldSync)", R"(Unused Software Entries)"},
    {8, R"(HKEY_LOCAL_MACHINE\Software\Lumina Software)", R"(Lumina Software)",
     R"(Unused Software Entries)"},
    {8, R"(HKEY_LOCAL_MACHINE\Software\Wow6432Node\OldSync)", R"(OldSync)",
     R"(Unused Software Entries)"},
    {9, R"(HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\LuminaUpdate)", R"(ImagePath)",
     R"(File ""C:\Program Files\Lumina\Update\luminaupd.exe"" does not exist)"},
    {10,
     R"(HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Lumina PhotoViewer Pro)",
     R"(UninstallString)",
     R"(Uninstall File Path "C:\Program Files\Lumina\PhotoViewer\uninstall.exe" does not exist)"},
    {10,
     R"(HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall\OldSync)",
     R"(UninstallString)",
     R"(Uninstall File Path ""C:\Program Files (x86)\OldSync\unins000.exe"" does not exist)"},
};

TEST_F(Sandbox, TheWindows10SandboxReportsItsLeftoversInBothViewsAndTheUndoBringsThemBack) {
    const ProcessResult made = run({"machine", "reset-sandbox", "--windows", "10"});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    const ProcessResult info = run({"info"});
    EXPECT_NE(info.out.find("Windows 10 64-bit 10.0.19045"), std::string::npos) << info.out;
    EXPECT_TRUE(fs::is_regular_file(sandbox + "/Users/Administrator/NTUSER.DAT"));

    std::multiset<Entry> expected;
    for (const PlantedEntry& e : kPlanted10)
        expected.insert({e.category, e.key, e.value, e.diagnosis});
    EXPECT_EQ(scan(), expected);

    const std::string undo = dir.path().toStdString() + "/undo10.reg";
    const ProcessResult clean = run({"clean", "--undo", undo, "--yes"});
    ASSERT_EQ(clean.exitCode, 0) << clean.err;
    EXPECT_TRUE(scan().empty());
    // The extension that holds more than its stale default keeps its content type.
    const ProcessResult query = run({"reg", "query", "HKEY_CLASSES_ROOT\\.pvx"});
    EXPECT_NE(query.out.find("image/x-lumina"), std::string::npos) << query.out << query.err;
    EXPECT_EQ(query.out.find("(Default)"), std::string::npos) << query.out;

    const ProcessResult import = run({"reg", "import", undo});
    ASSERT_EQ(import.exitCode, 0) << import.err;
    EXPECT_EQ(scan(), expected);

    // The XP sandbox again, on request.
    ASSERT_EQ(run({"machine", "reset-sandbox", "--windows", "xp"}).exitCode, 0);
    EXPECT_EQ(scan(), planted());
    EXPECT_NE(run({"machine", "reset-sandbox", "--windows", "95"}).exitCode, 0);
}

TEST(SandboxFileList, RefusesLinesItCannotMake) {
    const std::vector<std::string> bad = {
        "image",                                  // no path
        "picture C:\\x.bmp",                      // unknown kind
        "file D:\\x.txt",                         // another drive
        "file C:\\a\\..\\..\\x.txt",              // climbs out
        "shortcut C:\\a.lnk",                     // no target
        "shortcut C:\\a.lnk -> \\\\server\\x.exe" // not a local path
    };
    for (const std::string& line : bad)
        EXPECT_THROW(ParseSandboxFileList("# comment\n" + line + "\n"), std::runtime_error) << line;
    const auto files = ParseSandboxFileList("image C:\\a b\\c.exe\r\n\r\nshortcut C:\\s.lnk -> "
                                            "C:\\a b\\c.exe\r\n");
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0].path, "C:\\a b\\c.exe");
    EXPECT_EQ(files[1].target, "C:\\a b\\c.exe");
}

} // namespace
