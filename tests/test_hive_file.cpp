// The hive reader and writer: trees survive a write and a load unchanged, even beyond
// what libhivex reads, the files satisfy libhivex, hivexregedit and regfinfo, real hives
// copy exactly, and hostile files are refused with a message instead of a crash.

#include "hive/HiveFile.h"
#include "support/FileBytes.h"
#include "support/HiveCompare.h"

#include <gtest/gtest.h>
#include <hivex.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>

namespace {

using testing_support::WriteFile;

using namespace hive;
using testing_support::ExpectSameTree;
namespace fs = std::filesystem;

constexpr uint32_t REG_NONE = 0, REG_SZ = 1, REG_EXPAND_SZ = 2, REG_BINARY = 3, REG_DWORD = 4,
                   REG_DWORD_BIG_ENDIAN = 5, REG_LINK = 6, REG_MULTI_SZ = 7, REG_RESOURCE_LIST = 8,
                   REG_QWORD = 11;

// ---- little helpers -------------------------------------------------------------

uint16_t Get16(const Bytes& b, size_t at) {
    return uint16_t(b.at(at) | b.at(at + 1) << 8);
}
uint32_t Get32(const Bytes& b, size_t at) {
    return Get16(b, at) | uint32_t(Get16(b, at + 2)) << 16;
}
void Put32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b.at(at + size_t(i)) = uint8_t(v >> (8 * i));
}

// Patches a base block field and keeps the checksum right, so deeper checks are reached.
void PutHeader(Bytes& b, size_t at, uint32_t v) {
    Put32(b, at, v);
    uint32_t sum = 0;
    for (size_t i = 0; i < 0x1FC; i += 4)
        sum ^= Get32(b, i);
    Put32(b, 0x1FC, sum == 0 ? 1 : sum == 0xFFFFFFFF ? 0xFFFFFFFE : sum);
}

Bytes Utf16Bytes(std::u16string_view text) {
    Bytes out;
    for (const char16_t c : text) {
        out.push_back(uint8_t(c));
        out.push_back(uint8_t(c >> 8));
    }
    return out;
}

Bytes Pattern(size_t size, uint8_t seed) {
    Bytes out(size);
    for (size_t i = 0; i < size; ++i)
        out[i] = uint8_t(seed + i * 7 + (i >> 8));
    return out;
}

std::shared_ptr<const Bytes> Descriptor(uint8_t marker) {
    Bytes sd = *DefaultKeySecurity();
    sd.push_back(marker); // distinct bytes are enough: the writer does not parse them
    return std::make_shared<const Bytes>(std::move(sd));
}

std::shared_ptr<HiveKey> MakeRoot(std::u16string name) {
    auto root = std::make_shared<HiveKey>();
    root->name = std::move(name);
    return root;
}

HiveKey* AddKey(HiveKey& parent, std::u16string name, uint64_t time = 0) {
    auto key = std::make_shared<HiveKey>();
    key->name = std::move(name);
    key->lastWriteTime = time;
    return parent.insertSubkey(std::move(key));
}

void AddValue(HiveKey& key, std::u16string name, uint32_t type, Bytes data) {
    key.values().push_back({std::move(name), type, std::move(data)});
}

class TempDir {
public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "hw_hive_file_XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Quote(const std::string& text) {
    return "'" + text + "'";
}

struct ToolResult {
    int exitCode = -1;
    std::string output;
};

