// hivewarden-cli clean: a scan, then the repair of every problem found, each saved to the
// undo file first; the undo file brings everything back.

#include "support/MachineFixture.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <filesystem>
#include <gtest/gtest.h>

using namespace testing_support;

namespace {

class CliClean : public ::testing::Test {
protected:
    QTemporaryDir dir;
    std::string machine = dir.path().toStdString() + "/xp";
    std::string undo = dir.path().toStdString() + "/undo.reg";

    void SetUp() override {
        ASSERT_EQ(run({"machine", "create", machine}).exitCode, 0);
        std::filesystem::create_directories(machine + "/Program Files/My App");
        QFile app(QString::fromStdString(machine + "/Program Files/My App/app.exe"));
        ASSERT_TRUE(app.open(QIODevice::WriteOnly));
        app.write(QByteArray::fromStdString(MzImage()));
        app.close();
        const std::string reg = dir.path().toStdString() + "/in.reg";
        QFile in(QString::fromStdString(reg));
        ASSERT_TRUE(in.open(QIODevice::WriteOnly));
        in.write("REGEDIT4\r\n\r\n"
                 "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run]\r\n"
                 "\"ok\"=\"C:\\\\Program Files\\\\My App\\\\app.exe\"\r\n"
                 "\"gone\"=\"C:\\\\Gone\\\\gone.exe /tray\"\r\n"
                 "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App "
                 "Paths\\gone.exe]\r\n@=\"C:\\\\Gone\\\\gone.exe\"\r\n\"Path\"=\"C:\\\\Gone\"\r\n");
        in.close();
        ASSERT_EQ(run({"--machine", machine, "reg", "import", reg}).exitCode, 0);
    }

    ProcessResult run(std::vector<std::string> args) {
        return RunProcess(HW_CLI_PATH, args, {{"HIVEWARDEN_MACHINE", ""}});
    }

    ProcessResult query(const std::string& key) {
        return run({"--machine", machine, "reg", "query", key, "--recursive"});
    }
};

const char* kRunKey = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char* kAppPaths = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths";

} // namespace

TEST_F(CliClean, WithoutYesNothingChanges) {
    const std::string before = query(kRunKey).out + query(kAppPaths).out;
    const ProcessResult listed =
        run({"--machine", machine, "clean", "--undo", undo, "--section", "1", "--section", "2"});
    EXPECT_EQ(listed.exitCode, 0) << listed.err;
    EXPECT_NE(listed.out.find("gone.exe"), std::string::npos) << listed.out;
    EXPECT_EQ(query(kRunKey).out + query(kAppPaths).out, before);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(undo)));
}

TEST_F(CliClean, RemovesEveryProblemAndTheUndoFileBringsThemBack) {
    const std::string before = query(kRunKey).out + query(kAppPaths).out;
    const ProcessResult cleaned = run({"--machine", machine, "clean", "--undo", undo, "--section",
                                       "1", "--section", "2", "--yes"});
    ASSERT_EQ(cleaned.exitCode, 0) << cleaned.err;
    EXPECT_NE(cleaned.out.find("Removed 2 problems"), std::string::npos) << cleaned.out;
    const std::string runAfter = query(kRunKey).out;
    EXPECT_EQ(runAfter.find("gone"), std::string::npos) << runAfter;
    EXPECT_NE(runAfter.find("app.exe"), std::string::npos) << runAfter;
    EXPECT_EQ(query(kAppPaths).out.find("gone.exe"), std::string::npos);

    // A second clean finds nothing left.
    const ProcessResult again =
        run({"--machine", machine, "clean", "--undo", undo, "--section", "1", "--section", "2"});
    EXPECT_NE(again.out.find("No problems found."), std::string::npos) << again.out;

    ASSERT_EQ(run({"--machine", machine, "reg", "import", undo}).exitCode, 0);
    EXPECT_EQ(query(kRunKey).out + query(kAppPaths).out, before);
}

TEST_F(CliClean, AnUndoFileThatCannotBeWrittenStopsBeforeAnyDeletion) {
    const std::string before = query(kRunKey).out + query(kAppPaths).out;
    const ProcessResult failed = run({"--machine", machine, "clean", "--undo",
                                      dir.path().toStdString() + "/missing/undo.reg", "--yes"});
    EXPECT_NE(failed.exitCode, 0);
    EXPECT_NE(failed.err.find("undo file could not be written"), std::string::npos) << failed.err;
    EXPECT_NE(failed.out.find("Removed 0 problems"), std::string::npos) << failed.out;
    EXPECT_EQ(query(kRunKey).out + query(kAppPaths).out, before);

    const ProcessResult unnamed = run({"--machine", machine, "clean", "--yes"});
    EXPECT_NE(unnamed.exitCode, 0);
    EXPECT_NE(unnamed.err.find("--undo"), std::string::npos) << unnamed.err;
}

