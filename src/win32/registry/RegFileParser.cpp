#include "win32/registry/RegFileParser.h"

#include "win32/base/CodePage.h"
#include "win32/base/WinTypes.h"

#include <climits>
#include <optional>
#include <stdexcept>
#include <string_view>

namespace win32 {

namespace {

constexpr std::u16string_view kHeaderVersion4 = u"REGEDIT4";
constexpr std::u16string_view kHeaderVersion5 = u"Windows Registry Editor Version 5.00";

bool IsBlank(char16_t c) {
    return c == u' ' || c == u'\t';
}

std::u16string_view TrimLeft(std::u16string_view s) {
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    return s;
}

std::u16string_view TrimRight(std::u16string_view s) {
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

std::u16string_view Trim(std::u16string_view s) {
    return TrimLeft(TrimRight(s));
}

// Case-insensitive for ASCII letters only: the data prefixes are plain ASCII words.
bool StartsWithWord(std::u16string_view s, std::u16string_view word) {
    if (s.size() < word.size())
        return false;
    for (size_t i = 0; i < word.size(); ++i) {
        char16_t c = s[i];
        if (c >= u'A' && c <= u'Z')
            c = char16_t(c - u'A' + u'a');
        if (c != word[i])
            return false;
    }
    return true;
}

int HexDigit(char16_t c) {
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

// 1 to maxDigits hex digits and nothing else.
std::optional<uint32_t> ParseHex(std::u16string_view digits, size_t maxDigits) {
    if (digits.empty() || digits.size() > maxDigits)
        return std::nullopt;
    uint32_t value = 0;
    for (const char16_t c : digits) {
        const int digit = HexDigit(c);
        if (digit < 0)
            return std::nullopt;
        value = value << 4 | uint32_t(digit);
    }
    return value;
}

// Text from the file quoted in a message: short, and without control characters
// that would garble a log or a dialog.
std::string Quote(std::u16string_view text) {
    constexpr size_t kLimit = 60;
    std::u16string shown(text.substr(0, kLimit));
    for (char16_t& c : shown) {
        if (c < 0x20 || c == 0x7F)
            c = u'?';
    }
    std::string quoted = "\"" + Utf16ToUtf8(shown);
    quoted += text.size() > kLimit ? "...\"" : "\"";
    return quoted;
}

void AppendUtf16Bytes(std::u16string_view text, Bytes& out) {
    out.reserve(out.size() + text.size() * 2);
    for (const char16_t c : text) {
        out.push_back(uint8_t(c & 0xFF));
        out.push_back(uint8_t(c >> 8));
    }
}

std::u16string DecodeText(const Bytes& file, const CodePage& ansi) {
    if (file.size() >= 2 && file[0] == 0xFF && file[1] == 0xFE) {
        std::u16string text;
        text.reserve(file.size() / 2);
        size_t i = 2;
        for (; i + 1 < file.size(); i += 2)
            text.push_back(char16_t(file[i] | file[i + 1] << 8));
        // A cut-off last character stays visible, so the line it ends is not taken as whole.
        if (i < file.size())
            text.push_back(u'\xFFFD');
        return text;
    }
    const std::string_view bytes(reinterpret_cast<const char*>(file.data()), file.size());
    if (bytes.starts_with("\xEF\xBB\xBF"))
        return Utf8ToUtf16(bytes.substr(3));
    return ansi.toUnicode(bytes);
}

// Splits text at CR LF, LF or CR, one line at a time.
class LineReader {
public:
    explicit LineReader(std::u16string_view text) : text_(text) {}

    bool next(std::u16string_view& line) {
        if (pos_ >= text_.size())
            return false;
        size_t end = pos_;
        while (end < text_.size() && text_[end] != u'\r' && text_[end] != u'\n')
            ++end;
        line = text_.substr(pos_, end - pos_);
        if (end < text_.size()) {
            const bool carriageReturn = text_[end] == u'\r';
            ++end;
            if (carriageReturn && end < text_.size() && text_[end] == u'\n')
                ++end;
        }
        pos_ = end;
        ++number_;
        return true;
    }

    int number() const { return number_; }

private:
    std::u16string_view text_;
    size_t pos_ = 0;
    int number_ = 0;
};

// Reads a quoted string starting at text[0] == '"', undoing the \\ and \" escapes.
// Other backslashes stay as written: hand-written paths often leave them unescaped.
// On success text is left just after the closing quote.
bool ReadQuoted(std::u16string_view& text, std::u16string& out) {
    size_t i = 1;
    while (i < text.size()) {
        const char16_t c = text[i];
        if (c == u'\\' && i + 1 < text.size() && (text[i + 1] == u'\\' || text[i + 1] == u'"')) {
            out.push_back(text[i + 1]);
            i += 2;
        } else if (c == u'"') {
            text.remove_prefix(i + 1);
            return true;
        } else {
            out.push_back(c);
            ++i;
        }
    }
    return false;
}

// One line's part of a hex byte list: "aa,bb, cc" with an optional trailing comma.
void ReadByteSegment(std::u16string_view segment, Bytes& out, std::string& error) {
    segment = Trim(segment);
    if (segment.empty())
        return;
    size_t pos = 0;
    for (;;) {
        const size_t comma = segment.find(u',', pos);
        const bool last = comma == std::u16string_view::npos;
        const auto token = Trim(segment.substr(pos, last ? segment.npos : comma - pos));
        if (token.empty()) {
            if (last)
                return; // the trailing comma
            error = "An empty byte in the hex data";
            return;
        }
        const auto value = ParseHex(token, 2);
        if (!value) {
            error = "The hex data has a bad byte " + Quote(token);
            return;
        }
        out.push_back(uint8_t(*value));
        if (last)
            return;
        pos = comma + 1;
    }
}

class Parser {
public:
    Parser(std::u16string_view text, const CodePage& ansi) : lines_(text), ansi_(ansi) {}

    ParsedRegFile run() {
        readHeader();
        std::u16string_view line;
        while (lines_.next(line)) {
            const int number = lines_.number();
            const auto text = TrimLeft(line);
            if (text.empty() || text.front() == u';')
                continue;
            if (text.front() == u'[')
                readKeyLine(text, number);
            else if (text.front() == u'"' || text.front() == u'@')
                readValueLine(text, number);
            else if (section_ != Section::Malformed)
                problem(number, "The line is not a key, a value or a comment: " + Quote(text));
        }
        result_.skippedLines = result_.problems.size() + unlistedProblems_;
        if (unlistedProblems_ > 0)
            result_.problems.push_back(
                {firstUnlistedLine_, std::to_string(unlistedProblems_) +
                                         " more malformed lines from here on are not listed"});
        return std::move(result_);
    }

private:
    // What the last key line left the values that follow it.
    enum class Section { BeforeFirstKey, Open, Deleted, Malformed };

    struct Value {
        std::u16string name;
        bool remove = false;
        uint32_t type = REG_NONE;
        Bytes data;
        std::string error;
    };

    LineReader lines_;
    const CodePage& ansi_;
    bool version4_ = false;
    Section section_ = Section::BeforeFirstKey;
    std::u16string key_;
    ParsedRegFile result_;

    // A hostile file of junk lines would otherwise grow the list far beyond the file's size.
    static constexpr size_t kListedProblems = 1000;
    size_t unlistedProblems_ = 0;
    int firstUnlistedLine_ = 0;

    void problem(int line, std::string message) {
        if (result_.problems.size() < kListedProblems) {
            result_.problems.push_back({line, std::move(message)});
        } else if (unlistedProblems_++ == 0) {
            firstUnlistedLine_ = line;
        }
    }

    void readHeader() {
        std::u16string_view line;
        do {
            if (!lines_.next(line))
                throw std::runtime_error("The file is not a registry file: it is empty");
        } while (Trim(line).empty());
        line = TrimRight(line);
        if (line == kHeaderVersion4) {
            version4_ = true;
        } else if (line != kHeaderVersion5) {
            throw std::runtime_error("The file is not a registry file: it starts with " +
                                     Quote(line) + " instead of \"REGEDIT4\" or " +
                                     "\"Windows Registry Editor Version 5.00\"");
        }
    }

    void readKeyLine(std::u16string_view text, int number) {
        section_ = Section::Malformed; // until the line proves sound
        const size_t close = text.rfind(u']');
        if (close == text.npos) {
            problem(number, "The key line has no closing ']'");
            return;
        }
        if (!Trim(text.substr(close + 1)).empty()) {
            problem(number, "The key line has text after its closing ']'");
            return;
        }
        auto path = Trim(text.substr(1, close - 1));
        const bool remove = !path.empty() && path.front() == u'-';
        if (remove)
            path = TrimLeft(path.substr(1));
        if (path.empty()) {
            problem(number, "The key line names no key");
            return;
        }
        // The registry functions take names up to their first NUL: the key would be another.
        if (path.find(u'\0') != path.npos) {
            problem(number, "The key name holds a NUL character");
            return;
        }
        RegFileOperation operation;
        operation.kind =
            remove ? RegFileOperation::Kind::DeleteKey : RegFileOperation::Kind::CreateKey;
        operation.line = number;
        operation.key = path;
        result_.operations.push_back(std::move(operation));
        key_ = path;
        section_ = remove ? Section::Deleted : Section::Open;
    }

    void readValueLine(std::u16string_view text, int number) {
        Value value = readValue(text);
        if (section_ == Section::Malformed)
            return; // its key line already has its problem
        if (!value.error.empty()) {
            problem(number, value.error);
            return;
        }
        if (section_ == Section::BeforeFirstKey) {
            problem(number, "The value comes before any key line");
            return;
        }
        if (section_ == Section::Deleted) {
            problem(number, "The value follows a line that deletes its key");
            return;
        }
        RegFileOperation operation;
        operation.kind =
            value.remove ? RegFileOperation::Kind::DeleteValue : RegFileOperation::Kind::SetValue;
        operation.line = number;
        operation.key = key_;
        operation.name = std::move(value.name);
        operation.type = value.type;
        operation.data = std::move(value.data);
        result_.operations.push_back(std::move(operation));
    }

    Value readValue(std::u16string_view text) {
        Value value;
        if (text.front() == u'@') {
            text.remove_prefix(1);
        } else if (!ReadQuoted(text, value.name)) {
            value.error = "The value name has no closing quote";
            return value;
        } else if (value.name.find(u'\0') != value.name.npos) {
            value.error = "The value name holds a NUL character";
            return value;
        }
        text = TrimLeft(text);
        if (text.empty() || text.front() != u'=') {
            value.error = "The value name is not followed by '='";
            return value;
        }
        text = Trim(text.substr(1));
        if (text.empty()) {
            value.error = "The value has no data after '='";
        } else if (text.front() == u'"') {
            readString(text, value);
        } else if (text.front() == u'-') {
            value.remove = true;
            if (text.size() > 1)
                value.error = "Unexpected text after '-': " + Quote(text);
        } else if (StartsWithWord(text, u"dword:")) {
            value.type = REG_DWORD;
            const auto number = ParseHex(TrimLeft(text.substr(6)), 8);
            if (!number) {
                value.error = "The dword data is not 1 to 8 hex digits: " + Quote(text);
                return value;
            }
            for (int shift = 0; shift < 32; shift += 8)
                value.data.push_back(uint8_t(*number >> shift));
        } else if (StartsWithWord(text, u"hex")) {
            readHex(text.substr(3), value);
        } else {
            value.error = "The value data has an unknown form: " + Quote(text);
        }
        return value;
    }

    void readString(std::u16string_view text, Value& value) {
        std::u16string string;
        if (!ReadQuoted(text, string)) {
            value.error = "The string data has no closing quote";
            return;
        }
        if (!Trim(text).empty()) {
            value.error = "Unexpected text after the string's closing quote: " + Quote(text);
            return;
        }
        value.type = REG_SZ;
        string.push_back(u'\0');
        AppendUtf16Bytes(string, value.data);
    }

    // text follows "hex": "(N):list" or ":list".
    void readHex(std::u16string_view text, Value& value) {
        value.type = REG_BINARY;
        if (!text.empty() && text.front() == u'(') {
            const size_t close = text.find(u')');
            const auto type =
                close == text.npos ? std::nullopt : ParseHex(text.substr(1, close - 1), 8);
            if (type) {
                value.type = *type;
                text.remove_prefix(close + 1);
            } else {
                value.error = "The hex(...) type is not 1 to 8 hex digits";
            }
        }
        if (value.error.empty()) {
            if (!text.empty() && text.front() == u':')
                text.remove_prefix(1);
            else
                value.error = "The hex data has no ':' before its bytes";
        }
        // Even a bad start consumes its continuation lines, so they are not read as entries.
        readByteList(text, value);
        if (value.error.empty() && version4_ &&
            (value.type == REG_SZ || value.type == REG_EXPAND_SZ || value.type == REG_MULTI_SZ))
            value.data = ansiToUtf16(value.data);
    }

    // A trailing backslash continues the list on the next line.
    void readByteList(std::u16string_view segment, Value& value) {
        for (;;) {
            segment = TrimRight(segment);
            const bool continues = !segment.empty() && segment.back() == u'\\';
            if (continues)
                segment.remove_suffix(1);
            if (value.error.empty())
                ReadByteSegment(segment, value.data, value.error);
            if (!continues)
                return;
            if (!lines_.next(segment)) {
                if (value.error.empty())
                    value.error = "The hex data continues past the end of the file";
                return;
            }
            segment = TrimLeft(segment);
        }
    }

    // REGEDIT4 files hold their strings in the ANSI code page; NULs separate the strings
    // of a multi-string and each stays one UTF-16 NUL.
    Bytes ansiToUtf16(const Bytes& bytes) const {
        std::u16string text;
        text.reserve(bytes.size());
        size_t start = 0;
        for (size_t i = 0; i <= bytes.size(); ++i) {
            if (i < bytes.size() && bytes[i] != 0)
                continue;
            if (i > start)
                text += ansi_.toUnicode(std::string_view(
                    reinterpret_cast<const char*>(bytes.data()) + start, i - start));
            if (i < bytes.size())
                text.push_back(u'\0');
            start = i + 1;
        }
        Bytes out;
        AppendUtf16Bytes(text, out);
        return out;
    }
};

} // namespace

ParsedRegFile ParseRegFile(const Bytes& file, const CodePage& ansi) {
    // Line numbers are ints; a file this large is no registry export anyway.
    if (file.size() > size_t(INT_MAX))
        throw std::runtime_error("The registry file is too large to import");
    const std::u16string text = DecodeText(file, ansi);
    return Parser(text, ansi).run();
}

} // namespace win32
