// Mounting a hive where it lies: the keys read on first use are the keys a whole read
// gives, lookups read no siblings, a file that is not sound is read whole, and damage
// found after the mount is left out and keeps the tree from being written back.

#include "hive/HiveFile.h"
#include "hive/HiveFormat.h"
#include "hive/Utf16.h"
#include "support/FileBytes.h"
#include "support/HiveCompare.h"
#include "support/MachineFixture.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>
#include <unistd.h>

namespace {

using testing_support::Le32;
using testing_support::Overwrite;
using testing_support::Read32At;
using testing_support::WriteFile;

using namespace hive;
using testing_support::ExpectSameTree;

constexpr uint32_t REG_SZ = 1, REG_BINARY = 3;
constexpr size_t kWideKeySubkeys = 600; // beyond one leaf list: an index of leaves

HiveKey* AddKey(HiveKey& parent, std::u16string name) {
    auto key = std::make_shared<HiveKey>();
    key->name = std::move(name);
    key->lastWriteTime = 0x01D0000000000000ull + parent.subkeyCount();
    return parent.insertSubkey(std::move(key));
}

std::u16string Numbered(const char16_t* prefix, size_t n) {
    std::u16string name = prefix;
    const std::string digits = std::to_string(10000 + n).substr(1);
    name.append(digits.begin(), digits.end());
    return name;
}

// Names stored one byte a character and as UTF-16, a key listed through an index of
// leaves, values with big data, class names, and a deep branch.
Bytes SampleHive() {
    auto root = std::make_shared<HiveKey>();
    root->name = u"ROOT";
    root->values().push_back({u"", REG_SZ, Bytes{'r', 0, 0, 0}});
    AddKey(*root, u"Alpha")->values().push_back({u"Big", REG_BINARY, Bytes(40000, 0x5A)});
    AddKey(*root, u"Caf\u00e9");
    AddKey(*root, u"\u041a\u043b\u044e\u0447")->setClassName(Bytes{'c', 0, 'l', 0});
    AddKey(*root, u"Alpha Beta");
    HiveKey* wide = AddKey(*root, u"Wide");
    for (size_t i = 0; i < kWideKeySubkeys; ++i)
        AddKey(*wide, Numbered(u"Key", i))
            ->values()
            .push_back({u"n", REG_SZ, Bytes(4, uint8_t(i))});
    HiveKey* deep = AddKey(*root, u"Deep");
    for (int level = 0; level < 6; ++level)
        deep = AddKey(*deep, u"Level" + std::u16string(1, char16_t(u'0' + level)));
    AddKey(*deep, u"Bottom")->values().push_back({u"v", REG_SZ, Bytes{'b', 0}});
    HiveWriteOptions options;
    options.timestamp = 1;
    return WriteHive(*root, options);
}

// File offset of the cell of a key read from a mounted file.
uint64_t CellOf(const HiveKey& key) {
    return regf::kBaseBlockSize + key.cell();
}

// File offset of the subkey list of a key read from a mounted file.
uint64_t SubkeyListOf(const std::string& path, const HiveKey& key) {
    return regf::kBaseBlockSize + uint64_t(Read32At(path, CellOf(key) + 4 + regf::nk::kSubkeyList));
}

// File offset of the bin that holds the cell at `cell`.
uint64_t BinOf(const std::string& path, uint64_t cell) {
    uint64_t bin = regf::kBaseBlockSize;
    for (uint64_t size; bin + (size = Read32At(path, bin + regf::bin::kSize)) <= cell;)
        bin += size;
    return bin;
}

HiveKey* Walk(HiveKey* key, std::initializer_list<std::u16string_view> path) {
    for (const auto& name : path)
        key = key ? key->findSubkey(name) : nullptr;
    return key;
}

class HiveMount : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        path_ = file("SAMPLE");
        WriteFile(path_, SampleHive());
    }
    std::string file(const std::string& name) const {
        return dir_.path().toStdString() + "/" + name;
    }
    QTemporaryDir dir_;
    std::string path_;
};

} // namespace

