// TfxRegFile as its users see it: keys opened by path, typed values, listings,
// deletion of trees, and agreement with a plain model over many random changes.

#include "store/StoreError.h"
#include "store/fxRegistryFile.h"
#include "support/NamedPipes.h"
#include "support/ScratchDir.h"
#include "support/StoreFiles.h"

#include <QBuffer>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <set>

using namespace testing_support;
using namespace store;

namespace {

class StoreFile : public ::testing::Test {
protected:
    QTemporaryDir dir{ScratchDirTemplate()};
    std::string path = dir.path().toStdString() + "/system.dat";

    std::string bytes() const { return ReadFileBytes(path); }
};

std::string errorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const StoreError& e) {
        return e.what();
    }
    return "no error";
}

std::vector<std::string> keyNames(TfxRegFile& store) {
    std::vector<std::string> names;
    store.GetKeyNames(names);
    return names;
}

std::vector<std::string> valueNames(TfxRegFile& store) {
    std::vector<std::string> names;
    store.GetValueNames(names);
    return names;
}

} // namespace

TEST_F(StoreFile, OpenKeyOnANewStore) {
    TfxRegFile store(path);
    EXPECT_EQ(store.CurrentKey().nameView(), "RDB$ROOT") << "a new file has the root current";
    EXPECT_FALSE(store.OpenKey("\\Options", false));
    EXPECT_EQ(store.CurrentKey().id, 1);
    EXPECT_EQ(std::filesystem::file_size(path), 8311u);

    EXPECT_TRUE(store.OpenKey("\\Options", true));
    EXPECT_EQ(store.CurrentKey().nameView(), "Options");
    const std::string once = bytes();
    EXPECT_TRUE(store.OpenKey("\\Options", true));
    EXPECT_TRUE(store.OpenKey("\\Options", false));
    EXPECT_EQ(bytes(), once) << "opening an existing key creates nothing";

    for (const bool create : {false, true}) {
        ASSERT_TRUE(store.OpenKey("\\Options", false));
        EXPECT_TRUE(store.OpenKey("\\", create));
        EXPECT_EQ(store.CurrentKey().id, 1);
    }
    EXPECT_EQ(bytes(), once);
}

TEST_F(StoreFile, FailedOpenLeavesTheDeepestKeyReached) {
    TfxRegFile store(path);
    ASSERT_TRUE(store.OpenKey("\\A\\B", true));
    ASSERT_TRUE(store.OpenKey("\\Other", true));
    EXPECT_FALSE(store.OpenKey("\\A\\Missing\\C", false));
    EXPECT_EQ(store.CurrentKey().nameView(), "A");
    EXPECT_FALSE(store.OpenKey("\\Missing", false));
    EXPECT_EQ(store.CurrentKey().nameView(), "RDB$ROOT");
}

TEST_F(StoreFile, PathsSkipEmptyNamesAndResolveFromTheCurrentKey) {
    TfxRegFile store(path);
    ASSERT_TRUE(store.OpenKey("\\A\\\\B\\", true));
    const int32_t b = store.CurrentKey().id;
    ASSERT_TRUE(store.OpenKey("\\\\A\\B", false));
    EXPECT_EQ(store.CurrentKey().id, b);
    ASSERT_TRUE(store.OpenKey("\\A", false));
    ASSERT_TRUE(store.OpenKey("B", false));
    EXPECT_EQ(store.CurrentKey().id, b);
    EXPECT_TRUE(store.OpenKey("", false)) << "no names: the current key stays";
    EXPECT_EQ(store.CurrentKey().id, b);
    ASSERT_TRUE(store.OpenKey("C\\D", true));
    ASSERT_TRUE(store.OpenKey("\\A\\B\\C\\D", false));
}

