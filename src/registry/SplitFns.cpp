#include "registry/SplitFns.h"

#include "registry/AnsiCharTable.h"

#include <algorithm>
#include <cassert>

namespace {

// Whether the byte at `index` is the first byte of a character, walking the
// characters from the start (a lead byte and its trail make one).
bool startsCharacter(const AnsiCharTable& table, std::string_view text, size_t index) {
    size_t i = 0;
    while (i < index)
        i += table.leadByte[static_cast<unsigned char>(text[i])] ? 2 : 1;
    return i == index;
}

} // namespace

std::string AddTrailingBackslash(const std::string& path) {
    if (!path.empty() && path.back() == '\\' &&
        startsCharacter(*CurrentAnsiCharTable(), path, path.size() - 1))
        return path;
    return path + '\\';
}

std::string NextToken(std::string_view text, char separator, size_t& position) {
    const auto table = CurrentAnsiCharTable();
    // A position past the end gives an empty piece, as for a text of separators.
    size_t i = std::min(position < 1 ? 0 : position - 1, text.size());
    while (i < text.size() && text[i] == separator)
        ++i;
    const size_t begin = i;
    while (i < text.size() && text[i] != separator)
        i += table->leadByte[static_cast<unsigned char>(text[i])] ? 2 : 1;
    i = std::min(i, text.size()); // a lead byte at the very end
    std::string piece(text.substr(begin, i - begin));
    position = i < text.size() ? i + 2 : i + 1;
    return piece;
}

void SplitByChar(std::string_view text, char separator, std::vector<std::string>& list) {
    list.clear();
    size_t position = 1;
    while (position <= text.size()) {
        std::string piece = NextToken(text, separator, position);
        if (!piece.empty())
            list.push_back(std::move(piece));
    }
}

size_t FindTextFrom(std::string_view text, std::string_view pattern, size_t start) {
    assert(start >= 1 && "FindTextFrom positions are 1-based");
    if (start < 1 || pattern.empty() || start > text.size() ||
        pattern.size() > text.size() - (start - 1))
        return 0;
    const auto table = CurrentAnsiCharTable();
    const auto up = [&](char c) { return table->upper[static_cast<unsigned char>(c)]; };
    const unsigned char first = up(pattern[0]);
    const size_t last = text.size() - pattern.size();
    for (size_t at = start - 1; at <= last; ++at) {
        if (up(text[at]) != first)
            continue;
        size_t k = pattern.size() - 1;
        while (k > 0 && up(text[at + k]) == up(pattern[k]))
            --k;
        if (k == 0)
            return at + 1;
    }
    return 0;
}