ToolResult RunTool(const std::string& command) {
    ToolResult result;
    FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
    if (!pipe)
        return result;
    std::array<char, 65536> buffer;
    size_t got;
    while ((got = fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        result.output.append(buffer.data(), got);
    const int status = pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

ToolResult ExportWithHivexregedit(const std::string& path) {
    return RunTool("hivexregedit --export " + Quote(path) + " '\\'");
}

// ---- an independent look at the written bytes ----------------------------------

struct Cell {
    uint32_t offset; // relative to the first hbin
    int32_t size;
    size_t data; // file offset of the data
};

// Walks every bin and cell and checks the framing the format requires.
::testing::AssertionResult ParseCells(const Bytes& file, std::vector<Cell>& cells) {
    if (file.size() < 4096 || std::string(file.begin(), file.begin() + 4) != "regf")
        return ::testing::AssertionFailure() << "no base block";
    uint32_t sum = 0;
    for (size_t at = 0; at < 0x1FC; at += 4)
        sum ^= Get32(file, at);
    if (Get32(file, 0x1FC) != sum)
        return ::testing::AssertionFailure() << "bad checksum";
    const uint32_t binsSize = Get32(file, 0x28);
    if (file.size() != 4096 + size_t(binsSize))
        return ::testing::AssertionFailure() << "file size does not match the header";
    for (uint32_t bin = 0; bin < binsSize;) {
        const size_t at = 4096 + size_t(bin);
        if (std::string(file.begin() + long(at), file.begin() + long(at) + 4) != "hbin" ||
            Get32(file, at + 4) != bin)
            return ::testing::AssertionFailure() << "bad hbin header at " << bin;
        const uint32_t size = Get32(file, at + 8);
        if (size == 0 || size % 4096 != 0 || bin + size > binsSize)
            return ::testing::AssertionFailure() << "bad hbin size at " << bin;
        for (uint32_t cell = bin + 32; cell < bin + size;) {
            const int32_t cellSize = int32_t(Get32(file, 4096 + size_t(cell)));
            const uint32_t length = uint32_t(cellSize < 0 ? -cellSize : cellSize);
            if (length < 8 || length % 8 != 0 || cell + length > bin + size)
                return ::testing::AssertionFailure() << "bad cell at " << cell;
            cells.push_back({cell, cellSize, 4096 + size_t(cell) + 4});
            cell += length;
        }
        bin += size;
    }
    return ::testing::AssertionSuccess();
}

// libhivex's own view of a file, for lookups by name.
struct HivexFile {
    explicit HivexFile(const std::string& path) : h(hivex_open(path.c_str(), 0)) {}
    ~HivexFile() {
        if (h)
            hivex_close(h);
    }
    hive_h* h;
};

// ---- a tree that exercises every feature ---------------------------------------

struct SampleTree {
    std::shared_ptr<HiveKey> root = MakeRoot(u"SampleRoot");
    std::shared_ptr<const Bytes> securityA = Descriptor(1);
    std::shared_ptr<const Bytes> securityB = Descriptor(2);

    SampleTree() {
        root->lastWriteTime = 0x01D0000000000001;
        root->setSecurity(securityA);
        root->setClassName(Utf16Bytes(u"RootClass"));

        HiveKey* types = AddKey(*root, u"Types", 0x01D0000000000002);
        types->setSecurity(securityA);
        AddValue(*types, u"", REG_SZ, Utf16Bytes(std::u16string(u"default\0", 8)));
        AddValue(*types, u"None", REG_NONE, {});
        AddValue(*types, u"EmptyString", REG_SZ, {});
        AddValue(*types, u"One", REG_BINARY, {0xA1});
        AddValue(*types, u"Two", REG_BINARY, {0xA1, 0xA2});
        AddValue(*types, u"Three", REG_BINARY, {0xA1, 0xA2, 0xA3});
        AddValue(*types, u"Dword", REG_DWORD, {0x78, 0x56, 0x34, 0x12});
        AddValue(*types, u"Five", REG_BINARY, {1, 2, 3, 4, 5});
        AddValue(*types, u"BigEndian", REG_DWORD_BIG_ENDIAN, {0x12, 0x34, 0x56, 0x78});
        AddValue(*types, u"Qword", REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8});
        AddValue(*types, u"Expand", REG_EXPAND_SZ,
                 Utf16Bytes(std::u16string(u"%SystemRoot%\\x.exe\0", 19)));
        AddValue(*types, u"Link", REG_LINK, Utf16Bytes(u"\\Registry\\Machine\\X"));
        AddValue(*types, u"Multi", REG_MULTI_SZ, Utf16Bytes(std::u16string(u"a\0bc\0\0", 6)));
        AddValue(*types, u"Resources", REG_RESOURCE_LIST, Pattern(40, 3));
        AddValue(*types, u"OddType", 0x80001234, Pattern(9, 4));
        AddValue(*types, u"Caf\u00e9", REG_SZ, Utf16Bytes(u"latin-1 name"));
        AddValue(*types, u"\u0417\u043d\u0430\u0447", REG_SZ, Utf16Bytes(u"cyrillic name"));
        AddValue(*types, u"Segment", REG_BINARY, Pattern(16344, 5));
        AddValue(*types, u"JustBig", REG_BINARY, Pattern(16345, 6));
        AddValue(*types, u"Big", REG_BINARY, Pattern(3 * 16344 + 100, 7));
        AddValue(*types, u"BigExact", REG_BINARY, Pattern(2 * 16344, 8));
        AddValue(*types, u"BigFull", REG_BINARY,
                 Pattern(16344 + 5084, 9)); // last segment + size = 8k

        HiveKey* names = AddKey(*root, u"Names", 0x01D0000000000003);
        names->setSecurity(securityB);
        AddKey(*names, u"Caf\u00e9", 11)->setClassName(Utf16Bytes(u"Klasse"));
        AddKey(*names, u"\u041a\u043b\u044e\u0447", 12)->setSecurity(securityA);
        AddKey(*names, u"\u65e5\u672c", 13);
        AddKey(*names, u"Plain", 14)->setClassName(Bytes{});

        HiveKey* deep = root.get();
        for (int i = 0; i < 20; ++i)
            deep = AddKey(*deep, u"Level" + std::u16string(1, char16_t(u'A' + i)), 100 + i);
        AddValue(*deep, u"Bottom", REG_DWORD, {1, 0, 0, 0});
    }

    // What the loader must give back: keys without a descriptor carry the parent's.
    void fillInheritedSecurity() {
        std::vector<HiveKey*> pending{root.get()};
        while (!pending.empty()) {
            HiveKey* key = pending.back();
            pending.pop_back();
            for (const auto& child : key->stableSubkeys()) {
                if (!child->security())
                    child->setSecurity(key->security());
                pending.push_back(child.get());
            }
        }
    }
};

struct LoadedCopy {
    LoadedHive hive;
    Bytes bytes;
};

LoadedCopy WriteAndLoad(const TempDir& dir, const HiveKey& root, const HiveWriteOptions& options,
                        const std::string& name = "hive") {
    LoadedCopy copy;
    copy.bytes = WriteHive(root, options);
    WriteFile(dir.file(name), copy.bytes);
    copy.hive = LoadHiveFile(dir.file(name));
    return copy;
}

// ---- round trips -----------------------------------------------------------------

class HiveRoundTrip : public ::testing::TestWithParam<uint32_t> {
protected:
    TempDir dir;
};

TEST_P(HiveRoundTrip, TreeComesBackUnchanged) {
    SampleTree sample;
    HiveWriteOptions options;
    options.minorVersion = GetParam();
    options.fileNameField = u"\\SystemRoot\\Config\\SAMPLE";
    const LoadedCopy copy = WriteAndLoad(dir, *sample.root, options);

    // Windows keeps no cell for an empty class name; it reads back as none.
    sample.root->findSubkey(u"Names")->findSubkey(u"Plain")->setClassName(std::nullopt);
    ExpectSameTree(*sample.root, *copy.hive.root);
    EXPECT_EQ(copy.hive.minorVersion, GetParam());
    EXPECT_EQ(copy.hive.fileNameField, options.fileNameField);
    EXPECT_EQ(copy.hive.root->hive, nullptr);
    EXPECT_EQ(copy.hive.root->parent, nullptr);
}

TEST_P(HiveRoundTrip, FileIsDenseAndWellFormed) {
    SampleTree sample;
    HiveWriteOptions options;
    options.minorVersion = GetParam();
    const Bytes bytes = WriteHive(*sample.root, options);
    std::vector<Cell> cells;
    ASSERT_TRUE(ParseCells(bytes, cells));

    std::map<std::string, int> signatures;
    size_t freeCells = 0;
    for (const Cell& cell : cells) {
        if (cell.size > 0) {
            ++freeCells;
            continue;
        }
        signatures[std::string(bytes.begin() + long(cell.data),
                               bytes.begin() + long(cell.data) + 2)]++;
    }
    size_t keys = 0;
    std::vector<const HiveKey*> pending{sample.root.get()};
    while (!pending.empty()) {
        const HiveKey* key = pending.back();
        pending.pop_back();
        ++keys;
        for (const auto& child : key->stableSubkeys())
            pending.push_back(child.get());
    }
    EXPECT_EQ(signatures["nk"], int(keys));
    EXPECT_EQ(signatures["sk"], 2); // A and B, however many keys use them
    EXPECT_EQ(signatures["db"], GetParam() >= 5 ? 4 : 0);
    EXPECT_GT(signatures[GetParam() >= 5 ? "lh" : "lf"], 0);
    EXPECT_EQ(signatures[GetParam() >= 5 ? "lf" : "lh"], 0);
    EXPECT_LE(freeCells, bytes.size() / 4096); // at most each bin's tail
    EXPECT_EQ(Get32(bytes, 0x04), Get32(bytes, 0x08));
    EXPECT_EQ(Get32(bytes, 0x14), 1u);
    EXPECT_EQ(Get32(bytes, 0x18), GetParam());
}

TEST(HiveWriter, SmallCellsPackTightly) {
    // Keys of assorted sizes: first fit into the open bins leaves little unused.
    auto root = MakeRoot(u"R");
    for (int i = 0; i < 300; ++i) {
        HiveKey* key = AddKey(*root, u"Key" + std::u16string(size_t(1 + i % 40), u'x') +
                                         std::u16string(1, char16_t(u'A' + i % 26)) +
                                         std::u16string(1, char16_t(u'a' + i / 26)));
        for (int v = 0; v < i % 7; ++v)
            AddValue(*key, std::u16string(size_t(1 + v * 3), u'v'), REG_BINARY,
                     Pattern(size_t(i * 13 % 300), uint8_t(v)));
    }
    const Bytes bytes = WriteHive(*root, {});
    std::vector<Cell> cells;
    ASSERT_TRUE(ParseCells(bytes, cells));
    size_t freeBytes = 0;
    for (const Cell& cell : cells)
        if (cell.size > 0)
            freeBytes += size_t(cell.size);
    EXPECT_LT(freeBytes, bytes.size() / 50);
}

INSTANTIATE_TEST_SUITE_P(MinorVersions, HiveRoundTrip, ::testing::Values(3u, 5u),
                         [](const auto& info) { return "Minor" + std::to_string(info.param); });

TEST(HiveWriter, SecurityCellsAreSharedCountedAndLinked) {
    TempDir dir;
    SampleTree sample;
    const Bytes bytes = WriteHive(*sample.root, {});
    std::vector<Cell> cells;
    ASSERT_TRUE(ParseCells(bytes, cells));

    // Keys per descriptor, following inheritance for keys without one.
    sample.fillInheritedSecurity();
    std::map<Bytes, uint32_t> users;
    std::vector<const HiveKey*> pending{sample.root.get()};
    while (!pending.empty()) {
        const HiveKey* key = pending.back();
        pending.pop_back();
        ++users[*key->security()];
        for (const auto& child : key->stableSubkeys())
            pending.push_back(child.get());
    }

    std::map<uint32_t, size_t> sk; // offset -> file offset of data
    for (const Cell& cell : cells)
        if (cell.size < 0 && bytes[cell.data] == 's' && bytes[cell.data + 1] == 'k')
            sk[cell.offset] = cell.data;
    ASSERT_EQ(sk.size(), users.size());
    std::set<uint32_t> reached;
    uint32_t at = sk.begin()->first;
    for (size_t i = 0; i < sk.size(); ++i) {
        const size_t data = sk.at(at);
        const uint32_t next = Get32(bytes, data + 4);
        ASSERT_TRUE(sk.count(next));
        EXPECT_EQ(Get32(bytes, sk.at(next) + 8), at) << "blink of the next sk";
        const Bytes descriptor(bytes.begin() + long(data) + 0x14,
                               bytes.begin() + long(data) + 0x14 + Get32(bytes, data + 0x10));
        EXPECT_EQ(Get32(bytes, data + 0x0C), users[descriptor]);
        reached.insert(at);
        at = next;
    }
    EXPECT_EQ(reached.size(), sk.size());
    EXPECT_EQ(at, sk.begin()->first);

    // The loader shares one descriptor object per sk cell.
    WriteFile(dir.file("hive"), bytes);
    const LoadedHive loaded = LoadHiveFile(dir.file("hive"));
    const HiveKey* names = loaded.root->findSubkey(u"Names");
    ASSERT_NE(names, nullptr);
    EXPECT_EQ(names->findSubkey(u"Caf\u00e9")->security().get(), names->security().get());
    EXPECT_EQ(names->findSubkey(u"\u041a\u043b\u044e\u0447")->security().get(),
              loaded.root->security().get());
}

TEST(HiveWriter, RootWithoutDescriptorGetsTheDefaultOne) {
    TempDir dir;
    auto root = MakeRoot(u"R");
    AddKey(*root, u"Child");
    const LoadedCopy copy = WriteAndLoad(dir, *root, {});
    ASSERT_TRUE(copy.hive.root->security());
    EXPECT_EQ(*copy.hive.root->security(), *DefaultKeySecurity());
    EXPECT_EQ(copy.hive.root->findSubkey(u"Child")->security().get(),
              copy.hive.root->security().get());
}

TEST(HiveWriter, FlagsNamesAndOptions) {
    TempDir dir;
    auto root = MakeRoot(u"Mounted");
    root->flags = 0x0010;
    HiveKey* stale = AddKey(*root, u"Stale");
    stale->flags = HiveKey::kFlagHiveEntry | HiveKey::kFlagNoDelete | 0x0020;
    HiveKey* wide = AddKey(*root, u"\u0416");
    wide->flags = HiveKey::kFlagCompressedName;
    HiveKey* latin = AddKey(*root, u"\u00ff");

    HiveWriteOptions options;
    options.rootName = u"CMI-CreateHive{F10156BE}";
    options.fileNameField = u"\\Device\\HarddiskVolume1\\WINDOWS\\system32\\config\\software";
    options.timestamp = 0x01D5000012345678;
    const LoadedCopy copy = WriteAndLoad(dir, *root, options);
    const HiveKey& loaded = *copy.hive.root;

    EXPECT_EQ(loaded.name, u"CMI-CreateHive{F10156BE}");
    EXPECT_EQ(loaded.flags, 0x0010 | 0x0004 | 0x0008 | 0x0020);
    EXPECT_EQ(loaded.findSubkey(u"Stale")->flags, 0x0008 | 0x0020);
    EXPECT_EQ(loaded.findSubkey(u"\u0416")->flags, 0);
    EXPECT_EQ(loaded.findSubkey(u"\u00ff")->flags, 0x0020);
    EXPECT_EQ(loaded.findSubkey(u"\u00ff")->name, latin->name);
    // The field keeps the last 32 characters.
    EXPECT_EQ(copy.hive.fileNameField,
              options.fileNameField.substr(options.fileNameField.size() - 32));
    EXPECT_EQ(Get32(copy.bytes, 0x0C) | uint64_t(Get32(copy.bytes, 0x10)) << 32, options.timestamp);
}

// Offset of the record with signature `sig` whose name field (at `nameAt`) starts with `name`.
size_t FindNamedRecord(const Bytes& file, const char* sig, size_t nameAt, std::string_view name) {
    for (size_t at = 0x1000; at + nameAt + name.size() <= file.size(); ++at)
        if (file[at] == uint8_t(sig[0]) && file[at + 1] == uint8_t(sig[1]) &&
            std::equal(name.begin(), name.end(), file.begin() + long(at + nameAt)))
            return at;
    return 0;
}

TEST(HiveWriter, NamesAreWrittenBackExactlyAsStored) {
    TempDir dir;
    auto root = MakeRoot(u"Root");
    HiveKey* key = AddKey(*root, u"K12");
    AddValue(*key, u"xyz", REG_DWORD, {1, 0, 0, 0});
    AddValue(*key, std::u16string(u"p\0q\0", 4), REG_DWORD, {2, 0, 0, 0});
    Bytes file = WriteHive(*root, {});

    // Clear the "compressed" flag of names whose bytes then read as UTF-16: an odd
    // length leaves a byte after the last unit; "p\0q\0" becomes the wide "pq".
    struct Patch {
        const char* sig;
        size_t flags, length, name;
        uint16_t compressed;
        std::string bytes;
    };
    const Patch patches[] = {
        {"nk", 0x02, 0x48, 0x4C, HiveKey::kFlagCompressedName, "K12"},
        {"vk", 0x10, 0x02, 0x14, 0x0001, "xyz"},
        {"vk", 0x10, 0x02, 0x14, 0x0001, std::string("p\0q\0", 4)},
    };
    std::vector<size_t> at;
    for (const Patch& p : patches) {
        at.push_back(FindNamedRecord(file, p.sig, p.name, p.bytes));
        ASSERT_NE(at.back(), 0u) << p.bytes;
        const uint16_t flags = Get16(file, at.back() + p.flags) & ~p.compressed;
        file[at.back() + p.flags] = uint8_t(flags);
        file[at.back() + p.flags + 1] = uint8_t(flags >> 8);
    }
    WriteFile(dir.file("patched"), file);
    const LoadedHive patched = LoadHiveFile(dir.file("patched"));
    const HiveKey* loadedKey = patched.root->findSubkey(std::u16string(1, u'\u314b'));
    ASSERT_NE(loadedKey, nullptr);
    ASSERT_EQ(loadedKey->values().size(), 2u);
    EXPECT_EQ(loadedKey->values()[0].name, std::u16string(1, u'\u7978'));
    EXPECT_EQ(loadedKey->values()[1].name, u"pq");

    const Bytes rewritten = WriteHive(*patched.root, {});
    for (size_t i = 0; i < std::size(patches); ++i) {
        const Patch& p = patches[i];
        const size_t again = FindNamedRecord(rewritten, p.sig, p.name, p.bytes);
        ASSERT_NE(again, 0u) << p.bytes;
        EXPECT_EQ(Get16(rewritten, again + p.length), Get16(file, at[i] + p.length)) << p.bytes;
        EXPECT_EQ(Get16(rewritten, again + p.flags) & p.compressed, 0) << p.bytes;
    }
    // A name the program gives is stored the usual way.
    HiveKey* copy = patched.root->findSubkey(std::u16string(1, u'\u314b'));
    AddValue(*copy, u"new", REG_DWORD, {3, 0, 0, 0});
    const Bytes withNew = WriteHive(*patched.root, {});
    const size_t added = FindNamedRecord(withNew, "vk", 0x14, "new");
    ASSERT_NE(added, 0u);
    EXPECT_EQ(Get16(withNew, added + 0x10) & 0x0001, 0x0001);
}

TEST(HiveWriter, LeavesOutVolatileAndDeletedKeys) {
    TempDir dir;
    auto root = MakeRoot(u"R");
    AddKey(*root, u"Kept");
    auto gone = std::make_shared<HiveKey>();
    gone->name = u"Volatile";
    gone->isVolatile = true;
    root->insertSubkey(gone);
    HiveKey* deleted = AddKey(*root, u"Deleted");
    AddKey(*deleted, u"Below");
    deleted->markDeleted();

    const LoadedCopy copy = WriteAndLoad(dir, *root, {});
    ASSERT_EQ(copy.hive.root->subkeyCount(), 1u);
    EXPECT_EQ(copy.hive.root->subkeyAt(0)->name, u"Kept");
}

TEST(HiveWriter, LargestNameClassAndDataFields) {
    auto root = MakeRoot(u"R");
    AddKey(*root, u"Short");
    AddKey(*root, u"\u0416\u0416\u0416\u0416\u0416\u0416")->setClassName(Bytes(14, 'c'));
    AddValue(*root, u"abc", REG_BINARY, Pattern(300, 1));
    AddValue(*root, u"\u0416", REG_BINARY, {});
    const Bytes bytes = WriteHive(*root, {});
    const size_t nk = 4096 + Get32(bytes, 0x24) + 4;
    EXPECT_EQ(Get32(bytes, nk + 0x34), 12u); // bytes as UTF-16
    EXPECT_EQ(Get32(bytes, nk + 0x38), 14u);
    EXPECT_EQ(Get32(bytes, nk + 0x3C), 6u);
    EXPECT_EQ(Get32(bytes, nk + 0x40), 300u);
}

// ---- what other readers make of the files ----------------------------------------

TEST(HiveWriter, HivexregeditExportsTheTree) {
    TempDir dir;
    SampleTree sample;
    const std::string path = dir.file("hive");
    WriteFile(path, WriteHive(*sample.root, {}));

    const ToolResult result = ExportWithHivexregedit(path);
    ASSERT_EQ(result.exitCode, 0);
    const std::string& text = result.output;
    EXPECT_NE(text.find("[\\Types]"), std::string::npos);
    // hivexregedit prints Latin-1 names in Latin-1, others in UTF-8.
    EXPECT_NE(text.find("[\\Names\\Caf\xe9]"), std::string::npos);
    EXPECT_NE(text.find("[\\Names\\\xd0\x9a\xd0\xbb\xd1\x8e\xd1\x87]"), std::string::npos);
    EXPECT_NE(text.find("\"Dword\"=dword:12345678"), std::string::npos);
    EXPECT_NE(text.find("\"Two\"=hex(3):a1,a2"), std::string::npos);
    EXPECT_NE(text.find("\"None\"=hex(0):"), std::string::npos);
    EXPECT_NE(text.find("\"Multi\"=hex(7):61,00,00,00,62,00,63,00,00,00,00,00"), std::string::npos);
    EXPECT_NE(text.find("\\LevelA\\LevelB\\LevelC"), std::string::npos);
    EXPECT_NE(text.find("\"Bottom\"=dword:00000001"), std::string::npos);
}

TEST(HiveWriter, RegfinfoAcceptsTheFile) {
    TempDir dir;
    SampleTree sample;
    for (const uint32_t minor : {3u, 5u}) {
        HiveWriteOptions options;
        options.minorVersion = minor;
        const std::string path = dir.file("hive" + std::to_string(minor));
        WriteFile(path, WriteHive(*sample.root, options));
        const ToolResult result = RunTool("regfinfo " + Quote(path));
        EXPECT_EQ(result.exitCode, 0) << "minor " << minor;
        EXPECT_NE(result.output.find("Version:\t1." + std::to_string(minor)), std::string::npos);
        EXPECT_NE(result.output.find("LevelT"), std::string::npos);
    }
}

TEST(HiveWriter, ManySubkeysUseIndexRootsAndStayFindable) {
    TempDir dir;
    auto root = MakeRoot(u"R");
    HiveKey* wide = AddKey(*root, u"Wide");
    HiveKey* mid = AddKey(*root, u"Mid");
    for (int i = 0; i < 5000; ++i) {
        std::u16string n = u"Sub";
        for (int div = 1000; div > 0; div /= 10)
            n += char16_t(u'0' + (i / div) % 10);
        AddKey(*wide, n, uint64_t(i));
        if (i < 1200)
            AddKey(*mid, u"m" + n);
    }
    for (const uint32_t minor : {3u, 5u}) {
        SCOPED_TRACE("minor " + std::to_string(minor));
        HiveWriteOptions options;
        options.minorVersion = minor;
        const LoadedCopy copy = WriteAndLoad(dir, *root, options, "wide" + std::to_string(minor));
        ExpectSameTree(*root, *copy.hive.root);

        HivexFile file(dir.file("wide" + std::to_string(minor)));
        ASSERT_NE(file.h, nullptr);
        const hive_node_h top = hivex_root(file.h);
        const hive_node_h wideNode = hivex_node_get_child(file.h, top, "wide");
        const hive_node_h midNode = hivex_node_get_child(file.h, top, "MID");
        ASSERT_NE(wideNode, 0u);
        ASSERT_NE(midNode, 0u);
        EXPECT_EQ(hivex_node_nr_children(file.h, wideNode), 5000u);
        EXPECT_EQ(hivex_node_nr_children(file.h, midNode), 1200u);
        for (const char* child : {"Sub0000", "sub0511", "SUB0512", "Sub2500", "Sub4999"})
            EXPECT_NE(hivex_node_get_child(file.h, wideNode, child), 0u) << child;
        EXPECT_NE(hivex_node_get_child(file.h, midNode, "mSub1199"), 0u);
        EXPECT_EQ(hivex_node_get_child(file.h, wideNode, "Sub5000"), 0u);

        // The lists are ri records of leaves holding at most 512 each.
        for (const hive_node_h node : {wideNode, midNode}) {
            const size_t list = 4096 + Get32(copy.bytes, node + 4 + 0x1C) + 4;
            ASSERT_EQ(
                std::string(copy.bytes.begin() + long(list), copy.bytes.begin() + long(list) + 2),
                "ri");
            const uint16_t leaves = Get16(copy.bytes, list + 2);
            size_t total = 0;
            for (uint16_t i = 0; i < leaves; ++i) {
                const size_t leaf = 4096 + Get32(copy.bytes, list + 4 + 4 * i) + 4;
                EXPECT_EQ(copy.bytes[leaf], 'l');
                EXPECT_EQ(copy.bytes[leaf + 1], minor >= 5 ? 'h' : 'f');
                EXPECT_LE(Get16(copy.bytes, leaf + 2), 512u);
                total += Get16(copy.bytes, leaf + 2);
            }
            EXPECT_EQ(total, hivex_node_nr_children(file.h, node));
        }
    }
}

TEST(HiveWriter, LhHashIsTheUpperCaseNameHash) {
    auto root = MakeRoot(u"R");
    AddKey(*root, u"ab");
    AddKey(*root, u"\u00e9");
    const Bytes bytes = WriteHive(*root, {});
    const size_t nk = 4096 + Get32(bytes, 0x24) + 4;
    const size_t list = 4096 + Get32(bytes, nk + 0x1C) + 4;
    ASSERT_EQ(bytes[list + 1], 'h');
    EXPECT_EQ(Get32(bytes, list + 8), uint32_t('A' * 37 + 'B'));
    EXPECT_EQ(Get32(bytes, list + 16), 0xC9u); // upper case of U+00E9
}

TEST(HiveWriter, NestingDeeperThan512IsRefusedOnLoad) {
    TempDir dir;
    for (const int levels : {512, 513}) {
        auto root = MakeRoot(u"R");
        HiveKey* key = root.get();
        for (int i = 0; i < levels; ++i)
            key = AddKey(*key, u"k");
        const std::string path = dir.file("deep" + std::to_string(levels));
        WriteFile(path, WriteHive(*root, {}));
        if (levels == 512) {
            EXPECT_NO_THROW(LoadHiveFile(path));
        } else {
            try {
                LoadHiveFile(path);
                ADD_FAILURE() << "loaded a hive nested 513 levels deep";
            } catch (const HiveFileError& e) {
                EXPECT_EQ(std::string(e.what()),
                          path + ": key \"R\\k\\k\\k\\...\\k\\k\\k\\k\": keys are nested "
                                 "deeper than 512 levels");
            }
        }
    }
}

// ---- beyond libhivex's limits -------------------------------------------------
// libhivex 1.3.23 refuses more than 70,000 subkeys under one key, more than 110,000
// values, and data over 8,000,000 bytes; Windows goes beyond all three.

std::u16string Numbered(const char16_t* prefix, int number) {
    std::u16string name = prefix;
    for (int div = 100000; div > 0; div /= 10)
        name += char16_t(u'0' + (number / div) % 10);
    return name;
}

HiveWriteOptions MinorVersion(uint32_t minor) {
    HiveWriteOptions options;
    options.minorVersion = minor;
    return options;
}

TEST(HiveLargeContents, HundredThousandSubkeys) {
    TempDir dir;
    auto root = MakeRoot(u"R");
    HiveKey* wide = AddKey(*root, u"Wide");
    for (int i = 0; i < 100000; ++i)
        AddKey(*wide, Numbered(u"Key", i), uint64_t(i));
    AddKey(*root, u"After"); // a sibling read after the wide key's ri
    for (const uint32_t minor : {3u, 5u}) {
        SCOPED_TRACE("minor " + std::to_string(minor));
        const LoadedCopy copy = WriteAndLoad(dir, *root, MinorVersion(minor));
        ExpectSameTree(*root, *copy.hive.root);
        const HiveKey* loaded = copy.hive.root->findSubkey(u"WIDE");
        ASSERT_NE(loaded, nullptr);
        // Found by binary search only when the file order came back intact.
        for (const int i : {0, 511, 512, 54321, 99999})
            EXPECT_NE(loaded->findSubkey(Numbered(u"kEY", i)), nullptr) << i;
        EXPECT_EQ(loaded->findSubkey(u"Key100000"), nullptr);
    }
}

TEST(HiveLargeContents, TenMegabyteValue) {
    TempDir dir;
    auto root = MakeRoot(u"R");
    AddValue(*root, u"Before", REG_DWORD, {1, 2, 3, 4});
    AddValue(*root, u"Big", REG_BINARY, Pattern(10 * 1024 * 1024, 3));
    AddValue(*root, u"After", REG_SZ, Utf16Bytes(u"after"));
    for (const uint32_t minor : {3u, 5u}) {
        SCOPED_TRACE("minor " + std::to_string(minor));
        const LoadedCopy copy = WriteAndLoad(dir, *root, MinorVersion(minor));
        ExpectSameTree(*root, *copy.hive.root);

        // Minor 5 splits the data into db segments, minor 3 keeps it in one cell.
        std::vector<Cell> cells;
        ASSERT_TRUE(ParseCells(copy.bytes, cells));
        size_t bigData = 0, hugeCells = 0;
        for (const Cell& cell : cells) {
            bigData +=
                cell.size < 0 && copy.bytes[cell.data] == 'd' && copy.bytes[cell.data + 1] == 'b';
            hugeCells += cell.size < -10 * 1024 * 1024;
        }
        EXPECT_EQ(bigData, minor >= 5 ? 1u : 0u);
        EXPECT_EQ(hugeCells, minor >= 5 ? 0u : 1u);
        // libhivex still opens the file; only its value reader stops at 8 MB.
        HivexFile file(dir.file("hive"));
        EXPECT_NE(file.h, nullptr);
    }
}

TEST(HiveLargeContents, SixtyThousandValues) {
    TempDir dir;
    auto root = MakeRoot(u"R");
    HiveKey* many = AddKey(*root, u"Many");
    for (int i = 0; i < 60000; ++i) {
        const uint8_t low = uint8_t(i), high = uint8_t(i >> 8);
        AddValue(*many, Numbered(u"Value", i), i % 2 ? REG_DWORD : REG_BINARY,
                 i % 2 ? Bytes{low, high, 0, 0} : Bytes{low, high, 1, 2, 3, 4, 5, 6});
    }
    const LoadedCopy copy = WriteAndLoad(dir, *root, {});
    ExpectSameTree(*root, *copy.hive.root);

    // Within libhivex's limits: its exporter reads every value too.
    const ToolResult result = ExportWithHivexregedit(dir.file("hive"));
    ASSERT_EQ(result.exitCode, 0);
    size_t exported = 0;
    for (size_t at = result.output.find("\n\"Value"); at != std::string::npos;
         at = result.output.find("\n\"Value", at + 1))
        ++exported;
    EXPECT_EQ(exported, 60000u);
    EXPECT_NE(result.output.find("\"Value054321\"=dword:0000d431"), std::string::npos);
}

// ---- real hives ------------------------------------------------------------------

class RealHiveCopies : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        source_ = std::string(HW_SHARED_HIVES) + "/" + GetParam() + ".xz";
        if (!fs::exists(source_))
            GTEST_SKIP() << "no " << source_;
        original_ = dir_.file(GetParam());
        ASSERT_EQ(RunTool("xz -dc " + Quote(source_) + " > " + Quote(original_)).exitCode, 0);
    }
    TempDir dir_;
    std::string source_, original_;
};

