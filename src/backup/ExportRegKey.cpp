#include "backup/ExportRegKey.h"

#include "hive/HostFiles.h"
#include "registry/OSInfo.h"
#include "registry/RootKeys.h"
#include "registry/TRegistry.h"
#include "win32/registry/Registry.h"
#include "win32/system/Nls.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <span>
#include <string_view>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr const char* kLineEnd = "\r\n";

std::string FileError(const char* action, const std::string& path, int error) {
    return std::string(action) + " \"" + path + "\": " + std::strerror(error);
}

// Text on its way to the undo file.
struct Block {
    std::unique_ptr<char[]> data;
    size_t capacity = 0;
    size_t used = 0;

    explicit Block(size_t size)
        : data(std::make_unique_for_overwrite<char[]>(size)), capacity(size) {}
};

// The undo file, appended to through a buffer of its own; complete on disk after finish().
// The text is built in place at the end of a block of kBlock bytes. Once a block is full,
// a thread of the file's own writes it while the next one is made, so that the text of a
// large export goes to the disk at the speed it is made; a small export writes its one
// block itself.
class UndoFile {
public:
    explicit UndoFile(const std::string& path) : path_(path) {
        fd_ = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOFOLLOW);
        if (fd_ < 0 && errno == ENOENT) {
            fd_ = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            created_ = fd_ >= 0;
        }
        if (fd_ < 0)
            throw EExportError(FileError("Cannot open file", path, errno));
        struct stat st {};
        if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd_);
            fd_ = -1;
            throw EExportError(FileError("Cannot open file", path, EINVAL));
        }
        startSize_ = st.st_size;
    }
    // An export that did not finish leaves the file as it found it, so that the blocks of
    // later exports never follow a half-written one.
    ~UndoFile() {
        stopWriter();
        if (fd_ < 0)
            return;
        if (created_)
            ::unlink(path_.c_str());
        else if (::ftruncate(fd_, startSize_) != 0) {
            // Nothing more can be done; the caller has the export's error already.
        }
        ::close(fd_);
    }
    UndoFile(const UndoFile&) = delete;
    UndoFile& operator=(const UndoFile&) = delete;

    bool created() const { return created_; }

    // Room for `size` more bytes of text; commit() tells where what was put there ends.
    char* room(size_t size) {
        if (size > filling_.capacity - filling_.used) {
            handOff();
            if (size > filling_.capacity)
                filling_ = Block(size);
        }
        return filling_.data.get() + filling_.used;
    }
    void commit(const char* end) { filling_.used = size_t(end - filling_.data.get()); }

    void write(std::string_view text) {
        char* p = room(text.size());
        if (!text.empty())
            std::memcpy(p, text.data(), text.size());
        commit(p + text.size());
    }

    // Everything written reaches the disk, and so does the file's name when it is new.
    void finish() {
        if (writer_.joinable()) {
            handOff();
            waitForWriter();
            stopWriter();
        } else if (const int error = writeBlock(filling_); error != 0) {
            throw EExportError(FileError("Cannot write to file", path_, error));
        }
        if (::fsync(fd_) != 0)
            throw EExportError(FileError("Cannot flush file", path_, errno));
        const int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0)
            throw EExportError(FileError("Cannot write to file", path_, errno));
        if (created_)
            syncFolder();
    }

