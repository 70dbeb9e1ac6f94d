// Each Windows installation keeps the program's files in a folder of its own.

#include "store/ProgramFolder.h"
#include "support/MachineFixture.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace testing_support;

namespace {

TEST(ProgramFolderOfAMachine, IsTheInstallationsOwnWhereverItIsMounted) {
    QTemporaryDir base;
    SetProgramFolder(base.path().toStdString());
    const std::string root = base.path().toStdString() + "/";
    EXPECT_EQ(ProgramFolder(), root);
    std::string first, second, guid;
    {
        TestMachine machine;
        first = ProgramFolder();
        EXPECT_EQ(BaseProgramFolder(), root);
        machine.shutdown();
        // The same installation mounted elsewhere keeps its folder.
        QTemporaryDir elsewhere;
        const QString copy = elsewhere.path() + "/mounted";
        ASSERT_EQ(RunProcess("cp", {"-a", machine.folder(), copy.toStdString()}).exitCode, 0);
        win32::BootMachine(copy.toStdString());
        EXPECT_EQ(ProgramFolder(), first);
        win32::ShutdownMachine();
    }
    {
        TestMachine machine("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Cryptography]\r\n"
                            "\"MachineGuid\"=\"4c1f6a52-0d3e-4b8e-9a51-2f6c3b7d9e10\"\r\n");
        second = ProgramFolder();
    }
    EXPECT_NE(first, second);
    EXPECT_TRUE(first.starts_with(root + "Installation S-1-5-21-")) << first;
    EXPECT_EQ(second, root + "Installation 4c1f6a52-0d3e-4b8e-9a51-2f6c3b7d9e10/");
    EXPECT_TRUE(QFileInfo(QString::fromStdString(second)).isDir());
    EXPECT_EQ(ProgramFolder(), root);
    EXPECT_EQ(RegistryBackupFolder(), root + "Registry Backup/");
    SetProgramFolder({});
}

} // namespace
