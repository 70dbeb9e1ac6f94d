#include "backup/ExportRegKey.h"

#include "registry/OSInfo.h"
#include "registry/RootKeys.h"
#include "registry/TRegistry.h"
#include "win32/registry/Registry.h"
#include "win32/system/Nls.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char* kLineEnd = "\r\n";

std::string FileError(const char* action, const std::string& path, int error) {
    return std::string(action) + " \"" + path + "\": " + std::strerror(error);
}

// The undo file, appended to through a buffer; complete on disk after finish().
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

    void write(std::string_view text) {
        buffer_.append(text);
        if (buffer_.size() >= kFlushAt)
            flush();
    }

    // Everything written reaches the disk, and so does the file's name when it is new.
    void finish() {
        flush();
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
    static constexpr size_t kFlushAt = 1 << 20;

    void flush() {
        size_t done = 0;
        while (done < buffer_.size()) {
            const ssize_t n = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                throw EExportError(
                    FileError("Cannot write to file", path_, n < 0 ? errno : ENOSPC));
            done += size_t(n);
        }
        buffer_.clear();
    }

    void syncFolder() const {
        const size_t slash = path_.rfind('/');
        const std::string folder = slash == std::string::npos ? "." : path_.substr(0, slash + 1);
        const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir < 0)
            throw EExportError(FileError("Cannot flush folder", folder, errno));
        const int error = ::fsync(dir) == 0 ? 0 : errno;
        ::close(dir);
        if (error != 0 && error != EINVAL) // some file systems cannot flush folders
            throw EExportError(FileError("Cannot flush folder", folder, error));
    }

    std::string path_;
    int fd_ = -1;
    off_t startSize_ = 0;
    bool created_ = false;
    std::string buffer_;
};

// Backslashes doubled and double quotes escaped, as the registry editor reads them back.
std::string Quoted(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out + "\"";
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

// The bytes as "hex:" writes them: after the comma that follows byte i (i > 0, a multiple
// of 25) the line goes on after a backslash.
void AppendHexBytes(std::string& out, const std::vector<uint8_t>& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    for (size_t i = 0; i < bytes.size(); ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
        if (i + 1 == bytes.size())
            break;
        out += ',';
        if (i > 0 && i % 25 == 0) {
            out += '\\';
            out += kLineEnd;
        }
    }
}

std::string HexPrefix(DWORD type) {
    if (type == REG_BINARY)
        return "hex:";
    char text[24];
    std::snprintf(text, sizeof text, "hex(%x):", unsigned(type));
    return text;
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
        : file_(file), nt_(nt), valueName_(valueName) {}

    void writeTree(HKEY root, const std::string& keyPath) {
        TRegistry registry(KEY_READ);
        registry.SetRootKey(root);
        writeBlock(registry, ExportRootName(root), keyPath);
    }

    void writeKeyLine(HKEY root, const std::string& keyPath) {
        file_.write(std::string(kLineEnd) + "[" + ExportRootName(root) + "\\" + keyPath + "]" +
                    kLineEnd);
    }

private:
    UndoFile& file_;
    const bool nt_;
    const std::string& valueName_;
    std::string line_;

    void writeBlock(TRegistry& registry, const std::string& rootName, const std::string& keyPath) {
        file_.write(std::string(kLineEnd) + "[" + rootName + "\\" + keyPath + "]" + kLineEnd);
        std::vector<std::string> values, subkeys;
        if (registry.OpenKey("\\" + keyPath, false)) {
            registry.GetValueNames(values);
            registry.GetKeyNames(subkeys);
            if (!valueName_.empty() && registry.ValueExists(valueName_))
                values = {valueName_};
            for (const std::string& name : values)
                writeValue(registry.CurrentKey(), name);
            registry.CloseKey();
        } else if (registry.KeyExists("\\" + keyPath)) {
            // Its contents would be missing from the file, and deleting it would lose them.
            throw EExportError("Cannot read key \"" + rootName + "\\" + keyPath + "\"");
        }
        for (const std::string& name : subkeys)
            writeBlock(registry, rootName, keyPath + "\\" + name);
    }

    void writeValue(HKEY key, const std::string& name) {
        line_ = name.empty() ? "@" : Quoted(name);
        line_ += '=';
        ValueData value;
        // On the NT family the stored bytes are UTF-16 and the file carries them as they
        // are; the registry editor of the other family reads string bytes in the code page.
        if (!QueryValue(key, Widen(name), name, nt_, value))
            throw EExportError("Failed to get data for '" + name + "'");
        appendData(value);
        line_ += kLineEnd;
        file_.write(line_);
    }

    void appendData(const ValueData& value) {
        if (value.type == REG_SZ) {
            if (const auto text = plainString(value.bytes)) {
                line_ += Quoted(*text);
                return;
            }
        } else if (value.type == REG_DWORD && value.bytes.size() == 4) {
            char text[16];
            std::snprintf(text, sizeof text, "dword:%08X",
                          unsigned(value.bytes[0] | value.bytes[1] << 8 | value.bytes[2] << 16 |
                                   uint32_t(value.bytes[3]) << 24));
            line_ += text;
            return;
        }
        // Every other type, and a string the quoted form would not bring back byte for
        // byte, keeps its type and its bytes.
        line_ += HexPrefix(value.type);
        AppendHexBytes(line_, value.bytes);
    }

    // The text of a string value when "text" imports back to exactly these bytes: one
    // terminator at the end, none inside, no line break, every character in the code page.
    std::optional<std::string> plainString(const std::vector<uint8_t>& bytes) const {
        std::string text;
        if (nt_) {
            if (bytes.size() < 2 || bytes.size() % 2 != 0)
                return std::nullopt;
            std::u16string units(bytes.size() / 2 - 1, u'\0');
            for (size_t i = 0; i < units.size(); ++i)
                units[i] = char16_t(bytes[2 * i] | bytes[2 * i + 1] << 8);
            if (bytes[bytes.size() - 2] != 0 || bytes.back() != 0 ||
                units.find(u'\0') != units.npos)
                return std::nullopt;
            text = Narrow(units);
            if (Widen(text) != units)
                return std::nullopt;
        } else {
            if (bytes.empty() || bytes.back() != 0)
                return std::nullopt;
            text.assign(bytes.begin(), bytes.end() - 1);
            if (text.find('\0') != text.npos)
                return std::nullopt;
        }
        if (text.find_first_of("\r\n") != text.npos)
            return std::nullopt;
        return text;
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
            exporter.writeKeyLine(root, path);
    } else {
        exporter.writeTree(root, path);
    }
    file.finish();
}
