#include "BigMachine.h"

#include "hive/HiveFile.h"
#include "win32/base/WinTypes.h"
#include "win32/machine/Machine.h"
#include "win32/machine/MachineCreator.h"
#include "win32/registry/HiveValues.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <stdexcept>

namespace bench {

namespace {

using hive::HiveKey;

constexpr int kWideCount = 100000;
// libhivex 1.3.23 lists at most this many subkeys under one key (ERANGE beyond).
constexpr int kLibhivexWideCount = 70000;
constexpr int kFanOut = 100;
constexpr size_t kLookupCount = 100000;
constexpr uint32_t kSeed = 20240611;

std::u16string widen(std::string_view ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

std::string makeTemporaryFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/hivewarden-bench-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a temporary folder from " + pattern);
    return pattern;
}

// Flips the case of about half the letters, so that lookups exercise the
// case-insensitive match instead of an exact one.
std::string shuffleCase(std::string text, std::mt19937& random) {
    for (char& c : text)
        if (((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) && (random() & 1))
            c = char(c ^ 0x20);
    return text;
}

// A new key shaped like `like` (same descriptor, so the writer stores it once).
std::shared_ptr<HiveKey> newKey(const std::string& name, const HiveKey& like) {
    auto key = std::make_shared<HiveKey>();
    key->name = widen(name);
    key->setSecurity(like.security());
    key->lastWriteTime = like.lastWriteTime;
    return key;
}

std::string numbered(const char* prefix, int number) {
    char text[32];
    std::snprintf(text, sizeof text, "%s%02d", prefix, number);
    return text;
}

// SOFTWARE\Big: three levels of 100 keys; each leaf holds one small string.
void addBigTree(HiveKey& root, std::vector<std::string>& levelOneNames) {
    auto big = newKey(kBigKey, root);
    for (int a = 0; a < kFanOut; ++a) {
        const std::string company = numbered("Company", a);
        levelOneNames.push_back(company);
        auto one = newKey(company, root);
        for (int b = 0; b < kFanOut; ++b) {
            const std::string product = numbered("Product", b);
            auto two = newKey(product, root);
            for (int c = 0; c < kFanOut; ++c) {
                const std::string setting = numbered("Setting", c);
                auto three = newKey(setting, root);
                const std::string path =
                    "C:\\Program Files\\" + company + "\\" + product + "\\" + setting + ".dll";
                three->values().push_back({u"Path", REG_SZ, win32::StringData(widen(path))});
                two->appendLoadedSubkey(std::move(three)); // names come in sorted order
            }
            one->appendLoadedSubkey(std::move(two));
        }
        big->appendLoadedSubkey(std::move(one));
    }
    root.insertSubkey(std::move(big));
}

// A key of `count` subkeys: "Key%06d" with a random tail of 0 to 8 characters and
// random case.
void addWideKey(HiveKey& parent, const char* keyName, int count, std::vector<std::string>& names,
                std::mt19937& random) {
    static constexpr char kTail[] = "abcdefghijklmnopqrstuvwxyz0123456789_";
    for (int i = 0; i < count; ++i) {
        char text[16];
        std::snprintf(text, sizeof text, "Key%06d", i);
        std::string name = text;
        const int tail = int(random() % 9);
        for (int t = 0; t < tail; ++t)
            name += kTail[random() % (sizeof kTail - 1)];
        names.push_back(shuffleCase(name, random));
    }
    std::shuffle(names.begin(), names.end(), random);

    std::vector<std::shared_ptr<HiveKey>> children;
    children.reserve(names.size());
    for (const auto& name : names)
        children.push_back(newKey(name, parent));
    std::sort(children.begin(), children.end(), [](const auto& a, const auto& b) {
        return hive::CompareNames(a->name, b->name) < 0;
    });
    auto wide = newKey(keyName, parent);
    for (auto& child : children)
        wide->appendLoadedSubkey(std::move(child));
    parent.insertSubkey(std::move(wide));
}

// A key of kManyValuesCount values in no order: "Value%06d" with a random tail and random
// case; strings mostly, some numbers and binaries, every ten-thousandth a megabyte.
void addManyValuesKey(HiveKey& parent, std::mt19937& random) {
    auto many = newKey(kManyValuesKey, parent);
    many->values().reserve(kManyValuesCount);
    for (int i = 0; i < kManyValuesCount; ++i) {
        char text[16];
        std::snprintf(text, sizeof text, "Value%06d", i);
        std::string name = text;
        for (int t = int(random() % 6); t > 0; --t)
            name += char('a' + random() % 26);
        name = shuffleCase(name, random);
        if (i % 10000 == 5000)
            many->values().push_back({widen(name), REG_BINARY, hive::Bytes(1 << 20, 0x5A)});
        else if (i % 10 == 0)
            many->values().push_back(
                {widen(name), REG_DWORD, win32::DwordData(uint32_t(random()))});
        else if (i % 10 == 1)
            many->values().push_back({widen(name), REG_BINARY, hive::Bytes(16, uint8_t(i))});
        else
            many->values().push_back(
                {widen(name), REG_SZ,
                 win32::StringData(widen("C:\\Program Files\\Vendor\\" + name + ".dll"))});
    }
    std::shuffle(many->values().begin(), many->values().end(), random);
    parent.insertSubkey(std::move(many));
}

size_t countKeys(const HiveKey& root) {
    size_t count = 0;
    std::vector<const HiveKey*> stack{&root};
    while (!stack.empty()) {
        const HiveKey* key = stack.back();
        stack.pop_back();
        ++count;
        for (size_t i = 0; i < key->subkeyCount(); ++i)
            stack.push_back(key->subkeyAt(i));
    }
    return count;
}

std::vector<std::string> pickLookups(const std::vector<std::string>& names, std::mt19937& random) {
    std::vector<std::string> picks;
    picks.reserve(kLookupCount);
    for (size_t i = 0; i < kLookupCount; ++i)
        picks.push_back(shuffleCase(names[random() % names.size()], random));
    return picks;
}

// Owns the generated machine; removes it at exit.
class BigMachineFolder {
public:
    BigMachineFolder() {
        const auto started = std::chrono::steady_clock::now();
        machine_.folder = makeTemporaryFolder();
        try {
            generate();
        } catch (...) {
            std::error_code ignored;
            std::filesystem::remove_all(machine_.folder, ignored);
            throw;
        }
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        std::fprintf(stderr, "Generated %s: SOFTWARE hive of %zu keys, %.1f MB, in %.1f s\n",
                     machine_.folder.c_str(), machine_.softwareKeyCount,
                     double(std::filesystem::file_size(machine_.softwareHive)) / 1e6, seconds);
    }
    ~BigMachineFolder() {
        try {
            win32::ShutdownMachine();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "Shutting down the benchmark machine: %s\n", e.what());
        }
        std::error_code ignored;
        std::filesystem::remove_all(machine_.folder, ignored);
    }
    BigMachineFolder(const BigMachineFolder&) = delete;
    BigMachineFolder& operator=(const BigMachineFolder&) = delete;

    const BigMachine& machine() const { return machine_; }

private:
    void generate() {
        win32::CreateMachine(machine_.folder, {});
        machine_.softwareHive = machine_.folder + "/WINDOWS/system32/config/SOFTWARE";
        machine_.userHive = machine_.folder + "/Documents and Settings/Administrator/NTUSER.DAT";
        std::mt19937 random(kSeed);
        // Keep what the new machine's hives hold: the boot needs the ProfileList.
        hive::LoadedHive software = hive::LoadHiveFile(machine_.softwareHive);
        std::vector<std::string> bigNames, wideNames, wide70000Names;
        addBigTree(*software.root, bigNames);
        machine_.softwareKeyCount = countKeys(*software.root);
        write(software, machine_.softwareHive);

        hive::LoadedHive user = hive::LoadHiveFile(machine_.userHive);
        HiveKey* userSoftware = win32::FindKey(user.root.get(), u"Software");
        if (!userSoftware)
            throw std::runtime_error("the new machine's user hive has no Software key");
        addWideKey(*userSoftware, kWideKey, kWideCount, wideNames, random);
        addWideKey(*userSoftware, kWide70000Key, kLibhivexWideCount, wide70000Names, random);
        std::mt19937 valuesRandom(kSeed + 1); // leaves the other keys' picks as they were
        addManyValuesKey(*userSoftware, valuesRandom);
        write(user, machine_.userHive);

        machine_.wideLookups = pickLookups(wideNames, random);
        machine_.wide70000Lookups = pickLookups(wide70000Names, random);
        machine_.bigLookups = pickLookups(bigNames, random);
    }

    static void write(const hive::LoadedHive& hive, const std::string& path) {
        hive::HiveWriteOptions options;
        options.minorVersion = hive.minorVersion;
        options.fileNameField = hive.fileNameField;
        hive::ReplaceFileAtomically(path, hive::WriteHive(*hive.root, options));
    }

    BigMachine machine_;
};

BigMachineFolder& theFolder() {
    static BigMachineFolder folder;
    return folder;
}

} // namespace

const BigMachine& TheBigMachine() {
    return theFolder().machine();
}

void BootBigMachine() {
    const BigMachine& machine = TheBigMachine();
    if (win32::IsMachineBooted())
        return;
    win32::BootOptions options;
    options.readOnly = true;
    win32::BootMachine(machine.folder, options);
}

void ShutdownBigMachine() {
    win32::ShutdownMachine();
}

} // namespace bench
