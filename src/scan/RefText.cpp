#include "scan/RefText.h"

#include "registry/AnsiCharTable.h"
#include "registry/ShellServices.h"
#include "registry/SplitFns.h"

#include <cstdint>

namespace {

// ExpandEnvVar gives back "%NAME%" for a variable that is not set.
bool isUnexpanded(const std::string& value, const std::string& name) {
    return value.size() == name.size() + 2 && FindTextFrom(value, "%" + name + "%") == 1;
}

// Indexes of the colons of the drive markers. A colon is never the second byte of a
// double-byte character, so a byte search finds exactly the markers.
std::vector<size_t> driveMarkers(const std::string& text) {
    std::vector<size_t> markers;
    for (size_t at = text.find(":\\"); at != std::string::npos; at = text.find(":\\", at + 2))
        markers.push_back(at);
    return markers;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

std::string ExpandEnvText(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text)
        if (c != '"' && c != ';')
            out += c;
    size_t from = 0;
    for (;;) {
        const size_t open = out.find('%', from);
        if (open == std::string::npos)
            break;
        const size_t close = out.find('%', open + 1);
        if (close == std::string::npos)
            break;
        const std::string name = out.substr(open + 1, close - open - 1);
        const std::string value = ExpandEnvVar(name);
        if (isUnexpanded(value, name)) {
            from = close + 1;
            continue;
        }
        out.replace(open, close - open + 1, value);
        // A value holding percent signs of its own is taken as it is, as Windows
        // takes it; expanding it again could go on for ever.
        from = open + value.size();
    }
    return out;
}

std::vector<std::string> SplitAtDrives(const std::string& text) {
    const std::vector<size_t> markers = driveMarkers(text);
    std::vector<std::string> pieces;
    if (markers.empty())
        return pieces;
    // Each later marker has its drive letter before it (markers are two bytes apart at
    // least), and each piece but the first begins with it.
    size_t begin = 0;
    for (size_t j = 1; j < markers.size(); ++j) {
        const size_t letter = markers[j] - 1;
        pieces.push_back(text.substr(begin, letter - begin));
        begin = letter;
    }
    pieces.push_back(text.substr(begin));
    return pieces;
}

size_t LastBackslash(std::string_view text, size_t from) {
    const auto table = CurrentAnsiCharTable();
    size_t last = std::string_view::npos;
    for (size_t i = 0; i < text.size();) {
        if (text[i] == '\\' && i >= from)
            last = i;
        i += table->leadByte[static_cast<unsigned char>(text[i])] ? 2 : 1;
    }
    return last;
}

bool IsWholeInteger(std::string_view text) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    int base = 10;
    if (i < text.size() && text[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' &&
               (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i == text.size())
        return false;
    // Hexadecimal covers the 32 bits; decimal the range of a signed 32-bit integer.
    const uint64_t limit = base == 16 ? 0xFFFFFFFFull : negative ? 0x80000000ull : 0x7FFFFFFFull;
    uint64_t value = 0;
    for (; i < text.size(); ++i) {
        const int digit = hexDigit(text[i]);
        if (digit < 0 || digit >= base)
            return false;
        value = value * uint64_t(base) + uint64_t(digit);
        if (value > limit)
            return false;
    }
    return true;
}
