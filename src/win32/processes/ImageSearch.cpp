#include "win32/processes/ImageSearch.h"

#include "win32/base/CodePage.h"
#include "win32/files/FileFacts.h"
#include "win32/files/FileLookup.h"
#include "win32/registry/MachineRegistry.h"
#include "win32/system/Environment.h"

#include <cstring>
#include <sys/stat.h>
#include <vector>

namespace win32 {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

bool hasFolder(const std::string& name) {
    return name.find_first_of("\\/:") != std::string::npos;
}

// SearchPath's default extension: added when the file name has none. A name ending
// in a period asks for no extension (the period itself is dropped with the path's
// trailing dots).
std::string withDefaultExtension(const std::string& name) {
    const size_t slash = name.find_last_of("\\/:");
    const std::string file = slash == std::string::npos ? name : name.substr(slash + 1);
    return file.find('.') == std::string::npos ? name + ".exe" : name;
}

struct Lookup {
    DWORD error = ERROR_FILE_NOT_FOUND;
    std::string path; // full Windows path, ANSI
    std::string host; // where it lies
};

// A regular file at a path. A folder, pipe, device or socket is no file Windows could
// start a program from: it is passed over as a name that is not there, and the search
// goes on (ERROR_FILE_NOT_FOUND).
Lookup fileAt(const std::string& path) {
    Lookup out;
    const Located found = Locate(path.c_str());
    out.error = found.error;
    if (found.error != ERROR_SUCCESS)
        return out;
    const FileFacts facts = FactsOf(found.where);
    if (facts.error != ERROR_SUCCESS || !S_ISREG(facts.mode)) {
        out.error = ERROR_FILE_NOT_FOUND;
        return out;
    }
    out.path = found.reg->codePage->fromUnicode(found.full);
    out.host = found.where.host;
    return out;
}

// The folders a name without a folder is searched in, in Windows' order.
std::vector<std::string> searchFolders() {
    const std::string systemRoot = EnvironmentVariable("SystemRoot").value_or("C:\\WINDOWS");
    std::vector<std::string> folders = {systemRoot + "\\system32", systemRoot + "\\system",
                                        systemRoot};
    const std::string path = EnvironmentVariable("Path").value_or("");
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(';', start);
        if (end == std::string::npos)
            end = path.size();
        std::string folder = path.substr(start, end - start);
        start = end + 1;
        std::string unquoted;
        for (const char c : folder)
            if (c != '"')
                unquoted += c;
        while (!unquoted.empty() && isBlank(unquoted.back()))
            unquoted.pop_back();
        if (!unquoted.empty())
            folders.push_back(unquoted);
    }
    return folders;
}

Lookup search(const std::string& name, bool defaultExtension) {
    const std::string file = defaultExtension ? withDefaultExtension(name) : name;
    if (hasFolder(name) || !defaultExtension)
        return fileAt(file);
    Lookup last;
    for (const std::string& folder : searchFolders()) {
        Lookup found = fileAt(folder + "\\" + file);
        if (found.error == ERROR_SUCCESS)
            return found;
        last = found;
    }
    last.error = ERROR_FILE_NOT_FOUND;
    return last;
}

bool endsWithNoCase(const std::string& text, const std::string& suffix) {
    if (text.size() < suffix.size())
        return false;
    for (size_t i = 0; i < suffix.size(); ++i) {
        char c = text[text.size() - suffix.size() + i];
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
        if (c != suffix[i])
            return false;
    }
    return true;
}

// Whether Windows could start the file found: an image, or a batch file with its
// interpreter. The first bytes are read once for each file (FileFacts.h).
DWORD checkImage(const Lookup& found) {
    const FileHead head = HeadOf(found.host);
    if (head.error != ERROR_SUCCESS)
        return head.error;
    if (head.startsWith("MZ"))
        return ERROR_SUCCESS;
    if (endsWithNoCase(found.path, ".bat") || endsWithNoCase(found.path, ".cmd")) {
        const std::string systemRoot = EnvironmentVariable("SystemRoot").value_or("C:\\WINDOWS");
        const Located interpreter = Locate((systemRoot + "\\system32\\cmd.exe").c_str());
        if (interpreter.error != ERROR_SUCCESS)
            return interpreter.error;
        const FileHead cmdHead = HeadOf(interpreter.where.host);
        if (cmdHead.error != ERROR_SUCCESS)
            return cmdHead.error;
        return cmdHead.startsWith("MZ") ? DWORD(ERROR_SUCCESS) : DWORD(ERROR_BAD_EXE_FORMAT);
    }
    return ERROR_BAD_EXE_FORMAT;
}

} // namespace

ProcessImage FindProcessImage(LPCSTR applicationName, LPCSTR commandLine) {
    ProcessImage out;
    if (!MachineRegistry::current()) {
        out.error = ERROR_NOT_READY;
        return out;
    }
    if (!applicationName && !commandLine) {
        out.error = ERROR_INVALID_PARAMETER;
        return out;
    }

    // Windows takes at most 32,767 characters, the terminating zero included.
    if (commandLine && std::strlen(commandLine) >= 32767) {
        out.error = ERROR_FILENAME_EXCED_RANGE;
        return out;
    }

    Lookup found;
    if (applicationName) {
        found = *applicationName ? search(applicationName, false)
                                 : Lookup{ERROR_PATH_NOT_FOUND, {}, {}};
    } else {
        std::string line(commandLine);
        size_t start = 0;
        while (start < line.size() && isBlank(line[start]))
            ++start;
        line.erase(0, start);
        if (line.empty()) {
            out.error = ERROR_FILE_NOT_FOUND;
            return out;
        }
        if (line[0] == '"') {
            const size_t close = line.find('"', 1);
            found = search(
                line.substr(1, close == std::string::npos ? std::string::npos : close - 1), true);
        } else {
            // Longer and longer runs of the line, each ending before a space or tab.
            std::string previous;
            for (size_t end = 0; end <= line.size(); ++end) {
                if (end < line.size() && !isBlank(line[end]))
                    continue;
                std::string candidate = line.substr(0, end);
                while (!candidate.empty() && isBlank(candidate.back()))
                    candidate.pop_back();
                if (candidate == previous)
                    continue;
                // The program's name is at most MAX_PATH characters: no longer run can
                // name it, and trying each would take time of the line's length squared.
                if (candidate.size() >= MAX_PATH)
                    break;
                previous = candidate;
                found = search(candidate, true);
                if (found.error == ERROR_SUCCESS)
                    break;
            }
        }
    }
    if (found.error != ERROR_SUCCESS) {
        out.error = found.error;
        return out;
    }
    out.error = checkImage(found);
    if (out.error == ERROR_SUCCESS)
        out.path = found.path;
    return out;
}

} // namespace win32
