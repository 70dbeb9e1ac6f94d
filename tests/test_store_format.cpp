// The bytes of the settings file: layout of a new file, record placement, the index
// blocks, the free list, and files that must be refused without being touched.

#include "store/StoreError.h"
#include "store/fxRegistryFile.h"
#include "support/ScratchDir.h"
#include "support/StoreFiles.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <sys/resource.h>
#include <unistd.h>

using namespace testing_support;
using namespace store;

namespace {

class StoreFormat : public ::testing::Test {
protected:
    QTemporaryDir dir{ScratchDirTemplate()};
    std::string path = dir.path().toStdString() + "/system.dat";

    std::string bytes() const { return ReadFileBytes(path); }
    int64_t size() const { return int64_t(std::filesystem::file_size(path)); }

    // A new store holding "\Options".
    void createOptions() {
        TfxRegFile store(path);
        ASSERT_TRUE(store.OpenKey("\\Options", true));
    }
};

std::string errorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const StoreError& e) {
        return e.what();
    }
    return "no error";
}

} // namespace

TEST_F(StoreFormat, NewStoreIsHeaderDirectoryBlockAndRoot) {
    { TfxRegFile store(path); }
    const std::string b = bytes();
    ASSERT_EQ(b.size(), 8311u);
    EXPECT_EQ(b.substr(0, 8), "REG$2.00");
    const StoreHeader h = HeaderOf(b);
    EXPECT_EQ(h.lastId, 1);
    EXPECT_EQ(h.reserved, 0);
    EXPECT_EQ(h.createdCount, 1);
    EXPECT_EQ(h.indexCount, 1);
    EXPECT_EQ(h.directoryOffset, 37);
    EXPECT_EQ(h.rootOffset, 8229);
    EXPECT_EQ(h.freeHead, 0);
    EXPECT_EQ(h.freeTail, 0);
    EXPECT_EQ(Int32At(b, 37), 4133);   // directory slot 0
    EXPECT_EQ(Int32At(b, 4133), 8229); // index slot 0
    EXPECT_EQ(b.find_first_not_of('\0', 41), 4133u) << "the rest of the directory is zero";
    EXPECT_EQ(b.find_first_not_of('\0', 4137), 8229u) << "the rest of block 0 is zero";

    const std::string root = b.substr(8229);
    EXPECT_EQ(root.substr(0, 48), std::string("RDB$ROOT") + std::string(40, '\0'));
    EXPECT_EQ(Int32At(root, 48), 1); // Id
    EXPECT_EQ(Int32At(root, 52), 0); // ParentId
    EXPECT_EQ(root[56], 0);          // Kind
    EXPECT_EQ(root[57], 4);          // DataType
    EXPECT_EQ(Int32At(root, 58), 0); // DataOffset
    EXPECT_EQ(Int32At(root, 62), 0); // DataSize
    EXPECT_EQ(root[66], 1);          // NoData
    EXPECT_EQ(root.substr(67), std::string(15, '\0')) << "inline data, Free, NextFree";
}

TEST_F(StoreFormat, OptionsKeyAndOneCharacterString) {
    {
        TfxRegFile store(path);
        ASSERT_TRUE(store.OpenKey("\\Options", true));
        store.WriteString("LastScan", "x");
    }
    const std::string b = bytes();
    ASSERT_EQ(b.size(), 8477u);
    const StoreHeader h = HeaderOf(b);
    EXPECT_EQ(h.lastId, 3);
    EXPECT_EQ(h.createdCount, 3);
    EXPECT_EQ(h.indexCount, 3);
    EXPECT_EQ(Int32At(b, 4133 + 4), 8311);
    EXPECT_EQ(Int32At(b, 4133 + 8), 8393);

    const StoreRecord key = RecordAt(b, 8311);
    EXPECT_EQ(key.nameView(), "Options");
    EXPECT_EQ(key.id, 2);
    EXPECT_EQ(key.parentId, 1);
    EXPECT_EQ(key.kind, 0);
    EXPECT_EQ(key.dataType, 4);
    EXPECT_EQ(key.noData, 1);

    const StoreRecord value = RecordAt(b, 8393);
    EXPECT_EQ(value.nameView(), "LastScan");
    EXPECT_EQ(value.id, 3);
    EXPECT_EQ(value.parentId, 2);
    EXPECT_EQ(value.kind, 1);
    EXPECT_EQ(value.dataType, 2);
    EXPECT_EQ(value.dataOffset, 8475);
    EXPECT_EQ(value.dataSize, 2);
    EXPECT_EQ(value.noData, 0);
    EXPECT_EQ(b.substr(8475), std::string("x\0", 2));
}

