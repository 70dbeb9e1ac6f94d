// The classes scans over a hostile class store: a chain as deep as Windows allows, a
// key with a hundred thousand values, and a stored symbolic link that names itself.

#include "hive/HiveFile.h"
#include "hive/Utf16.h"
#include "support/MachineFixture.h"
#include "support/ScanHarness.h"
#include "win32/machine/Machine.h"

#include <algorithm>
#include <gtest/gtest.h>

using namespace testing_support;

namespace {

// Classes\Deep and this many keys below it: the deepest tree a hive holds.
constexpr int kChainDepth = 510;
constexpr int kValueCount = 100000;

std::shared_ptr<hive::HiveKey> newKey(hive::HiveKey& parent, const std::u16string& name) {
    auto key = std::make_shared<hive::HiveKey>();
    key->name = name;
    key->setSecurity(hive::DefaultKeySecurity());
    parent.insertSubkey(key);
    return key;
}

hive::Bytes text(const std::string& ascii) {
    hive::Bytes data;
    for (const char c : ascii) {
        data.push_back(uint8_t(c));
        data.push_back(0);
    }
    data.insert(data.end(), {0, 0});
    return data;
}

// Writes the hostile keys into the SOFTWARE hive of the shut-down machine.
void plantHostileClasses(const std::string& softwareHive, int chainDepth) {
    hive::LoadedHive loaded = hive::LoadHiveFile(softwareHive);
    hive::HiveKey* classes = loaded.root->findSubkey(u"Classes");
    ASSERT_NE(classes, nullptr);

    auto deep = newKey(*classes, u"Deep");
    hive::HiveKey* at = deep.get();
    for (int level = 0; level < chainDepth; ++level)
        at = newKey(*at, u"d").get();
    at->values().emplace_back(u"", 1, text("C:\\Gone\\bottom.exe"));

    auto wide = newKey(*classes, u"Wide");
    wide->values().reserve(kValueCount);
    for (int i = 0; i < kValueCount; ++i) {
        // Filled in place: GCC 12 takes a moved-from temporary name for uninitialised.
        const bool dword = i % 2 != 0;
        hive::HiveValue& value = wide->values().emplace_back();
        value.name = hive::Utf8ToUtf16("v" + std::to_string(i));
        value.type = dword ? 4 : 1;
        value.data =
            dword ? hive::Bytes{1, 0, 0, 0} : text("C:\\WINDOWS\\x" + std::to_string(i) + ".dll");
    }
    wide->values().emplace_back(u"gone", 1, text("C:\\Gone\\wide.dll"));

    // A link key as Windows stores one: the flag and the target in SymbolicLinkValue.
    auto loop = newKey(*classes, u"Loop");
    loop->flags |= 0x0010;
    const std::u16string target = u"\\Registry\\Machine\\SOFTWARE\\Classes\\Loop";
    hive::Bytes targetBytes;
    for (const char16_t c : target) {
        targetBytes.push_back(uint8_t(c));
        targetBytes.push_back(uint8_t(c >> 8));
    }
    loop->values().emplace_back(u"SymbolicLinkValue", 6, targetBytes);
    newKey(*loop, u"Inner");

    hive::HiveWriteOptions options;
    options.minorVersion = loaded.minorVersion;
    options.sequence = loaded.sequence + 1;
    hive::ReplaceFileAtomically(softwareHive, hive::WriteHive(*loaded.root, options));
}

TEST(ScanHostileClasses, DeepWideAndLinkedKeysAreScannedAndEnd) {
    TestMachine machine;
    machine.shutdown();
    plantHostileClasses(machine.hostPath("WINDOWS/system32/config/SOFTWARE"), kChainDepth);
    machine.boot();

    const ScanOutcome outcome = ScanMachine({riClasses, riFileAssociations, riActiveX});
    ASSERT_TRUE(outcome.ended);
    EXPECT_EQ(outcome.error, "");
    // The bottom of the chain, and the wide key's one bad value.
    ASSERT_EQ(outcome.records.size(), 2u);
    EXPECT_EQ(outcome.records[0].KeyLocation.size(),
              std::string("HKEY_CLASSES_ROOT\\Deep").size() + 2 * kChainDepth);
    EXPECT_EQ(outcome.records[1].KeyLocation, "HKEY_CLASSES_ROOT\\Wide");
    EXPECT_EQ(outcome.records[1].ValueName, "gone");
    // The link key is listed once, as a key of its own, and not followed into itself.
    EXPECT_EQ(std::count(outcome.keys.begin(), outcome.keys.end(), "Loop\\Inner"), 1);
}

TEST(ScanHostileClasses, AChainDeeperThanWindowsAllowsIsRefusedAtMount) {
    TestMachine machine;
    machine.shutdown();
    plantHostileClasses(machine.hostPath("WINDOWS/system32/config/SOFTWARE"), 1000);
    try {
        machine.boot();
        ADD_FAILURE() << "mounted";
    } catch (const std::exception& error) {
        EXPECT_NE(std::string(error.what()).find("nested deeper than 512 levels"),
                  std::string::npos)
            << error.what();
    }
}

// Read only, the same chain is mounted without what lies below the 512th level, said in a
// warning, and the rest of the classes is scanned to the end.
TEST(ScanHostileClasses, AChainDeeperThanWindowsAllowsIsScannedReadOnlyDownToItsLimit) {
    TestMachine machine;
    machine.shutdown();
    plantHostileClasses(machine.hostPath("WINDOWS/system32/config/SOFTWARE"), 1000);
    win32::BootOptions readOnly;
    readOnly.readOnly = true;
    machine.boot(readOnly);
    const std::vector<std::string> warnings = win32::BootWarnings();
    EXPECT_TRUE(std::any_of(warnings.begin(), warnings.end(), [](const std::string& w) {
        return w.find("nested deeper than 512 levels") != std::string::npos;
    }));

    const ScanOutcome outcome = ScanMachine({riClasses});
    ASSERT_TRUE(outcome.ended);
    EXPECT_EQ(outcome.error, "");
    // The chain's bottom value lies beyond the limit; the wide key's bad value is found.
    ASSERT_EQ(outcome.records.size(), 1u);
    EXPECT_EQ(outcome.records[0].KeyLocation, "HKEY_CLASSES_ROOT\\Wide");
}

} // namespace
