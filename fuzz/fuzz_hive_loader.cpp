// Feeds arbitrary bytes to the hive loader: it must return or throw HiveFileError,
// never crash, hang or read out of bounds. The first byte chooses the way in: the
// loader of a file (libhivex opens the file itself, so the input goes through one
// private temporary file), the salvaging read of damaged bytes, recovery from
// transaction logs (the rest of the input then being a hive and its logs, split by
// a marker), or the mount that reads keys where the file lies: every key walked,
// and looked up by its path on a second mount before any list is read.

#include "hive/HiveFile.h"
#include "hive/HiveLogs.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace {

std::string TemporaryPath() {
    const char* folder = std::getenv("TMPDIR");
    std::string path = std::string(folder && *folder ? folder : "/tmp") + "/fuzz_hive_XXXXXX";
    const int fd = ::mkstemp(path.data());
    if (fd < 0)
        std::abort();
    ::close(fd);
    return path;
}

bool WriteWhole(const std::string& path, const uint8_t* data, size_t size) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    const bool ok = std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && ok;
}

// The hive, then the logs: parts of the input between markers.
std::vector<hive::Bytes> SplitParts(const uint8_t* data, size_t size) {
    constexpr std::string_view kMarker = "HWLOGSEP";
    std::vector<hive::Bytes> parts;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    size_t from = 0;
    while (parts.size() < 3) {
        const size_t at = input.find(kMarker, from);
        const size_t end = at == std::string_view::npos ? size : at;
        parts.emplace_back(data + from, data + end);
        if (at == std::string_view::npos)
            break;
        from = at + kMarker.size();
    }
    return parts;
}

void LoadFile(const uint8_t* data, size_t size) {
    static const std::string path = TemporaryPath();
    static const bool removeAtExit = std::atexit([] { ::unlink(path.c_str()); }) == 0;
    (void)removeAtExit;
    if (!WriteWhole(path, data, size))
        std::abort(); // a broken harness must not pass for a clean run
    try {
        hive::LoadHiveFile(path);
    } catch (const hive::HiveFileError&) {
    }
}

void RecoverAndSalvage(const uint8_t* data, size_t size) {
    std::vector<hive::Bytes> parts = SplitParts(data, size);
    std::vector<hive::HiveLogFile> logs;
    const char* names[] = {"fuzz.LOG1", "fuzz.LOG2"};
    for (size_t i = 1; i < parts.size(); ++i)
        logs.push_back({names[i - 1], std::move(parts[i])});
    // Recovery alone, whatever the primary holds.
    const hive::LogRecovery recovery = hive::RecoverFromLogs(parts[0], logs);
    if (recovery.applied && hive::HiveNeedsRecovery(recovery.hive.data(), recovery.hive.size()))
        std::abort(); // a recovered hive is consistent
    try {
        hive::LoadHiveImage(parts[0], "fuzz", logs, {.applyLogs = true, .salvage = true});
    } catch (const hive::HiveFileError&) {
    }
}

// Every key of the tree, as paths of names below the root (at most `limit` of them).
void CollectPaths(const hive::HiveKey& key, std::vector<std::u16string>& path,
                  std::vector<std::vector<std::u16string>>& paths, size_t limit) {
    for (const auto& child : key.stableSubkeys()) {
        if (paths.size() >= limit)
            return;
        path.push_back(child->name);
        paths.push_back(path);
        (void)child->values().size();
        CollectPaths(*child, path, paths, limit);
        path.pop_back();
    }
}

void MountFile(const uint8_t* data, size_t size, bool salvage) {
    static const std::string path = TemporaryPath();
    static const bool removeAtExit = std::atexit([] { ::unlink(path.c_str()); }) == 0;
    (void)removeAtExit;
    if (!WriteWhole(path, data, size))
        std::abort();
    try {
        const hive::HiveLoadOptions options{.applyLogs = false, .salvage = salvage};
        const hive::LoadedHive walked = hive::MountHiveFile(path, options);
        std::vector<std::u16string> trail;
        std::vector<std::vector<std::u16string>> paths;
        CollectPaths(*walked.root, trail, paths, 4096);
        // Lookups by name on a fresh mount search the stored lists without reading them.
        const hive::LoadedHive looked = hive::MountHiveFile(path, options);
        for (const auto& names : paths) {
            const hive::HiveKey* key = looked.root.get();
            for (const std::u16string& name : names)
                if (key)
                    key = key->findSubkey(name);
            if (!key && walked.root->source() && walked.root->source()->damageCount() == 0)
                std::abort(); // a key the walk found must be found by its path
        }
        try {
            hive::WriteHive(*walked.root, {});
        } catch (const std::runtime_error&) {
        }
    } catch (const hive::HiveFileError&) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    switch (data[0] % 5) {
    case 0:
        LoadFile(data + 1, size - 1);
        break;
    case 1:
        try {
            hive::LoadHiveImage(hive::Bytes(data + 1, data + size), "fuzz", {},
                                {.applyLogs = false, .salvage = true});
        } catch (const hive::HiveFileError&) {
        }
        break;
    case 2:
        RecoverAndSalvage(data + 1, size - 1);
        break;
    default:
        MountFile(data + 1, size - 1, data[0] % 5 == 4);
    }
    return 0;
}
