#include "win32/base/CodePage.h"

#include <QString>
#include <algorithm>
#include <array>
#include <cerrno>
#include <iconv.h>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace win32 {

namespace {

std::vector<std::string> iconvNames(unsigned number) {
    std::vector<std::string> names{"CP" + std::to_string(number),
                                   "WINDOWS-" + std::to_string(number)};
    switch (number) {
    case 936:
        names.push_back("GBK");
        break;
    case 949:
        names.push_back("UHC");
        break;
    case 950:
        names.push_back("BIG5");
        break;
    case 20127:
        names.push_back("ASCII");
        break;
    case 28591:
        names.push_back("ISO-8859-1");
        break;
    case 65001:
        names.push_back("UTF-8");
        break;
    default:
        break;
    }
    return names;
}

// Decodes one byte sequence with iconv; false when it does not decode.
bool decodeWith(iconv_t cd, const char* in, size_t inLen, std::u16string& out, size_t& used) {
    char16_t buffer[8];
    char* src = const_cast<char*>(in);
    size_t srcLeft = inLen;
    char* dst = reinterpret_cast<char*>(buffer);
    size_t dstLeft = sizeof buffer;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) == size_t(-1) && srcLeft == inLen)
        return false;
    used = inLen - srcLeft;
    if (used == 0)
        return false;
    out.append(buffer, (sizeof buffer - dstLeft) / 2);
    return true;
}

} // namespace

struct CodePage::Impl {
    bool singleByte = true;
    // Every ASCII character is its own byte both ways, so ASCII text needs no table.
    bool asciiSame = false;
    std::array<char16_t, 256> toWide{};
    // Every UTF-16 unit to its byte, -1 where the code page has none.
    std::vector<int16_t> toByte;
    // Double-byte code pages go through iconv, which is not thread-safe per descriptor.
    mutable std::mutex lock;
    iconv_t decoder = iconv_t(-1);
    iconv_t encoder = iconv_t(-1);
};

CodePage::CodePage(unsigned number) : number_(number), impl_(std::make_unique<Impl>()) {
    for (const auto& name : iconvNames(number)) {
        impl_->decoder = iconv_open("UTF-16LE", name.c_str());
        if (impl_->decoder == iconv_t(-1))
            continue;
        impl_->encoder = iconv_open(name.c_str(), "UTF-16LE");
        if (impl_->encoder != iconv_t(-1))
            break;
        iconv_close(impl_->decoder);
        impl_->decoder = iconv_t(-1);
    }
    if (impl_->decoder == iconv_t(-1))
        throw std::runtime_error("Code page " + std::to_string(number) + " is not supported");

    // A code page is single-byte when no lead byte needs a second one. A lead byte is
    // probed with a letter and with a UTF-8 continuation byte, the two kinds of trail
    // byte the multi-byte code pages take.
    for (unsigned b = 0; b < 256 && impl_->singleByte; ++b) {
        const char c = char(b);
        std::u16string one;
        size_t used = 0;
        if (decodeWith(impl_->decoder, &c, 1, one, used) && one.size() == 1) {
            impl_->toWide[b] = one[0];
        } else {
            bool lead = false;
            for (const char trail : {'A', '\x80'}) {
                iconv(impl_->decoder, nullptr, nullptr, nullptr, nullptr);
                const char two[2] = {c, trail};
                std::u16string probe;
                lead = lead || (decodeWith(impl_->decoder, two, 2, probe, used) && used == 2);
            }
            if (lead && b >= 0x80)
                impl_->singleByte = false;
            else
                impl_->toWide[b] = char16_t(b);
        }
    }
    if (impl_->singleByte) {
        impl_->toByte.assign(0x10000, -1);
        for (unsigned b = 256; b-- > 0;) // the lowest byte wins where two decode alike
            impl_->toByte[impl_->toWide[b]] = int16_t(b);
    }
    impl_->asciiSame = true;
    for (unsigned c = 0; c < 0x80 && impl_->asciiSame; ++c) {
        const char byte = char(c);
        const char16_t unit = char16_t(c);
        impl_->asciiSame = decodesTo(byte, unit) && encodesTo(unit, byte);
    }
}

bool CodePage::decodesTo(char byte, char16_t unit) const {
    if (impl_->singleByte)
        return impl_->toWide[uint8_t(byte)] == unit;
    std::u16string one;
    size_t used = 0;
    return decodeWith(impl_->decoder, &byte, 1, one, used) && one == std::u16string(1, unit);
}