TEST_F(StoreFile, AfterOpeningAnExistingFileNoKeyIsCurrent) {
    {
        TfxRegFile store(path);
        ASSERT_TRUE(store.OpenKey("\\Options", true));
        store.WriteString("LastScan", "x");
    }
    const std::string before = bytes();
    TfxRegFile store(path);
    EXPECT_EQ(store.CurrentKey().id, 0);
    EXPECT_FALSE(store.OpenKey("Options", false)) << "a relative path needs a current key";
    EXPECT_FALSE(store.OpenKey("Options", true));
    EXPECT_FALSE(store.ValueExists("LastScan"));
    EXPECT_TRUE(keyNames(store).empty());
    EXPECT_EQ(store.ReadString("LastScan"), "");
    EXPECT_NE(errorOf([&] { store.WriteString("LastScan", "y"); }), "no error");
    EXPECT_FALSE(store.DeleteKey("Options"));
    EXPECT_EQ(bytes(), before);
    store.CloseKey();
    EXPECT_EQ(keyNames(store), std::vector<std::string>{"Options"});
}

TEST_F(StoreFile, StringsIntegersBooleansAndDates) {
    TfxRegFile store(path);
    ASSERT_TRUE(store.OpenKey("\\Options", true));
    store.WriteString("Empty", "");
    store.WriteString("Text", "C:\\Windows\r\nline\xE9");
    store.WriteInteger("Min", INT32_MIN);
    store.WriteBool("Yes", true);
    store.WriteBool("No", false);
    store.WriteDateTime("When", 39448.75);

    TfxRegFile reopened(path);
    ASSERT_TRUE(reopened.OpenKey("\\Options", false));
    EXPECT_TRUE(reopened.ValueExists("Empty"));
    EXPECT_EQ(reopened.ReadString("Empty"), "");
    EXPECT_EQ(RecordAt(bytes(), reopened.Index()[2]).dataSize, 1) << "Empty";
    EXPECT_EQ(reopened.ReadString("Text"), "C:\\Windows\r\nline\xE9");
    EXPECT_EQ(reopened.ReadInteger("Min"), INT32_MIN);
    EXPECT_TRUE(reopened.ReadBool("Yes"));
    EXPECT_FALSE(reopened.ReadBool("No"));
    EXPECT_EQ(reopened.ReadDateTime("When"), 39448.75);
    EXPECT_EQ(reopened.ReadString("Min"), "") << "fixed-size values have no text";
    EXPECT_EQ(reopened.ReadString("Missing"), "");
    EXPECT_EQ(reopened.ReadInteger("Missing"), 0);
    EXPECT_EQ(reopened.ValueDataType("Yes"), kTypeBool);
    EXPECT_EQ(reopened.ValueDataType("Missing"), -1);
}

TEST_F(StoreFile, TypedReadsOfAnotherTypeFail) {
    TfxRegFile store(path);
    ASSERT_TRUE(store.OpenKey("\\Options", true));
    store.WriteString("S", "1");
    store.WriteInteger("I", 1);
    store.WriteBool("B", true);
    store.WriteDateTime("D", 1);
    const std::vector<std::pair<const char*, std::function<void()>>> reads = {
        {"ReadBool of an integer", [&] { store.ReadBool("I"); }},
        {"ReadInteger of a string", [&] { store.ReadInteger("S"); }},
        {"ReadInteger of a boolean", [&] { store.ReadInteger("B"); }},
        {"ReadDateTime of an integer", [&] { store.ReadDateTime("I"); }},
        {"ReadBool of a date", [&] { store.ReadBool("D"); }},
    };
    for (const auto& [what, read] : reads)
        EXPECT_EQ(errorOf(read), kWrongDataTypeMessage) << what;
}

TEST_F(StoreFile, AValueMayChangeItsType) {
    TfxRegFile store(path);
    ASSERT_TRUE(store.OpenKey("\\Options", true));
    store.WriteString("V", "text");
    store.WriteInteger("V", 42);
    EXPECT_EQ(store.ReadString("V"), "");
    EXPECT_EQ(store.ReadInteger("V"), 42);
    store.WriteString("V", "back");
    EXPECT_EQ(store.ReadString("V"), "back");
    EXPECT_EQ(valueNames(store), std::vector<std::string>{"V"});
    EXPECT_EQ(StoreProblems(bytes()), "");
}

