// Values read where the hive file holds them give what the built values give: every
// value of the real hives, every shape a value takes, and damage found on the way.

#include "hive/HiveFile.h"
#include "hive/HiveFormat.h"
#include "support/FileBytes.h"
#include "support/MachineFixture.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <fstream>
#include <functional>
#include <unistd.h>

namespace {

using testing_support::Le32;
using testing_support::Overwrite;
using testing_support::Read32At;
using testing_support::WriteFile;

using namespace hive;

HiveValue Named(std::u16string name, uint32_t type, Bytes data, StoredNameForm form = {}) {
    HiveValue value{std::move(name), type, std::move(data)};
    value.nameForm = form;
    return value;
}

Bytes Pattern(size_t size) {
    Bytes out(size);
    for (size_t i = 0; i < size; ++i)
        out[i] = uint8_t(i * 7 + i / 251);
    return out;
}

// A value of every shape: the default value, data held in the value's own cell (none to
// four bytes), in a cell of its own, in big data segments, strings of odd length, names
// stored one byte a character, as UTF-16, as UTF-16 although they fit a byte, with a byte
// left over; types beyond the documented ones; and a key of more values than a lookup
// searches without an index.
Bytes ShapesHive(uint32_t minorVersion) {
    auto root = std::make_shared<HiveKey>();
    root->name = u"ROOT";
    auto shapes = std::make_shared<HiveKey>();
    shapes->name = u"Shapes";
    auto& v = shapes->values();
    v.push_back(Named(u"", REG_SZ, {'d', 0, 0, 0}));
    v.push_back(Named(u"Empty", REG_SZ, {}));
    v.push_back(Named(u"One", REG_BINARY, {0x11}));
    v.push_back(Named(u"Odd string", REG_SZ, {'a', 0, 'b'}));
    v.push_back(Named(u"Dword", REG_DWORD, {1, 2, 3, 4}));
    v.push_back(Named(u"Five", REG_BINARY, {1, 2, 3, 4, 5}));
    v.push_back(Named(u"Multi", REG_MULTI_SZ, {'x', 0, 0, 0, 'y', 0, 0, 0, 0, 0}));
    v.push_back(Named(u"Caf\u00e9", REG_SZ, {0xE9, 0, 0, 0}));
    v.push_back(Named(u"\u041a\u043b\u044e\u0447", 0x12345678, Pattern(9)));
    v.push_back(Named(u"Stored wide", REG_SZ, {'w', 0}, {.wide = true, .oddByte = std::nullopt}));
    v.push_back(Named(u"Odd name", REG_BINARY, {7}, {.wide = false, .oddByte = uint8_t(0x5A)}));
    v.push_back(Named(u"Segment", REG_BINARY, Pattern(16344)));
    v.push_back(Named(u"Big", REG_BINARY, Pattern(40000)));
    v.push_back(Named(u"Big string", REG_SZ, Pattern(70001)));
    root->insertSubkey(shapes);
    auto many = std::make_shared<HiveKey>();
    many->name = u"Many";
    for (int i = 0; i < 40; ++i)
        many->values().push_back(
            Named(u"Value" + std::u16string{char16_t(u'0' + i / 10), char16_t(u'0' + i % 10)},
                  REG_DWORD, Pattern(4)));
    root->insertSubkey(many);
    HiveWriteOptions options;
    options.timestamp = 1;
    options.minorVersion = minorVersion;
    return WriteHive(*root, options);
}

uint64_t KeyFieldAt(const HiveKey& key, uint32_t field) {
    return regf::kBaseBlockSize + uint64_t(key.cell()) + 4 + field;
}

// File offset of the data of the value cell at `index` of a key's list.
uint64_t ValueCellAt(const std::string& path, const HiveKey& key, uint32_t index) {
    const uint32_t list = Read32At(path, KeyFieldAt(key, regf::nk::kValueList));
    return regf::kBaseBlockSize + Read32At(path, regf::kBaseBlockSize + list + 4 + 4 * index) + 4;
}

HiveValue Gathered(const HiveKey& key, const StoredValue& stored) {
    HiveValue value;
    stored.nameInto(value.name);
    value.type = stored.type;
    value.data.resize(stored.size);
    EXPECT_TRUE(key.copyStoredData(stored, value.data.data()));
    return value;
}

void ExpectSameValue(const HiveValue& got, const HiveValue& want) {
    EXPECT_EQ(got.name, want.name);
    EXPECT_EQ(got.type, want.type);
    EXPECT_EQ(got.data, want.data);
}

std::string Narrow(std::u16string_view text) {
    return std::string(text.begin(), text.end());
}

// Reads every value of `inPlace` where it lies and compares it with the built `built`,
// then the lookups by name; the keys below too. Keys of long value lists are built by
// their lookups, as they keep an index.
void ExpectStoredLikeBuilt(const HiveKey& inPlace, const HiveKey& built, size_t& values) {
    SCOPED_TRACE(Narrow(built.name));
    const std::vector<HiveValue>& want = built.values();
    uint32_t count = 0;
    const StoredRead counted = inPlace.storedValueCount(count);
    if (want.empty() && counted == StoredRead::Built) {
        EXPECT_TRUE(inPlace.values().empty()) << "a key of no values has none to read";
    } else {
        ASSERT_EQ(counted, StoredRead::Found);
        ASSERT_EQ(count, want.size());
        StoredValue stored;
        for (uint32_t i = 0; i < count; ++i) {
            ASSERT_EQ(inPlace.storedValueAt(i, stored), StoredRead::Found);
            ExpectSameValue(Gathered(inPlace, stored), want[i]);
        }
        EXPECT_EQ(inPlace.storedValueAt(count, stored), StoredRead::Missing);
        const bool indexed = count >= 32; // looked up through the index of the built list
        EXPECT_EQ(inPlace.findStoredValue(u"no such value \u00e9", stored),
                  indexed ? StoredRead::Built : StoredRead::Missing);
        for (const HiveValue& value : want) {
            const std::u16string asked = UpcaseName(value.name);
            const StoredRead read = inPlace.findStoredValue(asked, stored);
            if (indexed) {
                ASSERT_EQ(read, StoredRead::Built);
                const int index = inPlace.findValue(asked);
                ASSERT_GE(index, 0);
                ExpectSameValue(inPlace.values()[size_t(index)], value);
                continue;
            }
            ASSERT_EQ(read, StoredRead::Found);
            // The first of names equal but for case, as a lookup of the built list finds.
            ExpectSameValue(Gathered(inPlace, stored), want[size_t(built.findValue(asked))]);
        }
        if (!indexed) {
            EXPECT_EQ(inPlace.storedValueAt(0, stored), StoredRead::Found)
                << "reading in place builds nothing";
        }
        values += count;
    }
    ASSERT_EQ(inPlace.subkeyCount(), built.subkeyCount());
    for (size_t i = 0; i < built.subkeyCount(); ++i)
        ExpectStoredLikeBuilt(*inPlace.subkeyAt(i), *built.subkeyAt(i), values);
}

class StoredValues : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
    std::string file(const std::string& name) const {
        return dir_.path().toStdString() + "/" + name;
    }
    QTemporaryDir dir_;
};

} // namespace