TEST_F(HiveMount, KeysReadOnFirstUseAreTheKeysOfAWholeRead) {
    std::vector<std::string> files{path_};
    for (const char* name : {"SYSTEM", "NTUSER.DAT", "UsrClass.dat", "SAM", "SECURITY"})
        if (const auto shared = testing_support::SharedHive(name, dir_.path().toStdString()))
            files.push_back(*shared);
    for (const std::string& path : files) {
        SCOPED_TRACE(path);
        const LoadedHive whole = LoadHiveFile(path);
        const LoadedHive mounted = MountHiveFile(path);
        ASSERT_TRUE(mounted.root->source()) << "a sound file is read as it is used";
        EXPECT_EQ(mounted.minorVersion, whole.minorVersion);
        EXPECT_EQ(mounted.sequence, whole.sequence);
        EXPECT_EQ(mounted.fileNameField, whole.fileNameField);
        ExpectSameTree(*whole.root, *mounted.root);
        EXPECT_EQ(mounted.root->source()->damageCount(), 0u);
        // And written back, the same file as the whole tree gives.
        HiveWriteOptions options;
        options.timestamp = 1;
        EXPECT_EQ(WriteHive(*mounted.root, options), WriteHive(*whole.root, options));
    }
}

TEST_F(HiveMount, LookupsCompareStoredNamesAndReadNoSiblings) {
    struct Case {
        std::vector<std::u16string_view> path;
        const char16_t* found; // the stored name, null when absent
    };
    const std::vector<Case> cases = {
        {{u"alpha"}, u"Alpha"},
        {{u"ALPHA BETA"}, u"Alpha Beta"},
        {{u"Alph"}, nullptr},
        {{u"AlphaX"}, nullptr},
        {{u"CAF\u00c9"}, u"Caf\u00e9"},
        {{u"\u043a\u043b\u044e\u0447"}, u"\u041a\u043b\u044e\u0447"},
        {{u"wide", u"key0000"}, u"Key0000"},
        {{u"Wide", u"KEY0599"}, u"Key0599"},
        {{u"Wide", u"Key0311"}, u"Key0311"},
        {{u"Wide", u"Key0600"}, nullptr},
        {{u"Wide", u""}, nullptr},
        {{u"Deep", u"Level0", u"Level1", u"Level2", u"Level3", u"Level4", u"Level5", u"bottom"},
         u"Bottom"},
        {{u"Zulu"}, nullptr},
    };
    const LoadedHive whole = LoadHiveFile(path_);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.path.back()));
        const LoadedHive mounted = MountHiveFile(path_);
        HiveKey* key = mounted.root.get();
        HiveKey* expected = whole.root.get();
        for (const auto& name : c.path) {
            // Only the keys on the way are read, never their siblings.
            EXPECT_LE(key->loadedSubkeys().size(), 1u);
            key = key ? key->findSubkey(name) : nullptr;
            expected = expected ? expected->findSubkey(name) : nullptr;
            if (!key)
                break;
        }
        if (!c.found) {
            EXPECT_EQ(key, nullptr);
            EXPECT_EQ(expected, nullptr);
            continue;
        }
        ASSERT_TRUE(key);
        EXPECT_EQ(key->name, c.found);
        ExpectSameTree(*expected, *key);
        EXPECT_EQ(mounted.root->loadedSubkeys().size(), 1u);
        // A lookup's key is the one enumeration gives later: handles stay valid.
        HiveKey* first = mounted.root->findSubkey(c.path.front());
        const auto& listed = mounted.root->stableSubkeys();
        EXPECT_TRUE(std::any_of(listed.begin(), listed.end(),
                                [&](const auto& k) { return k.get() == first; }));
    }
}

TEST_F(HiveMount, ListOutOfOrderIsReadWholeForLookups) {
    const LoadedHive before = MountHiveFile(path_);
    // Swap the first two entries of the root's leaf list (lh: offset and hash).
    const uint64_t list = SubkeyListOf(path_, *before.root);
    Bytes file(64);
    {
        std::ifstream in(path_, std::ios::binary);
        in.seekg(std::streamoff(list + 4 + regf::kListEntries));
        in.read(reinterpret_cast<char*>(file.data()), 16);
    }
    Bytes swapped(file.begin() + 8, file.begin() + 16);
    swapped.insert(swapped.end(), file.begin(), file.begin() + 8);
    Overwrite(path_, list + 4 + regf::kListEntries, swapped);

    const LoadedHive whole = LoadHiveFile(path_);
    const LoadedHive mounted = MountHiveFile(path_);
    for (const char16_t* name : {u"Alpha", u"Alpha Beta", u"Wide", u"Deep", u"CAF\u00c9"})
        EXPECT_TRUE(mounted.root->findSubkey(name)) << testing::PrintToString(std::u16string(name));
    EXPECT_FALSE(mounted.root->findSubkey(u"Absent"));
    ExpectSameTree(*whole.root, *mounted.root);
}