TEST_F(StoreFile, ListingsAreInByteOrder) {
    TfxRegFile store(path);
    ASSERT_TRUE(store.OpenKey("\\K", true));
    for (const char* name : {"beta", "Alpha", "alpha", "Zed", "_x", "10", "9", "\xE9t\xE9"})
        ASSERT_TRUE(store.OpenKey(std::string("\\K\\") + name, true));
    ASSERT_TRUE(store.OpenKey("\\K", false));
    store.WriteString("value", "");
    store.WriteString("beta", "");
    EXPECT_EQ(keyNames(store), (std::vector<std::string>{"10", "9", "Alpha", "Zed", "_x", "alpha",
                                                         "beta", "\xE9t\xE9"}));
    EXPECT_EQ(valueNames(store), (std::vector<std::string>{"beta", "value"}));
    ASSERT_TRUE(store.OpenKey("Zed", false));
    EXPECT_TRUE(keyNames(store).empty());
    EXPECT_TRUE(valueNames(store).empty());
}

TEST_F(StoreFile, ReadDataWritesFromTheStart) {
    TfxRegFile store(path);
    ASSERT_TRUE(store.OpenKey("\\K", true));
    store.WriteString("S", "abc");
    store.WriteInteger("I", 1);
    QBuffer buffer;
    buffer.open(QIODevice::ReadWrite);
    buffer.write("0123456789");
    store.ReadData("S", buffer);
    EXPECT_EQ(buffer.data().toStdString(), std::string("abc\0"
                                                       "456789",
                                                       10));
    store.ReadData("I", buffer);
    store.ReadData("Missing", buffer);
    EXPECT_EQ(buffer.data().toStdString(), std::string("abc\0"
                                                       "456789",
                                                       10));
}

TEST_F(StoreFile, DeleteKeyRemovesTheTreeAndKeepsTheCurrentKey) {
    TfxRegFile store(path);
    ASSERT_TRUE(store.OpenKey("\\Keep", true));
    store.WriteString("k", "1");
    ASSERT_TRUE(store.OpenKey("\\T", true));
    store.WriteString("v1", "one");
    store.WriteInteger("v2", 2);
    ASSERT_TRUE(store.OpenKey("\\T\\A\\A1", true));
    store.WriteString("deep", "x");
    ASSERT_TRUE(store.OpenKey("\\T\\B", true));
    store.WriteBool("b", true);
    const std::string before = bytes();
    const auto offsetOf = [&](const std::string& keyPath, const char* value) {
        EXPECT_TRUE(store.OpenKey(keyPath, false));
        if (!value)
            return store.CurrentKeyOffset();
        for (size_t i = 0; i < store.Index().size(); ++i)
            if (RecordAt(before, store.Index()[i]).nameView() == value &&
                RecordAt(before, store.Index()[i]).parentId == store.CurrentKey().id)
                return store.Index()[i];
        return 0;
    };
    // Depth first: the key's values, each subkey's tree, then the key itself.
    const std::vector<int32_t> expectedFreeOrder = {
        offsetOf("\\T", "v1"),          offsetOf("\\T", "v2"),
        offsetOf("\\T\\A\\A1", "deep"), offsetOf("\\T\\A\\A1", nullptr),
        offsetOf("\\T\\A", nullptr),    offsetOf("\\T\\B", "b"),
        offsetOf("\\T\\B", nullptr),    offsetOf("\\T", nullptr)};
    ASSERT_TRUE(store.OpenKey("\\Keep", false));
    const int32_t keep = store.CurrentKeyOffset();

    EXPECT_TRUE(store.DeleteKey("\\T"));
    EXPECT_EQ(store.CurrentKeyOffset(), keep);
    EXPECT_EQ(store.ReadString("k"), "1");
    EXPECT_EQ(store.Header().indexCount, 3);
    EXPECT_EQ(FreeListOf(bytes()), expectedFreeOrder);
    for (const int32_t offset : expectedFreeOrder)
        EXPECT_EQ(RecordAt(bytes(), offset).free, 1);
    EXPECT_FALSE(store.OpenKey("\\T", false));
    EXPECT_EQ(StoreProblems(bytes()), "");

    TfxRegFile reopened(path);
    reopened.CloseKey();
    EXPECT_EQ(keyNames(reopened), std::vector<std::string>{"Keep"});
}