TEST_F(StoredValues, ReadInPlaceEveryValueOfTheRealHivesAndEveryShapeIsTheBuiltOne) {
    std::vector<std::string> files;
    for (const uint32_t minor : {3u, 5u}) {
        files.push_back(file("SHAPES1." + std::to_string(minor)));
        WriteFile(files.back(), ShapesHive(minor));
    }
    for (const char* name : {"SYSTEM", "SYSTEM_B", "NTUSER.DAT", "UsrClass.dat", "SAM", "SECURITY",
                             "transactions_NTUSER.DAT"})
        if (const auto shared = testing_support::SharedHive(name, dir_.path().toStdString()))
            files.push_back(*shared);
    for (const std::string& path : files) {
        SCOPED_TRACE(path);
        const LoadedHive built = LoadHiveFile(path);
        const LoadedHive mounted = MountHiveFile(path);
        ASSERT_TRUE(mounted.root->source());
        size_t values = 0;
        ExpectStoredLikeBuilt(*mounted.root, *built.root, values);
        EXPECT_GT(values, 0u);
        EXPECT_EQ(mounted.root->source()->damageCount(), 0u);
        // Written back, the same file as the built tree gives.
        HiveWriteOptions options;
        options.timestamp = 1;
        EXPECT_EQ(WriteHive(*mounted.root, options), WriteHive(*built.root, options));
    }
}

TEST_F(StoredValues, ChangedValuesAreBuiltAndKept) {
    const std::string path = file("SHAPES");
    WriteFile(path, ShapesHive(5));
    const LoadedHive mounted = MountHiveFile(path);
    HiveKey* shapes = mounted.root->findSubkey(u"Shapes");
    ASSERT_TRUE(shapes);
    StoredValue stored;
    ASSERT_EQ(shapes->findStoredValue(u"dword", stored), StoredRead::Found);
    shapes->values()[size_t(shapes->findValue(u"Dword"))].data = {9, 9, 9, 9};
    shapes->values().push_back(Named(u"New", REG_SZ, {'n', 0}));
    EXPECT_EQ(shapes->storedValueAt(0, stored), StoredRead::Built);
    EXPECT_EQ(shapes->findStoredValue(u"Dword", stored), StoredRead::Built);
    uint32_t count = 0;
    EXPECT_EQ(shapes->storedValueCount(count), StoredRead::Built);
    EXPECT_EQ(shapes->values().back().name, u"New");
    EXPECT_EQ(shapes->values()[size_t(shapes->findValue(u"Dword"))].data, (Bytes{9, 9, 9, 9}));
    // Written and read again, the change is there, with every value left as it was.
    const LoadedHive written = LoadHiveImage(WriteHive(*mounted.root, {}), "written");
    const HiveKey* again = written.root->findSubkey(u"Shapes");
    ASSERT_TRUE(again);
    ASSERT_EQ(again->values().size(), 15u);
    EXPECT_EQ(again->values()[size_t(again->findValue(u"Big"))].data, Pattern(40000));
}