TEST_F(CliClean, AFullDiskStopsTheCleanWhichSaysHowManyItRemoved) {
    // Thirty more problems; the undo file is a few of their entries short of the largest
    // file the process may write, so the disk is full for it after some of them.
    std::string reg = "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\"
                      "CurrentVersion\\Run]\r\n";
    for (int i = 10; i < 40; ++i)
        reg += "\"gone" + std::to_string(i) + "\"=\"C:\\\\Gone\\\\gone" + std::to_string(i) +
               ".exe\"\r\n";
    const std::string more = dir.path().toStdString() + "/more.reg";
    QFile in(QString::fromStdString(more));
    ASSERT_TRUE(in.open(QIODevice::WriteOnly));
    in.write(reg.data(), qint64(reg.size()));
    in.close();
    ASSERT_EQ(run({"--machine", machine, "reg", "import", more}).exitCode, 0);

    constexpr int kLimitKiB = 512;
    std::string filler = "REGEDIT4\r\n";
    while (filler.size() < size_t(kLimitKiB) * 1024 - 1500)
        filler += "; an earlier clean\r\n";
    QFile undoFile(QString::fromStdString(undo));
    ASSERT_TRUE(undoFile.open(QIODevice::WriteOnly));
    undoFile.write(filler.data(), qint64(filler.size()));
    undoFile.close();

    const ProcessResult full = RunProcess(
        "bash",
        {"-c", "trap '' XFSZ; ulimit -f " + std::to_string(kLimitKiB) + "; exec \"$0\" \"$@\"",
         HW_CLI_PATH, "--machine", machine, "clean", "--undo", undo, "--section", "2", "--yes"},
        {{"HIVEWARDEN_MACHINE", ""}});
    EXPECT_EQ(full.exitCode, 1) << full.err;
    const QRegularExpression said(R"(Removed (\d+) problems)");
    const auto match = said.match(QString::fromStdString(full.out));
    ASSERT_TRUE(match.hasMatch()) << full.out;
    const int removed = match.captured(1).toInt();
    EXPECT_GT(removed, 0);
    EXPECT_LT(removed, 31);
    EXPECT_NE(full.err.find("File too large"), std::string::npos) << full.err;
    EXPECT_NE(full.err.find(std::to_string(removed) + " of 31 problems were removed before it "
                                                      "stopped."),
              std::string::npos)
        << full.err;
    // The count is what left the hive files, and each of them is in the undo file.
    const std::string after = query(kRunKey).out;
    int left = 0;
    for (size_t at = after.find("C:\\Gone\\"); at != std::string::npos;
         at = after.find("C:\\Gone\\", at + 1))
        ++left;
    EXPECT_EQ(left, 31 - removed) << after;
    EXPECT_EQ(std::filesystem::file_size(undo) > filler.size(), removed > 0);
}

TEST_F(CliClean, AKeyAnExclusionKeepsIsNotDeletedWithItsParent) {
    const std::string app =
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\gone.exe";
    const std::string reg = dir.path().toStdString() + "/sub.reg";
    QFile in(QString::fromStdString(reg));
    ASSERT_TRUE(in.open(QIODevice::WriteOnly));
    in.write(QByteArray::fromStdString("REGEDIT4\r\n\r\n[" + app + "\\Kept]\r\n\"v\"=\"1\"\r\n"));
    in.close();
    ASSERT_EQ(run({"--machine", machine, "reg", "import", reg}).exitCode, 0);

    const ProcessResult refused = run({"--machine", machine, "clean", "--undo", undo, "--section",
                                       "1", "--exclude", app + "\\Kept", "--yes"});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("was not removed: its repair would delete the key " + app +
                               " with all its subkeys, and the exclusion list keeps \"" + app +
                               "\\Kept\""),
              std::string::npos)
        << refused.err;
    EXPECT_NE(refused.out.find("Removed 0 problems"), std::string::npos) << refused.out;
    EXPECT_NE(query(kAppPaths).out.find("Kept"), std::string::npos);
}