TEST_P(RealHiveCopies, DenseCopyExportsIdentically) {
    const LoadedHive original = LoadHiveFile(original_);
    HiveWriteOptions options;
    options.minorVersion = original.minorVersion;
    options.fileNameField = original.fileNameField;
    const std::string copyPath = dir_.file("copy");
    WriteFile(copyPath, WriteHive(*original.root, options));

    const LoadedHive copy = LoadHiveFile(copyPath);
    ExpectSameTree(*original.root, *copy.root);
    EXPECT_EQ(copy.minorVersion, original.minorVersion);

    const ToolResult before = ExportWithHivexregedit(original_);
    const ToolResult after = ExportWithHivexregedit(copyPath);
    ASSERT_EQ(before.exitCode, 0);
    ASSERT_EQ(after.exitCode, 0);
    EXPECT_GT(before.output.size(), 1000u);
    EXPECT_TRUE(before.output == after.output) << "hivexregedit exports differ";
    EXPECT_EQ(RunTool("regfinfo " + Quote(copyPath)).exitCode, 0);
    if (std::string(GetParam()) == "SYSTEM") {
        EXPECT_LT(fs::file_size(copyPath), fs::file_size(original_));
    }
}

INSTANTIATE_TEST_SUITE_P(Files, RealHiveCopies,
                         ::testing::Values("SYSTEM", "SAM", "SECURITY", "NTUSER.DAT",
                                           "UsrClass.dat"),
                         [](const auto& info) {
                             std::string name = info.param;
                             std::replace(name.begin(), name.end(), '.', '_');
                             return name;
                         });

