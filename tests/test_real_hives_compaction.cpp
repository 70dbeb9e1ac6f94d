// Compaction of real Windows hives: each dense copy holds the same tree, and its size
// is compared with the cells the old file had allocated (printed, for the record).

#include "compact/THiveManager.h"
#include "hive/HiveFile.h"
#include "registry/OSInfo.h"
#include "support/MachineFixture.h"
#include "support/ScanHarness.h"
#include "win32/registry/PendingReplacements.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <cstdio>
#include <gtest/gtest.h>

using namespace testing_support;

namespace {

// The bytes of the cells a hive file has allocated (negative cell sizes in its bins).
uint64_t allocatedCellBytes(const std::string& path) {
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray bytes = file.readAll();
    auto le32 = [&](qsizetype at) {
        uint32_t v = 0;
        for (int i = 3; i >= 0; --i)
            v = (v << 8) | uint8_t(bytes[at + i]);
        return v;
    };
    if (bytes.size() < 4096)
        return 0;
    const qsizetype end = std::min<qsizetype>(bytes.size(), 4096 + qsizetype(le32(0x28)));
    uint64_t total = 0;
    for (qsizetype bin = 4096; bin + 32 <= end;) {
        if (bytes.mid(bin, 4) != "hbin")
            break;
        const qsizetype binSize = qsizetype(le32(bin + 8));
        if (binSize < 4096 || bin + binSize > end)
            break;
        for (qsizetype cell = bin + 32; cell + 4 <= bin + binSize;) {
            const int32_t size = int32_t(le32(cell));
            if (size == 0)
                break;
            const qsizetype length = size < 0 ? -qsizetype(size) : size;
            if (size < 0)
                total += uint64_t(length);
            cell += length;
        }
        bin += binSize;
    }
    return total;
}

struct RealHive {
    const char* shared;   // the file in the shared test data
    const char* relative; // where the machine keeps it
};

std::string exportOf(const std::string& hive) {
    const auto result = RunProcess("hivexregedit", {"--export", hive, "\\"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    return result.out;
}

// Puts the real hives in a new machine, compacts it, restarts it, and reports.
void compactRealHives(const std::vector<RealHive>& hives) {
    TestMachine machine;
    machine.shutdown();
    struct Measure {
        std::string name, path, exported;
        qint64 before = 0;
        uint64_t allocated = 0;
    };
    std::vector<Measure> measures;
    for (const RealHive& real : hives) {
        const std::string path = machine.hostPath(std::string(real.relative));
        const std::string folder = QFileInfo(QString::fromStdString(path)).path().toStdString();
        const auto file = SharedHive(real.shared, folder);
        if (!file)
            GTEST_SKIP() << "the shared test hives are absent";
        if (*file != path) {
            QFile::remove(QString::fromStdString(path));
            ASSERT_TRUE(QFile::rename(QString::fromStdString(*file), QString::fromStdString(path)));
        }
        measures.push_back({real.shared, path, exportOf(path),
                            QFileInfo(QString::fromStdString(path)).size(),
                            allocatedCellBytes(path)});
    }
    machine.boot();
    InitOSInfo();
    TestUiLoop ui;
    THiveManager manager(ui);
    manager.ScanHives();
    QElapsedTimer timer;
    timer.start();
    manager.Compact();
    const qint64 elapsed = timer.elapsed();
    ASSERT_TRUE(manager.Success()) << manager.LastError();
    machine.shutdown();
    ASSERT_TRUE(win32::PerformPendingReplacements(machine.folder()).empty());

    std::printf("compaction of %zu hives: %lld ms\n", manager.Hives.size(),
                static_cast<long long>(elapsed));
    // The ratio of the new file's bins (all but its 4096-byte base block) to the cells.
    std::printf("%-26s %12s %12s %12s %14s\n", "hive", "before", "after", "allocated",
                "bins/allocated");
    for (const Measure& m : measures) {
        const qint64 after = QFileInfo(QString::fromStdString(m.path)).size();
        std::printf("%-26s %12lld %12lld %12llu %14.3f\n", m.name.c_str(),
                    static_cast<long long>(m.before), static_cast<long long>(after),
                    static_cast<unsigned long long>(m.allocated),
                    m.allocated ? double(after - 4096) / double(m.allocated) : 0.0);
        EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(m.path + ".rcbak"))) << m.name;
        EXPECT_NO_THROW(hive::LoadHiveFile(m.path)) << m.name;
        EXPECT_TRUE(exportOf(m.path) == m.exported) << m.name << ": the exports differ";
    }
}

TEST(RealHivesCompaction, DenseCopiesHoldTheSameTrees) {
    if (QStandardPaths::findExecutable("hivexregedit").isEmpty())
        GTEST_SKIP() << "hivexregedit is not installed";
    compactRealHives({{"SYSTEM", "WINDOWS/system32/config/SYSTEM"},
                      {"SAM", "WINDOWS/system32/config/SAM"},
                      {"SECURITY", "WINDOWS/system32/config/SECURITY"},
                      {"NTUSER.DAT", "Documents and Settings/Administrator/NTUSER.DAT"},
                      {"UsrClass.dat", "Documents and Settings/Administrator/Local Settings/"
                                       "Application Data/Microsoft/Windows/UsrClass.dat"}});
}

// A hive Windows left dirty is refused for writing while its logs wait; without them
// it is the file as it is, and that is what is compacted.
TEST(RealHivesCompaction, HivesLeftDirtyAreCompactedAsTheirFilesAre) {
    if (QStandardPaths::findExecutable("hivexregedit").isEmpty())
        GTEST_SKIP() << "hivexregedit is not installed";
    compactRealHives(
        {{"SYSTEM_B", "WINDOWS/system32/config/SYSTEM"},
         {"transactions_NTUSER.DAT", "Documents and Settings/Administrator/NTUSER.DAT"}});
}

} // namespace
