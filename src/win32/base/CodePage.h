#pragma once
// Text crossing the ANSI API: conversion between a Windows code page and UTF-16.

#include "hive/Utf16.h"

#include <memory>
#include <string>
#include <string_view>

namespace win32 {

class CodePage {
public:
    // Throws std::runtime_error when the system has no converter for the code page.
    explicit CodePage(unsigned number);
    ~CodePage();
    CodePage(const CodePage&) = delete;
    CodePage& operator=(const CodePage&) = delete;

    unsigned number() const { return number_; }
    // An undefined byte of a single-byte code page maps to U+00xx, as Windows maps it;
    // an undecodable byte of a double-byte code page becomes U+FFFD.
    std::u16string toUnicode(std::string_view ansi) const;
    // As above, into `out` (its contents replaced, its room kept for the next call).
    void toUnicode(std::string_view ansi, std::u16string& out) const;
    // Characters the code page cannot represent become '?', as WideCharToMultiByte does.
    std::string fromUnicode(std::u16string_view text) const;
    // As above, into `out` (its contents replaced, its room kept for the next call).
    void fromUnicode(std::u16string_view text, std::string& out) const;
    // As above, for text given as little-endian UTF-16 bytes, as value data lies; a byte
    // left over after the last whole unit is dropped.
    void fromUnicodeBytes(std::string_view bytes, std::string& out) const;

private:
    // Whether the code page maps `byte` to `unit`, and `unit` back to `byte`.
    bool decodesTo(char byte, char16_t unit) const;
    bool encodesTo(char16_t unit, char byte) const;
    // Appends the bytes of `text` in a double-byte code page.
    void appendMultiByte(std::u16string_view text, std::string& out) const;

    struct Impl;
    unsigned number_;
    std::unique_ptr<Impl> impl_;
};

using hive::Utf16ToUtf8;
using hive::Utf8ToUtf16;

} // namespace win32
