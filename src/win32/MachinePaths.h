#pragma once
// Windows paths on the machine's drive C: mapped into the machine folder on the host.
//
// Windows paths are case-insensitive, the host's usually are not: every component
// that exists on disk is matched without regard to case. The machine may be hostile:
// no path ever resolves outside the machine folder, whatever ".." components or
// symbolic links it holds.

#include <optional>
#include <string>
#include <string_view>

namespace win32 {

class MachinePaths {
public:
    // `machineRoot` is the host folder that is drive C:.
    explicit MachinePaths(const std::string& machineRoot);

    const std::string& root() const { return root_; }

    // Host path (UTF-8) for a Windows path such as "C:\WINDOWS\system32\config\SYSTEM"
    // ("/" is accepted as a separator too, and a path beginning with one separator
    // is taken from the root of C:). Components that exist are spelled as on disk;
    // the first missing one and everything after it are kept as given.
    // Empty when the path is not on drive C:, is relative, or would leave the machine.
    std::optional<std::string> toHost(std::u16string_view windowsPath) const;

    // The Windows path ("C:\...") of a host path inside the machine folder.
    std::optional<std::u16string> toWindows(const std::string& hostPath) const;

private:
    std::string root_; // canonical, no trailing slash
};

} // namespace win32
