// Recovery of hives that Windows did not finish writing, judged by Windows' own results.

#include "hive/HiveFile.h"
#include "hive/HiveFormat.h"
#include "hive/HiveLogs.h"
#include "support/HiveCompare.h"
#include "support/MachineFixture.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace testing_support;
using hive::Bytes;

namespace {

Bytes readBytes(const std::string& path) {
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray all = file.readAll();
    return Bytes(all.begin(), all.end());
}

void writeBytes(const std::string& path, const Bytes& bytes) {
    QFile file(QString::fromStdString(path));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
}

// The shared test hives, decompressed into a folder of their own.
class SharedHives : public ::testing::Test {
protected:
    // `relative` as in the shared folder ("recovery/OldDirtyHive/OldDirtyHive"); the file
    // keeps its own name in the test's folder. Empty when absent.
    std::string file(const std::string& relative) {
        const size_t slash = relative.rfind('/');
        const std::string placed = folder() + "/" + relative.substr(slash + 1);
        return SharedHiveAs(relative, placed) ? placed : std::string();
    }
    std::string folder() const { return dir_.path().toStdString(); }

    QTemporaryDir dir_;
};

hive::HiveKey* findKey(hive::HiveKey* key, std::u16string_view path) {
    while (key && !path.empty()) {
        const size_t slash = path.find(u'\\');
        key = key->findSubkey(path.substr(0, slash));
        path = slash == std::u16string_view::npos ? std::u16string_view() : path.substr(slash + 1);
    }
    return key;
}

bool anyNoteHas(const std::vector<std::string>& notes, const std::string& text) {
    for (const std::string& note : notes)
        if (note.find(text) != std::string::npos)
            return true;
    return false;
}

} // namespace

TEST(Marvin32, ReferenceVectors) {
    const struct {
        uint64_t seed;
        std::vector<uint8_t> input;
        uint64_t expected;
    } cases[] = {
        {0x004FB61A001BDBCCull, {}, 0x30ED35C100CD3C7Dull},
        {0x004FB61A001BDBCCull, {0xAF}, 0x48E73FC77D75DDC1ull},
        {0x004FB61A001BDBCCull, {0x86, 0x42, 0xDC, 0x59}, 0x7008F2E87E9CF556ull},
        {0x004FB61A001BDBCCull, {0xAB, 0x42, 0x7E, 0xA8, 0xD1, 0x0F, 0xC7}, 0xE11847E4F0678C41ull},
        {hive::kLogEntrySeed, {}, 0xB39EFCA403966E08ull},
        {hive::kLogEntrySeed, std::vector<uint8_t>(32, 0), 0xDA91A06AC5359223ull},
        {hive::kLogEntrySeed,
         {0x48, 0x76, 0x4c, 0x45, 0x00, 0x1e, 0x00, 0x00, 0x00, 0x00, 0x00,
          0x00, 0x03, 0x00, 0x00, 0x00, 0x00, 0x50, 0x00, 0x00, 0x01, 0x00,
          0x00, 0x00, 0x5d, 0x1e, 0x70, 0x07, 0x17, 0xa8, 0x46, 0x47},
         0xE637DCAFF6877267ull},
    };
    for (const auto& c : cases)
        EXPECT_EQ(hive::Marvin32(c.seed, c.input.data(), c.input.size()), c.expected)
            << std::hex << c.seed << " over " << std::dec << c.input.size() << " bytes";
}

TEST_F(SharedHives, OldFormatLogGivesWindows7sResult) {
    const std::string dirty = file("recovery/OldDirtyHive/OldDirtyHive");
    if (dirty.empty())
        GTEST_SKIP() << "the shared test hives are absent";
    file("recovery/OldDirtyHive/OldDirtyHive.LOG1");
    const std::string windows = file("recovery/OldDirtyHive/RecoveredHive_Windows7");

    const auto stale = hive::LoadHiveFile(dirty, {.applyLogs = false});
    EXPECT_TRUE(stale.dirty);
    EXPECT_FALSE(findKey(stale.root.get(), u"key_with_many_subkeys\\5000\\find_me_in_log"));

    const auto recovered = hive::LoadHiveFile(dirty);
    ASSERT_TRUE(recovered.recovery.applied);
    EXPECT_FALSE(recovered.dirty);
    EXPECT_FALSE(recovered.recovery.newFormat);
    EXPECT_GT(recovered.recovery.pagesApplied, 0u);
    EXPECT_EQ(recovered.recovery.logsUsed, std::vector<std::string>{dirty + ".LOG1"});
    ExpectSameTree(*hive::LoadHiveFile(windows).root, *recovered.root);

    EXPECT_TRUE(findKey(recovered.root.get(), u"key_with_many_subkeys\\5000\\find_me_in_log"));
    hive::HiveKey* key = findKey(recovered.root.get(), u"key_with_many_subkeys\\4500");
    ASSERT_TRUE(key);
    const int v = key->findValue(u"v");
    ASSERT_GE(v, 0);
    EXPECT_EQ(key->values()[size_t(v)].type, 7u);
    const std::u16string multi(u"a\0bb\0ccc\0\0", 10);
    EXPECT_EQ(key->values()[size_t(v)].data,
              Bytes(reinterpret_cast<const uint8_t*>(multi.data()),
                    reinterpret_cast<const uint8_t*>(multi.data() + multi.size())));
}

