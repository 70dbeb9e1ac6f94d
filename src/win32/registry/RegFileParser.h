#pragma once
// The registry editor's import format (".reg"): "REGEDIT4" files in the ANSI code
// page and "Windows Registry Editor Version 5.00" files in UTF-16LE with a byte-order
// mark (or ANSI without one), parsed into the operations they ask for.

#include "win32/base/HiveTree.h"

#include <string>
#include <vector>

namespace win32 {

class CodePage;

struct RegFileOperation {
    enum class Kind { CreateKey, DeleteKey, SetValue, DeleteValue };
    Kind kind = Kind::CreateKey;
    int line = 0;        // 1-based line the operation starts on
    std::u16string key;  // full key path as written, e.g. HKEY_LOCAL_MACHINE\SOFTWARE\A
    std::u16string name; // value name; empty for the default value ("@")
    uint32_t type = 0;   // REG_* for SetValue
    Bytes data;          // SetValue: the bytes to store; strings as UTF-16LE with terminator
};

struct RegFileProblem {
    int line = 0;
    std::string message; // English, says what is wrong with the line
};

struct ParsedRegFile {
    std::vector<RegFileOperation> operations; // in file order
    std::vector<RegFileProblem> problems;     // malformed lines, skipped; the first 1000 listed
    size_t skippedLines = 0;                  // every malformed line, listed or not
};

// Throws std::runtime_error when the file has no known header (nothing is imported then).
ParsedRegFile ParseRegFile(const Bytes& file, const CodePage& ansi);

} // namespace win32