TEST_F(StoredValues, DamageFoundReadingInPlaceIsNotedAndLeftOutAsABuiltReadLeavesIt) {
    struct Case {
        const char* name;
        // Damages the file for the key "Shapes" of a mount.
        std::function<void(const std::string& path, const HiveKey& key)> damage;
        const char* note;
    };
    const auto valueCell = [](uint32_t index, uint32_t field, Bytes bytes) {
        return [=](const std::string& path, const HiveKey& key) {
            Overwrite(path, ValueCellAt(path, key, index) + field, bytes);
        };
    };
    const std::vector<Case> cases = {
        {"a value list outside the file",
         [](const std::string& path, const HiveKey& key) {
             Overwrite(path, KeyFieldAt(key, regf::nk::kValueList), Le32(0x7FFFFFF0));
         },
         "values are left out"},
        {"a value count beyond the list's cell",
         [](const std::string& path, const HiveKey& key) {
             Overwrite(path, KeyFieldAt(key, regf::nk::kValueCount), Le32(100000));
         },
         "is too small for its contents"},
        {"a value cell that is not one", valueCell(2, 0, {'x', 'x'}), "has no vk signature"},
        {"a name longer than its cell", valueCell(3, regf::vk::kNameLength, {0xFF, 0x7F}),
         "has a name longer than its cell"},
        {"inline data longer than its field", valueCell(4, regf::vk::kDataSize, Le32(0x80000009)),
         "4-byte field"},
        {"a data cell outside the file", valueCell(5, regf::vk::kData, Le32(0x7FFFFFF0)),
         "lies outside the hive bins"},
        {"data larger than its cell", valueCell(5, regf::vk::kDataSize, Le32(4000)),
         "is too small for its contents"},
        {"big data of too few segments",
         [](const std::string& path, const HiveKey& key) {
             const uint32_t db = Read32At(path, ValueCellAt(path, key, 12) + regf::vk::kData);
             Overwrite(path, regf::kBaseBlockSize + db + 4 + regf::kListCount, {1, 0});
         },
         "segments for"},
        {"a big data segment outside the file",
         [](const std::string& path, const HiveKey& key) {
             const uint32_t db = Read32At(path, ValueCellAt(path, key, 13) + regf::vk::kData);
             const uint32_t list =
                 Read32At(path, regf::kBaseBlockSize + db + 4 + regf::kBigDataSegmentList);
             Overwrite(path, regf::kBaseBlockSize + list + 4 + 4, Le32(0x7FFFFFF0));
         },
         "big data segment"},
    };
    const std::string path = file("SHAPES");
    for (const Case& c : cases)
        for (const bool readFirst : {false, true}) {
            SCOPED_TRACE(std::string(c.name) +
                         (readFirst ? ", found after reading in place" : ", found at once"));
            WriteFile(path, ShapesHive(5));
            const LoadedHive mounted = MountHiveFile(path);
            HiveKey* shapes = mounted.root->findSubkey(u"Shapes");
            ASSERT_TRUE(shapes);
            StoredValue stored;
            if (readFirst) {
                ASSERT_EQ(shapes->storedValueAt(0, stored), StoredRead::Found);
            }
            c.damage(path, *shapes);
            const HiveSource& source = *mounted.root->source();
            EXPECT_EQ(source.damageCount(), 0u);

            // Every value read in place until one does not read; then the key is built.
            bool built = false;
            for (uint32_t i = 0; i < 14 && !built; ++i) {
                const StoredRead read = shapes->storedValueAt(i, stored);
                if (read == StoredRead::Found && stored.size)
                    built = !shapes->copyStoredData(stored, Bytes(stored.size).data());
                built = built || read == StoredRead::Built;
            }
            if (!built) {
                uint32_t count = 0;
                built = shapes->storedValueCount(count) == StoredRead::Built;
            }
            EXPECT_TRUE(built) << "the damage is found where the value is read";
            EXPECT_EQ(shapes->storedValueAt(0, stored), StoredRead::Built);
            ASSERT_EQ(source.damageCount(), 1u);
            const std::string note = source.damage().front();
            EXPECT_NE(note.find(c.note), std::string::npos) << note;
            EXPECT_NE(note.find("Shapes"), std::string::npos) << note;

            // What is left is what a mount that builds the values at once keeps.
            const LoadedHive fresh = MountHiveFile(path);
            const HiveKey* again = fresh.root->findSubkey(u"Shapes");
            ASSERT_TRUE(again);
            ASSERT_EQ(shapes->values().size(), again->values().size());
            for (size_t i = 0; i < again->values().size(); ++i)
                ExpectSameValue(shapes->values()[i], again->values()[i]);
            ASSERT_EQ(fresh.root->source()->damageCount(), 1u);
            EXPECT_EQ(fresh.root->source()->damage().front(), note);
            EXPECT_THROW(WriteHive(*mounted.root, {}), std::runtime_error);
        }
}
