#pragma once
// Test machines: a new Windows installation in a temporary folder, with a registry
// made from .reg text and the files a test needs.

#include "win32/machine/Machine.h"
#include "win32/machine/MachineCreator.h"

#include <QTemporaryDir>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

struct FixtureFile {
    std::string windowsPath; // "C:\Program Files\App\app.exe"
    std::string content;
};

// The smallest file Windows takes for an executable image.
std::string MzImage();

class TestMachine {
public:
    // Creates the machine, writes the files, boots it and imports `regText` (a whole
    // .reg file, header included; "REGEDIT4" is added when it has none). Stays booted.
    explicit TestMachine(const std::string& regText = {},
                         const std::vector<FixtureFile>& files = {},
                         const win32::NewMachine& options = {});
    ~TestMachine();
    TestMachine(const TestMachine&) = delete;
    TestMachine& operator=(const TestMachine&) = delete;

    const std::string& folder() const { return folder_; }
    const std::string& userSid() const { return sid_; }
    // Host path of a file in the machine, spelled as given ("WINDOWS/system32/config/SYSTEM").
    std::string hostPath(const std::string& relative) const { return folder_ + "/" + relative; }

    void boot(const win32::BootOptions& options = {});
    void shutdown();
    // Writes the machine's hivewarden-machine.ini; the next boot reads it.
    void writeIni(const std::string& text) const;
    // Shuts the machine down, writes its ini and boots it again.
    void rebootWithIni(const std::string& text);

private:
    QTemporaryDir dir_;
    std::string folder_;
    std::string sid_;
};

// Enables privileges of the booted machine's process token (AdjustTokenPrivileges), as a
// program does before RegSaveKey, RegReplaceKey or ExitWindowsEx; false when one is not held.
bool EnablePrivileges(std::initializer_list<const char*> names);

// Decompresses one of the real hives of the shared test data into `folder`; empty when
// the shared folder is absent (tests then skip).
std::optional<std::string> SharedHive(const std::string& name, const std::string& folder);
// The same for a file of the shared folder given by its relative path
// ("recovery/OldDirtyHive/OldDirtyHive"), decompressed to `target`; false when absent.
bool SharedHiveAs(const std::string& relative, const std::string& target);

// Runs a program and gives its exit status and standard output.
struct ProcessResult {
    int exitCode = -1;
    std::string out, err;
};
ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::vector<std::pair<std::string, std::string>>& env = {});

// The hive files of a machine made with the default user, relative to its folder: the five
// of system32\config first, then the user's two.
inline const char* const kMachineHives[] = {
    "WINDOWS/system32/config/SYSTEM",
    "WINDOWS/system32/config/SOFTWARE",
    "WINDOWS/system32/config/SAM",
    "WINDOWS/system32/config/SECURITY",
    "WINDOWS/system32/config/DEFAULT",
    "Documents and Settings/Administrator/NTUSER.DAT",
    "Documents and Settings/Administrator/Local Settings/Application Data/Microsoft/Windows/"
    "UsrClass.dat"};

} // namespace testing_support