private:
    static constexpr size_t kBlock = 512 << 10;

    // Writes the block and empties it; the error number of a failed write, or 0.
    int writeBlock(Block& block) {
        size_t done = 0;
        while (done < block.used) {
            const ssize_t n = ::write(fd_, block.data.get() + done, block.used - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return n < 0 ? errno : ENOSPC;
            done += size_t(n);
        }
        // The disk starts on each block now rather than all of them at the fsync that ends
        // the export. A hint only: fsync reports failures.
        if (block.used > 0)
            ::sync_file_range(fd_, startSize_ + written_, off_t(block.used), SYNC_FILE_RANGE_WRITE);
        written_ += off_t(block.used);
        block.used = 0;
        return 0;
    }

    // Waits until the writer has written the block it was given; throws its error.
    std::unique_lock<std::mutex> waitForWriter() {
        std::unique_lock lock(mutex_);
        written_cv_.wait(lock, [this] { return !full_; });
        if (error_ != 0)
            throw EExportError(FileError("Cannot write to file", path_, error_));
        return lock;
    }

    // Gives the full block to the writer and takes the one it has written.
    void handOff() {
        if (filling_.used == 0)
            return;
        if (!writer_.joinable()) {
            try {
                writer_ = std::thread([this] { writeBlocks(); });
            } catch (const std::system_error&) { // no thread to be had: the export writes
                if (const int error = writeBlock(filling_); error != 0)
                    throw EExportError(FileError("Cannot write to file", path_, error));
                return;
            }
        }
        {
            std::unique_lock lock = waitForWriter();
            std::swap(filling_, writing_);
            full_ = true;
        }
        full_cv_.notify_one();
    }

    // The writer: each block handed to it, until stopped.
    void writeBlocks() {
        std::unique_lock lock(mutex_);
        for (;;) {
            full_cv_.wait(lock, [this] { return full_ || stop_; });
            if (stop_)
                return;
            lock.unlock();
            const int error = writeBlock(writing_);
            lock.lock();
            writing_.used = 0;
            if (error_ == 0)
                error_ = error;
            full_ = false;
            written_cv_.notify_one();
        }
    }

    // Ends the writer; a block it was given and has not begun is left unwritten.
    void stopWriter() {
        if (!writer_.joinable())
            return;
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        full_cv_.notify_one();
        writer_.join();
    }

    void syncFolder() const {
        const int error = hive::SyncFolderOf(path_);
        if (error != 0 && error != EINVAL) // some file systems cannot flush folders
            throw EExportError(FileError("Cannot flush folder", hive::ParentFolder(path_), error));
    }

    std::string path_;
    int fd_ = -1;
    off_t startSize_ = 0;
    bool created_ = false;
    Block filling_ = Block(kBlock);

    // Shared with the writer under mutex_, but for writing_ and written_: the writer's
    // alone while full_ is set, and this thread's while no writer runs.
    Block writing_ = Block(kBlock);
    off_t written_ = 0; // by this export
    std::thread writer_;
    std::mutex mutex_;
    std::condition_variable full_cv_;    // full_ set, or stop_
    std::condition_variable written_cv_; // full_ cleared
    bool full_ = false;                  // writing_ holds text to write
    bool stop_ = false;
    int error_ = 0; // of the first failed write
};

// What in `name` would break its line of a .reg file, or null.
const char* LineBreakOrNul(std::string_view name) {
    bool nul = false;
    for (const char c : name) {
        if (static_cast<unsigned char>(c) >= 0x20)
            continue;
        if (c == '\r' || c == '\n')
            return "a line break";
        nul = nul || c == '\0';
    }
    return nul ? "a NUL character" : nullptr;
}

// The name for a message: line breaks, NUL and other control characters spelled out.
std::string Printable(std::string_view name) {
    std::string out;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (byte < 0x20 || byte == 0x7F) {
            char code[8];
            std::snprintf(code, sizeof code, "\\x%02X", byte);
            out += code;
        } else
            out += c;
    }
    return out;
}

// Backslashes doubled and double quotes escaped, as the registry editor reads them back.
void WriteQuoted(UndoFile& file, std::string_view text) {
    char* p = file.room(text.size() * 2 + 2);
    *p++ = '"';
    for (const char c : text) {
        if (c == '\\' || c == '"')
            *p++ = '\\';
        *p++ = c;
    }
    *p++ = '"';
    file.commit(p);
}

std::u16string Widen(const std::string& ansi) {
    if (ansi.empty())
        return {};
    std::u16string out(ansi.size(), u'\0');
    const int n =
        MultiByteToWideChar(CP_ACP, 0, ansi.data(), int(ansi.size()), out.data(), int(out.size()));
    out.resize(size_t(n > 0 ? n : 0));
    return out;
}

