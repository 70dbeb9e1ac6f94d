#include "win32/host/MachineIni.h"

#include "win32/host/RegularFile.h"

#include <cerrno>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <strings.h>

namespace win32 {

namespace {

std::string trimmed(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    const auto last = s.find_last_not_of(" \t\r\n");
    return s.substr(first, last - first + 1);
}

bool sameText(const std::string& a, const std::string& b) {
    return strcasecmp(a.c_str(), b.c_str()) == 0;
}

} // namespace

MachineIni MachineIni::load(const std::string& hostPath) {
    RegularFile file(hostPath);
    if (!file.isOpen() && file.error() == ENOENT)
        return {};
    if (file.notRegular())
        throw std::runtime_error(hostPath + ": not a regular file");
    std::string text;
    if (!file.readAll(text, std::numeric_limits<size_t>::max()))
        throw std::runtime_error(hostPath + ": " + std::strerror(errno));
    return parse(text, hostPath);
}

MachineIni MachineIni::parse(const std::string& text, const std::string& fileName) {
    MachineIni ini;
    std::string section;
    size_t start = 0;
    int lineNumber = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = trimmed(text.substr(start, end - start));
        ++lineNumber;
        start = end + 1;
        if (line.empty() || line[0] == ';' || line[0] == '#')
            continue;
        if (line.front() == '[' && line.back() == ']') {
            section = trimmed(line.substr(1, line.size() - 2));
            continue;
        }
        const auto eq = line.find('=');
        if (eq == std::string::npos || eq == 0)
            throw std::runtime_error(fileName + ", line " + std::to_string(lineNumber) +
                                     ": expected \"name=value\" or \"[section]\"");
        ini.entries_.push_back(
            {section, trimmed(line.substr(0, eq)), trimmed(line.substr(eq + 1))});
    }
    return ini;
}

std::optional<std::string> MachineIni::value(const std::string& section,
                                             const std::string& name) const {
    for (const auto& e : entries_)
        if (sameText(e.section, section) && sameText(e.name, name))
            return e.value;
    return std::nullopt;
}

std::vector<std::pair<std::string, std::string>>
MachineIni::entries(const std::string& section) const {
    std::vector<std::pair<std::string, std::string>> out;
    for (const auto& e : entries_)
        if (sameText(e.section, section))
            out.emplace_back(e.name, e.value);
    return out;
}

} // namespace win32
