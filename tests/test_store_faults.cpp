// The settings file when writing goes wrong: a full disk, or a process that stops dead
// (killed, or the power gone) at any point of a change. Every change is all or nothing:
// whatever opens the file next finds every value as it was before the change or as the
// change left it, and never a refusal or a half-made change.

#include "store/StoreError.h"
#include "store/StoreIo.h"
#include "store/StoreJournal.h"
#include "store/fxRegistryFile.h"
#include "support/ScratchDir.h"
#include "support/StoreFiles.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

using namespace testing_support;
using namespace store;

namespace {

// Every key and every value with its type, as a reader sees them.
std::string treeOf(TfxRegFile& store) {
    std::string out;
    std::vector<std::string> pending{"\\"};
    while (!pending.empty()) {
        const std::string path = pending.back();
        pending.pop_back();
        if (!store.OpenKey(path, false))
            return out + "cannot open " + path;
        out += path + "\n";
        std::vector<std::string> names;
        store.GetValueNames(names);
        for (const std::string& name : names) {
            out += "  " + name + " = ";
            switch (store.ValueDataType(name)) {
            case kTypeInteger:
                out += "integer " + std::to_string(store.ReadInteger(name));
                break;
            case kTypeBool:
                out += store.ReadBool(name) ? "true" : "false";
                break;
            case kTypeDateTime:
                out += "date " + std::to_string(store.ReadDateTime(name));
                break;
            default:
                out += "text " + store.ReadString(name);
            }
            out += "\n";
        }
        store.GetKeyNames(names);
        const std::string prefix = path == "\\" ? path : path + "\\";
        for (auto it = names.rbegin(); it != names.rend(); ++it)
            pending.push_back(prefix + *it);
    }
    return out;
}

struct Change {
    const char* what;
    // Writes the file the change starts from.
    std::function<void(const std::string& path)> prepare;
    std::function<void(TfxRegFile& store)> change;
};

void usualStore(const std::string& path) {
    TfxRegFile store(path);
    ASSERT_TRUE(store.OpenKey("\\K", true));
    store.WriteString("s", "abcdef");
    store.WriteInteger("i", 5);
    store.WriteBool("b", true);
    store.WriteInteger("gone", 1);
    store.DeleteValue("gone"); // one record on the free list
    ASSERT_TRUE(store.OpenKey("\\K\\T\\Deep", true));
    store.WriteString("d", "deep");
    ASSERT_TRUE(store.OpenKey("\\K\\T", false));
    store.WriteDateTime("when", 45000.5);
}

// The root, K and 1022 values: index block 0 is full.
void fullIndexBlock(const std::string& path) {
    std::vector<StoreRecord> records{KeyRecord(1, 0, kRootName), KeyRecord(2, 1, "K")};
    for (int32_t i = 0; i < 1022; ++i) {
        StoreRecord value;
        value.setName("v" + std::to_string(10000 + i));
        value.id = 3 + i;
        value.parentId = 2;
        value.kind = kKindValue;
        value.dataType = kTypeInteger;
        value.dataSize = 4;
        PutInt32(value.inlineData.data(), i);
        records.push_back(value);
    }
    WriteFileBytes(path, StoreFileOf(records));
}

const std::vector<Change>& changes() {
    const auto inK = [](std::function<void(TfxRegFile&)> change) {
        return [change](TfxRegFile& store) {
            ASSERT_TRUE(store.OpenKey("\\K", false));
            change(store);
        };
    };
    static const std::vector<Change> list = {
        {"add a key", usualStore, inK([](TfxRegFile& s) { s.OpenKey("New", true); })},
        {"add two keys, one below the other", usualStore,
         inK([](TfxRegFile& s) { s.OpenKey("A\\B", true); })},
        {"write a longer string", usualStore,
         inK([](TfxRegFile& s) { s.WriteString("s", "a text longer than before"); })},
        {"write a shorter string", usualStore,
         inK([](TfxRegFile& s) { s.WriteString("s", "ab"); })},
        {"write a new string", usualStore, inK([](TfxRegFile& s) { s.WriteString("n", "new"); })},
        {"rewrite an integer", usualStore, inK([](TfxRegFile& s) { s.WriteInteger("i", 6); })},
        {"write a new integer", usualStore, inK([](TfxRegFile& s) { s.WriteInteger("j", 7); })},
        {"turn a string into an integer", usualStore,
         inK([](TfxRegFile& s) { s.WriteInteger("s", 1); })},
        {"delete a value", usualStore, inK([](TfxRegFile& s) { s.DeleteValue("s"); })},
        {"delete a key tree", usualStore, inK([](TfxRegFile& s) { s.DeleteKey("T"); })},
        {"allocate an index block", fullIndexBlock,
         inK([](TfxRegFile& s) { s.WriteInteger("a", 7); })},
    };
    return list;
}

class StoreFaults : public ::testing::Test {
protected:
    QTemporaryDir dir{ScratchDirTemplate()};
    std::string path = dir.path().toStdString() + "/system.dat";
    std::string journal = path + "-journal";

    void TearDown() override { io::ClearFaults(); }

    std::string bytes() const { return ReadFileBytes(path); }

