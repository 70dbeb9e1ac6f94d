// hivewarden-cli export: a key appended to an undo file, and its errors.

#include "support/MachineFixture.h"

#include <QTemporaryDir>
#include <fstream>
#include <gtest/gtest.h>

using namespace testing_support;

TEST(CliExport, AppendsTheKeyAndReportsFileErrors) {
    TestMachine machine("[HKEY_LOCAL_MACHINE\\SOFTWARE\\T]\n\"a\"=\"1\"\n\"b\"=dword:00000002\n");
    machine.shutdown();
    QTemporaryDir dir;
    const std::string undo = dir.path().toStdString() + "/undo.reg";
    const auto run = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"--machine", machine.folder()});
        return RunProcess(HW_CLI_PATH, args);
    };
    EXPECT_EQ(run({"export", "HKLM\\SOFTWARE\\T", undo, "--value", "b"}).exitCode, 0);
    std::ifstream in(undo, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}),
              "Windows Registry Editor Version 5.00\r\n\r\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\T]\r\n\"b\"=dword:00000002\r\n");

    const ProcessResult failed =
        run({"export", "HKLM\\SOFTWARE\\T", dir.path().toStdString() + "/missing/undo.reg"});
    EXPECT_NE(failed.exitCode, 0);
    EXPECT_NE(failed.err.find("missing/undo.reg"), std::string::npos) << failed.err;
}
