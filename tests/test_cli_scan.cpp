// hivewarden-cli scan, run as a user runs it.

#include "support/MachineFixture.h"

#include <QByteArray>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <filesystem>
#include <gtest/gtest.h>

using namespace testing_support;

namespace {

class CliScan : public ::testing::Test {
protected:
    QTemporaryDir dir;
    std::string machine = dir.path().toStdString() + "/xp";
    std::string programFolder = dir.path().toStdString() + "/program";

    void SetUp() override {
        ASSERT_EQ(run({"machine", "create", machine}, false).exitCode, 0);
        // A program that exists, and a stale entry in three sections; "\xE9" is é in the
        // machine's code page 1252.
        std::filesystem::create_directories(machine + "/Program Files/My App");
        writeFile(machine + "/Program Files/My App/app.exe", MzImage());
        importReg("[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run]\r\n"
                  "\"ok\"=\"C:\\\\Program Files\\\\My App\\\\app.exe -tray\"\r\n"
                  "\"Caf\xE9\"=\"C:\\\\Caf\xE9\\\\caf\xE9.exe \\\"x\\\"\"\r\n"
                  "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App "
                  "Paths\\gone.exe]\r\n"
                  "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\"
                  "SharedDlls]\r\n"
                  "\"C:\\\\Gone\\\\gone.dll\"=dword:00000003\r\n");
    }

    ProcessResult run(std::vector<std::string> args, bool withMachine = true) {
        if (withMachine)
            args.insert(args.begin(), {"--machine", machine});
        return RunProcess(
            HW_CLI_PATH, args,
            {{"HIVEWARDEN_MACHINE", ""}, {"HIVEWARDEN_PROGRAM_FOLDER", programFolder}});
    }

    void writeFile(const std::string& path, const std::string& content) {
        QFile out(QString::fromStdString(path));
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(content.data(), qint64(content.size()));
    }

    void importReg(const std::string& body) {
        const std::string path = dir.path().toStdString() + "/in.reg";
        writeFile(path, "REGEDIT4\r\n\r\n" + body);
        const auto imported = run({"reg", "import", path});
        ASSERT_EQ(imported.exitCode, 0) << imported.err;
    }

    // The lines of --json output, parsed.
    static std::vector<QJsonObject> jsonLines(const std::string& out) {
        std::vector<QJsonObject> objects;
        for (const QByteArray& line : QByteArray::fromStdString(out).split('\n')) {
            if (line.isEmpty())
                continue;
            QJsonParseError error;
            const QJsonDocument document = QJsonDocument::fromJson(line, &error);
            EXPECT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
            objects.push_back(document.object());
        }
        return objects;
    }
};

} // namespace