std::string Narrow(std::u16string_view text) {
    if (text.empty())
        return {};
    std::string out(text.size() * 2, '\0');
    const int n = WideCharToMultiByte(CP_ACP, 0, text.data(), int(text.size()), out.data(),
                                      int(out.size()), nullptr, nullptr);
    out.resize(size_t(n > 0 ? n : 0));
    return out;
}

// The text in the code page when it converts back unchanged. Every code page of Windows
// holds ASCII as it is, which spares most names the conversion.
bool ToAnsiExactly(std::u16string_view text, std::string& out) {
    if (std::all_of(text.begin(), text.end(), [](char16_t c) { return c < 0x80; })) {
        out.resize(text.size());
        std::copy(text.begin(), text.end(), out.begin());
        return true;
    }
    out = Narrow(text);
    return Widen(out) == text;
}

// Each byte's two upper-case hexadecimal digits and a comma, in four bytes so that a byte
// is written with one store (the fourth byte is written over by the next).
constexpr std::array<std::array<char, 4>, 256> kHexWithComma = [] {
    const char digits[] = "0123456789ABCDEF";
    std::array<std::array<char, 4>, 256> triples{};
    for (size_t i = 0; i < 256; ++i)
        triples[i] = {digits[i >> 4], digits[i & 15], ',', '\0'};
    return triples;
}();

// Copies eight UTF-16LE units to `out` as bytes when each is a printable ASCII character
// that a quoted .reg string holds as it is (neither a backslash nor a double quote);
// false, with nothing written, otherwise. Most names and strings are made of such runs.
bool CopyEightPlainUnits(const void* units, char* out) {
#if defined(__SSE2__)
    const __m128i v = _mm_loadu_si128(static_cast<const __m128i*>(units));
    // 0x20 to 0x7F: v - 0x20 at most 0x5F, unsigned
    const __m128i printable = _mm_cmpeq_epi16(
        _mm_subs_epu16(_mm_sub_epi16(v, _mm_set1_epi16(0x20)), _mm_set1_epi16(0x5F)),
        _mm_setzero_si128());
    const __m128i escaped = _mm_or_si128(_mm_cmpeq_epi16(v, _mm_set1_epi16('\\')),
                                         _mm_cmpeq_epi16(v, _mm_set1_epi16('"')));
    if (_mm_movemask_epi8(_mm_andnot_si128(escaped, printable)) != 0xFFFF)
        return false;
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(v, v));
    return true;
#else
    (void)units;
    (void)out;
    return false;
#endif
}

// The type's prefix ("hex:", "hex(7):") and the bytes, each followed by a comma but the
// last: the first line holds 26 bytes, every further line 25, each line but the last
// going on after a backslash.
void WriteHex(UndoFile& file, DWORD type, std::span<const uint8_t> bytes) {
    char prefix[16] = "hex:";
    size_t prefixLength = 4;
    if (type != REG_BINARY) { // "hex(" and the type in lower-case hexadecimal, "):"
        char digits[8];
        size_t count = 0;
        for (DWORD rest = type; count == 0 || rest != 0; rest >>= 4)
            digits[count++] = "0123456789abcdef"[rest & 15];
        prefixLength = 3;
        prefix[prefixLength++] = '(';
        while (count > 0)
            prefix[prefixLength++] = digits[--count];
        prefix[prefixLength++] = ')';
        prefix[prefixLength++] = ':';
    }
    const size_t count = bytes.size();
    const size_t breaks = count >= 2 ? (count - 2) / 25 : 0;
    // Room for a comma after the last byte too, taken back at the end, and for the fourth
    // byte of its store.
    char* p = file.room(prefixLength + count * 3 + breaks * 3 + 1);
    std::memcpy(p, prefix, prefixLength);
    p += prefixLength;
    if (count == 0) {
        file.commit(p);
        return;
    }
    size_t i = 0;
    for (size_t lineEnd = std::min<size_t>(26, count);; lineEnd = std::min(count, lineEnd + 25)) {
        for (; i < lineEnd; ++i) {
            std::memcpy(p, kHexWithComma[bytes[i]].data(), 4);
            p += 3;
        }
        if (lineEnd == count)
            break;
        std::memcpy(p, "\\\r\n", 3);
        p += 3;
    }
    file.commit(p - 1);
}