TEST_F(StoreFile, DeleteKeyOfSeveralNamesRemovesOnlyTheLast) {
    TfxRegFile store(path);
    ASSERT_TRUE(store.OpenKey("\\A\\B\\C", true));
    ASSERT_TRUE(store.OpenKey("\\A", false));
    EXPECT_TRUE(store.DeleteKey("B\\C")); // relative to A
    EXPECT_TRUE(store.OpenKey("\\A\\B", false));
    EXPECT_TRUE(keyNames(store).empty());
    const std::string before = bytes();
    EXPECT_FALSE(store.DeleteKey("\\A\\Missing"));
    EXPECT_EQ(bytes(), before);
    store.DeleteValue("Missing");
    EXPECT_EQ(bytes(), before);
}

TEST_F(StoreFile, DeletingTheCurrentKeysTreeMakesTheRootCurrent) {
    TfxRegFile store(path);
    ASSERT_TRUE(store.OpenKey("\\A\\B", true));
    EXPECT_TRUE(store.DeleteKey("\\A"));
    EXPECT_EQ(store.CurrentKey().id, 1);
    store.WriteString("v", "on the root, not under a deleted key");
    EXPECT_EQ(StoreProblems(bytes()), "");
}

TEST_F(StoreFile, TheRootCannotBeDeleted) {
    TfxRegFile store(path);
    ASSERT_TRUE(store.OpenKey("\\A", true));
    const std::string before = bytes();
    EXPECT_NE(errorOf([&] { store.DeleteKey("\\"); }), "no error");
    store.CloseKey();
    EXPECT_NE(errorOf([&] { store.DeleteKey(""); }), "no error");
    EXPECT_EQ(bytes(), before);
}

TEST_F(StoreFile, KeyThatIsItsOwnParentFailsDeletion) {
    {
        TfxRegFile store(path);
        ASSERT_TRUE(store.OpenKey("\\A\\A", true));
    }
    std::string b = bytes();
    // Entries: root, A (id 2, parent 1), A (id 3, parent 2). Make the inner one its own
    // parent's twin: id 2 under 2 — a loop below A.
    const int32_t inner = IndexEntryAt(b, 2);
    PutInt32At(b, size_t(inner) + 48, 2);
    WriteFileBytes(path, b);
    TfxRegFile store(path);
    store.CloseKey();
    EXPECT_EQ(errorOf([&] { store.DeleteKey("A"); }), kCorruptedFileMessage);
    EXPECT_EQ(bytes(), b);
}

TEST_F(StoreFile, ReadOnlyAccessChangesNothing) {
    const std::string missing = dir.path().toStdString() + "/missing.dat";
    EXPECT_NE(errorOf([&] { TfxRegFile store(missing, TfxRegFile::Access::ReadOnly); }),
              "no error");
    EXPECT_FALSE(std::filesystem::exists(missing));
    WriteFileBytes(path, "");
    EXPECT_NE(errorOf([&] { TfxRegFile store(path, TfxRegFile::Access::ReadOnly); }), "no error");
    EXPECT_EQ(bytes(), "");

    { TfxRegFile store(path); }
    const std::string before = bytes();
    TfxRegFile store(path, TfxRegFile::Access::ReadOnly);
    EXPECT_NE(errorOf([&] { store.OpenKey("\\Options", true); }), "no error");
    EXPECT_NE(errorOf([&] { store.WriteString("x", "y"); }), "no error");
    EXPECT_EQ(bytes(), before);
}