TEST_F(StoreFormat, FixedSizeValuesAreInline) {
    {
        TfxRegFile store(path);
        ASSERT_TRUE(store.OpenKey("\\Options", true));
        store.WriteInteger("ReplaceAmount", -2);
        store.WriteBool("CanReplace", true);
        store.WriteDateTime("When", 45000.25);
    }
    const std::string b = bytes();
    ASSERT_EQ(b.size(), 8311u + 4 * 82);
    struct Case {
        int32_t offset;
        uint8_t type;
        int32_t size;
        std::string inlineBytes;
    };
    const Case cases[] = {
        {8393, 5, 4, std::string("\xFE\xFF\xFF\xFF", 4) + std::string(6, '\0')},
        {8475, 21, 1, std::string("\x01", 1) + std::string(9, '\0')},
        // 45000.25 as an IEEE 754 double, little-endian
        {8557, 22, 8, std::string("\x00\x00\x00\x00\x08\xF9\xE5\x40\x00\x00", 10)},
    };
    for (const Case& c : cases) {
        const StoreRecord r = RecordAt(b, c.offset);
        EXPECT_EQ(r.dataType, c.type) << r.nameView();
        EXPECT_EQ(r.dataSize, c.size) << r.nameView();
        EXPECT_EQ(r.dataOffset, 0) << r.nameView();
        EXPECT_EQ(b.substr(size_t(c.offset) + 67, 10), c.inlineBytes) << r.nameView();
    }
}

TEST_F(StoreFormat, ShortFilesAreInitialisedAsNew) {
    std::string fresh;
    { TfxRegFile store(path); }
    fresh = bytes();
    for (const size_t length : {0, 1, 20, 36}) {
        WriteFileBytes(path, std::string(length, 'Z'));
        { TfxRegFile store(path); }
        EXPECT_EQ(bytes(), fresh) << length << " bytes";
    }
}

TEST_F(StoreFormat, HeaderWithoutRecordsGetsDirectoryAndRoot) {
    // A run that stopped right after writing the first header leaves only that.
    std::string header = std::string("REG$2.00") + std::string(29, '\0');
    WriteFileBytes(path, header);
    {
        TfxRegFile store(path);
        EXPECT_EQ(store.CurrentKey().nameView(), "RDB$ROOT");
    }
    EXPECT_EQ(size(), 8311);
    EXPECT_EQ(StoreProblems(bytes()), "");
}

TEST_F(StoreFormat, RefusedFilesAreLeftUntouched) {
    { TfxRegFile store(path); }
    const std::string good = bytes();
    struct Case {
        const char* what;
        std::function<std::string(std::string)> damage;
        const char* message;
    };
    const Case cases[] = {
        {"wrong magic", [](std::string b) { return b.replace(0, 4, "REG#"); },
         kInvalidFormatMessage},
        {"wrong version", [](std::string b) { return b.replace(4, 4, "1.00"); },
         kInvalidFormatMessage},
        {"37 bytes of text", [](std::string) { return std::string(37, 'a'); },
         kInvalidFormatMessage},
        {"negative index count",
         [](std::string b) {
             PutInt32At(b, 17, -1);
             return b;
         },
         kInvalidFormatMessage},
        {"directory past the end",
         [](std::string b) {
             PutInt32At(b, 21, 8000);
             return b;
         },
         kInvalidFormatMessage},
        {"directory at the largest offset",
         [](std::string b) {
             PutInt32At(b, 21, 0x7FFFFFF0);
             return b;
         },
         kInvalidFormatMessage},
        {"root inside the header",
         [](std::string b) {
             PutInt32At(b, 25, 5);
             return b;
         },
         kInvalidFormatMessage},
        {"index entry of 0",
         [](std::string b) {
             PutInt32At(b, 4133, 0);
             return b;
         },
         kIndexCorruptMessage},
        {"index entry past the end",
         [](std::string b) {
             PutInt32At(b, 4133, 8300);
             return b;
         },
         kIndexCorruptMessage},
        {"index entry inside the header",
         [](std::string b) {
             PutInt32At(b, 4133, 12);
             return b;
         },
         kIndexCorruptMessage},
        {"missing index block",
         [](std::string b) {
             PutInt32At(b, 37, 0);
             return b;
         },
         kIndexCorruptMessage},
        {"index block past the end",
         [](std::string b) {
             PutInt32At(b, 37, 8300);
             return b;
         },
         kIndexCorruptMessage},
        {"file cut inside the index", [](std::string b) { return b.substr(0, 4135); },
         kInvalidFormatMessage},
    };
    for (const Case& c : cases) {
        const std::string damaged = c.damage(good);
        WriteFileBytes(path, damaged);
        EXPECT_EQ(errorOf([&] { TfxRegFile store(path); }), c.message) << c.what;
        EXPECT_EQ(bytes(), damaged) << c.what;
    }
}