bool IsStringType(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// UTF-16 bytes of a string value as the code page's bytes, terminators included.
std::vector<uint8_t> AnsiBytes(std::span<const uint8_t> utf16) {
    std::u16string units(utf16.size() / 2, u'\0');
    for (size_t i = 0; i < units.size(); ++i)
        units[i] = char16_t(utf16[2 * i] | utf16[2 * i + 1] << 8);
    const std::string ansi = Narrow(units);
    return std::vector<uint8_t>(ansi.begin(), ansi.end());
}

struct ValueData {
    DWORD type = 0;
    std::vector<uint8_t> bytes;
};

// The value's type and bytes; false when it cannot be read.
bool QueryValue(HKEY key, const std::u16string& wideName, const std::string& ansiName, bool wide,
                ValueData& out) {
    const auto query = [&](BYTE* data, DWORD* size) {
        return wide ? RegQueryValueExW(key, wideName.c_str(), nullptr, &out.type, data, size)
                    : RegQueryValueExA(key, ansiName.c_str(), nullptr, &out.type, data, size);
    };
    // The value may grow between asking its size and reading it.
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD size = 0;
        if (query(nullptr, &size) != ERROR_SUCCESS)
            return false;
        out.bytes.resize(size);
        BYTE empty = 0;
        const LONG rc = query(size ? out.bytes.data() : &empty, &size);
        if (rc == ERROR_SUCCESS) {
            out.bytes.resize(size);
            return true;
        }
        if (rc != ERROR_MORE_DATA)
            return false;
    }
    return false;
}

class Exporter {
public:
    Exporter(UndoFile& file, bool nt, const std::string& valueName)
        : file_(file), nt_(nt), valueName_(valueName), wideValueName_(Widen(valueName)) {}

    void writeTree(HKEY root, const std::string& keyPath) {
        path_ = ExportRootName(root) + "\\" + keyPath;
        HKEY key = nullptr;
        const LONG rc = RegOpenKeyExA(root, keyPath.c_str(), 0, KEY_READ, &key);
        if (rc != ERROR_SUCCESS) {
            writeKeyLine(0);
            requireGone(rc);
            return;
        }
        writeBlock(key, 0);
    }

    // A key that is gone: its key line alone.
    void writeGoneKey(const std::string& name) {
        path_ = name;
        writeKeyLine(0);
    }

private:
    UndoFile& file_;
    const bool nt_;
    const std::string& valueName_;
    const std::u16string wideValueName_;
    // The name of the key being written; each level of the walk appends its part and
    // takes it off again.
    std::string path_;
    // The subkey names of every key on the way down, each with its terminator, one after
    // another: a level appends its names and takes them off when it is done.
    std::u16string names_;
    std::vector<size_t> nameStarts_;
    // Value and key names are at most 16,383 characters.
    std::u16string nameBuffer_ = std::u16string(16384, u'\0');
    std::vector<uint8_t> dataBuffer_ = std::vector<uint8_t>(1 << 16);
    std::string ansiName_;
    ValueData value_;
    std::string text_;

    // A key that exists but cannot be read would be missing from the file, and deleting it
    // would lose it.
    void requireGone(LONG rc) const {
        if (rc != ERROR_FILE_NOT_FOUND && rc != ERROR_KEY_DELETED)
            throw EExportError("Cannot read key \"" + path_ + "\"");
    }

    // A key line ends at a line break, and the registry editor drops the blanks at the
    // end of its name and refuses a NUL in it: such a key would not come back as it was.
    // The part of the name before `from` was checked with the parent's line.
    void requireKeyNameCarried(size_t from) const {
        if (const char* why = LineBreakOrNul(std::string_view(path_).substr(from)))
            throw EExportError("The key \"" + Printable(path_) +
                               "\" cannot be saved to an undo file: its name holds " + why +
                               ", which the registry editor cannot read back");
        if (!path_.empty() && (path_.back() == ' ' || path_.back() == '\t'))
            throw EExportError("The key \"" + Printable(path_) +
                               "\" cannot be saved to an undo file: its name ends in a blank, "
                               "which the registry editor drops when it reads the file back");
    }

