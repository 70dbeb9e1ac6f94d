#include "sandbox/SandboxTemplate.h"

#include "sandbox/SandboxTemplateData.h"

#include <sstream>

namespace {

bool isDrivePath(const std::string& path) {
    return path.size() > 3 && (path[0] == 'C' || path[0] == 'c') && path[1] == ':' &&
           path[2] == '\\';
}

} // namespace

std::vector<uint8_t> SandboxRegText(TSandboxWindows windows) {
    if (windows == TSandboxWindows::Windows10)
        return std::vector<uint8_t>(kSandbox10RegText, kSandbox10RegText + kSandbox10RegTextSize);
    return std::vector<uint8_t>(kSandboxRegText, kSandboxRegText + kSandboxRegTextSize);
}

std::vector<TSandboxFile> SandboxFiles(TSandboxWindows windows) {
    if (windows == TSandboxWindows::Windows10)
        return ParseSandboxFileList(
            std::string(reinterpret_cast<const char*>(kSandbox10FileList), kSandbox10FileListSize));
    return ParseSandboxFileList(
        std::string(reinterpret_cast<const char*>(kSandboxFileList), kSandboxFileListSize));
}

std::vector<TSandboxFile> ParseSandboxFileList(const std::string& text) {
    std::vector<TSandboxFile> files;
    std::istringstream lines(text);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        const auto bad = [&](const std::string& why) {
            return std::runtime_error("sandbox file list, line " + std::to_string(number) + ": " +
                                      why);
        };
        const size_t space = line.find(' ');
        if (space == std::string::npos)
            throw bad("expected a kind and a path");
        const std::string kind = line.substr(0, space);
        TSandboxFile file;
        std::string rest = line.substr(space + 1);
        if (kind == "image") {
            file.kind = TSandboxFile::Kind::Image;
        } else if (kind == "file") {
            file.kind = TSandboxFile::Kind::File;
        } else if (kind == "folder") {
            file.kind = TSandboxFile::Kind::Folder;
        } else if (kind == "shortcut") {
            file.kind = TSandboxFile::Kind::Shortcut;
            const size_t arrow = rest.find(" -> ");
            if (arrow == std::string::npos)
                throw bad("a shortcut needs \" -> \" and its target");
            file.target = rest.substr(arrow + 4);
            rest.resize(arrow);
            if (!isDrivePath(file.target))
                throw bad("the target is no path on drive C: " + file.target);
        } else {
            throw bad("unknown kind " + kind);
        }
        if (!isDrivePath(rest) || rest.find("\\..") != std::string::npos)
            throw bad("not a path on drive C: " + rest);
        file.path = rest;
        files.push_back(std::move(file));
    }
    return files;
}