// An index that contradicts its records would mislead every lookup and every new record:
// such a file is refused and left as it is.
TEST_F(StoreFormat, IndexThatContradictsItsRecordsIsRefused) {
    {
        TfxRegFile store(path);
        ASSERT_TRUE(store.OpenKey("\\K", true));
        store.WriteInteger("a", 1);
        store.WriteInteger("c", 3);
    }
    const std::string good = bytes(); // entries: root, K, a, c
    {
        TfxRegFile store(path);
        ASSERT_TRUE(store.OpenKey("\\K", false));
        store.WriteInteger("b", 2);
    }
    const std::string withB = bytes();                                 // root, K, a, b, c
    const auto entry = [](int32_t i) { return size_t(4133 + 4 * i); }; // in index block 0
    struct Case {
        const char* what;
        std::function<std::string()> damage;
    };
    const Case cases[] = {
        {"stopped after shifting the index, before the header: the last entry gone and "
         "LastId behind",
         [&] { return good.substr(0, 37) + withB.substr(37); }},
        {"entries out of order",
         [&] {
             std::string b = good;
             PutInt32At(b, entry(2), IndexEntryAt(good, 3));
             PutInt32At(b, entry(3), IndexEntryAt(good, 2));
             return b;
         }},
        {"one record listed twice",
         [&] {
             std::string b = good;
             PutInt32At(b, entry(3), IndexEntryAt(good, 2));
             return b;
         }},
        {"an entry naming a free record",
         [&] {
             std::string b = good;
             b[size_t(IndexEntryAt(good, 3)) + 77] = 1;
             return b;
         }},
        {"an id above LastId",
         [&] {
             std::string b = good;
             PutInt32At(b, 8, HeaderOf(good).lastId - 1);
             return b;
         }},
        {"an id of 0",
         [&] {
             std::string b = good;
             PutInt32At(b, size_t(IndexEntryAt(good, 2)) + 48, 0);
             return b;
         }},
    };
    for (const Case& c : cases) {
        const std::string damaged = c.damage();
        WriteFileBytes(path, damaged);
        EXPECT_EQ(errorOf([&] { TfxRegFile store(path); }), kIndexCorruptMessage) << c.what;
        EXPECT_EQ(errorOf([&] { TfxRegFile store(path, TfxRegFile::Access::ReadOnly); }),
                  kIndexCorruptMessage)
            << c.what;
        EXPECT_EQ(bytes(), damaged) << c.what;
    }
}