TEST(HiveReader, TruncatedRealHiveIsRefused) {
    const std::string source = std::string(HW_SHARED_HIVES) + "/SYSTEM.xz";
    if (!fs::exists(source))
        GTEST_SKIP() << "no " << source;
    TempDir dir;
    const std::string path = dir.file("SYSTEM");
    ASSERT_EQ(RunTool("xz -dc " + Quote(source) + " | head -c 2097152 > " + Quote(path)).exitCode,
              0);
    try {
        LoadHiveFile(path);
        FAIL() << "loaded a truncated hive";
    } catch (const HiveFileError& e) {
        EXPECT_EQ(std::string(e.what()),
                  path + ": the file is truncated (header says 11 MB of hive bins, file has 2 MB)");
    }
}

// ---- hostile files ---------------------------------------------------------------

class HostileHive : public ::testing::Test {
protected:
    void SetUp() override {
        auto root = MakeRoot(u"R");
        HiveKey* a = AddKey(*root, u"A");
        a->setClassName(Utf16Bytes(u"cls"));
        AddValue(*a, u"v", REG_SZ, Utf16Bytes(u"value data"));
        AddKey(*a, u"B");
        AddKey(*root, u"C");
        valid_ = WriteHive(*root, {});
        rootNk_ = 4096 + Get32(valid_, 0x24) + 4;
        listOfRoot_ = Get32(valid_, rootNk_ + 0x1C);
    }

