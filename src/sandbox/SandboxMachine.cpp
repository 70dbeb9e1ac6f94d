#include "sandbox/SandboxMachine.h"

#include "hive/HostFiles.h"
#include "sandbox/SandboxTemplate.h"
#include "store/ProgramFolder.h"
#include "win32/base/CodePage.h"
#include "win32/host/MachineLock.h"
#include "win32/machine/Machine.h"
#include "win32/machine/MachineCreator.h"
#include "win32/registry/RegImport.h"
#include "win32/shell/ShellLink.h"

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// The folder the machine's Windows path names.
fs::path hostPathOf(const fs::path& machine, const std::string& windowsPath) {
    std::string relative = windowsPath.substr(3);
    for (char& c : relative)
        if (c == '\\')
            c = '/';
    return machine / relative;
}

void writeFile(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    out.close();
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

// The smallest file Windows takes for an executable image.
std::string executableImage() {
    std::string image(64, '\0');
    image[0] = 'M';
    image[1] = 'Z';
    return image;
}

void writeFiles(const fs::path& machine, TSandboxWindows windows) {
    const win32::CodePage ansi(1252);
    for (const TSandboxFile& file : SandboxFiles(windows)) {
        const fs::path path = hostPathOf(machine, file.path);
        switch (file.kind) {
        case TSandboxFile::Kind::Image:
            writeFile(path, executableImage());
            break;
        case TSandboxFile::Kind::File:
            writeFile(path, "Sandbox file " + file.path + "\r\n");
            break;
        case TSandboxFile::Kind::Folder:
            fs::create_directories(path);
            break;
        case TSandboxFile::Kind::Shortcut: {
            const std::string folder = file.target.substr(0, file.target.rfind('\\'));
            const auto bytes = win32::BuildShellLink(file.target, folder, "", ansi);
            writeFile(path, std::string(bytes.begin(), bytes.end()));
            break;
        }
        }
    }
}

void importRegistry(const std::string& machine, TSandboxWindows windows) {
    win32::BootMachine(machine, {});
    try {
        const win32::RegImportResult result = win32::RegImportData(SandboxRegText(windows));
        if (result.skipped > 0)
            throw std::runtime_error("the sandbox's registry template has " +
                                     std::to_string(result.skipped) + " lines that do not import" +
                                     (result.problems.empty()
                                          ? std::string()
                                          : ", the first at line " +
                                                std::to_string(result.problems.front().line) +
                                                ": " + result.problems.front().message));
    } catch (...) {
        win32::ShutdownMachine();
        throw;
    }
    win32::ShutdownMachine();
}

bool isMachine(const fs::path& folder) {
    std::error_code error;
    return fs::is_regular_file(folder / "WINDOWS/system32/config/SYSTEM", error);
}

std::string besideFolder(const std::string& folder, const char* what) {
    return folder + "." + what + "-" + std::to_string(::getpid());
}

} // namespace

std::string SandboxFolder() {
    return BaseProgramFolder() + "Sandbox";
}

void CreateSandbox(const std::string& folder, TSandboxWindows windows) {
    std::error_code error;
    if (fs::exists(folder, error))
        throw std::runtime_error(folder + " exists already");
    const std::string building = besideFolder(folder, "new");
    fs::remove_all(building, error);
    try {
        win32::NewMachine options;
        if (windows == TSandboxWindows::Windows10)
            options = {.version = "10.0.19045", .servicePack = "", .usersFolder = true};
        win32::CreateMachine(building, options);
        writeFiles(building, windows);
        importRegistry(building, windows);
        hive::SyncFolderOf(building + "/WINDOWS");
    } catch (...) {
        fs::remove_all(building, error);
        throw;
    }
    if (hive::RenameNoReplace(building, folder) != 0) {
        fs::remove_all(building, error);
        throw std::runtime_error("cannot put the new sandbox in place at " + folder);
    }
    hive::SyncFolderOf(folder);
}

bool EnsureSandbox() {
    const std::string folder = SandboxFolder();
    if (isMachine(folder))
        return false;
    std::error_code error;
    if (fs::exists(folder, error))
        throw std::runtime_error(folder +
                                 " is not a sandbox machine; move it away to have a new one made");
    try {
        CreateSandbox(folder);
    } catch (const std::exception&) {
        // Another process starting at the same moment made it first.
        if (isMachine(folder))
            return false;
        throw;
    }
    return true;
}

void ResetSandbox(TSandboxWindows windows) {
    const std::string folder = SandboxFolder();
    std::error_code error;
    if (!fs::exists(folder, error)) {
        CreateSandbox(folder, windows);
        return;
    }
    // Held while the old one is moved aside: no other process mounts it meanwhile.
    win32::MachineLock lock = win32::MachineLock::acquire(folder);
    const std::string fresh = besideFolder(folder, "fresh");
    fs::remove_all(fresh, error);
    CreateSandbox(fresh, windows);
    const std::string old = besideFolder(folder, "old");
    fs::remove_all(old, error);
    fs::rename(folder, old);
    // Let go once the old one has left the name, so the lock file removed is its own.
    lock.release();
    fs::rename(fresh, folder);
    fs::remove_all(old, error);
}
