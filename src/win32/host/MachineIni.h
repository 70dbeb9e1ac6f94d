#pragma once
// hivewarden-machine.ini: what cannot be read from a machine's hives.
// Sections and names are matched without regard to ASCII case.

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace win32 {

class MachineIni {
public:
    MachineIni() = default;
    // Reads the file; a missing file gives an empty ini. Throws std::runtime_error
    // naming the file and line when a line is neither a section, an entry nor a comment.
    static MachineIni load(const std::string& hostPath);
    static MachineIni parse(const std::string& text, const std::string& fileName);

    std::optional<std::string> value(const std::string& section, const std::string& name) const;
    // Every entry of a section, in file order.
    std::vector<std::pair<std::string, std::string>> entries(const std::string& section) const;

private:
    struct Entry {
        std::string section, name, value;
    };
    std::vector<Entry> entries_;
};

} // namespace win32
