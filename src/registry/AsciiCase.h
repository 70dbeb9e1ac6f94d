#pragma once
// Case rules of ASCII letters only, whatever the code page and the host's locale:
// names of roots, and comparisons that Windows makes on ASCII letters alone.

#include <algorithm>
#include <string>
#include <string_view>

inline char AsciiUpperChar(char c) {
    return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
}

inline std::string AsciiUpper(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), AsciiUpperChar);
    return out;
}

inline bool SameTextAscii(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return AsciiUpperChar(x) == AsciiUpperChar(y);
           });
}