    // Loads the bytes; returns the error message, or "" when the load succeeded.
    std::string load(const Bytes& bytes) {
        WriteFile(path(), bytes);
        try {
            LoadHiveFile(path());
        } catch (const HiveFileError& e) {
            return e.what();
        }
        return "";
    }
    std::string path() const { return dir_.file("hostile"); }
    void expectRefused(const Bytes& bytes, const std::string& reason) {
        const std::string message = load(bytes);
        EXPECT_EQ(message.rfind(path() + ": ", 0), 0u) << message;
        EXPECT_NE(message.find(reason), std::string::npos) << message;
    }
    size_t nkOf(const char* name) {
        HivexFile file(path());
        return hivex_node_get_child(file.h, hivex_root(file.h), name) + 4;
    }

    TempDir dir_;
    Bytes valid_;
    size_t rootNk_ = 0;
    uint32_t listOfRoot_ = 0;
};

TEST_F(HostileHive, ValidFileLoads) {
    EXPECT_EQ(load(valid_), "");
}

TEST_F(HostileHive, MissingFile) {
    try {
        LoadHiveFile(dir_.file("absent"));
        FAIL();
    } catch (const HiveFileError& e) {
        EXPECT_EQ(std::string(e.what()), dir_.file("absent") + ": the file does not exist");
    }
}