TEST_F(StoreFormat, SecondIndexBlockForThe1025thRecord) {
    TfxRegFile store(path);
    ASSERT_TRUE(store.OpenKey("\\K", true));
    // Root, K and 1022 values: 1024 live records, block 0 full.
    for (int i = 0; i < 1022; ++i)
        store.WriteInteger("v" + std::to_string(10000 + i), i);
    ASSERT_EQ(store.Header().indexCount, 1024);
    const int64_t before = size();
    EXPECT_EQ(Int32At(bytes(), 37 + 4), 0) << "no block 1 yet";

    store.WriteInteger("a", 7); // sorts first among K's values
    const std::string b = bytes();
    EXPECT_EQ(int64_t(b.size()), before + 82 + 8192);
    const int32_t block1 = Int32At(b, 37 + 4);
    EXPECT_EQ(block1, before + 82) << "directory slot 1 filled with the new block";
    EXPECT_EQ(Int32At(b, size_t(block1)), store.Index()[1024]) << "entry 1024";
    EXPECT_EQ(Int32At(b, size_t(block1) + 4096), 0) << "the step's second block stays unused";
    EXPECT_EQ(store.Header().indexCount, 1025);
    EXPECT_EQ(StoreProblems(b), "");

    TfxRegFile reopened(path);
    ASSERT_TRUE(reopened.OpenKey("\\K", false));
    EXPECT_EQ(reopened.ReadInteger("a"), 7);
    EXPECT_EQ(reopened.ReadInteger("v11021"), 1021);
    std::vector<std::string> names;
    reopened.GetValueNames(names);
    EXPECT_EQ(names.size(), 1023u);
}

TEST_F(StoreFormat, FixedSizeRewritesKeepTheirOffset) {
    TfxRegFile store(path);
    ASSERT_TRUE(store.OpenKey("\\Options", true));
    store.WriteInteger("I", 1);
    store.WriteBool("B", false);
    store.WriteDateTime("D", 1.5);
    const TfxRecList index = store.Index();
    const int64_t length = size();
    store.WriteInteger("I", 2);
    store.WriteBool("B", true);
    store.WriteDateTime("D", 2.5);
    store.WriteInteger("D", 3); // fixed over fixed of another type
    EXPECT_EQ(store.Index(), index);
    EXPECT_EQ(size(), length);
    EXPECT_EQ(store.Header().freeHead, 0);
    EXPECT_EQ(store.ReadInteger("D"), 3);
}

TEST_F(StoreFormat, StringRewriteReusesOrAppends) {
    TfxRegFile store(path);
    ASSERT_TRUE(store.OpenKey("\\Options", true));
    store.WriteString("S", "abcdef");
    const int32_t slot = store.Index().back();
    const int64_t length = size();

    store.WriteString("S", "abc"); // shorter: back into its own slot
    EXPECT_EQ(store.Index().back(), slot);
    EXPECT_EQ(size(), length);
    EXPECT_EQ(store.Header().freeHead, 0);
    EXPECT_EQ(store.Header().freeTail, 0);
    EXPECT_EQ(RecordAt(bytes(), slot).dataSize, 4);

    store.WriteString("S", "abcdefgh"); // longer than the slot now remembers
    const std::string b = bytes();
    EXPECT_EQ(store.Index().back(), length);
    EXPECT_EQ(int64_t(b.size()), length + 82 + 9);
    EXPECT_EQ(store.Header().freeHead, slot);
    EXPECT_EQ(store.Header().freeTail, slot);
    EXPECT_EQ(RecordAt(b, slot).free, 1);
    EXPECT_EQ(store.ReadString("S"), "abcdefgh");
    EXPECT_EQ(StoreProblems(b), "");
}

