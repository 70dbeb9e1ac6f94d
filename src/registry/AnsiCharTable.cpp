#include "registry/AnsiCharTable.h"

#include "win32/system/Nls.h"

#include <algorithm>
#include <mutex>

namespace {

std::shared_ptr<const AnsiCharTable> build(unsigned codePage) {
    auto table = std::make_shared<AnsiCharTable>();
    table->codePage = codePage;
    char bytes[256];
    for (int b = 0; b < 256; ++b)
        bytes[b] = char(b);
    CharUpperBuffA(bytes, sizeof bytes);
    for (int b = 0; b < 256; ++b)
        table->upper[size_t(b)] = static_cast<unsigned char>(bytes[b]);
    // A lead byte joins the byte after it into one character: with a trail byte both
    // decode to a single UTF-16 unit, where any other byte gives two.
    for (int b = 0x80; b < 256; ++b) {
        const char pair[2] = {char(b), 'A'};
        table->leadByte[size_t(b)] = MultiByteToWideChar(CP_ACP, 0, pair, 2, nullptr, 0) == 1;
    }
    return table;
}

} // namespace

std::shared_ptr<const AnsiCharTable> CurrentAnsiCharTable() {
    static std::mutex lock;
    static std::shared_ptr<const AnsiCharTable> table;
    std::lock_guard guard(lock);
    const unsigned codePage = GetACP();
    if (!table || table->codePage != codePage)
        table = build(codePage);
    return table;
}

bool AnsiCharTable::NameLess(std::string_view a, std::string_view b) const {
    const size_t common = std::min(a.size(), b.size());
    for (size_t i = 0; i < common; ++i) {
        const unsigned char x = upper[uint8_t(a[i])], y = upper[uint8_t(b[i])];
        if (x != y)
            return x < y;
    }
    return a.size() != b.size() ? a.size() < b.size() : a < b;
}