TEST_F(HostileHive, BaseBlockProblems) {
    struct Case {
        const char* name;
        Bytes bytes;
        const char* reason;
    };
    Bytes wrongMagic = valid_;
    wrongMagic[0] = 'R';
    Bytes hundred(valid_.begin(), valid_.begin() + 100);
    Bytes headerOnly(valid_.begin(), valid_.begin() + 4096);
    Bytes oddBins = valid_;
    PutHeader(oddBins, 0x28, 4097);
    Bytes rootBeyond = valid_;
    PutHeader(rootBeyond, 0x24, uint32_t(valid_.size()));
    Bytes rootInHeader = valid_;
    PutHeader(rootInHeader, 0x24, 0xFFFFF000); // -4096: the base block itself
    Bytes rootInBinHeader = valid_;
    PutHeader(rootInBinHeader, 0x24, 0);
    Bytes checksum = valid_;
    Put32(checksum, 0x24, Get32(valid_, 0x24) + 8);
    Bytes version = valid_;
    PutHeader(version, 0x14, 2);
    const Case cases[] = {
        {"empty", {}, "the file is empty"},
        {"100 bytes", hundred, "the file is truncated (100 bytes"},
        {"wrong magic", wrongMagic, "not a registry hive (no regf signature)"},
        {"header only", headerOnly, "the file is truncated (header says"},
        {"bins size", oddBins, "hive-bins size (4097)"},
        {"root beyond", rootBeyond, "root key offset"},
        {"root in header", rootInHeader, "root key offset 0xFFFFF000 lies outside"},
        {"root in bin header", rootInBinHeader, "root key offset 0x0 lies outside"},
        {"version", version, "unsupported hive format version 2.5"},
        {"checksum", checksum, "the header is damaged (its checksum does not match)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        expectRefused(c.bytes, c.reason);
    }
}

TEST_F(HostileHive, BadOffsetsInCells) {
    struct Case {
        const char* name;
        std::vector<std::pair<size_t, uint32_t>> writes; // root nk field -> 32-bit value
        const char* reason;
    };
    const uint32_t lengths = Get32(valid_, rootNk_ + 0x48); // name and class length
    const Case cases[] = {
        {"subkey list beyond the bins", {{0x1C, uint32_t(valid_.size())}}, "lies outside"},
        {"subkey list into the base block", {{0x1C, 0xFFFFF000}}, "lies outside"},
        {"subkey list into the bin header", {{0x1C, 0}}, "subkey list at offset 0x0 lies outside"},
        {"subkey list inside a cell", {{0x1C, listOfRoot_ + 8}}, "is not the start of a cell"},
        {"subkey list unaligned", {{0x1C, listOfRoot_ + 2}}, "is not the start of a cell"},
        {"more subkeys counted than listed", {{0x14, 3}}, "holds 2 subkeys where the key counts 3"},
        {"fewer subkeys counted than listed",
         {{0x14, 1}},
         "holds 2 subkeys where the key counts 1"},
        {"subkey list on a key cell", {{0x1C, Get32(valid_, 0x24)}}, "is not a list of subkeys"},
        {"value list beyond the bins", {{0x24, 1}, {0x28, 0x7FFFFFF0}}, "value list at offset"},
        {"value count beyond the list", {{0x24, 0x40000000}, {0x28, listOfRoot_}}, "too small"},
        {"value list of subkeys", {{0x24, 2}, {0x28, listOfRoot_}}, "value cell at offset"},
        {"security beyond the bins", {{0x2C, uint32_t(valid_.size())}}, "security cell at"},
        {"security on a key cell", {{0x2C, Get32(valid_, 0x24)}}, "no sk signature"},
        {"security inside a cell", {{0x2C, Get32(valid_, 0x24) + 16}}, "not the start of a cell"},
        {"class beyond the bins", {{0x30, 0x10000000}, {0x48, lengths | 4u << 16}}, "class name"},
        {"name longer than the cell", {{0x48, (lengths & 0xFFFF0000) | 0xFFFF}}, "name longer"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes bytes = valid_;
        for (const auto& [field, value] : c.writes)
            Put32(bytes, rootNk_ + field, value);
        expectRefused(bytes, c.reason);
    }
}

TEST_F(HostileHive, CycleIsRefused) {
    // B's subkey list becomes the root's, whose first entry is A, B's parent.
    WriteFile(path(), valid_);
    const size_t a = nkOf("A");
    HivexFile file(path());
    const size_t b = hivex_node_get_child(file.h, a - 4, "B") + 4;
    Bytes bytes = valid_;
    Put32(bytes, b + 0x14, 2);
    Put32(bytes, b + 0x1C, listOfRoot_);
    const std::string message = load(bytes);
    EXPECT_EQ(message.rfind(path() + ": ", 0), 0u) << message;
    EXPECT_TRUE(message.find("second time") != std::string::npos ||
                message.find("libhivex") != std::string::npos)
        << message;
}

TEST_F(HostileHive, SharedDataCannotInflateTheLoad) {
    // A thousand values all pointing at one 16 KB data cell would be 16 MB from a 30 KB file.
    auto root = MakeRoot(u"R");
    for (int i = 0; i < 1000; ++i)
        AddValue(*root, u"v" + std::u16string(1, char16_t(0x100 + i)), REG_BINARY,
                 i == 0 ? Pattern(16000, 1) : Bytes{1, 2, 3, 4, 5, 6, 7, 8});
    Bytes bytes = WriteHive(*root, {});
    std::vector<Cell> cells;
    ASSERT_TRUE(ParseCells(bytes, cells));
    uint32_t bigData = 0;
    for (const Cell& cell : cells)
        if (cell.size < -16000)
            bigData = cell.offset;
    ASSERT_NE(bigData, 0u);
    for (const Cell& cell : cells)
        if (cell.size < 0 && bytes[cell.data] == 'v' && bytes[cell.data + 1] == 'k') {
            Put32(bytes, cell.data + 4, 16000);
            Put32(bytes, cell.data + 8, bigData);
        }
    expectRefused(bytes, "more than the file holds");
}

TEST_F(HostileHive, CorruptionAnywhereNeverCrashes) {
    // Every 8th byte of the header's used part and of all bins, flipped or
    // overwritten with a large number: errors are fine, crashes and hangs are not.
    std::vector<size_t> offsets;
    for (size_t at = 0; at < 0x200; at += 8)
        offsets.push_back(at);
    for (size_t at = 4096; at < valid_.size(); at += 8)
        offsets.push_back(at);
    size_t refused = 0;
    for (const size_t at : offsets) {
        for (int mutation = 0; mutation < 3; ++mutation) {
            Bytes bytes = valid_;
            if (mutation == 0)
                bytes[at] ^= 0xFF;
            else if (mutation == 1)
                Put32(bytes, at, 0x7FFFFFF8);
            else
                Put32(bytes, at + 4, 0xFFFFFFF0);
            if (at < 0x200)
                PutHeader(bytes, 0, Get32(bytes, 0)); // past the checksum to the fields' checks
            const std::string message = load(bytes);
            if (!message.empty()) {
                ++refused;
                EXPECT_EQ(message.rfind(path() + ": ", 0), 0u) << message;
            }
        }
    }
    EXPECT_GT(refused, 0u);
}

// An ri over three lh leaves and a db over three segments, to damage.
class HiveHostileLists : public HostileHive {
protected:
    void SetUp() override {
        auto root = MakeRoot(u"R");
        HiveKey* wide = AddKey(*root, u"Wide");
        for (int i = 0; i < 1100; ++i)
            AddKey(*wide, Numbered(u"k", i));
        AddValue(*root, u"Big", REG_BINARY, Pattern(40000, 5));
        valid_ = WriteHive(*root, {});
        std::vector<Cell> cells;
        ASSERT_TRUE(ParseCells(valid_, cells));
        for (const Cell& cell : cells) {
            if (cell.size >= 0)
                continue;
            const std::string signature(valid_.begin() + long(cell.data),
                                        valid_.begin() + long(cell.data) + 2);
            if (signature == "ri")
                ri_ = cell;
            if (signature == "db")
                db_ = cell;
        }
        const auto free = std::find_if(cells.begin(), cells.end(),
                                       [](const Cell& cell) { return cell.size > 0; });
        ASSERT_NE(free, cells.end());
        free_ = free->offset;
        ASSERT_EQ(Get16(valid_, ri_.data + 2), 3u);
        ASSERT_EQ(Get16(valid_, db_.data + 2), 3u);
        for (size_t i = 0; i < 3; ++i)
            leaves_[i] = Get32(valid_, ri_.data + 4 + 4 * i);
        segmentList_ = Get32(valid_, db_.data + 4);
    }
    size_t data(uint32_t offset) const { return 4096 + size_t(offset) + 4; }

    Cell ri_{}, db_{};
    uint32_t leaves_[3] = {};
    uint32_t segmentList_ = 0;
    uint32_t free_ = 0;
};

TEST_F(HiveHostileLists, ValidFileLoads) {
    EXPECT_EQ(load(valid_), "");
}

TEST_F(HiveHostileLists, DamagedListsAreRefused) {
    struct Case {
        const char* name;
        std::vector<std::pair<size_t, uint32_t>> writes; // file offset -> 32-bit value
        const char* reason;
    };
    const size_t ri = ri_.data, db = db_.data, segments = data(segmentList_);
    const uint32_t self = ri_.offset, dbCell = db_.offset;
    const Case cases[] = {
        {"ri pointing to itself", {{ri + 4, self}}, "is an index inside an index"},
        {"ri pointing to an ri", {{data(leaves_[1]), Get32(valid_, ri)}}, "index inside an index"},
        {"ri entry beyond the bins", {{ri + 8, 0x7FFFFFF0}}, "lies outside the hive bins"},
        {"ri entry into the base block", {{ri + 8, 0xFFFFF000}}, "lies outside the hive bins"},
        {"ri entry inside a leaf", {{ri + 8, leaves_[1] + 8}}, "is not the start of a cell"},
        {"ri entry on a key cell",
         {{ri + 8, Get32(valid_, data(leaves_[0]) + 4)}},
         "is not a list of subkeys"},
        {"ri count beyond its cell",
         {{ri, Get32(valid_, ri) | 0xFFFF0000}},
         "holds more entries than its cell"},
        {"ri naming one leaf twice", {{ri + 8, leaves_[0]}}, "reached a second time"},
        {"ri missing a leaf", {{ri, Get32(valid_, ri) - 0x10000}}, "where the key counts 1100"},
        {"leaf count beyond its cell",
         {{data(leaves_[2]), Get32(valid_, data(leaves_[2])) | 0xFFFF0000}},
         "holds more entries than its cell"},
        {"db with too few segments",
         {{db, Get32(valid_, db) - 0x20000}},
         "has 1 segments for 40000 bytes"},
        {"db count beyond its list",
         {{db, Get32(valid_, db) | 0xFFFF0000}},
         "big data segment list at offset"},
        {"segment list beyond the bins", {{db + 4, 0x7FFFFFF0}}, "big data segment list at offset"},
        {"segment list is the db", {{db + 4, dbCell}}, "big data segment"},
        {"segment is the db", {{segments + 4, dbCell}}, "big data segment at offset"},
        {"segment beyond the bins", {{segments + 8, 0x7FFFFFF0}}, "lies outside the hive bins"},
        {"segment inside a cell",
         {{segments, Get32(valid_, segments) + 16}},
         "is not the start of a cell"},
        {"segment on a free cell", {{segments + 8, free_}}, "is not an allocated cell"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes bytes = valid_;
        for (const auto& [at, value] : c.writes)
            Put32(bytes, at, value);
        expectRefused(bytes, c.reason);
    }
}

TEST_F(HiveHostileLists, CorruptionOfListsNeverCrashes) {
    // Every 4th byte of the ri, the heads of its leaves, the db and its segment list.
    std::vector<size_t> offsets;
    auto cover = [&](size_t from, size_t length) {
        for (size_t at = from; at < from + length; at += 4)
            offsets.push_back(at);
    };
    cover(ri_.data, 16);
    for (const uint32_t leaf : leaves_)
        cover(data(leaf), 40);
    cover(db_.data, 8);
    cover(data(segmentList_), 12);
    for (const size_t at : offsets) {
        for (int mutation = 0; mutation < 3; ++mutation) {
            Bytes bytes = valid_;
            if (mutation == 0)
                bytes[at] ^= 0xFF;
            else if (mutation == 1)
                Put32(bytes, at, 0x7FFFFFF8);
            else
                Put32(bytes, at, 0xFFFFFFF0);
            const std::string message = load(bytes);
            EXPECT_TRUE(message.empty() || message.rfind(path() + ": ", 0) == 0) << message;
        }
    }
}

// ---- the rest --------------------------------------------------------------------

TEST(ReplaceFileAtomically, ReplacesContentAndKeepsMode) {
    TempDir dir;
    const std::string path = dir.file("SYSTEM");
    WriteFile(path, Bytes{1, 2, 3});
    ASSERT_EQ(chmod(path.c_str(), 0600), 0);
    const Bytes content = Pattern(100000, 9);
    ReplaceFileAtomically(path, content);
    EXPECT_EQ(ReadFile(path), content);
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);

    const std::string fresh = dir.file("NEW");
    ReplaceFileAtomically(fresh, Bytes{7});
    EXPECT_EQ(ReadFile(fresh), Bytes{7});
}

TEST(ReplaceFileAtomically, FailureNamesTheFileAndLeavesNoTemporary) {
    TempDir dir;
    const std::string folder = dir.file("folder");
    fs::create_directory(folder);
    fs::create_directory(folder + "/inner");
    try {
        ReplaceFileAtomically(folder, Bytes{1}); // a folder cannot be replaced by a file
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find(folder), std::string::npos) << e.what();
    }
    EXPECT_FALSE(fs::exists(folder + ".hwnew"));
    EXPECT_TRUE(fs::is_directory(folder + "/inner"));
    EXPECT_THROW(ReplaceFileAtomically(dir.file("no/such/dir/file"), Bytes{1}), std::runtime_error);
}

std::string SidAt(const Bytes& sd, size_t at) {
    std::string text = "S-" + std::to_string(sd.at(at)) + "-" + std::to_string(sd.at(at + 7));
    for (int i = 0; i < sd.at(at + 1); ++i)
        text += "-" + std::to_string(Get32(sd, at + 8 + 4 * size_t(i)));
    return text;
}

TEST(CreateFileAtomically, NeverReplacesWhatIsThereAndLeavesNoTemporary) {
    TempDir dir;
    const std::string fresh = dir.file("fresh");
    EXPECT_TRUE(CreateFileAtomically(fresh, Bytes{1, 2, 3}));
    EXPECT_EQ(ReadFile(fresh), (Bytes{1, 2, 3}));

    // Nothing checks before the file is placed: the placing itself refuses.
    const std::string mine = dir.file("mine");
    WriteFile(mine, Bytes{9});
    const std::string link = dir.file("link");
    fs::create_symlink(dir.file("nowhere"), link);
    EXPECT_FALSE(CreateFileAtomically(mine, Bytes{1, 2, 3}));
    EXPECT_FALSE(CreateFileAtomically(link, Bytes{1, 2, 3}));
    EXPECT_FALSE(CreateFileAtomically(fresh, Bytes{4}));
    EXPECT_EQ(ReadFile(mine), (Bytes{9}));
    EXPECT_EQ(ReadFile(fresh), (Bytes{1, 2, 3}));
    EXPECT_FALSE(fs::exists(dir.file("nowhere")));
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.path()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"fresh", "link", "mine"}));
}

