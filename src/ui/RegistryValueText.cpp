#include "ui/RegistryValueText.h"

#include "app/AnsiText.h"
#include "registry/ValueTypeName.h"

#include <algorithm>

namespace ui {

namespace {

QString cut(QString text) {
    if (text.size() > kMaxValueDataChars) {
        text.truncate(kMaxValueDataChars);
        text += "...";
    }
    return text;
}

// A string value ends at its first NUL, whether or not its size says so.
std::string_view upToNul(std::string_view data) {
    return data.substr(0, std::min(data.find('\0'), data.size()));
}

template <typename Number> Number littleEndian(std::string_view data) {
    Number n = 0;
    for (size_t i = sizeof(Number); i-- > 0;)
        n = Number(n << 8) | uint8_t(data[i]);
    return n;
}

QString hexBytes(std::string_view data) {
    if (data.empty())
        return "(zero-length binary value)";
    // Three characters a byte: only as many bytes as the cut text can show.
    const size_t shown = std::min(data.size(), size_t(kMaxValueDataChars / 3 + 1));
    QString text;
    text.reserve(int(shown * 3));
    static const char digits[] = "0123456789abcdef";
    for (size_t i = 0; i < shown; ++i) {
        if (i)
            text += ' ';
        text += QChar(digits[uint8_t(data[i]) >> 4]);
        text += QChar(digits[uint8_t(data[i]) & 0xF]);
    }
    return cut(text);
}

} // namespace

QString ValueTypeText(DWORD type) {
    const char* name = ValueTypeName(type);
    return name ? QString(name) : QString::asprintf("0x%08x", unsigned(type));
}

QString ValueDataText(DWORD type, std::string_view data) {
    switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
        return cut(app::FromAnsi(upToNul(data)));
    case REG_MULTI_SZ: {
        // The list ends with an empty string; the strings before it are joined by spaces.
        while (!data.empty() && data.back() == '\0')
            data.remove_suffix(1);
        std::string joined(data.substr(0, std::min(data.size(), kShownValueDataBytes)));
        std::replace(joined.begin(), joined.end(), '\0', ' ');
        return cut(app::FromAnsi(joined));
    }
    case REG_DWORD:
    case REG_DWORD_BIG_ENDIAN: {
        if (data.size() != 4)
            return "(invalid DWORD value)";
        uint32_t n = littleEndian<uint32_t>(data);
        if (type == REG_DWORD_BIG_ENDIAN)
            n = (n >> 24) | ((n >> 8) & 0xFF00) | ((n << 8) & 0xFF0000) | (n << 24);
        return QString::asprintf("0x%08x (%u)", n, n);
    }
    case REG_QWORD: {
        if (data.size() != 8)
            return "(invalid QWORD value)";
        const uint64_t n = littleEndian<uint64_t>(data);
        return QString::asprintf("0x%08llx (%llu)", (unsigned long long)n, (unsigned long long)n);
    }
    default:
        return hexBytes(data);
    }
}

} // namespace ui