TEST_F(HiveMount, FileThatIsNotSoundIsReadWholeAsBefore) {
    struct Case {
        const char* name;
        std::function<void(const std::string& path, const LoadedHive& sound)> damage;
    };
    const std::vector<Case> cases = {
        {"a deep list that is not a list",
         [](const std::string& path, const LoadedHive& sound) {
             const HiveKey* level = Walk(sound.root.get(), {u"Deep", u"Level0", u"Level1"});
             Overwrite(path, SubkeyListOf(path, *level) + 4, Bytes{'x', 'x'});
         }},
        {"a header checksum that does not match",
         [](const std::string& path, const LoadedHive&) {
             Overwrite(path, 0x1FC, Bytes{1, 2});
         }},
        {"a bin header that is not one",
         [](const std::string& path, const LoadedHive&) { Overwrite(path, 4096, Bytes{'x'}); }},
        {"the file cut short",
         [](const std::string& path, const LoadedHive&) {
             std::filesystem::resize_file(path, std::filesystem::file_size(path) - 4096);
         }},
        {"a cell far into the file whose size breaks the chain of its bin",
         [](const std::string& path, const LoadedHive& sound) {
             const HiveKey* key = Walk(sound.root.get(), {u"Wide", u"Key0300"});
             ASSERT_GT(BinOf(path, CellOf(*key)), regf::kBaseBlockSize);
             Overwrite(path, CellOf(*key), Le32(0));
         }},
        {"a bin far into the file whose header is not one",
         [](const std::string& path, const LoadedHive& sound) {
             const HiveKey* key = Walk(sound.root.get(), {u"Wide", u"Key0300"});
             const uint64_t bin = BinOf(path, CellOf(*key));
             ASSERT_GT(bin, regf::kBaseBlockSize);
             Overwrite(path, bin, Bytes{'x'});
         }},
        {"a subkey listed twice",
         [](const std::string& path, const LoadedHive& sound) {
             // Wide's list is an index of leaves; the second entry of its first leaf
             // names the first entry's key again.
             const uint64_t index = SubkeyListOf(path, *sound.root->findSubkey(u"Wide")) + 4;
             const uint64_t leaf =
                 regf::kBaseBlockSize + uint64_t(Read32At(path, index + regf::kListEntries)) + 4;
             const uint64_t entries = leaf + regf::kListEntries;
             Overwrite(path, entries + 8, Le32(Read32At(path, entries)));
         }},
        {"a list that names a key above it",
         [](const std::string& path, const LoadedHive& sound) {
             const HiveKey* level0 = Walk(sound.root.get(), {u"Deep", u"Level0"});
             const HiveKey* level1 = Walk(sound.root.get(), {u"Deep", u"Level0", u"Level1"});
             Overwrite(path, SubkeyListOf(path, *level1) + 4 + regf::kListEntries,
                       Le32(level0->cell()));
         }},
        {"a key counting fewer subkeys than its list holds",
         [](const std::string& path, const LoadedHive& sound) {
             Overwrite(path, CellOf(*sound.root->findSubkey(u"Wide")) + 4 + regf::nk::kSubkeyCount,
                       Le32(kWideKeySubkeys - 1));
         }},
        {"a key counting more subkeys than the file could hold",
         [](const std::string& path, const LoadedHive& sound) {
             Overwrite(path, CellOf(*sound.root->findSubkey(u"Deep")) + 4 + regf::nk::kSubkeyCount,
                       Le32(0xFFFFFFFF));
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(path_, SampleHive());
        {
            const LoadedHive sound = MountHiveFile(path_);
            c.damage(path_, sound);
        }
        // Refused with the same message, or salvaged alike.
        for (const bool salvage : {false, true}) {
            SCOPED_TRACE(salvage ? "salvaging" : "strict");
            LoadedHive whole, mounted;
            std::string wholeError, mountError;
            try {
                whole = LoadHiveFile(path_, {.salvage = salvage});
            } catch (const HiveFileError& e) {
                wholeError = e.what();
            }
            try {
                mounted = MountHiveFile(path_, {.salvage = salvage});
            } catch (const HiveFileError& e) {
                mountError = e.what();
            }
            EXPECT_EQ(mountError, wholeError);
            if (!salvage) {
                EXPECT_FALSE(wholeError.empty());
            }
            if (!wholeError.empty() || !mountError.empty())
                continue;
            EXPECT_GT(mounted.damageCount, 0u);
            EXPECT_EQ(mounted.damage, whole.damage);
            ExpectSameTree(*whole.root, *mounted.root);
        }
    }
}

TEST_F(HiveMount, DamageFoundLateIsLeftOutNotedAndNeverWrittenBack) {
    for (const bool salvage : {false, true}) {
        SCOPED_TRACE(salvage ? "salvaging mount" : "plain mount");
        WriteFile(path_, SampleHive());
        const LoadedHive mounted = MountHiveFile(path_, {.salvage = salvage});
        ASSERT_TRUE(mounted.root->source());
        EXPECT_EQ(mounted.damageCount, 0u);
        // The file changes under the mount, deep in a part nobody has read yet.
        HiveKey* level = Walk(mounted.root.get(), {u"Deep", u"Level0", u"Level1", u"Level2"});
        ASSERT_TRUE(level);
        Overwrite(path_, SubkeyListOf(path_, *level) + 4, Bytes{'x', 'x'});

        EXPECT_EQ(level->findSubkey(u"Level3"), nullptr);
        EXPECT_EQ(level->subkeyCount(), 0u);
        const HiveSource& source = *mounted.root->source();
        ASSERT_EQ(source.damageCount(), 1u);
        const std::string note = source.damage().front();
        EXPECT_NE(note.find("is not a list of subkeys"), std::string::npos) << note;
        EXPECT_NE(note.find("Level2"), std::string::npos) << note;
        // The rest reads on.
        EXPECT_TRUE(Walk(mounted.root.get(), {u"Wide", u"Key0500"}));

        if (salvage) {
            const LoadedHive written = LoadHiveImage(WriteHive(*mounted.root, {}), "written");
            EXPECT_TRUE(Walk(written.root.get(), {u"Deep", u"Level0", u"Level1", u"Level2"}));
            EXPECT_FALSE(
                Walk(written.root.get(), {u"Deep", u"Level0", u"Level1", u"Level2", u"Level3"}));
            continue;
        }
        try {
            WriteHive(*mounted.root, {});
            ADD_FAILURE() << "a tree with a part left out was written";
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find(note), std::string::npos) << e.what();
        }
        // Saving a part of the tree that holds the damage is refused too.
        EXPECT_THROW(WriteHive(*mounted.root->findSubkey(u"Deep"), {}), std::runtime_error);
    }
}

TEST_F(HiveMount, FileReplacedByRenameLeavesTheMountReadingTheOldOne) {
    const LoadedHive whole = LoadHiveFile(path_);
    const LoadedHive mounted = MountHiveFile(path_);
    auto other = std::make_shared<HiveKey>();
    other->name = u"OTHER";
    AddKey(*other, u"Alpha");
    WriteFile(file("next"), WriteHive(*other, {}));
    std::filesystem::rename(file("next"), path_);
    ExpectSameTree(*whole.root, *mounted.root);
}

TEST_F(HiveMount, TheTreeKeepsWhatItReadsFrom) {
    std::shared_ptr<HiveKey> root;
    {
        const LoadedHive mounted = MountHiveFile(path_);
        root = mounted.root;
    }
    std::filesystem::remove(path_);
    HiveKey* wide = root->findSubkey(u"Wide");
    ASSERT_TRUE(wide);
    EXPECT_EQ(wide->subkeyCount(), kWideKeySubkeys);
    EXPECT_EQ(wide->subkeyAt(kWideKeySubkeys - 1)->name, u"Key0599");
}

TEST_F(HiveMount, ChangesGoToTheKeysReadAndAreWrittenWithTheRest) {
    const LoadedHive mounted = MountHiveFile(path_);
    HiveKey* wide = mounted.root->findSubkey(u"Wide");
    ASSERT_TRUE(wide);
    AddKey(*wide, u"Key0300a");
    wide->removeSubkey(wide->findSubkey(u"Key0001"));
    mounted.root->findSubkey(u"Deep")->markDeleted();
    mounted.root->removeSubkey(mounted.root->findSubkey(u"Deep"));
    const LoadedHive written = LoadHiveImage(WriteHive(*mounted.root, {}), "written");
    ExpectSameTree(*mounted.root, *written.root);
    EXPECT_TRUE(Walk(written.root.get(), {u"Wide", u"Key0300a"}));
    EXPECT_FALSE(Walk(written.root.get(), {u"Wide", u"Key0001"}));
    EXPECT_FALSE(written.root->findSubkey(u"Deep"));
    EXPECT_EQ(written.root->findSubkey(u"Wide")->subkeyCount(), kWideKeySubkeys);
}

TEST_F(HiveMount, ReadersSharingATreeReadEachKeyOnce) {
    const LoadedHive whole = LoadHiveFile(path_);
    const LoadedHive mounted = MountHiveFile(path_);
    // Some look keys up, some walk the lists: each key is read once, for all of them.
    std::vector<std::thread> readers;
    std::vector<std::vector<const HiveKey*>> seen(4);
    for (size_t r = 0; r < seen.size(); ++r)
        readers.emplace_back([&, r] {
            HiveKey* wide = mounted.root->findSubkey(u"Wide");
            for (size_t i = 0; i < kWideKeySubkeys; i += 7) {
                const HiveKey* key =
                    r % 2 ? wide->findSubkey(Numbered(u"KEY", i)) : wide->subkeyAt(i);
                seen[r].push_back(key);
            }
        });
    for (auto& reader : readers)
        reader.join();
    for (size_t r = 1; r < seen.size(); ++r)
        EXPECT_EQ(seen[r], seen[0]);
    ExpectSameTree(*whole.root, *mounted.root);
}

namespace {

// A field of a key's cell in a mounted file.
uint32_t KeyField(const std::string& path, const HiveKey& key, uint32_t field) {
    return Read32At(path, regf::kBaseBlockSize + key.cell() + 4 + field);
}

uint64_t KeyFieldAt(const HiveKey& key, uint32_t field) {
    return regf::kBaseBlockSize + uint64_t(key.cell()) + 4 + field;
}

} // namespace

TEST_F(HiveMount, ValuesClassAndDescriptorAreReadWhenFirstAskedFor) {
    const LoadedHive whole = LoadHiveFile(path_);
    const LoadedHive mounted = MountHiveFile(path_);
    HiveKey* bottom = Walk(mounted.root.get(), {u"Deep", u"Level0", u"Level1", u"Level2", u"Level3",
                                                u"Level4", u"Level5", u"Bottom"});
    ASSERT_TRUE(bottom);
    // Another program writes the value's data in place after the key was built: the
    // value read is the one the file holds when it is first asked for.
    const uint32_t list = KeyField(path_, *bottom, regf::nk::kValueList);
    uint8_t raw[4] = {};
    {
        std::ifstream in(path_, std::ios::binary);
        in.seekg(std::streamoff(regf::kBaseBlockSize + list + 4));
        in.read(reinterpret_cast<char*>(raw), 4);
    }
    const uint64_t vk = regf::kBaseBlockSize + regf::Read32(raw) + 4;
    Overwrite(path_, vk + regf::vk::kData, Bytes{'w'});
    ASSERT_EQ(bottom->values().size(), 1u);
    EXPECT_EQ(bottom->values()[0].data, (Bytes{'w', 0}));
    // Read once: later changes of the file are not seen.
    Overwrite(path_, vk + regf::vk::kData, Bytes{'z'});
    EXPECT_EQ(bottom->values()[0].data, (Bytes{'w', 0}));
    EXPECT_EQ(mounted.root->source()->damageCount(), 0u);

    // What was not changed reads as a whole read gives it.
    const HiveKey* klyuch = mounted.root->findSubkey(u"\u041a\u043b\u044e\u0447");
    ASSERT_TRUE(klyuch);
    EXPECT_EQ(klyuch->className(), (Bytes{'c', 0, 'l', 0}));
    ASSERT_TRUE(klyuch->security());
    EXPECT_EQ(*klyuch->security(), *whole.root->security());
    ExpectSameTree(*whole.root->findSubkey(u"Wide"), *mounted.root->findSubkey(u"Wide"));
}

TEST_F(HiveMount, DamageFoundWhenAKeysOwnPartsAreFirstReadIsNotedAndNeverWrittenBack) {
    struct Case {
        const char* name;
        const char16_t* key;
        // Damages the file under the mount, for the key read already.
        std::function<void(const std::string& path, const HiveKey& key)> damage;
        std::function<bool(const HiveKey& key)> lost; // reads the part, true when left out
        const char* note;
    };
    const auto valuesLost = [](const HiveKey& key) { return key.values().empty(); };
    const std::vector<Case> cases = {
        {"a value list outside the file", u"Alpha",
         [](const std::string& path, const HiveKey& key) {
             Overwrite(path, KeyFieldAt(key, regf::nk::kValueList), Le32(0x7FFFFFF0));
         },
         valuesLost, "values are left out"},
        {"a value list that is not the start of a cell", u"Alpha",
         [](const std::string& path, const HiveKey& key) {
             const uint32_t list = KeyField(path, key, regf::nk::kValueList);
             Overwrite(path, KeyFieldAt(key, regf::nk::kValueList), Le32(list + 4));
         },
         valuesLost, "is not the start of a cell"},
        {"a value cell that is not one", u"Alpha",
         [](const std::string& path, const HiveKey& key) {
             const uint32_t list = KeyField(path, key, regf::nk::kValueList);
             std::ifstream in(path, std::ios::binary);
             in.seekg(std::streamoff(regf::kBaseBlockSize + list + 4));
             uint8_t raw[4] = {};
             in.read(reinterpret_cast<char*>(raw), 4);
             Overwrite(path, regf::kBaseBlockSize + regf::Read32(raw) + 4, Bytes{'x', 'x'});
         },
         valuesLost, "has no vk signature"},
        {"a value count beyond the list's cell", u"Alpha",
         [](const std::string& path, const HiveKey& key) {
             Overwrite(path, KeyFieldAt(key, regf::nk::kValueCount), Le32(100000));
         },
         valuesLost, "is too small for its contents"},
        {"a class name outside the file", u"\u041a\u043b\u044e\u0447",
         [](const std::string& path, const HiveKey& key) {
             Overwrite(path, KeyFieldAt(key, regf::nk::kClass), Le32(0x7FFFFFF0));
         },
         [](const HiveKey& key) { return !key.className(); }, "without its class name"},
        {"a descriptor that is not one", u"Alpha",
         [](const std::string& path, const HiveKey& key) {
             // The key's own cell: a cell, but no descriptor.
             Overwrite(path, KeyFieldAt(key, regf::nk::kSecurity), Le32(key.cell()));
         },
         [](const HiveKey& key) { return !key.security(); }, "has no sk signature"},
    };
    for (const Case& c : cases)
        for (const bool salvage : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (salvage ? ", salvaging mount" : ", plain mount"));
            WriteFile(path_, SampleHive());
            const LoadedHive mounted = MountHiveFile(path_, {.salvage = salvage});
            ASSERT_TRUE(mounted.root->source());
            HiveKey* key = mounted.root->findSubkey(c.key);
            ASSERT_TRUE(key);
            c.damage(path_, *key);
            const HiveSource& source = *mounted.root->source();
            EXPECT_EQ(source.damageCount(), 0u) << "nothing of the key's own was read yet";

            EXPECT_TRUE(c.lost(*key));
            ASSERT_EQ(source.damageCount(), 1u);
            const std::string note = source.damage().front();
            EXPECT_NE(note.find(c.note), std::string::npos) << note;
            if (std::u16string(c.key) == u"Alpha") {
                EXPECT_NE(note.find("Alpha"), std::string::npos) << note;
            }
            // Read once: asking again notes nothing more, and the rest reads on.
            EXPECT_TRUE(c.lost(*key));
            EXPECT_TRUE(Walk(mounted.root.get(), {u"Wide", u"Key0500"}));
            EXPECT_EQ(source.damageCount(), 1u);

            if (salvage) {
                const LoadedHive written = LoadHiveImage(WriteHive(*mounted.root, {}), "written");
                ASSERT_TRUE(written.root->findSubkey(c.key));
                EXPECT_TRUE(c.lost(*written.root->findSubkey(c.key)) ||
                            std::string(c.name).find("descriptor") != std::string::npos);
                continue;
            }
            try {
                WriteHive(*mounted.root, {});
                ADD_FAILURE() << "a tree with a part left out was written";
            } catch (const std::runtime_error& e) {
                EXPECT_NE(std::string(e.what()).find(note), std::string::npos) << e.what();
            }
        }
}