TEST_F(StoreFormat, FirstFitOverTheFreeList) {
    TfxRegFile store(path);
    ASSERT_TRUE(store.OpenKey("\\K", true));
    store.WriteString("s4", "abc"); // 4 data bytes
    store.WriteInteger("i", 1);
    store.WriteString("s9", "abcdefgh"); // 9 data bytes
    store.WriteString("keep", "k");
    const auto offsetOf = [&](const char* name) {
        for (const int32_t offset : store.Index())
            if (RecordAt(bytes(), offset).nameView() == name)
                return offset;
        return 0;
    };
    const int32_t slot4 = offsetOf("s4"), slotI = offsetOf("i"), slot9 = offsetOf("s9");
    store.DeleteValue("s4");
    store.DeleteValue("i");
    store.DeleteValue("s9");
    EXPECT_EQ(FreeListOf(bytes()), (std::vector<int32_t>{slot4, slotI, slot9}));

    // 6 data bytes: passes the 4-byte slot and the fixed-size slot, takes the 9-byte one.
    store.WriteString("t", "abcde");
    EXPECT_EQ(offsetOf("t"), slot9);
    EXPECT_EQ(FreeListOf(bytes()), (std::vector<int32_t>{slot4, slotI}));
    EXPECT_EQ(store.Header().freeTail, slotI) << "the tail moves back to the record before";

    // 10 data bytes fit nowhere: appended.
    const int64_t end = size();
    store.WriteString("u", "abcdefghi");
    EXPECT_EQ(offsetOf("u"), end);

    // A fixed-size value takes the first free record whatever its size.
    store.WriteBool("b", true);
    EXPECT_EQ(offsetOf("b"), slot4);
    EXPECT_EQ(FreeListOf(bytes()), (std::vector<int32_t>{slotI}));
    EXPECT_EQ(store.Header().freeHead, slotI);

    // A string never takes a fixed-size slot, but a key does.
    store.WriteString("e", "");
    EXPECT_NE(offsetOf("e"), slotI);
    ASSERT_TRUE(store.OpenKey("Sub", true));
    EXPECT_EQ(store.CurrentKeyOffset(), slotI);
    EXPECT_EQ(store.Header().freeHead, 0);
    EXPECT_EQ(store.Header().freeTail, 0);
    EXPECT_EQ(StoreProblems(bytes()), "");
}

TEST_F(StoreFormat, UnlinkingFromTheMiddleRewritesThePreviousRecord) {
    TfxRegFile store(path);
    ASSERT_TRUE(store.OpenKey("\\K", true));
    store.WriteString("a", "1");
    store.WriteString("b", "1234");
    store.WriteString("c", "1");
    const TfxRecList index = store.Index(); // root, K, a, b, c
    store.DeleteValue("a");
    store.DeleteValue("b");
    store.DeleteValue("c");
    store.WriteString("x", "123"); // only b's slot has room
    const std::string b = bytes();
    EXPECT_EQ(RecordAt(b, index[2]).nextFree, index[4]);
    EXPECT_EQ(FreeListOf(b), (std::vector<int32_t>{index[2], index[4]}));
    EXPECT_EQ(StoreProblems(b), "");
}

TEST_F(StoreFormat, DeletingNeverLowersIdsOrCreatedCount) {
    TfxRegFile store(path);
    ASSERT_TRUE(store.OpenKey("\\K", true));
    store.WriteString("a", "1");
    store.DeleteValue("a");
    store.WriteString("a", "1");
    EXPECT_EQ(store.Header().lastId, 4);
    EXPECT_EQ(store.Header().createdCount, 4);
    EXPECT_EQ(store.Header().indexCount, 3);
    EXPECT_EQ(RecordAt(bytes(), store.Index().back()).id, 4);
    ASSERT_TRUE(store.DeleteKey("\\K"));
    EXPECT_EQ(store.Header().lastId, 4);
    EXPECT_EQ(store.Header().createdCount, 4);
    EXPECT_EQ(store.Header().indexCount, 1);
}

TEST_F(StoreFormat, NamesDifferingInCaseAndKindAreDistinct) {
    TfxRegFile store(path);
    ASSERT_TRUE(store.OpenKey("\\R", true));
    ASSERT_TRUE(store.OpenKey("Action", true));
    ASSERT_TRUE(store.OpenKey("\\R", false));
    store.WriteString("Action", "1");
    store.WriteString("action", "2");
    store.WriteString("ACTION", "3");
    EXPECT_EQ(store.Header().indexCount, 6);
    EXPECT_EQ(store.ReadString("Action"), "1");
    EXPECT_EQ(store.ReadString("action"), "2");
    EXPECT_EQ(store.ReadString("ACTION"), "3");
    EXPECT_EQ(StoreProblems(bytes()), "");
}