TEST_F(CliScan, TextOutputInTheOrderFound) {
    const auto result = run({"scan"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(
        result.out,
        "Invalid Application Folders\n"
        "    Key:       HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\"
        "App Paths\\gone.exe\n"
        "    Value:     Default\n"
        "    Data:      \n"
        "    Diagnosis: Default value is Empty\n"
        "\n"
        "Invalid Auto Run Section\n"
        "    Key:       HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\n"
        "    Value:     Caf\u00e9\n"
        "    Data:      C:\\Caf\u00e9\\caf\u00e9.exe \"x\"\n"
        "    Diagnosis: File \"C:\\Caf\u00e9\\caf\u00e9.exe \"x\"\" does not execute\n"
        "\n"
        "Invalid Shared Dynamic Link Libraries\n"
        "    Key:       HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\"
        "SharedDlls\n"
        "    Value:     C:\\Gone\\gone.dll\n"
        "    Data:      3\n"
        "    Diagnosis: File \"C:\\Gone\\gone.dll\" does not exist\n"
        "\n"
        "3 problems found.\n");
}

TEST_F(CliScan, JsonLinesInUtf8) {
    const auto result = run({"scan", "--json"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const auto objects = jsonLines(result.out);
    ASSERT_EQ(objects.size(), 3u);
    EXPECT_EQ(objects[1].value("category").toInt(), 2);
    EXPECT_EQ(objects[1].value("key").toString(),
              "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run");
    EXPECT_EQ(objects[1].value("value").toString(), QString::fromUtf8("Caf\u00e9"));
    EXPECT_EQ(objects[1].value("data").toString(),
              QString::fromUtf8("C:\\Caf\u00e9\\caf\u00e9.exe \"x\""));
    EXPECT_EQ(objects[1].value("diagnosis").toString(),
              QString::fromUtf8("File \"C:\\Caf\u00e9\\caf\u00e9.exe \"x\"\" does not execute"));
    EXPECT_EQ(objects[2].value("data").toString(), "3");
    // The fields in the documented order, one object per line.
    EXPECT_EQ(result.out.rfind("{\"category\":1,\"key\":\"HKEY_LOCAL_MACHINE\\\\SOFTWARE", 0), 0u)
        << result.out;
    EXPECT_NE(result.out.find("\",\"value\":\"Default\",\"data\":\"\",\"diagnosis\":\"Default "
                              "value is Empty\"}\n"),
              std::string::npos);
}

TEST_F(CliScan, SectionsAndExclusions) {
    struct Case {
        std::vector<std::string> args;
        std::vector<int> categories;
    } cases[] = {
        {{"--section", "7"}, {7}},
        {{"--section", "7", "--section", "1"}, {1, 7}},
        {{"--section", "0", "--section", "11"}, {}},
        {{"--exclude", "HKEY_CURRENT_USER\\Software(include subkey)"}, {1, 7}},
        {{"--exclude",
          "hkey_local_machine\\software\\microsoft\\windows\\currentversion\\"
          "shareddlls",
          "--section", "7"},
         {}},
        {{"--exclude",
          "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App "
          "Paths\\GONE.EXE",
          "--exclude", "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"},
         {7}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"scan", "--json"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const auto result = run(args);
        ASSERT_EQ(result.exitCode, 0) << result.err;
        std::vector<int> categories;
        for (const QJsonObject& object : jsonLines(result.out))
            categories.push_back(object.value("category").toInt());
        EXPECT_EQ(categories, c.categories) << c.args.front() << " " << c.args[1];
    }
    const auto clean = run({"scan", "--section", "5"});
    EXPECT_EQ(clean.exitCode, 0);
    EXPECT_EQ(clean.out, "No problems found.\n");
}

TEST_F(CliScan, FailuresGiveAMessageAndANonZeroStatus) {
    std::filesystem::create_directories(programFolder + "/Sandbox/mine");
    struct Case {
        std::vector<std::string> args;
        bool withMachine;
        std::string message;
    } cases[] = {
        {{"scan", "--section", "12"}, true, "Invalid section \"12\""},
        {{"scan", "--section", "fonts"}, true, "Invalid section \"fonts\""},
        {{"scan", "extra"}, true, "Usage: scan"},
        {{"--machine", dir.path().toStdString() + "/none", "scan"}, false, "no such machine"},
        // No machine named, and the sandbox's place taken by a folder that is no machine.
        {{"scan"}, false, "is not a sandbox machine"},
    };
    for (const Case& c : cases) {
        const auto result = run(c.args, c.withMachine);
        EXPECT_NE(result.exitCode, 0) << c.message;
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
        EXPECT_EQ(result.out, "");
    }

    // A scan that ends with an error: what was found before it is printed, then the error.
    importReg("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDlls]\r\n"
              "\"C:\\\\Gone\\\\text.dll\"=\"3\"\r\n");
    const auto result = run({"scan", "--json"});
    EXPECT_NE(result.exitCode, 0);
    EXPECT_EQ(jsonLines(result.out).size(), 3u);
    EXPECT_NE(result.err.find("Invalid data type for 'C:\\Gone\\text.dll'"), std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDlls"),
              std::string::npos)
        << result.err;
}