    // A value line ends at a line break, and the registry editor refuses a NUL in a name.
    void requireValueNameCarried(const std::string& name) const {
        if (const char* why = LineBreakOrNul(name))
            throw EExportError("The value \"" + Printable(name) + "\" of the key \"" +
                               Printable(path_) +
                               "\" cannot be saved to an undo file: its name holds " + why +
                               ", which the registry editor cannot read back");
    }

    // Appends the name in the code page to `out`; a name the code page cannot hold would
    // come back as another name.
    static void AppendAnsiName(std::string& out, std::u16string_view name, const char* what) {
        const size_t start = out.size();
        out.resize(start + name.size());
        char* p = out.data() + start;
        char16_t all = 0;
        for (const char16_t c : name) {
            all |= c;
            *p++ = char(c);
        }
        if (all < 0x80) // every code page of Windows holds ASCII as it is
            return;
        std::string ansi;
        if (!ToAnsiExactly(name, ansi))
            throw EExportError(std::string(what) + " \"" + ansi +
                               "\" cannot be written in the machine's code page");
        out.resize(start);
        out += ansi;
    }

    void writeKeyLine(size_t checkFrom) {
        requireKeyNameCarried(checkFrom);
        char* p = file_.room(path_.size() + 6);
        std::memcpy(p, "\r\n[", 3);
        std::memcpy(p + 3, path_.data(), path_.size());
        std::memcpy(p + 3 + path_.size(), "]\r\n", 3);
        file_.commit(p + path_.size() + 6);
    }

    // Writes the block of the open key `key` (closed on the way out) and those of its
    // subtree, values before subkeys, each in the registry's order. The key's name is in
    // path_, whose part before `newPart` was checked with the parent's line.
    void writeBlock(HKEY key, size_t newPart) {
        struct Closer {
            HKEY key;
            ~Closer() { RegCloseKey(key); }
        } closer{key};
        writeKeyLine(newPart);
        if (!valueName_.empty() && RegQueryValueExA(key, valueName_.c_str(), nullptr, nullptr,
                                                    nullptr, nullptr) == ERROR_SUCCESS) {
            if (!QueryValue(key, wideValueName_, valueName_, nt_, value_))
                throw EExportError("Failed to get data for '" + valueName_ + "'");
            requireValueNameCarried(valueName_);
            writeNamePart(std::string_view(valueName_));
            writeDataPart(value_.type, value_.bytes);
        } else {
            for (DWORD i = 0; writeValueAt(key, i); ++i) {
            }
        }

        const size_t first = nameStarts_.size();
        const size_t namesStart = names_.size();
        for (DWORD i = 0;; ++i) {
            DWORD length = DWORD(nameBuffer_.size());
            const LONG rc = RegEnumKeyExW(key, i, nameBuffer_.data(), &length, nullptr, nullptr,
                                          nullptr, nullptr);
            if (rc == ERROR_NO_MORE_ITEMS)
                break;
            if (rc != ERROR_SUCCESS)
                throw EExportError("Cannot read the subkeys of \"" + path_ + "\"");
            nameStarts_.push_back(names_.size());
            names_.append(nameBuffer_.data(), length + 1); // with its terminator
        }
        const size_t last = nameStarts_.size();
        const size_t namesEnd = names_.size();
        const size_t pathLength = path_.size();
        for (size_t j = first; j < last; ++j) {
            const size_t at = nameStarts_[j];
            const size_t end = (j + 1 < last ? nameStarts_[j + 1] : namesEnd) - 1;
            path_ += '\\';
            AppendAnsiName(path_, std::u16string_view(names_).substr(at, end - at), "The key name");
            // Opened from the open parent: no path is looked up from the root again.
            HKEY sub = nullptr;
            if (const LONG rc = RegOpenKeyExW(key, names_.data() + at, 0, KEY_READ, &sub);
                rc != ERROR_SUCCESS) {
                writeKeyLine(pathLength + 1);
                requireGone(rc);
            } else {
                writeBlock(sub, pathLength + 1);
            }
            path_.resize(pathLength);
        }
        nameStarts_.resize(first);
        names_.resize(namesStart);
    }