bool CodePage::encodesTo(char16_t unit, char byte) const {
    if (impl_->singleByte)
        return impl_->toByte[unit] == int16_t(uint8_t(byte));
    char* src = reinterpret_cast<char*>(&unit);
    size_t srcLeft = 2;
    char buffer[8];
    char* dst = buffer;
    size_t dstLeft = sizeof buffer;
    iconv(impl_->encoder, nullptr, nullptr, nullptr, nullptr);
    return iconv(impl_->encoder, &src, &srcLeft, &dst, &dstLeft) != size_t(-1) &&
           sizeof buffer - dstLeft == 1 && buffer[0] == byte;
}

CodePage::~CodePage() {
    if (impl_->decoder != iconv_t(-1))
        iconv_close(impl_->decoder);
    if (impl_->encoder != iconv_t(-1))
        iconv_close(impl_->encoder);
}

std::u16string CodePage::toUnicode(std::string_view ansi) const {
    std::u16string out;
    toUnicode(ansi, out);
    return out;
}

void CodePage::toUnicode(std::string_view ansi, std::u16string& out) const {
    out.clear();
    if (impl_->singleByte) {
        out.resize(ansi.size());
        for (size_t i = 0; i < ansi.size(); ++i)
            out[i] = impl_->toWide[uint8_t(ansi[i])];
        return;
    }
    if (impl_->asciiSame &&
        std::all_of(ansi.begin(), ansi.end(), [](char c) { return uint8_t(c) < 0x80; })) {
        out.assign(ansi.begin(), ansi.end());
        return;
    }
    out.reserve(ansi.size());
    std::lock_guard guard(impl_->lock);
    size_t i = 0;
    while (i < ansi.size()) {
        // The shortest sequence that decodes: one byte, a double-byte pair, or up to the
        // four bytes of a UTF-8 character.
        size_t used = 0;
        const size_t most = std::min<size_t>(4, ansi.size() - i);
        bool decoded = false;
        for (size_t len = 1; len <= most && !decoded; ++len)
            decoded = decodeWith(impl_->decoder, ansi.data() + i, len, out, used);
        if (decoded) {
            i += used;
        } else {
            out.push_back(u'\xFFFD');
            ++i;
        }
    }
}

std::string CodePage::fromUnicode(std::u16string_view text) const {
    std::string out;
    fromUnicode(text, out);
    return out;
}

void CodePage::fromUnicodeBytes(std::string_view bytes, std::string& out) const {
    const size_t units = bytes.size() / 2;
    auto unitAt = [&](size_t i) {
        return char16_t(uint8_t(bytes[2 * i]) | uint8_t(bytes[2 * i + 1]) << 8);
    };
    out.resize(units);
    // Nearly all text is ASCII: it is copied byte for byte until the first other unit.
    size_t i = 0;
    if (impl_->asciiSame)
        for (; i < units; ++i) {
            const char16_t unit = unitAt(i);
            if (unit >= 0x80)
                break;
            out[i] = char(unit);
        }
    if (i == units)
        return;
    if (impl_->singleByte) {
        for (; i < units; ++i) {
            const int16_t byte = impl_->toByte[unitAt(i)];
            out[i] = byte < 0 ? '?' : char(byte);
        }
        return;
    }
    std::u16string rest(units - i, u'\0');
    for (size_t j = i; j < units; ++j)
        rest[j - i] = unitAt(j);
    out.resize(i);
    appendMultiByte(rest, out);
}

void CodePage::fromUnicode(std::u16string_view text, std::string& out) const {
    out.resize(text.size());
    size_t i = 0;
    if (impl_->asciiSame)
        for (; i < text.size() && text[i] < 0x80; ++i)
            out[i] = char(text[i]);
    if (i == text.size())
        return;
    if (impl_->singleByte) {
        for (; i < text.size(); ++i) {
            const int16_t byte = impl_->toByte[text[i]];
            out[i] = byte < 0 ? '?' : char(byte);
        }
        return;
    }
    out.resize(i);
    appendMultiByte(text.substr(i), out);
}

void CodePage::appendMultiByte(std::u16string_view text, std::string& out) const {
    std::lock_guard guard(impl_->lock);
    for (size_t i = 0; i < text.size(); ++i) {
        const bool pair = i + 1 < text.size() && text[i] >= 0xD800 && text[i] < 0xDC00;
        char* src = reinterpret_cast<char*>(const_cast<char16_t*>(text.data() + i));
        size_t srcLeft = pair ? 4 : 2;
        char buffer[8];
        char* dst = buffer;
        size_t dstLeft = sizeof buffer;
        iconv(impl_->encoder, nullptr, nullptr, nullptr, nullptr);
        if (iconv(impl_->encoder, &src, &srcLeft, &dst, &dstLeft) == size_t(-1))
            out.push_back('?');
        else
            out.append(buffer, sizeof buffer - dstLeft);
        if (pair)
            ++i;
    }
}

} // namespace win32