TEST(DefaultKeySecurity, IsAValidSelfRelativeDescriptor) {
    const Bytes& sd = *DefaultKeySecurity();
    EXPECT_EQ(DefaultKeySecurity().get(), &sd); // built once
    ASSERT_GE(sd.size(), 20u);
    EXPECT_EQ(sd[0], 1);
    EXPECT_EQ(Get16(sd, 2), 0x8004);
    EXPECT_EQ(SidAt(sd, Get32(sd, 4)), "S-1-5-32-544");
    EXPECT_EQ(SidAt(sd, Get32(sd, 8)), "S-1-5-18");
    EXPECT_EQ(Get32(sd, 12), 0u);
    const size_t acl = Get32(sd, 16);
    ASSERT_EQ(sd.at(acl), 2);
    ASSERT_LE(acl + Get16(sd, acl + 2), sd.size());
    std::map<std::string, uint32_t> grants;
    size_t ace = acl + 8;
    for (uint16_t i = 0; i < Get16(sd, acl + 4); ++i) {
        EXPECT_EQ(sd.at(ace), 0) << "ACCESS_ALLOWED_ACE";
        EXPECT_TRUE(sd.at(ace + 1) & 0x02) << "CONTAINER_INHERIT_ACE";
        grants[SidAt(sd, ace + 8)] = Get32(sd, ace + 4);
        ace += Get16(sd, ace + 2);
    }
    EXPECT_EQ(ace, acl + Get16(sd, acl + 2));
    const std::map<std::string, uint32_t> expected = {{"S-1-5-18", 0xF003F},
                                                      {"S-1-5-32-544", 0xF003F},
                                                      {"S-1-3-0", 0xF003F},
                                                      {"S-1-5-32-545", 0x20019}};
    EXPECT_EQ(grants, expected);
}