TEST_F(HiveMount, ReadersAskingForAKeysOwnPartsAtOnceReadThemOnce) {
    const LoadedHive whole = LoadHiveFile(path_);
    for (int round = 0; round < 8; ++round) {
        const LoadedHive mounted = MountHiveFile(path_);
        HiveKey* wide = mounted.root->findSubkey(u"Wide");
        ASSERT_TRUE(wide);
        const size_t count = wide->subkeyCount();
        std::vector<std::thread> readers;
        std::vector<std::vector<const void*>> seen(4);
        for (size_t r = 0; r < seen.size(); ++r)
            readers.emplace_back([&, r] {
                // Every third key, half of the readers from the far end.
                const size_t last = (count - 1) / 3;
                for (size_t n = 0; n <= last; ++n) {
                    const HiveKey* key = wide->subkeyAt(3 * (r % 2 ? n : last - n));
                    seen[r].push_back(&key->values());
                    seen[r].push_back(key->values().empty() ? nullptr
                                                            : key->values()[0].data.data());
                    seen[r].push_back(key->security().get());
                    seen[r].push_back(&key->className());
                }
            });
        for (auto& reader : readers)
            reader.join();
        for (auto& list : seen)
            std::sort(list.begin(), list.end());
        for (size_t r = 1; r < seen.size(); ++r)
            EXPECT_EQ(seen[r], seen[0]);
        EXPECT_EQ(mounted.root->source()->damageCount(), 0u);
        ExpectSameTree(*whole.root, *mounted.root);
    }
}