    // Writes the value at `index` of the open key; false when there is none.
    bool writeValueAt(HKEY key, DWORD index) {
        // On the NT family the stored bytes are UTF-16 and the file carries them as they
        // are; the registry editor of the other family reads string bytes in the code page.
        for (int attempt = 0;; ++attempt) {
            DWORD nameLength = DWORD(nameBuffer_.size());
            DWORD dataLength = DWORD(dataBuffer_.size());
            DWORD type = 0;
            const LONG rc = RegEnumValueW(key, index, nameBuffer_.data(), &nameLength, nullptr,
                                          &type, dataBuffer_.data(), &dataLength);
            if (rc == ERROR_NO_MORE_ITEMS)
                return false;
            if (rc == ERROR_SUCCESS) {
                std::span<const uint8_t> data(dataBuffer_.data(), dataLength);
                if (!nt_ && IsStringType(type)) {
                    value_.bytes = AnsiBytes(data);
                    data = value_.bytes;
                }
                writeNamePart(std::u16string_view(nameBuffer_.data(), nameLength));
                writeDataPart(type, data);
                return true;
            }
            if (rc != ERROR_MORE_DATA || attempt == 3)
                throw EExportError("Cannot read the values of \"" + path_ + "\"");
            dataBuffer_.resize(dataBuffer_.size() * 4); // names never exceed the buffer
        }
    }

    // The name part of a value line with its "=": "name"= or @= for the default value.
    void writeNamePart(std::string_view name) {
        if (name.empty()) {
            file_.write("@=");
            return;
        }
        WriteQuoted(file_, name);
        file_.write("=");
    }

    // The name part of a value line from the name the registry handed out. Most names are
    // printable ASCII, written straight from the registry's characters; any other is
    // converted and checked first.
    void writeNamePart(std::u16string_view name) {
        if (name.empty()) {
            file_.write("@=");
            return;
        }
        char* p = file_.room(name.size() * 2 + 3);
        *p++ = '"';
        for (size_t i = 0; i < name.size();) {
            if (i + 8 <= name.size() && CopyEightPlainUnits(name.data() + i, p)) {
                i += 8;
                p += 8;
                continue;
            }
            for (const size_t group = std::min(name.size(), i + 8); i < group; ++i) {
                const char16_t c = name[i];
                if (c < 0x20 || c >= 0x80) {
                    ansiName_.clear();
                    AppendAnsiName(ansiName_, name, "The value name");
                    requireValueNameCarried(ansiName_);
                    writeNamePart(std::string_view(ansiName_));
                    return;
                }
                if (c == u'\\' || c == u'"')
                    *p++ = '\\';
                *p++ = char(c);
            }
        }
        *p++ = '"';
        *p++ = '=';
        file_.commit(p);
    }

    void writeDataPart(DWORD type, std::span<const uint8_t> bytes) {
        writeData(type, bytes);
        file_.write(kLineEnd);
    }

    void writeData(DWORD type, std::span<const uint8_t> bytes) {
        if (type == REG_SZ) {
            if (writeAsciiString(bytes))
                return;
            if (plainString(bytes, text_)) {
                WriteQuoted(file_, text_);
                return;
            }
        } else if (type == REG_DWORD && bytes.size() == 4) {
            static const char digits[] = "0123456789ABCDEF";
            char* p = file_.room(14);
            std::memcpy(p, "dword:", 6);
            for (int i = 0; i < 4; ++i) { // most significant byte first
                p[6 + 2 * i] = digits[bytes[3 - i] >> 4];
                p[7 + 2 * i] = digits[bytes[3 - i] & 15];
            }
            file_.commit(p + 14);
            return;
        }
        // Every other type, and a string the quoted form would not bring back byte for
        // byte, keeps its type and its bytes.
        WriteHex(file_, type, bytes);
    }