TEST_F(StoreFormat, NamesOfMoreThan47BytesAreRefused) {
    TfxRegFile store(path);
    const std::string name47(47, 'n');
    const std::string name48(48, 'n');
    ASSERT_TRUE(store.OpenKey("\\" + name47, true));
    store.WriteString(name47, "fits");
    const std::string before = bytes();
    const std::string error = errorOf([&] { store.WriteString(name48, "x"); });
    EXPECT_NE(error.find(name48), std::string::npos) << error;
    EXPECT_NE(errorOf([&] { store.OpenKey("\\" + name48, true); }), "no error");
    EXPECT_NE(errorOf([&] { store.WriteInteger(std::string("a\0b", 3), 1); }), "no error");
    EXPECT_FALSE(store.OpenKey("\\" + name48, false));
    EXPECT_EQ(bytes(), before);
    ASSERT_TRUE(store.OpenKey("\\" + name47, false));
    EXPECT_EQ(store.ReadString(name47), "fits");
}

TEST_F(StoreFormat, FreeListCycleFailsInsteadOfHanging) {
    {
        TfxRegFile store(path);
        ASSERT_TRUE(store.OpenKey("\\K", true));
        store.WriteInteger("a", 1);
        store.WriteInteger("b", 2);
        store.DeleteValue("a");
        store.DeleteValue("b");
    }
    std::string b = bytes();
    const std::vector<int32_t> list = FreeListOf(b);
    ASSERT_EQ(list.size(), 2u);
    PutInt32At(b, size_t(list[1]) + 78, list[0]); // the second points back at the first
    WriteFileBytes(path, b);

    TfxRegFile store(path);
    ASSERT_TRUE(store.OpenKey("\\K", false));
    EXPECT_EQ(errorOf([&] { store.WriteString("s", "text"); }), kCorruptedFileMessage);
    EXPECT_EQ(bytes(), b);
    // Still usable for reading.
    EXPECT_TRUE(store.OpenKey("\\K", false));
    EXPECT_FALSE(store.ValueExists("s"));
}

TEST_F(StoreFormat, AFailureMidwayLeavesTheFileAndTheObjectAsTheyWere) {
    {
        TfxRegFile store(path);
        ASSERT_TRUE(store.OpenKey("\\K", true));
        store.WriteString("s", "abc");
        for (const char* name : {"w", "x", "y", "z"})
            store.WriteInteger(name, 1);
        store.DeleteValue("x");
        store.DeleteValue("z");
    }
    std::string b = bytes();
    const std::vector<int32_t> list = FreeListOf(b); // x, z
    ASSERT_EQ(list.size(), 2u);
    PutInt32At(b, size_t(list[0]) + 78, IndexEntryAt(b, 4)); // x leads on to live "y"
    WriteFileBytes(path, b);

    TfxRegFile store(path);
    ASSERT_TRUE(store.OpenKey("\\K", false));
    // The old slot of "s" is freed and linked before the walk meets "y".
    EXPECT_EQ(errorOf([&] { store.WriteString("s", "longer text"); }), kCorruptedFileMessage);
    const std::string after = bytes();
    EXPECT_EQ(after, b);
    EXPECT_EQ(store.ReadString("s"), "abc");
    const HeaderBytes header = EncodeHeader(store.Header());
    EXPECT_EQ(std::string(header.begin(), header.end()), after.substr(0, 37));
    EXPECT_EQ(store.Index().size(), size_t(store.Header().indexCount));
    EXPECT_EQ(store.ReadInteger("y"), 1);
}

TEST_F(StoreFormat, LiveRecordOnTheFreeListIsNeverReused) {
    {
        TfxRegFile store(path);
        ASSERT_TRUE(store.OpenKey("\\K", true));
        store.WriteInteger("a", 1);
        store.WriteInteger("b", 2);
        store.DeleteValue("a");
    }
    std::string b = bytes();
    const int32_t live = IndexEntryAt(b, 2); // "b"
    PutInt32At(b, 29, live);
    PutInt32At(b, 33, live);
    WriteFileBytes(path, b);
    TfxRegFile store(path);
    ASSERT_TRUE(store.OpenKey("\\K", false));
    EXPECT_EQ(errorOf([&] { store.WriteInteger("c", 3); }), kCorruptedFileMessage);
    EXPECT_EQ(errorOf([&] { store.DeleteValue("b"); }), kCorruptedFileMessage)
        << "the tail must be a free record";
    EXPECT_EQ(bytes(), b);
    EXPECT_EQ(store.ReadInteger("b"), 2);
}