namespace {

// Walks `mounted` as a scan does, naming each subkey before opening it by that name, and
// compares every name, count and value with the whole read's.
void ExpectNamedWalkMatches(HiveKey& mounted, const HiveKey& whole, size_t& keys) {
    ++keys;
    ASSERT_EQ(mounted.subkeyCount(), whole.subkeyCount()) << Utf16ToUtf8(whole.name);
    EXPECT_EQ(mounted.values().size(), whole.values().size());
    std::u16string name;
    for (size_t i = 0; i < whole.subkeyCount(); ++i) {
        ASSERT_TRUE(mounted.subkeyNameAt(i, name));
        ASSERT_EQ(name, whole.subkeyAt(i)->name);
        HiveKey* child = mounted.findSubkey(name);
        ASSERT_TRUE(child);
        ASSERT_EQ(child->name, name);
        ExpectNamedWalkMatches(*child, *whole.subkeyAt(i), keys);
    }
    EXPECT_FALSE(mounted.subkeyNameAt(whole.subkeyCount(), name));
}

} // namespace

TEST_F(HiveMount, SubkeysAreNamedInOrderWithoutBeingBuilt) {
    const LoadedHive whole = LoadHiveFile(path_);
    const LoadedHive mounted = MountHiveFile(path_);
    HiveKey* wide = mounted.root->findSubkey(u"Wide");
    ASSERT_TRUE(wide);
    std::u16string name;
    uint64_t time = 0;
    // Named through the index of leaves, in the whole read's order, with its time.
    for (size_t i : {size_t(0), size_t(299), kWideKeySubkeys - 1}) {
        ASSERT_TRUE(wide->subkeyNameAt(i, name, &time));
        const HiveKey* expected = whole.root->findSubkey(u"Wide")->subkeyAt(i);
        EXPECT_EQ(name, expected->name);
        EXPECT_EQ(time, expected->lastWriteTime);
    }
    EXPECT_EQ(wide->subkeyCount(), kWideKeySubkeys);
    EXPECT_TRUE(wide->loadedSubkeys().empty()) << "naming builds no subkey";
    // The lookup of the name just given builds that subkey alone, the one the list holds.
    HiveKey* last = wide->findSubkey(u"KEY0599");
    ASSERT_TRUE(last);
    EXPECT_EQ(last->name, u"Key0599");
    EXPECT_EQ(wide->loadedSubkeys().size(), 1u);
    EXPECT_EQ(wide->findSubkey(u"Key0599"), last);
    EXPECT_EQ(wide->subkeyAt(kWideKeySubkeys - 1), last);

    std::vector<std::string> files{path_};
    for (const char* hiveName : {"SYSTEM", "NTUSER.DAT", "UsrClass.dat"})
        if (const auto shared = testing_support::SharedHive(hiveName, dir_.path().toStdString()))
            files.push_back(*shared);
    for (const std::string& path : files) {
        SCOPED_TRACE(path);
        const LoadedHive wholeFile = LoadHiveFile(path);
        const LoadedHive mountedFile = MountHiveFile(path);
        size_t keys = 0;
        ExpectNamedWalkMatches(*mountedFile.root, *wholeFile.root, keys);
        EXPECT_GT(keys, 1u);
    }
}

