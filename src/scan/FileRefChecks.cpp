#include "scan/FileRefChecks.h"

#include "registry/ShellServices.h"
#include "registry/SplitFns.h"
#include "scan/PathExists.h"
#include "scan/RefText.h"

#include <algorithm>
#include <string_view>

namespace {

constexpr size_t kMaxPath = 260;

bool hasDriveMarker(const std::string& text) {
    return text.find(":\\") != std::string::npos;
}

std::string trimmed(std::string_view text) {
    size_t begin = 0, end = text.size();
    while (begin < end && static_cast<unsigned char>(text[begin]) <= ' ')
        ++begin;
    while (end > begin && static_cast<unsigned char>(text[end - 1]) <= ' ')
        --end;
    return std::string(text.substr(begin, end - begin));
}

bool isArgumentBreak(char c) {
    return c == ' ' || c == '\t' || c == ',' || c == '"';
}

// Whether the path at `letter` in `piece` names something that exists when it is cut
// where a program's arguments may begin (a blank, a comma, a quote), as Windows reads
// an unquoted command line: "C:\App\app.exe /dir \temp" is found as C:\App\app.exe.
bool leadingPathExists(const std::string& piece, size_t letter) {
    // Past "C:\" (a drive's root always exists), and no longer than a path can be.
    const size_t last = std::min(piece.size(), letter + kMaxPath - 1);
    for (size_t end = letter + 4; end <= last; ++end) {
        if (end < piece.size() && !isArgumentBreak(piece[end]))
            continue;
        if (FileOrFolderExists(piece.substr(letter, end - letter)))
            return true;
    }
    return false;
}

} // namespace

bool FileRefValid(const std::string& text) {
    const std::string e = ExpandEnvText(text);
    if (!hasDriveMarker(e))
        return true;
    const size_t b = LastBackslash(e);
    if (b + 1 == e.size())
        return DirectoryExists(e);
    const std::string path =
        IsWholeInteger(trimmed(std::string_view(e).substr(b + 1))) ? e.substr(0, b) : e;
    return FileExists(path);
}

bool DirListValid(const std::string& text) {
    if (!hasDriveMarker(text))
        return true;
    for (const std::string& piece : SplitAtDrives(text)) {
        // Semicolons are gone from the text as written; one here came with a variable's
        // value (a list of its own, as %PATH% is), and separates folders.
        std::vector<std::string> folders;
        SplitByChar(piece, ';', folders);
        for (const std::string& folder : folders)
            if (hasDriveMarker(folder) && !DirectoryExists(folder))
                return false;
    }
    return true;
}

bool PathListValid(const std::string& text) {
    const size_t first = text.find(":\\");
    if (first == std::string::npos || first == 0)
        return true;
    for (const std::string& piece : SplitAtDrives(text)) {
        const size_t marker = piece.find(":\\");
        const size_t letter = marker - 1;
        const size_t b = LastBackslash(piece, marker);
        // "C:\file" gives the folder "C:".
        const std::string folder = piece.substr(letter, b - letter);
        if (FileOrFolderExists(folder))
            continue;
        // The last backslash may belong to an argument: the program before it counts.
        if (!leadingPathExists(piece, letter))
            return false;
    }
    return true;
}

bool ServiceImageValid(const std::string& text) {
    std::string image = text;
    if (FindTextFrom(image.substr(0, 8), "system32") == 1)
        image = AddTrailingBackslash(ExpandEnvVar("systemroot")) + image;
    const std::string t = ExpandEnvText(image);
    const size_t d = t.find(":\\");
    if (d == std::string::npos)
        return true;
    const size_t b = LastBackslash(t);
    const size_t begin = d == 0 ? 0 : d - 1;
    // The first ".exe" after the last backslash names the file, else the first ".sys".
    // A name holding the extension twice ("x.exec.exe") is judged by each in turn.
    for (const char* extension : {".exe", ".sys"}) {
        bool any = false;
        for (size_t at = FindTextFrom(t, extension, b + 2); at > 0;
             at = FindTextFrom(t, extension, at + 1)) {
            any = true;
            const size_t length = at - 1 + 4 - begin;
            // No file has a longer path; later occurrences are longer still.
            if (length >= kMaxPath)
                break;
            if (FileExists(t.substr(begin, length)))
                return true;
        }
        if (any)
            return false;
    }
    return true;
}