TEST_F(SharedHives, NewFormatLogsGiveWindows10sResult) {
    const std::string dirty = file("recovery/NewDirtyHive1/NewDirtyHive");
    if (dirty.empty())
        GTEST_SKIP() << "the shared test hives are absent";
    file("recovery/NewDirtyHive1/NewDirtyHive.LOG1");
    file("recovery/NewDirtyHive1/NewDirtyHive.LOG2");
    const std::string windows = file("recovery/NewDirtyHive1/RecoveredHive_Windows10");

    const auto recovered = hive::LoadHiveFile(dirty);
    ASSERT_TRUE(recovered.recovery.applied) << ::testing::PrintToString(recovered.recovery.notes);
    EXPECT_TRUE(recovered.recovery.newFormat);
    // .LOG1 holds entry 2, .LOG2 entries 3 to 5.
    EXPECT_EQ(recovered.recovery.entriesApplied, 4u);
    EXPECT_EQ(recovered.recovery.firstSequence, 2u);
    EXPECT_EQ(recovered.recovery.lastSequence, 5u);
    EXPECT_EQ(recovered.sequence, 5u);
    EXPECT_EQ(recovered.recovery.summary(),
              "applied 4 log entries (sequence 2 to 5) from NewDirtyHive.LOG1 and "
              "NewDirtyHive.LOG2");
    EXPECT_TRUE(recovered.recovery.notes.empty())
        << ::testing::PrintToString(recovered.recovery.notes);
    ExpectSameTree(*hive::LoadHiveFile(windows).root, *recovered.root);

    // Windows' hive bins and ours are the same bytes.
    const Bytes expected = readBytes(windows);
    const Bytes& ours = recovered.recovery.hive;
    const size_t bins = hive::regf::Read32(expected.data() + hive::regf::base::kBinsSize);
    ASSERT_GE(ours.size(), 4096 + bins);
    EXPECT_TRUE(std::equal(expected.begin() + 4096, expected.begin() + 4096 + long(bins),
                           ours.begin() + 4096));
}

