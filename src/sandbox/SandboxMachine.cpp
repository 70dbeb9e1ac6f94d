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

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <signal.h>
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

// Swaps the folders `a` and `b`; 0, or the errno of the failure with both as they were.
int exchange(const std::string& a, const std::string& b) {
    if (::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    // A file system that cannot swap: one rename after the other, undone on failure.
    const std::string aside = besideFolder(b, "old");
    if (::rename(b.c_str(), aside.c_str()) != 0)
        return errno;
    if (const int failure = hive::RenameNoReplace(a, b); failure != 0) {
        ::rename(aside.c_str(), b.c_str());
        return failure;
    }
    std::error_code error;
    if (::rename(aside.c_str(), a.c_str()) != 0)
        fs::remove_all(aside, error); // the old machine, gone all the same
    return 0;
}

// Removes what a process killed while it made or replaced the sandbox left beside it: the
// folders of besideFolder whose process is gone.
void removeLeftovers(const std::string& folder) {
    const fs::path path(folder);
    const std::string prefix = path.filename().string() + ".";
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(path.parent_path(), error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(prefix, 0) != 0)
            continue;
        const size_t dash = name.rfind('-');
        const std::string what = name.substr(prefix.size(), dash - prefix.size());
        const std::string pid = dash == std::string::npos ? "" : name.substr(dash + 1);
        if ((what != "new" && what != "fresh" && what != "old") || pid.empty() ||
            pid.find_first_not_of("0123456789") != std::string::npos || pid.size() > 9)
            continue;
        const pid_t process = pid_t(std::stol(pid));
        if (process == ::getpid() || (::kill(process, 0) != 0 && errno == ESRCH)) {
            std::error_code ignored;
            if (entry.is_directory(ignored) && !entry.is_symlink(ignored))
                fs::remove_all(entry.path(), ignored);
        }
    }
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
    } catch (const fs::filesystem_error& e) {
        fs::remove_all(building, error);
        throw std::runtime_error("cannot make the new sandbox in " + building + " (" +
                                 e.code().message() + ")");
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
    removeLeftovers(folder);
    // The new machine is made first, then swapped with the old one in one step while no
    // other process has the old one mounted: a process starting meanwhile finds a whole
    // sandbox under the name, the old one or the new one, and never makes one of its own.
    const std::string fresh = besideFolder(folder, "fresh");
    fs::remove_all(fresh, error);
    CreateSandbox(fresh, windows);
    win32::MachineLock lock;
    try {
        lock = win32::MachineLock::acquire(folder);
    } catch (const std::exception&) {
        fs::remove_all(fresh, error);
        throw;
    }
    if (const int failure = exchange(fresh, folder); failure != 0) {
        fs::remove_all(fresh, error);
        throw std::runtime_error("the new sandbox could not take the place of " + folder + " (" +
                                 std::strerror(failure) + ")");
    }
    hive::SyncFolderOf(folder);
    // The old machine is at the other name now; its lock file goes with the lock.
    lock.release();
    fs::remove_all(fresh, error);
}
