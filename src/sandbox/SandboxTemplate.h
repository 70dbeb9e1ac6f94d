#pragma once
// The template the sandbox is made from, built into the program: a .reg text of the
// registry and a list of the files the registry names.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

struct TSandboxFile {
    enum class Kind { Image, File, Folder, Shortcut };
    Kind kind = Kind::File;
    std::string path;   // Windows path on drive C:
    std::string target; // a shortcut's target
};

// The two templates: a Windows XP Service Pack 2 installation, and a Windows 10 one on 64
// bits (its 32-bit programs registered in the 32-bit view).
enum class TSandboxWindows { XP, Windows10 };

// The template's registry, a REGEDIT4 file.
std::vector<uint8_t> SandboxRegText(TSandboxWindows windows = TSandboxWindows::XP);
// The template's files, in the order listed. Throws std::runtime_error naming the line
// of a list that does not parse.
std::vector<TSandboxFile> SandboxFiles(TSandboxWindows windows = TSandboxWindows::XP);
// The same from a list's text.
std::vector<TSandboxFile> ParseSandboxFileList(const std::string& text);