// Opening a named pipe for reading waits for a writer: it must be refused before that.
TEST_F(StoreFile, NamedPipesAreRefusedWithoutWaiting) {
    { TfxRegFile store(path); }
    const std::string pipe = dir.path().toStdString() + "/pipe.dat";
    MakePipe(pipe);
    const std::string journalPipe = path + "-journal";
    std::filesystem::remove(journalPipe);
    MakePipe(journalPipe);
    struct Case {
        const char* what;
        std::string file;
        std::string pipe;
        TfxRegFile::Access access;
    };
    const Case cases[] = {
        {"a pipe read", pipe, pipe, TfxRegFile::Access::ReadOnly},
        {"a pipe written", pipe, pipe, TfxRegFile::Access::ReadWrite},
        {"a pipe as the journal, read", path, journalPipe, TfxRegFile::Access::ReadOnly},
        {"a pipe as the journal, written", path, journalPipe, TfxRegFile::Access::ReadWrite},
    };
    for (const Case& c : cases) {
        const auto error = CallPastPipe(c.pipe, [&] {
            return errorOf([&] {
                TfxRegFile store(c.file, c.access);
                store.OpenKey("\\Options", c.access == TfxRegFile::Access::ReadWrite);
            });
        });
        ASSERT_TRUE(error.has_value()) << c.what;
        EXPECT_NE(error->find("not a file"), std::string::npos) << c.what << ": " << *error;
    }
}

TEST_F(StoreFile, ASecondObjectSeesTheFirstOnesChanges) {
    TfxRegFile writer(path);
    ASSERT_TRUE(writer.OpenKey("\\A", true));
    TfxRegFile reader(path);
    reader.CloseKey();
    EXPECT_EQ(keyNames(reader), std::vector<std::string>{"A"});
    ASSERT_TRUE(writer.OpenKey("\\B", true));
    EXPECT_EQ(keyNames(reader), (std::vector<std::string>{"A", "B"}));
    TfxRegFile later(path);
    later.CloseKey();
    EXPECT_EQ(keyNames(later), (std::vector<std::string>{"A", "B"}));
}