TEST_F(SharedHives, RealDirtyHivesShowWhatTheirLogsCarry) {
    const struct {
        const char* hive;
        std::vector<const char*> logs;
    } cases[] = {
        {"SYSTEM_B", {"SYSTEM_B.LOG1", "SYSTEM_B.LOG2"}},
        {"transactions_NTUSER.DAT",
         {"transactions_ntuser.dat.log1", "transactions_ntuser.dat.log2"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.hive);
        const std::string dirty = file(c.hive);
        if (dirty.empty())
            GTEST_SKIP() << "the shared test hives are absent";
        for (const char* log : c.logs)
            file(log);
        const auto stale = hive::LoadHiveFile(dirty, {.applyLogs = false});
        EXPECT_TRUE(stale.dirty);
        const auto recovered = hive::LoadHiveFile(dirty);
        ASSERT_TRUE(recovered.recovery.applied)
            << ::testing::PrintToString(recovered.recovery.notes);
        EXPECT_FALSE(recovered.dirty);
        EXPECT_EQ(recovered.logFiles.size(), 2u); // the lower-case names are found too
        const auto& r = recovered.recovery;
        EXPECT_GT(r.entriesApplied, 0u);
        EXPECT_EQ(r.lastSequence - r.firstSequence + 1, r.entriesApplied);
        EXPECT_EQ(recovered.sequence, r.lastSequence);
        EXPECT_NE(r.summary().find(std::to_string(r.entriesApplied) + " log entries"),
                  std::string::npos);
        // The recovered file is consistent, and libhivex and regfinfo read it.
        EXPECT_FALSE(hive::HiveNeedsRecovery(r.hive.data(), r.hive.size()));
        const std::string copy = folder() + "/recovered";
        writeBytes(copy, r.hive);
        EXPECT_EQ(RunProcess("regfinfo", {copy}).exitCode, 0);
        const auto reread = hive::LoadHiveFile(copy);
        EXPECT_FALSE(reread.recovery.applied);
        ExpectSameTree(*recovered.root, *reread.root);
    }
}

TEST_F(SharedHives, DirtyHiveWithoutLogsIsReadAsLastWritten) {
    const std::string dirty = file("recovery/NewDirtyHive1/NewDirtyHive");
    if (dirty.empty())
        GTEST_SKIP() << "the shared test hives are absent";
    const auto loaded = hive::LoadHiveFile(dirty);
    EXPECT_TRUE(loaded.dirty);
    EXPECT_FALSE(loaded.recovery.applied);
    EXPECT_TRUE(loaded.logFiles.empty());
}

// A log damaged in one entry: recovery applies the entries before it, stops, and says so.
TEST_F(SharedHives, BrokenLogEntryEndsRecoveryThere) {
    const std::string dirty = file("recovery/NewDirtyHive1/NewDirtyHive");
    if (dirty.empty())
        GTEST_SKIP() << "the shared test hives are absent";
    const Bytes primary = readBytes(dirty);
    const Bytes log1 = readBytes(file("recovery/NewDirtyHive1/NewDirtyHive.LOG1"));
    const Bytes log2 = readBytes(file("recovery/NewDirtyHive1/NewDirtyHive.LOG2"));
    // Where .LOG2's entries (sequence 3, 4, 5) start.
    std::vector<size_t> entries;
    for (size_t at = 512; at + 8 <= log2.size() &&
                          std::equal(log2.begin() + long(at), log2.begin() + long(at) + 4, "HvLE");
         at += hive::regf::Read32(log2.data() + at + 4))
        entries.push_back(at);
    ASSERT_EQ(entries.size(), 3u);
    const size_t second = entries[1], third = entries[2];
    const auto rehash = [](Bytes& log, size_t at) {
        using namespace hive::regf;
        const uint32_t size = Read32(log.data() + at + 4);
        Write64(log.data() + at + 0x18,
                hive::Marvin32(hive::kLogEntrySeed, log.data() + at + 0x28, size - 0x28));
        Write64(log.data() + at + 0x20, hive::Marvin32(hive::kLogEntrySeed, log.data() + at, 0x20));
    };
    // The same log with the entry at `at` and all after it never written.
    const auto endingBefore = [&](size_t at) {
        Bytes log = log2;
        std::fill(log.begin() + long(at), log.end(), 0);
        return log;
    };

    const struct {
        const char* what;
        Bytes log2;
        uint32_t applied;
        Bytes sameAs; // a log that ends where recovery must stop
        const char* note;
    } cases[] = {
        {"a wrong hash",
         [&] {
             Bytes log = log2;
             log[second + 0x100] ^= 0x40;
             return log;
         }(),
         2, endingBefore(second), "has a wrong hash"},
        {"a sequence number that skips",
         [&] {
             Bytes log = log2;
             hive::regf::Write32(log.data() + second + 0x0C, 9);
             rehash(log, second);
             return log;
         }(),
         2, endingBefore(second), "has sequence number 9 where 4 should follow"},
        {"a hive-bins size beyond what the hive and its logs hold",
         [&] {
             Bytes log = log2;
             hive::regf::Write32(log.data() + second + 0x10, 0x7FFFF000);
             rehash(log, second);
             return log;
         }(),
         2, endingBefore(second), "gives an invalid hive-bins size"},
        {"a log cut short in its last entry", Bytes(log2.begin(), log2.begin() + long(third) + 700),
         3, endingBefore(third), "is cut short"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto result = hive::RecoverFromLogs(
            primary, {{"NewDirtyHive.LOG1", log1}, {"NewDirtyHive.LOG2", c.log2}});
        ASSERT_TRUE(result.applied);
        EXPECT_EQ(result.entriesApplied, c.applied);
        EXPECT_EQ(result.lastSequence, 1 + c.applied);
        EXPECT_TRUE(anyNoteHas(result.notes, c.note)) << ::testing::PrintToString(result.notes);
        EXPECT_TRUE(anyNoteHas(result.notes, "NewDirtyHive.LOG2"));
        const auto expected = hive::RecoverFromLogs(
            primary, {{"NewDirtyHive.LOG1", log1}, {"NewDirtyHive.LOG2", c.sameAs}});
        EXPECT_TRUE(expected.notes.empty()) << ::testing::PrintToString(expected.notes);
        EXPECT_TRUE(result.hive == expected.hive);
        // What it gives is a readable hive.
        EXPECT_NO_THROW(hive::LoadHiveImage(result.hive, "recovered"));
    }
}

TEST_F(SharedHives, LogsThatDoNotApplyAreLeftAlone) {
    const std::string dirty = file("recovery/NewDirtyHive1/NewDirtyHive");
    if (dirty.empty())
        GTEST_SKIP() << "the shared test hives are absent";
    const Bytes primary = readBytes(dirty);
    const Bytes log1 = readBytes(file("recovery/NewDirtyHive1/NewDirtyHive.LOG1"));
    const Bytes log2 = readBytes(file("recovery/NewDirtyHive1/NewDirtyHive.LOG2"));

    Bytes badHeader = log2;
    badHeader[0x30] ^= 1; // the checksum no longer matches
    auto result = hive::RecoverFromLogs(primary, {{"L1", log1}, {"L2", badHeader}});
    EXPECT_EQ(result.entriesApplied, 1u);
    EXPECT_TRUE(anyNoteHas(result.notes, "L2: its header is not a valid copy"));

    // Without .LOG1's entry 2, .LOG2's entries (from 3) still follow the hive's secondary
    // sequence number (2), so Windows takes them.
    result = hive::RecoverFromLogs(primary, {{"L2", log2}});
    EXPECT_EQ(result.entriesApplied, 3u);

    // Entries older than the hive are not applied.
    Bytes newer = primary;
    hive::regf::Write32(newer.data() + hive::regf::base::kPrimarySequence, 11);
    hive::regf::Write32(newer.data() + hive::regf::base::kSecondarySequence, 10);
    hive::regf::Write32(newer.data() + hive::regf::base::kChecksum,
                        hive::regf::BaseBlockChecksum(newer.data()));
    result = hive::RecoverFromLogs(newer, {{"L1", log1}, {"L2", log2}});
    EXPECT_FALSE(result.applied);

    // Empty logs, as Windows leaves beside clean hives, say nothing.
    result = hive::RecoverFromLogs(primary, {{"L1", {}}, {"L", {}}});
    EXPECT_FALSE(result.applied);
    EXPECT_TRUE(result.notes.empty());
}

TEST_F(SharedHives, DamagedHiveHeaderIsReplacedByTheNewestLogs) {
    const std::string dirty = file("recovery/NewDirtyHive1/NewDirtyHive");
    if (dirty.empty())
        GTEST_SKIP() << "the shared test hives are absent";
    Bytes primary = readBytes(dirty);
    primary[0x40] ^= 0x20; // in the file name field: only the checksum notices
    const Bytes log1 = readBytes(file("recovery/NewDirtyHive1/NewDirtyHive.LOG1"));
    const Bytes log2 = readBytes(file("recovery/NewDirtyHive1/NewDirtyHive.LOG2"));
    ASSERT_TRUE(hive::HiveNeedsRecovery(primary.data(), primary.size()));
    const auto result = hive::RecoverFromLogs(primary, {{"L1", log1}, {"L2", log2}});
    ASSERT_TRUE(result.applied);
    EXPECT_EQ(result.logsUsed, std::vector<std::string>{"L2"});
    EXPECT_EQ(result.entriesApplied, 3u);
    EXPECT_TRUE(anyNoteHas(result.notes, "header is damaged"));
    EXPECT_NO_THROW(hive::LoadHiveImage(result.hive, "recovered"));
}

TEST(HiveLogFiles, FoundWithoutRegardToCase) {
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString();
    for (const char* name :
         {"Hive", "HIVE.log1", "hive.LOG2", "hive.Log", "hive.LOG1.bak", "other.LOG1", "Hive.LOG3"})
        writeBytes(folder + "/" + name, Bytes{1});
    ASSERT_TRUE(QDir().mkdir(dir.filePath("HIVE.LOG"))); // a folder is no log
    EXPECT_EQ(hive::FindLogFiles(folder + "/Hive"),
              (std::vector<std::string>{folder + "/HIVE.log1", folder + "/hive.LOG2",
                                        folder + "/hive.Log"}));
    EXPECT_TRUE(hive::FindLogFiles(folder + "/missing/Hive").empty());
}
