// hivewarden-cli store dump / store run, as a user runs them.

#include "support/MachineFixture.h"
#include "support/NamedPipes.h"
#include "support/StoreFiles.h"

#include <QProcess>
#include <QTemporaryDir>
#include <filesystem>
#include <gtest/gtest.h>

using namespace testing_support;

namespace {

class CliStore : public ::testing::Test {
protected:
    QTemporaryDir dir;
    std::string path = dir.path().toStdString() + "/system.dat";

    // Runs the program with `input` on its standard input.
    static ProcessResult run(const std::vector<std::string>& args, const std::string& input = {}) {
        QProcess process;
        QStringList list;
        for (const auto& a : args)
            list << QString::fromStdString(a);
        process.start(HW_CLI_PATH, list);
        process.write(input.data(), qint64(input.size()));
        process.closeWriteChannel();
        ProcessResult result;
        if (!process.waitForFinished(600000))
            return result;
        result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        result.out = process.readAllStandardOutput().toStdString();
        result.err = process.readAllStandardError().toStdString();
        return result;
    }
};

} // namespace

TEST_F(CliStore, RunAppliesOperationsInOrder) {
    const auto result = run({"store", "run", path}, "openkey \\Options\n"
                                                    "openkey \\Options create\n"
                                                    "writestring LastScan \"May 01,2024 3:04 pm\"\n"
                                                    "writeinteger ReplaceAmount -10\n"
                                                    "writebool CanReplace 1\n"
                                                    "writedatetime \"Date created\" 45356.5\n"
                                                    "# a comment\n"
                                                    "\n"
                                                    "read LastScan\n"
                                                    "read ReplaceAmount\n"
                                                    "read CanReplace\n"
                                                    "read \"Date created\"\n"
                                                    "values\n"
                                                    "closekey\n"
                                                    "openkey \\Restores\\20240101000000 create\n"
                                                    "openkey \\Restores\\20231231235959 create\n"
                                                    "openkey \\Restores\n"
                                                    "keys\n"
                                                    "deletekey 20240101000000\n"
                                                    "deletekey 20240101000000\n"
                                                    "keys\n"
                                                    "openkey \\Options\n"
                                                    "deletevalue CanReplace\n"
                                                    "values\n");
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "false\ntrue\nok\nok\nok\nok\n"
                          "\"May 01,2024 3:04 pm\"\n-10\ntrue\n45356.5\n"
                          "CanReplace\tDate created\tLastScan\tReplaceAmount\n"
                          "ok\ntrue\ntrue\ntrue\n20231231235959\t20240101000000\n"
                          "ok\nnot found\n20231231235959\ntrue\nok\n"
                          "Date created\tLastScan\tReplaceAmount\n");
    EXPECT_EQ(StoreProblems(ReadFileBytes(path)), "");
}

TEST_F(CliStore, QuotedTextRoundTrips) {
    const std::string text = "\"a \\\"quoted\\\" C:\\\\path\\r\\n\\ttab \xC3\xA9t\xC3\xA9\"";
    const auto result =
        run({"store", "run", path},
            "openkey \\K create\nwritestring \"two words\" " + text + "\nread \"two words\"\n");
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "true\nok\n" + text + "\n");
}

TEST_F(CliStore, DumpPrintsTheTree) {
    const auto written = run({"store", "run", path}, "openkey \\Options create\n"
                                                     "writestring ExclusionsKEY \"A\\r\\n\"\n"
                                                     "writebool AutoRun 0\n"
                                                     "writedatetime When 45356.5\n"
                                                     "openkey \\Restores\\1 create\n"
                                                     "writeinteger N 7\n"
                                                     "closekey\n"
                                                     "writestring RootValue x\n");
    ASSERT_EQ(written.exitCode, 0) << written.err;
    const std::string before = ReadFileBytes(path);
    const auto dump = run({"store", "dump", path});
    ASSERT_EQ(dump.exitCode, 0) << dump.err;
    EXPECT_EQ(dump.out, "\\\n"
                        "    \"RootValue\" = string \"x\"\n"
                        "\\Options\n"
                        "    \"AutoRun\" = boolean false\n"
                        "    \"ExclusionsKEY\" = string \"A\\r\\n\"\n"
                        "    \"When\" = date-time 45356.5 (2024-03-05 12:00:00)\n"
                        "\\Restores\n"
                        "\\Restores\\1\n"
                        "    \"N\" = integer 7\n");
    EXPECT_EQ(ReadFileBytes(path), before);
}

TEST_F(CliStore, DumpNeitherCreatesNorRepairs) {
    const auto missing = run({"store", "dump", path});
    EXPECT_NE(missing.exitCode, 0);
    EXPECT_NE(missing.err.find("system.dat"), std::string::npos) << missing.err;
    EXPECT_FALSE(std::filesystem::exists(path));

    WriteFileBytes(path, "short");
    const auto shortFile = run({"store", "dump", path});
    EXPECT_NE(shortFile.exitCode, 0);
    EXPECT_EQ(ReadFileBytes(path), "short");

    WriteFileBytes(path, std::string(40, 'x'));
    const auto wrongMagic = run({"store", "dump", path});
    EXPECT_NE(wrongMagic.exitCode, 0);
    EXPECT_NE(wrongMagic.err.find("Registry file format is invalid or file is corrupt"),
              std::string::npos)
        << wrongMagic.err;
    EXPECT_EQ(ReadFileBytes(path), std::string(40, 'x'));
}

TEST_F(CliStore, DumpOfANamedPipeFailsWithoutWaiting) {
    MakePipe(path);
    const auto dump = CallPastPipe(path, [&] { return run({"store", "dump", path}); });
    ASSERT_TRUE(dump.has_value());
    EXPECT_NE(dump->exitCode, 0);
    EXPECT_NE(dump->err.find("not a file"), std::string::npos) << dump->err;
}

TEST_F(CliStore, RunStopsAtTheFirstError) {
    struct Case {
        std::string input, out, error;
    };
    const Case cases[] = {
        {"openkey \\K create\nwriteinteger N many\nread N\n", "true\n", "line 2"},
        {"openkey \\K create\nwritebool B 2\n", "true\n", "line 2"},
        {"openkey \\K create\nread Missing\n", "true\n", "no value"},
        {"openkey \\K create\nwriteinteger I 1\nread I\nopenkey \\K\n"
         "writestring I x\nwriteinteger I 2\nread I\nwritestring S x\n",
         "true\nok\n1\ntrue\nok\nok\n2\nok\n", ""},
        {"openkey \\K create\nwriteinteger I 1\nwritestring \"x\n", "true\nok\n", "line 3"},
        {"frobnicate\n", "", "unknown operation"},
        {"openkey \\K create\nwritestring " + std::string(48, 'n') + " x\n", "true\n",
         std::string(48, 'n')},
    };
    for (const Case& c : cases) {
        std::filesystem::remove(path);
        const auto result = run({"store", "run", path}, c.input);
        EXPECT_EQ(result.out, c.out) << c.input;
        if (!c.error.empty()) {
            EXPECT_NE(result.exitCode, 0) << c.input;
            EXPECT_NE(result.err.find(c.error), std::string::npos) << result.err;
        } else {
            EXPECT_EQ(result.exitCode, 0) << result.err;
        }
    }
}

TEST_F(CliStore, RunHelpDocumentsQuoting) {
    const auto help = run({"store", "run", "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("double quotes"), std::string::npos);
}
