#pragma once
// What the key-path text operations need to know of each byte of the machine's ANSI
// code page: its upper case, and whether it begins a double-byte character.

#include <array>
#include <memory>
#include <string_view>

struct AnsiCharTable {
    unsigned codePage = 0;
    // Each byte through the code page's upper-case conversion (CharUpperBuffA).
    std::array<unsigned char, 256> upper{};
    // Lead bytes of a double-byte code page; none in a single-byte one.
    std::array<bool, 256> leadByte{};

    // The order in which names are listed: byte by byte through the upper case; a
    // prefix first; names equal but for case by their bytes, so that the order is fixed.
    bool NameLess(std::string_view a, std::string_view b) const;
};

// The table of the code page in use, built when first needed and again whenever the
// code page changes (another machine booted). Safe to call from any thread; a caller
// keeps the table it got for as long as it holds the pointer.
std::shared_ptr<const AnsiCharTable> CurrentAnsiCharTable();