TEST_F(StoreFormat, FreedRecordStillInTheIndexIsNeverReused) {
    // A rewrite that failed after freeing the old record could leave the index naming a
    // free record; handing its slot to another value would make one entry name two.
    {
        TfxRegFile store(path);
        ASSERT_TRUE(store.OpenKey("\\K", true));
        store.WriteString("s", "x");
    }
    std::string b = bytes();
    const int32_t listed = IndexEntryAt(b, 2); // "s"
    b[size_t(listed) + 77] = 1;                // Free
    PutInt32At(b, 29, listed);
    PutInt32At(b, 33, listed);
    WriteFileBytes(path, b);
    EXPECT_EQ(errorOf([&] { TfxRegFile store(path); }), kIndexCorruptMessage);
    EXPECT_EQ(bytes(), b);
}

TEST_F(StoreFormat, FailedRewriteKeepsTheOldValue) {
    {
        TfxRegFile store(path);
        ASSERT_TRUE(store.OpenKey("\\K", true));
        store.WriteString("s", "x");
        store.WriteString("u", "z");
    }
    const std::string before = bytes();
    // A full disk: the longer text cannot be appended.
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit full = old;
    full.rlim_cur = rlim_t(size());
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &full), 0);
    {
        TfxRegFile store(path);
        ASSERT_TRUE(store.OpenKey("\\K", false));
        EXPECT_EQ(errorOf([&] { store.WriteString("s", std::string(100, 'l')); }),
                  kFileWriteErrorMessage);
        EXPECT_EQ(store.ReadString("s"), "x") << "the object still sees the old value";
    }
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &old), 0);
    EXPECT_EQ(bytes(), before) << "the old slot is neither freed nor reused";
    TfxRegFile store(path);
    ASSERT_TRUE(store.OpenKey("\\K", false));
    EXPECT_EQ(store.ReadString("s"), "x");
    store.WriteString("t", "y");
    std::vector<std::string> names;
    store.GetValueNames(names);
    EXPECT_EQ(names, (std::vector<std::string>{"s", "t", "u"}));
    EXPECT_EQ(store.ReadString("s"), "x");
    EXPECT_EQ(store.ReadString("u"), "z");
    EXPECT_EQ(StoreProblems(bytes()), "");
}

TEST_F(StoreFormat, GrowingPast2GiBIsRefused) {
    createOptions();
    // A sparse tail takes the file close to the largest offset the format can hold.
    ASSERT_EQ(::truncate(path.c_str(), INT32_MAX - 1000), 0);
    TfxRegFile store(path);
    ASSERT_TRUE(store.OpenKey("\\Options", false));
    store.WriteString("small", std::string(800, 's'));
    const int64_t length = size();
    const std::string error = errorOf([&] { store.WriteString("big", std::string(200, 'b')); });
    EXPECT_NE(error.find("2,147,483,647"), std::string::npos) << error;
    EXPECT_EQ(size(), length);
    EXPECT_FALSE(store.ValueExists("big"));
    EXPECT_EQ(store.ReadString("small"), std::string(800, 's'));
}

TEST_F(StoreFormat, MoreThanTheIndexHoldsIsRefused) {
    // A file whose index is full: the root and 1,048,575 keys below it.
    std::vector<StoreRecord> records{KeyRecord(1, 0, kRootName)};
    records.reserve(size_t(kMaxRecords));
    char name[16];
    for (int32_t id = 2; id <= kMaxRecords; ++id) {
        std::snprintf(name, sizeof name, "k%07d", id);
        records.push_back(KeyRecord(id, 1, name));
    }
    const std::string b = StoreFileOf(records);
    records.clear();
    WriteFileBytes(path, b);

    TfxRegFile store(path);
    EXPECT_EQ(store.Index().size(), size_t(1) << 20);
    store.CloseKey();
    const std::string error = errorOf([&] { store.OpenKey("New", true); });
    EXPECT_NE(error.find("1,048,576"), std::string::npos) << error;
    EXPECT_EQ(bytes(), b);
}