TEST(FileTimeNow, CountsFrom1601) {
    const int64_t unixSeconds = int64_t(FileTimeNow() / 10000000) - 11644473600;
    EXPECT_LE(std::llabs(unixSeconds - int64_t(std::time(nullptr))), 2);
}

TEST(HiveKeyNames, CompareNamesIgnoresCaseWhereverTheNamesDiffer) {
    const struct {
        std::u16string_view a, b;
        int order;
    } cases[] = {
        {u"ControlSet001", u"controlset001", 0},
        {u"{4D36E96A-E325-11CE}", u"{4d36e96a-e325-11ce}", 0},
        {u"{4D36E96A-E325-11CE}", u"{4D36E96A-E325-11cf}", -1},
        {u"abca", u"abcB", -1}, // upper-cased, not as stored: 'A' < 'B' although 'a' > 'B'
        {u"abcB", u"abca", 1},
        {u"abc", u"ABCD", -1},
        {u"ABCD", u"abc", 1},
        {u"caf\u00e9", u"CAF\u00c9", 0},
        {u"caf\u00e9x", u"caf\u00c9Y", -1},
        {u"", u"", 0},
        {u"", u"a", -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(hive::CompareNames(c.a, c.b), c.order)
            << std::string(c.a.begin(), c.a.end()) << " / " << std::string(c.b.begin(), c.b.end());
        EXPECT_EQ(hive::NamesEqual(c.a, c.b), c.order == 0);
    }
}

} // namespace
