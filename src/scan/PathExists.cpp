#include "scan/PathExists.h"

#include "win32/files/Files.h"
#include "win32/system/Environment.h"

#include <vector>

namespace {

DWORD attributesOf(const std::string& path) {
    return path.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesA(path.c_str());
}

bool found(const std::string& path, bool folderCounts) {
    const DWORD attributes = attributesOf(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return false;
    return folderCounts || !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

} // namespace

bool FileExists(const std::string& path) {
    return found(path, false);
}

bool DirectoryExists(const std::string& path) {
    const DWORD attributes = attributesOf(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FileOrFolderExists(const std::string& path) {
    return attributesOf(path) != INVALID_FILE_ATTRIBUTES;
}

std::string ExpandEnvironmentText(const std::string& path) {
    std::vector<char> buffer(path.size() + 1 + 260);
    for (int tries = 0; tries < 4; ++tries) {
        const DWORD needed =
            ExpandEnvironmentStringsA(path.c_str(), buffer.data(), DWORD(buffer.size()));
        if (needed == 0)
            return path;
        if (needed <= buffer.size())
            return std::string(buffer.data());
        buffer.resize(needed);
    }
    return path;
}

bool ReferenceExists(const std::string& path, bool folderCounts) {
    if (found(path, folderCounts))
        return true;
    if (path.find('%') == std::string::npos)
        return false;
    const std::string expanded = ExpandEnvironmentText(path);
    return expanded != path && found(expanded, folderCounts);
}