    // The file as `prepare` writes it, with no journal beside it.
    std::string prepared(const Change& c) {
        std::filesystem::remove(path);
        std::filesystem::remove(journal);
        c.prepare(path);
        return bytes();
    }

    void restart(const std::string& base) {
        std::filesystem::remove(journal);
        WriteFileBytes(path, base);
    }

    std::string tree(TfxRegFile::Access access = TfxRegFile::Access::ReadWrite) {
        TfxRegFile store(path, access);
        return treeOf(store);
    }
};

} // namespace

// The change is stopped at each of its calls in turn, a write there cut half way; the
// stopped object is left without any cleanup, and the file is opened anew.
TEST_F(StoreFaults, ACutAnywhereLeavesTheChangeDoneOrUndone) {
    for (const Change& c : changes()) {
        SCOPED_TRACE(c.what);
        const std::string base = prepared(c);
        const std::string before = tree();
        restart(base);
        std::string after;
        {
            TfxRegFile store(path);
            c.change(store);
            after = tree();
        }
        ASSERT_NE(before, after);
        bool sawBefore = false, sawAfter = false;
        for (int64_t cut = 0;; ++cut) {
            SCOPED_TRACE("cut at call " + std::to_string(cut));
            restart(base);
            {
                TfxRegFile store(path);
                io::ClearFaults();
                io::InjectCrashAtCall(cut);
                try {
                    c.change(store);
                } catch (const StoreError&) {
                }
            }
            const bool cutShort = io::Crashed();
            io::ClearFaults();

            // A reader that may not write reads around an unfinished change, and writes
            // nothing, not even to the journal.
            const std::string fileThen = bytes(), journalThen = ReadFileBytes(journal);
            const std::string seen = tree(TfxRegFile::Access::ReadOnly);
            EXPECT_EQ(bytes(), fileThen);
            EXPECT_EQ(ReadFileBytes(journal), journalThen);

            EXPECT_EQ(tree(), seen) << "a writer puts back what the reader saw";
            EXPECT_TRUE(seen == before || seen == after) << seen;
            EXPECT_EQ(StoreProblems(bytes()), "");
            EXPECT_FALSE(StoreJournal(path).read().pending);
            sawBefore |= seen == before;
            sawAfter |= seen == after;
            if (!cutShort) {
                EXPECT_EQ(seen, after);
                break;
            }
            // The file takes the change again as if nothing had happened.
            {
                TfxRegFile store(path);
                c.change(store);
            }
            EXPECT_EQ(tree(), after);
            ASSERT_LT(cut, 100) << "the change never ends";
        }
        EXPECT_TRUE(sawBefore);
        EXPECT_TRUE(sawAfter);
    }
}

TEST_F(StoreFaults, ACutWhileCreatingTheFileEndsInANewStore) {
    const std::string fresh = [&] {
        { TfxRegFile store(path); }
        return bytes();
    }();
    for (int64_t cut = 0;; ++cut) {
        SCOPED_TRACE("cut at call " + std::to_string(cut));
        std::filesystem::remove(path);
        std::filesystem::remove(journal);
        io::ClearFaults();
        io::InjectCrashAtCall(cut);
        try {
            TfxRegFile store(path);
        } catch (const StoreError&) {
        }
        const bool cutShort = io::Crashed();
        io::ClearFaults();
        EXPECT_EQ(tree(), "\\\n");
        EXPECT_EQ(bytes(), fresh);
        if (!cutShort)
            break;
        ASSERT_LT(cut, 100);
    }
}

// Each change is given less room than it needs, down to none: it fails, and the file is
// byte for byte as it was, the object reading the old values; with room enough, the file
// is byte for byte what the change makes on a roomy disk.
TEST_F(StoreFaults, AFullDiskLeavesEveryValueAsItWas) {
    for (const Change& c : changes()) {
        SCOPED_TRACE(c.what);
        const std::string base = prepared(c);
        const std::string before = tree();
        restart(base);
        {
            TfxRegFile store(path);
            c.change(store);
        }
        const std::string changed = bytes();

        // True when the change fit into `room` more bytes.
        const auto tryWith = [&](int64_t room) {
            SCOPED_TRACE("room for " + std::to_string(room) + " bytes");
            restart(base);
            TfxRegFile store(path);
            io::InjectFullDisk(room);
            std::string error;
            try {
                c.change(store);
            } catch (const StoreError& e) {
                error = e.what();
            }
            io::ClearFaults();
            if (error.empty()) {
                EXPECT_EQ(bytes(), changed);
                return true;
            }
            EXPECT_EQ(bytes(), base) << error;
            EXPECT_EQ(treeOf(store), before) << error;
            EXPECT_FALSE(StoreJournal(path).read().pending);
            return false;
        };
        int64_t enough = 1;
        while (!tryWith(enough)) {
            enough *= 2;
            ASSERT_LT(enough, 1 << 20);
        }
        int64_t lacking = enough / 2;
        while (enough - lacking > 1) {
            const int64_t middle = (enough + lacking) / 2;
            (tryWith(middle) ? enough : lacking) = middle;
        }
        // Sizes just below what is needed, where the journal fits but a record or an
        // index block does not, and a spread of smaller ones.
        for (int64_t room = enough - 1; room >= 0; room -= room > enough - 100 ? 11 : enough / 8)
            EXPECT_FALSE(tryWith(room));
    }
}