// Many random changes against a plain model, reopening the file now and then: every
// listing and read must agree, and the file must keep its invariants throughout.
TEST_F(StoreFile, RandomChangesAgreeWithAModel) {
    struct Value {
        uint8_t type;
        std::string text;
        int32_t number = 0;
        double date = 0;
    };
    struct Key {
        std::map<std::string, Value> values;
        std::set<std::string> subkeys;
    };
    std::map<std::string, Key> model; // by full path, "" for the root
    model[""];
    const auto pathOf = [](const std::string& parent, const std::string& name) {
        return parent + "\\" + name;
    };
    const std::vector<std::string> names = {"a",        "A",  "ab",  "b",  "Options",
                                            "Restores", "x1", "x10", "x2", "\xC4"};
    std::mt19937 random(20240521);
    const auto pick = [&](size_t n) { return size_t(random() % n); };

    auto store = std::make_unique<TfxRegFile>(path);
    std::string current = "";
    for (int step = 0; step < 3000; ++step) {
        const int op = int(pick(100));
        if (op < 20) { // open a key, maybe creating it
            std::string target = pick(3) == 0 ? "" : current;
            const int depth = int(pick(3));
            for (int d = 0; d < depth; ++d)
                target = pathOf(target, names[pick(names.size())]);
            const bool create = pick(2) == 0;
            bool exists = true;
            std::string reached = "";
            for (size_t at = 1; at <= target.size();) {
                const size_t end = std::min(target.find('\\', at), target.size());
                const std::string next = target.substr(0, end);
                if (!model.count(next)) {
                    if (!create) {
                        exists = false;
                        break;
                    }
                    model[next];
                    model[reached].subkeys.insert(target.substr(at, end - at));
                }
                reached = next;
                at = end + 1;
            }
            ASSERT_EQ(store->OpenKey(target.empty() ? "\\" : target, create), exists) << target;
            current = reached;
        } else if (op < 55) { // write a value
            const std::string name = names[pick(names.size())];
            Value value{uint8_t(pick(4)), {}};
            switch (value.type) {
            case 0:
                value.type = kTypeString;
                value.text = std::string(pick(40), char('a' + pick(26)));
                store->WriteString(name, value.text);
                break;
            case 1:
                value.type = kTypeInteger;
                value.number = int32_t(random());
                store->WriteInteger(name, value.number);
                break;
            case 2:
                value.type = kTypeBool;
                value.number = int32_t(pick(2));
                store->WriteBool(name, value.number != 0);
                break;
            default:
                value.type = kTypeDateTime;
                value.date = double(random()) / 1000;
                store->WriteDateTime(name, value.date);
                break;
            }
            model[current].values[name] = value;
        } else if (op < 65) { // delete a value
            const std::string name = names[pick(names.size())];
            store->DeleteValue(name);
            model[current].values.erase(name);
        } else if (op < 72) { // delete a subkey tree
            const std::string name = names[pick(names.size())];
            const std::string target = pathOf(current, name);
            ASSERT_EQ(store->DeleteKey(name), model.count(target) == 1) << target;
            if (model.count(target)) {
                for (auto it = model.begin(); it != model.end();)
                    it = it->first == target || it->first.starts_with(target + "\\")
                             ? model.erase(it)
                             : std::next(it);
                model[current].subkeys.erase(name);
            }
        } else if (op < 74) { // reopen
            store = std::make_unique<TfxRegFile>(path);
            ASSERT_TRUE(store->OpenKey(current.empty() ? "\\" : current, false));
        }

        if (step % 50 == 0 || op >= 72) {
            const Key& key = model[current];
            std::vector<std::string> expectedKeys(key.subkeys.begin(), key.subkeys.end());
            std::vector<std::string> expectedValues;
            for (const auto& [name, value] : key.values)
                expectedValues.push_back(name);
            ASSERT_EQ(keyNames(*store), expectedKeys) << "step " << step << " at " << current;
            ASSERT_EQ(valueNames(*store), expectedValues) << "step " << step;
            for (const auto& [name, value] : key.values) {
                ASSERT_EQ(store->ValueDataType(name), value.type) << name;
                switch (value.type) {
                case kTypeString:
                    ASSERT_EQ(store->ReadString(name), value.text) << name;
                    break;
                case kTypeInteger:
                    ASSERT_EQ(store->ReadInteger(name), value.number) << name;
                    break;
                case kTypeBool:
                    ASSERT_EQ(store->ReadBool(name), value.number != 0) << name;
                    break;
                default:
                    ASSERT_EQ(store->ReadDateTime(name), value.date) << name;
                }
            }
            ASSERT_EQ(StoreProblems(bytes()), "") << "step " << step;
            size_t records = model.size(); // the keys, the root among them
            for (const auto& [keyPath, k] : model)
                records += k.values.size();
            ASSERT_EQ(store->Header().indexCount, int32_t(records));
        }
    }
    // The whole tree, read back by a fresh object.
    TfxRegFile reopened(path);
    for (const auto& [keyPath, key] : model) {
        ASSERT_TRUE(reopened.OpenKey(keyPath.empty() ? "\\" : keyPath, false)) << keyPath;
        EXPECT_EQ(keyNames(reopened),
                  std::vector<std::string>(key.subkeys.begin(), key.subkeys.end()));
        EXPECT_EQ(valueNames(reopened).size(), key.values.size());
    }
}