    // How writeAsciiString takes each character.
    static constexpr uint8_t kPlain = 0, kEscaped = 1, kRefused = 2;
    static constexpr std::array<uint8_t, 256> kStringCharKinds = [] {
        std::array<uint8_t, 256> kinds{};
        for (size_t c = 0; c < 256; ++c)
            kinds[c] = c == 0 || c >= 0x80 || c == '\r' || c == '\n' ? kRefused
                       : c == '\\' || c == '"'                       ? kEscaped
                                                                     : kPlain;
        return kinds;
    }();

    // Nearly every string of the NT family: UTF-16 of ASCII characters but NUL, CR and LF,
    // with one terminator, written quoted straight from its bytes. False, with nothing
    // written, for any other string.
    bool writeAsciiString(std::span<const uint8_t> bytes) {
        if (!nt_ || bytes.size() < 2 || bytes.size() % 2 != 0 || bytes[bytes.size() - 2] != 0 ||
            bytes.back() != 0)
            return false;
        const size_t length = bytes.size() / 2 - 1;
        char* p = file_.room(length * 2 + 2);
        *p++ = '"';
        for (size_t i = 0; i < length;) {
            if (i + 8 <= length && CopyEightPlainUnits(bytes.data() + 2 * i, p)) {
                i += 8;
                p += 8;
                continue;
            }
            for (const size_t group = std::min(length, i + 8); i < group; ++i) {
                const uint8_t c = bytes[2 * i];
                const uint8_t kind = kStringCharKinds[c];
                if (bytes[2 * i + 1] != 0 || kind == kRefused)
                    return false;
                if (kind == kEscaped)
                    *p++ = '\\';
                *p++ = char(c);
            }
        }
        *p++ = '"';
        file_.commit(p);
        return true;
    }

    // The text of a string value when "text" imports back to exactly these bytes: one
    // terminator at the end, none inside, no line break, every character in the code page.
    bool plainString(std::span<const uint8_t> bytes, std::string& text) const {
        text.clear();
        if (nt_) {
            if (bytes.size() < 2 || bytes.size() % 2 != 0 || bytes[bytes.size() - 2] != 0 ||
                bytes.back() != 0)
                return false;
            const size_t length = bytes.size() / 2 - 1;
            std::u16string units(length, u'\0');
            for (size_t i = 0; i < length; ++i)
                units[i] = char16_t(bytes[2 * i] | bytes[2 * i + 1] << 8);
            if (units.find(u'\0') != units.npos || !ToAnsiExactly(units, text))
                return false;
        } else {
            if (bytes.empty() || bytes.back() != 0)
                return false;
            text.assign(bytes.begin(), bytes.end() - 1);
            if (text.find('\0') != text.npos)
                return false;
        }
        return text.find_first_of("\r\n") == text.npos;
    }
};

std::string JoinPath(const std::string& base, const std::string& rest) {
    return rest.empty() ? base : base + "\\" + rest;
}

} // namespace

void ExportRegKey(HKEY root, const std::string& keyPath, const std::string& fileName,
                  const std::string& valueName) {
    std::string path = keyPath;
    if (!path.empty() && path.back() == '\\')
        path.pop_back();
    const bool nt = IsWinNT();
    UndoFile file(fileName);
    if (file.created())
        file.write(nt ? "Windows Registry Editor Version 5.00" : "REGEDIT4");
    if (file.created())
        file.write(kLineEnd);
    Exporter exporter(file, nt, valueName);
    if (root == HKEY_CLASSES_ROOT) {
        // A classes key is the machine's key and the user's: each part goes back where
        // it was, with its own values, so per-user associations never become the
        // machine's.
        bool any = false;
        const struct {
            HKEY root;
            const char* classes;
        } parts[] = {{HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes"},
                     {HKEY_CURRENT_USER, "Software\\Classes"}};
        for (const auto& part : parts) {
            const std::string partPath = JoinPath(part.classes, path);
            TRegistry probe(KEY_READ);
            probe.SetRootKey(part.root);
            if (probe.KeyExists("\\" + partPath)) {
                exporter.writeTree(part.root, partPath);
                any = true;
            }
        }
        if (!any)
            exporter.writeGoneKey(ExportRootName(root) + "\\" + path);
    } else {
        exporter.writeTree(root, path);
    }
    file.finish();
}