TEST_F(HiveMount, KeysNobodyHoldsAreLetGoOfAndReadAgainAsStored) {
    const LoadedHive whole = LoadHiveFile(path_);
    const LoadedHive mounted = MountHiveFile(path_);
    HiveKey* alpha = mounted.root->findSubkey(u"Alpha"); // read before: stays
    ASSERT_TRUE(alpha);
    ASSERT_EQ(alpha->values().size(), 1u);
    mounted.root->source()->keysReleasable = true;
    EXPECT_FALSE(alpha->releaseIfUnused());
    EXPECT_FALSE(mounted.root->releaseIfUnused());

    const std::initializer_list<std::u16string_view> toBottom = {
        u"Deep", u"Level0", u"Level1", u"Level2", u"Level3", u"Level4", u"Level5", u"Bottom"};
    HiveKey* bottom = Walk(mounted.root.get(), toBottom);
    ASSERT_TRUE(bottom);
    std::shared_ptr<HiveKey> held = bottom->shared_from_this();
    ASSERT_EQ(bottom->values().size(), 1u);
    HiveKey* deep = mounted.root->findSubkey(u"Deep");
    // A key below is held: nothing on its way goes.
    EXPECT_FALSE(deep->releaseIfUnused());
    EXPECT_FALSE(bottom->releaseIfUnused());
    EXPECT_EQ(Walk(mounted.root.get(), toBottom), bottom);
    EXPECT_EQ(bottom->values()[0].data, (Bytes{'b', 0}));

    // Let go of, the key goes with the keys its path read for it alone.
    held.reset();
    EXPECT_TRUE(bottom->releaseIfUnused());
    EXPECT_EQ(mounted.root->loadedSubkeys(), std::vector<HiveKey*>{alpha});
    HiveKey* again = Walk(mounted.root.get(), toBottom);
    ASSERT_TRUE(again);
    ExpectSameTree(*Walk(whole.root.get(), toBottom), *again);

    // A key in a list read whole stays in it, reading its own parts again.
    HiveKey* wide = mounted.root->findSubkey(u"Wide");
    ASSERT_EQ(wide->stableSubkeys().size(), kWideKeySubkeys);
    HiveKey* key = wide->subkeyAt(7);
    ASSERT_EQ(key->values().size(), 1u);
    EXPECT_TRUE(key->releaseIfUnused());
    EXPECT_EQ(wide->subkeyAt(7), key);
    ExpectSameTree(*whole.root->findSubkey(u"Wide")->subkeyAt(7), *key);
    EXPECT_TRUE(wide->releaseIfUnused());
    HiveWriteOptions options;
    options.timestamp = 1;
    EXPECT_EQ(WriteHive(*mounted.root, options), WriteHive(*whole.root, options));
    EXPECT_EQ(mounted.root->source()->damageCount(), 0u);
}

TEST_F(HiveMount, ValuesReadAgainAfterTheirKeyIsLetGoOfCountOnce) {
    // The value data read is counted against the file's size (cells shared between values
    // could blow a small file up): a key let go of gives its share back, and reading it
    // again, many times over the file's size in all, finds no damage.
    const LoadedHive mounted = MountHiveFile(path_);
    mounted.root->source()->keysReleasable = true;
    const auto fileSize = std::filesystem::file_size(path_);
    for (uint64_t read = 0; read < 4 * fileSize; read += 40000) {
        HiveKey* alpha = mounted.root->findSubkey(u"Alpha");
        ASSERT_TRUE(alpha);
        ASSERT_EQ(alpha->values().size(), 1u);
        EXPECT_EQ(alpha->values()[0].data, Bytes(40000, 0x5A));
        ASSERT_TRUE(alpha->releaseIfUnused());
    }
    EXPECT_EQ(mounted.root->source()->damageCount(), 0u);
    EXPECT_TRUE(mounted.root->source()->damage().empty());
}
