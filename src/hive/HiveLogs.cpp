// Log recovery as Windows performs it when it loads a hive it did not finish writing.
// Every log is untrusted: each header, bitmap, entry and page reference is checked
// against the log's size before it is used, and a bad one ends recovery at that point.

#include "hive/HiveLogs.h"

#include "hive/HiveFormat.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <optional>
#include <sys/stat.h>

namespace hive {

namespace {

using namespace regf;

constexpr uint32_t kLogHeaderSize = 512; // the base block copy, cut to one sector
constexpr uint32_t kLogSector = 512;
constexpr uint32_t kLogSignature = 0x200;
constexpr uint32_t kLogTypeOld = 1;
constexpr uint32_t kLogTypeOldest = 2; // Windows 2000
constexpr uint32_t kLogTypeNew = 6;
constexpr uint32_t kBaseFlags = 0x090;
constexpr uint32_t kFirstBinTimestamp = kBaseBlockSize + bin::kTimestamp;

// HvLE entry header.
namespace entry {
constexpr uint32_t kSize = 0x04;
constexpr uint32_t kFlags = 0x08;
constexpr uint32_t kSequence = 0x0C;
constexpr uint32_t kBinsSize = 0x10;
constexpr uint32_t kPageCount = 0x14;
constexpr uint32_t kHash1 = 0x18;
constexpr uint32_t kHash2 = 0x20;
constexpr uint32_t kReferences = 0x28;
} // namespace entry

uint32_t RotateLeft(uint32_t value, int bits) {
    return (value << bits) | (value >> (32 - bits));
}

std::string Hex(uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

// a is after b in sequence numbers that wrap around.
bool SequenceAfter(uint32_t a, uint32_t b) {
    return int32_t(a - b) > 0;
}

bool BaseBlockValid(const uint8_t* data, size_t size) {
    return size >= kLogHeaderSize && std::memcmp(data, "regf", 4) == 0 &&
           Read32(data + base::kChecksum) == BaseBlockChecksum(data);
}

enum class LogRole { Log, Log1, Log2 };

LogRole RoleOf(const std::string& name) {
    std::string upper = name;
    for (char& c : upper)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    if (upper.size() >= 5 && upper.compare(upper.size() - 5, 5, ".LOG1") == 0)
        return LogRole::Log1;
    if (upper.size() >= 5 && upper.compare(upper.size() - 5, 5, ".LOG2") == 0)
        return LogRole::Log2;
    return LogRole::Log;
}

struct CheckedLog {
    const HiveLogFile* file = nullptr;
    LogRole role = LogRole::Log;
    bool newFormat = false;
    uint32_t sequence = 0;  // the copy's primary sequence number
    uint64_t timestamp = 0; // the copy's last-written time
};

// Whether the log's header makes it a log Windows would read; `why` says why not.
bool CheckLogHeader(const HiveLogFile& log, CheckedLog& out, std::string& why) {
    const Bytes& b = log.bytes;
    if (b.size() < kLogHeaderSize + 4) {
        why = "too short to hold a log";
        return false;
    }
    if (!BaseBlockValid(b.data(), b.size())) {
        why = "its header is not a valid copy of the hive's header";
        return false;
    }
    const uint32_t type = Read32(b.data() + base::kFileType);
    const uint32_t sequence = Read32(b.data() + base::kPrimarySequence);
    if (sequence != Read32(b.data() + base::kSecondarySequence)) {
        why = "its header's sequence numbers differ (the log itself was not finished)";
        return false;
    }
    if (type == kLogTypeNew && std::memcmp(b.data() + kLogSignature, "HvLE", 4) == 0) {
        out.newFormat = true;
    } else if ((type == kLogTypeOld || type == kLogTypeOldest) &&
               std::memcmp(b.data() + kLogSignature, "DIRT", 4) == 0) {
        out.newFormat = false;
    } else {
        why = "it is neither an old-format (DIRT) nor a new-format (HvLE) log";
        return false;
    }
    out.file = &log;
    out.role = RoleOf(log.name);
    out.sequence = sequence;
    out.timestamp = Read64(b.data() + base::kTimestamp);
    return true;
}

// --- the new format ---

struct PageReference {
    uint32_t binOffset;
    uint32_t size;
    size_t dataAt; // offset of the page's bytes in the log file
};

struct LogEntry {
    uint32_t sequence = 0;
    uint32_t binsSize = 0;
    uint32_t flags = 0;
    std::vector<PageReference> pages;
};

// The log's entries from its first one up to the first that is invalid or out of
// sequence. An entry that should have been next but is not sound ends the list with a note.
// A hive grows only by bins that are written to a log: no size beyond the hive and its
// logs together is real, and a hostile one must not make recovery allocate gigabytes.
uint64_t GrowthLimit(const Bytes& primary, const std::vector<CheckedLog>& logs) {
    uint64_t limit = primary.size();
    for (const CheckedLog& log : logs)
        limit += log.file->bytes.size();
    return limit;
}

std::vector<LogEntry> ReadEntries(const CheckedLog& log, uint64_t binsLimit,
                                  std::vector<std::string>& notes) {
    const Bytes& b = log.file->bytes;
    std::vector<LogEntry> entries;
    uint32_t expected = log.sequence;
    size_t at = kLogHeaderSize;
    auto stop = [&](const std::string& problem) {
        notes.push_back(log.file->name + ": the log entry at offset " + Hex(at) + " " + problem +
                        "; recovery from this log stops before it");
    };
    while (at + entry::kReferences <= b.size()) {
        const uint8_t* e = b.data() + at;
        if (std::memcmp(e, "HvLE", 4) != 0)
            break; // the end of what was written, or stale bytes after it
        const uint32_t size = Read32(e + entry::kSize);
        const uint32_t sequence = Read32(e + entry::kSequence);
        if (sequence != expected) {
            // An older entry is what a previous round left behind; a later one means
            // entries are missing.
            if (SequenceAfter(sequence, expected))
                stop("has sequence number " + std::to_string(sequence) + " where " +
                     std::to_string(expected) + " should follow");
            break;
        }
        if (size == 0 || size % kLogSector != 0) {
            stop("has an invalid size (" + std::to_string(size) + ")");
            break;
        }
        if (size > b.size() - at) {
            stop("is cut short: the log ends " + std::to_string(size - (b.size() - at)) +
                 " bytes before the entry does");
            break;
        }
        if (size < entry::kReferences) {
            stop("is too small for its header");
            break;
        }
        LogEntry parsed;
        parsed.sequence = sequence;
        parsed.flags = Read32(e + entry::kFlags);
        parsed.binsSize = Read32(e + entry::kBinsSize);
        if (parsed.binsSize == 0 || parsed.binsSize % kPageSize != 0 ||
            parsed.binsSize > binsLimit) {
            stop("gives an invalid hive-bins size (" + std::to_string(parsed.binsSize) + ")");
            break;
        }
        if (Marvin32(kLogEntrySeed, e + entry::kReferences, size - entry::kReferences) !=
                Read64(e + entry::kHash1) ||
            Marvin32(kLogEntrySeed, e, entry::kHash2) != Read64(e + entry::kHash2)) {
            stop("(sequence " + std::to_string(sequence) + ") has a wrong hash");
            break;
        }
        const uint32_t count = Read32(e + entry::kPageCount);
        bool sound = uint64_t(entry::kReferences) + 8 * uint64_t(count) <= size;
        uint64_t dataAt = entry::kReferences + 8 * uint64_t(count);
        for (uint32_t i = 0; sound && i < count; ++i) {
            const uint8_t* ref = e + entry::kReferences + 8 * size_t(i);
            const PageReference page{Read32(ref), Read32(ref + 4), size_t(at + dataAt)};
            sound = uint64_t(page.binOffset) + page.size <= parsed.binsSize &&
                    dataAt + page.size <= size;
            dataAt += page.size;
            parsed.pages.push_back(page);
        }
        if (!sound) {
            stop("(sequence " + std::to_string(sequence) +
                 ") names pages outside the entry or outside the hive bins");
            break;
        }
        entries.push_back(std::move(parsed));
        ++expected;
        at += size;
    }
    return entries;
}

void ApplyEntry(const HiveLogFile& log, const LogEntry& e, Bytes& hive) {
    const size_t needed = size_t(kBaseBlockSize) + e.binsSize;
    if (hive.size() < needed)
        hive.resize(needed, 0);
    for (const PageReference& page : e.pages)
        std::memcpy(hive.data() + kBaseBlockSize + page.binOffset, log.bytes.data() + page.dataAt,
                    page.size);
}

void RecoverNewFormat(const Bytes& primary, std::vector<CheckedLog> logs, LogRecovery& out) {
    const bool primaryValid = BaseBlockValid(primary.data(), primary.size());
    // The log Windows started writing first holds the older entries.
    std::sort(logs.begin(), logs.end(), [](const CheckedLog& a, const CheckedLog& b) {
        return SequenceAfter(b.sequence, a.sequence);
    });
    std::vector<std::vector<LogEntry>> entries;
    for (const CheckedLog& log : logs)
        entries.push_back(ReadEntries(log, GrowthLimit(primary, logs), out.notes));

    Bytes hive = primary;
    if (hive.size() < kBaseBlockSize)
        hive.resize(kBaseBlockSize, 0);
    const LogEntry* last = nullptr;
    auto apply = [&](size_t index) {
        for (const LogEntry& e : entries[index]) {
            ApplyEntry(*logs[index].file, e, hive);
            last = &e;
            if (out.entriesApplied++ == 0)
                out.firstSequence = e.sequence;
        }
        out.logsUsed.push_back(logs[index].file->name);
    };

    if (primaryValid) {
        const uint32_t secondary = Read32(primary.data() + base::kSecondarySequence);
        for (size_t i = 0; i < logs.size(); ++i) {
            if (entries[i].empty())
                continue;
            const uint32_t first = entries[i].front().sequence;
            if (!last) {
                if (SequenceAfter(secondary, first)) {
                    out.notes.push_back(logs[i].file->name + ": its entries (from sequence " +
                                        std::to_string(first) +
                                        ") are older than the hive; not used");
                    continue;
                }
                apply(i);
            } else if (first == last->sequence + 1) {
                apply(i);
            } else if (SequenceAfter(first, last->sequence)) {
                out.notes.push_back(logs[i].file->name + ": its entries start at sequence " +
                                    std::to_string(first) + ", not right after " +
                                    std::to_string(last->sequence) + "; not used");
            }
        }
    } else {
        // A damaged header: only the newest log is trusted, its header in the hive's place.
        std::optional<size_t> newest;
        for (size_t i = 0; i < logs.size(); ++i)
            if (!entries[i].empty() && (!newest || SequenceAfter(entries[i].back().sequence,
                                                                 entries[*newest].back().sequence)))
                newest = i;
        if (!newest)
            return;
        std::memset(hive.data(), 0, kBaseBlockSize);
        std::memcpy(hive.data(), logs[*newest].file->bytes.data(), kLogHeaderSize);
        out.notes.push_back("the hive's header is damaged; the header kept in " +
                            logs[*newest].file->name + " takes its place");
        apply(*newest);
    }
    if (!last)
        return;

    uint8_t* b = hive.data();
    Write32(b + base::kPrimarySequence, last->sequence);
    Write32(b + base::kSecondarySequence, last->sequence);
    Write32(b + base::kBinsSize, last->binsSize);
    Write32(b + base::kFileType, 0);
    Write32(b + kBaseFlags, (Read32(b + kBaseFlags) & ~1u) | (last->flags & 1u));
    Write32(b + base::kChecksum, BaseBlockChecksum(b));
    out.lastSequence = last->sequence;
    out.newFormat = true;
    out.applied = true;
    out.hive = std::move(hive);
}

// --- the old format ---

struct DirtyVector {
    uint32_t binsSize = 0;
    size_t pagesAt = 0;          // where the first dirty page starts in the log
    std::vector<uint32_t> units; // the 512-byte units of the hive bins that the log holds
};

bool ReadDirtyVector(const CheckedLog& log, uint64_t binsLimit, DirtyVector& out,
                     std::string& why) {
    const Bytes& b = log.file->bytes;
    out.binsSize = Read32(b.data() + base::kBinsSize);
    if (out.binsSize == 0 || out.binsSize % kPageSize != 0 || out.binsSize > binsLimit) {
        why = "its header gives an invalid hive-bins size";
        return false;
    }
    const size_t bitmapAt = kLogSignature + 4;
    const size_t bitmapBytes = out.binsSize / kPageSize;
    if (bitmapAt + bitmapBytes > b.size()) {
        why = "it ends inside its dirty vector";
        return false;
    }
    out.pagesAt = (bitmapAt + bitmapBytes + kLogSector - 1) / kLogSector * kLogSector;
    for (size_t bit = 0; bit < bitmapBytes * 8; ++bit)
        if (b[bitmapAt + bit / 8] & (1u << (bit % 8)))
            out.units.push_back(uint32_t(bit));
    if (out.pagesAt + out.units.size() * uint64_t(kLogSector) > b.size()) {
        why = "it ends before the last of its " + std::to_string(out.units.size()) + " dirty pages";
        return false;
    }
    return true;
}

// Where the bins of `hive` stop being a sound chain: the offset into the hive bins of the
// first bin that is not one, or `binsSize` when all are.
uint64_t FirstBadBin(const Bytes& hive, uint32_t binsSize) {
    uint64_t at = 0;
    while (at < binsSize) {
        const uint64_t file = kBaseBlockSize + at;
        if (file + kBinHeaderSize > hive.size() || std::memcmp(hive.data() + file, "hbin", 4) != 0)
            return at;
        const uint32_t size = Read32(hive.data() + file + bin::kSize);
        if (Read32(hive.data() + file + bin::kOffset) != at || size < kPageSize ||
            size % kPageSize != 0 || size > binsSize - at)
            return at;
        at += size;
    }
    return binsSize;
}

bool RecoverOldFormat(const Bytes& primary, const CheckedLog& log, LogRecovery& out) {
    DirtyVector dirty;
    std::string why;
    if (!ReadDirtyVector(log, GrowthLimit(primary, {log}), dirty, why)) {
        out.notes.push_back(log.file->name + ": " + why + "; not used");
        return false;
    }
    const bool primaryValid = BaseBlockValid(primary.data(), primary.size());
    Bytes hive = primary;
    const size_t needed = size_t(kBaseBlockSize) + dirty.binsSize;
    if (hive.size() < needed)
        hive.resize(needed, 0);
    const Bytes& b = log.file->bytes;
    for (size_t k = 0; k < dirty.units.size(); ++k)
        std::memcpy(hive.data() + kBaseBlockSize + size_t(dirty.units[k]) * kLogSector,
                    b.data() + dirty.pagesAt + k * kLogSector, kLogSector);

    // A dirty page that breaks the chain of bins is not written, nor any after it.
    const uint64_t bad = FirstBadBin(hive, dirty.binsSize);
    uint32_t written = 0;
    for (const uint32_t unit : dirty.units) {
        const size_t at = kBaseBlockSize + size_t(unit) * kLogSector;
        if (uint64_t(unit) * kLogSector >= bad) {
            if (at + kLogSector <= primary.size())
                std::memcpy(hive.data() + at, primary.data() + at, kLogSector);
            else
                std::memset(hive.data() + at, 0, kLogSector);
        } else {
            ++written;
        }
    }
    if (written < dirty.units.size())
        out.notes.push_back(log.file->name + ": the bin at offset " + Hex(bad) +
                            " is not sound after its dirty pages are written; recovery stops "
                            "there (" +
                            std::to_string(dirty.units.size() - written) +
                            " dirty pages not written)");

    uint8_t* h = hive.data();
    if (!primaryValid) {
        std::memset(h, 0, kBaseBlockSize);
        std::memcpy(h, b.data(), kLogHeaderSize);
        Write32(h + base::kFileType, 0);
        out.notes.push_back("the hive's header is damaged; the header kept in " + log.file->name +
                            " takes its place");
    }
    Write32(h + base::kSecondarySequence, Read32(h + base::kPrimarySequence));
    Write32(h + base::kBinsSize, dirty.binsSize);
    Write32(h + base::kChecksum, BaseBlockChecksum(h));
    out.pagesApplied = written;
    out.logsUsed.push_back(log.file->name);
    out.applied = true;
    out.hive = std::move(hive);
    return true;
}

// The time a log must carry to apply to `primary`.
uint64_t PrimaryTimestamp(const Bytes& primary) {
    if (BaseBlockValid(primary.data(), primary.size()))
        return Read64(primary.data() + base::kTimestamp);
    return primary.size() >= kFirstBinTimestamp + 8 ? Read64(primary.data() + kFirstBinTimestamp)
                                                    : 0;
}

void RecoverOldFormat(const Bytes& primary, const std::vector<CheckedLog>& logs, LogRecovery& out) {
    const uint64_t time = PrimaryTimestamp(primary);
    const CheckedLog* log1 = nullptr;
    const CheckedLog* log2 = nullptr;
    const CheckedLog* single = nullptr;
    for (const CheckedLog& log : logs) {
        const CheckedLog*& slot = log.role == LogRole::Log1   ? log1
                                  : log.role == LogRole::Log2 ? log2
                                                              : single;
        if (!slot)
            slot = &log;
    }
    auto applicable = [&](const CheckedLog* log) {
        if (log && log->timestamp != time) {
            out.notes.push_back(log->file->name +
                                ": written at another time than the hive; not used");
            return false;
        }
        return log != nullptr;
    };
    // .LOG1 first; .LOG2 takes over when it is applicable and newer than a valid .LOG1.
    if (applicable(log1) && RecoverOldFormat(primary, *log1, out))
        return;
    if ((!log1 || (log2 && log2->timestamp > log1->timestamp)) && applicable(log2) &&
        RecoverOldFormat(primary, *log2, out))
        return;
    if (applicable(single))
        RecoverOldFormat(primary, *single, out);
}

std::string JoinNames(const std::vector<std::string>& names) {
    std::string text;
    for (size_t i = 0; i < names.size(); ++i)
        text += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i];
    return text;
}

std::string BaseName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

uint64_t Marvin32(uint64_t seed, const uint8_t* data, size_t size) {
    uint32_t lo = uint32_t(seed), hi = uint32_t(seed >> 32);
    auto mix = [&](uint32_t w) {
        lo += w;
        hi ^= lo;
        lo = RotateLeft(lo, 20);
        lo += hi;
        hi = RotateLeft(hi, 9);
        hi ^= lo;
        lo = RotateLeft(lo, 27);
        lo += hi;
        hi = RotateLeft(hi, 19);
    };
    size_t at = 0;
    for (; at + 4 <= size; at += 4)
        mix(Read32(data + at));
    const size_t rest = size - at;
    uint32_t tail = 0x80u << (8 * rest);
    for (size_t i = 0; i < rest; ++i)
        tail |= uint32_t(data[at + i]) << (8 * i);
    mix(tail);
    mix(0);
    return uint64_t(hi) << 32 | lo;
}

bool HiveNeedsRecovery(const uint8_t* data, size_t size) {
    if (size < kLogHeaderSize || std::memcmp(data, "regf", 4) != 0)
        return false; // not a hive at all: nothing a log could be applied to
    return Read32(data + base::kChecksum) != BaseBlockChecksum(data) ||
           Read32(data + base::kPrimarySequence) != Read32(data + base::kSecondarySequence);
}

LogRecovery RecoverFromLogs(const Bytes& primary, const std::vector<HiveLogFile>& logs) {
    LogRecovery out;
    std::vector<CheckedLog> oldLogs, newLogs;
    for (const HiveLogFile& log : logs) {
        if (log.bytes.empty())
            continue; // Windows leaves empty logs beside clean hives
        CheckedLog checked;
        std::string why;
        if (!CheckLogHeader(log, checked, why)) {
            out.notes.push_back(log.name + ": " + why + "; not used");
            continue;
        }
        (checked.newFormat ? newLogs : oldLogs).push_back(checked);
    }
    if (!newLogs.empty())
        RecoverNewFormat(primary, newLogs, out);
    else if (!oldLogs.empty())
        RecoverOldFormat(primary, oldLogs, out);
    return out;
}

std::string LogRecovery::summary() const {
    if (!applied)
        return "no log applied";
    std::vector<std::string> names;
    for (const std::string& name : logsUsed)
        names.push_back(BaseName(name));
    if (newFormat)
        return "applied " + std::to_string(entriesApplied) + " log entr" +
               (entriesApplied == 1 ? "y" : "ies") + " (sequence " + std::to_string(firstSequence) +
               (entriesApplied > 1 ? " to " + std::to_string(lastSequence) : "") + ") from " +
               JoinNames(names);
    return "applied " + std::to_string(pagesApplied) + " dirty page" +
           (pagesApplied == 1 ? "" : "s") + " from " + JoinNames(names);
}

std::vector<std::string> FindLogFiles(const std::string& hostPath) {
    const size_t slash = hostPath.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : hostPath.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? hostPath : hostPath.substr(slash + 1);
    auto upper = [](std::string text) {
        for (char& c : text)
            c = char(std::toupper(static_cast<unsigned char>(c)));
        return text;
    };
    const std::string wanted = upper(name);
    std::vector<std::string> found[3]; // .LOG1, .LOG2, .LOG
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return {};
    while (const dirent* item = ::readdir(dir)) {
        const std::string candidate = upper(item->d_name);
        int slot = -1;
        if (candidate == wanted + ".LOG1")
            slot = 0;
        else if (candidate == wanted + ".LOG2")
            slot = 1;
        else if (candidate == wanted + ".LOG")
            slot = 2;
        if (slot < 0)
            continue;
        const std::string path = (slash == std::string::npos ? "" : folder) + item->d_name;
        struct stat info {};
        if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode))
            found[slot].push_back(path);
    }
    ::closedir(dir);
    std::vector<std::string> logs;
    for (auto& names : found) {
        std::sort(names.begin(), names.end());
        logs.insert(logs.end(), names.begin(), names.end());
    }
    return logs;
}

} // namespace hive
