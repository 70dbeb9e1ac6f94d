#include "compact/THive.h"

#include "registry/AsciiCase.h"
#include "registry/Privileges.h"
#include "registry/SIDTranslator.h"
#include "win32/base/ErrorText.h"
#include "win32/files/Drives.h"
#include "win32/files/Files.h"
#include "win32/registry/PendingReplacements.h"
#include "win32/registry/Registry.h"
#include "win32/registry/SaveKeyToHostFile.h"

#include <algorithm>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char kMachinePrefix[] = "\\REGISTRY\\MACHINE\\"; // 18 characters
constexpr char kUserPrefix[] = "\\REGISTRY\\USER\\";       // 15 characters
constexpr size_t kMachinePrefixLength = sizeof kMachinePrefix - 1;
constexpr size_t kUserPrefixLength = sizeof kUserPrefix - 1;

bool isHostPath(const std::string& path) {
    return !path.empty() && path.front() == '/';
}

bool fileExists(const std::string& path) {
    if (isHostPath(path)) {
        struct stat info;
        return ::lstat(path.c_str(), &info) == 0;
    }
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void deleteFile(const std::string& path) {
    if (isHostPath(path))
        ::unlink(path.c_str());
    else
        DeleteFileA(path.c_str());
}

// Puts the complete file `from` in the place of `to`, which a reader sees whole before
// and after; `from` is gone on success.
bool replaceWith(const std::string& from, const std::string& to) {
    // A rename keeps the file the registry wrote: the registry knows it as a dense save
    // of its hive, which a replacement with it relies on.
    const auto source = isHostPath(from) ? std::optional(from) : win32::HostPathOf(from);
    const auto target = isHostPath(to) ? std::optional(to) : win32::HostPathOf(to);
    return source && target && ::rename(source->c_str(), target->c_str()) == 0;
}

// The name a save writes before its file takes the target's place. Beside a hive it ends
// as the files a killed writer leaves do, which the next writable mount removes.
std::string unfinishedName(const std::string& target) {
    return target + ".hwsave.hwnew";
}

} // namespace

uint32_t HiveFileSize(const std::string& path) {
    if (isHostPath(path)) {
        struct stat info;
        return ::stat(path.c_str(), &info) == 0 ? uint32_t(uint64_t(info.st_size)) : kNoFileSize;
    }
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA(path.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return kNoFileSize;
    FindClose(search);
    return found.nFileSizeLow;
}

THive::THive(const std::string& keyName, const TDeviceFileMapper& mapper,
             const std::string& devicePath)
    : Mapper(&mapper), KeyName(keyName), FileName(mapper.MapPath(devicePath)), Owner("SYSTEM") {
    if (KeyName.size() > kUserPrefixLength && KeyName.starts_with(kUserPrefix))
        Owner = HiveOwnerName(KeyName.substr(kUserPrefixLength));
    FileSize = HiveFileSize(FileName);
}

THive::~THive() {
    if (KeyHandle)
        RegCloseKey(KeyHandle);
}

HKEY THive::RootOfKeyName(std::string& subKey) const {
    if (KeyName.size() > kMachinePrefixLength && KeyName.starts_with(kMachinePrefix)) {
        subKey = KeyName.substr(kMachinePrefixLength);
        return HKEY_LOCAL_MACHINE;
    }
    if (KeyName.size() > kUserPrefixLength && KeyName.starts_with(kUserPrefix)) {
        subKey = KeyName.substr(kUserPrefixLength);
        return HKEY_USERS;
    }
    subKey.clear();
    return nullptr;
}

void THive::Save(const std::string& target) {
    bool wasEnabled = false;
    const DWORD enabled = EnablePrivilege("SeBackupPrivilege", true, wasEnabled);
    Saved = false;
    SaveError = "SeBackupPrivilege cannot be enabled";
    if (enabled != ERROR_SUCCESS)
        return;
    std::string subKey;
    const HKEY root = RootOfKeyName(subKey);
    HKEY key = nullptr;
    const bool opened = root && RegOpenKeyA(root, subKey.c_str(), &key) == ERROR_SUCCESS;

    TempFileName = target.empty() ? FileName + ".rctemp" : target;
    SaveError = "its key " + KeyName + " cannot be opened";
    if (!opened)
        return;
    if (KeyHandle)
        RegCloseKey(KeyHandle);
    KeyHandle = key;
    // The copy is written whole under a name of its own and only then takes the target's
    // place: a file there stays as it was until a sound copy is ready to replace it.
    const std::string unfinished = unfinishedName(TempFileName);
    if (fileExists(unfinished))
        deleteFile(unfinished); // left by a save that was killed
    const LONG rc = isHostPath(unfinished) ? win32::SaveKeyToHostFile(KeyHandle, unfinished)
                                           : RegSaveKeyA(KeyHandle, unfinished.c_str(), nullptr);
    const bool placed = rc == ERROR_SUCCESS && replaceWith(unfinished, TempFileName);
    if (!placed) {
        if (fileExists(unfinished))
            deleteFile(unfinished);
        SavedSize = kNoFileSize;
        SaveError = "Cannot write " + TempFileName + ": " +
                    win32::SystemErrorText(rc != ERROR_SUCCESS ? rc : ERROR_CANTWRITE);
        return;
    }
    Saved = true;
    SaveError.clear();
    SavedSize = HiveFileSize(TempFileName);
}

void THive::SaveTo(const std::string& target) {
    Saved = false;
    Save(target);
}

void THive::Replace() {
    if (!Saved)
        return;
    const std::string old = BackupFileName();
    if (GetFileAttributesA(old.c_str()) != INVALID_FILE_ATTRIBUTES && !DeleteFileA(old.c_str()))
        throw ECompactError();
    bool wasEnabled = false;
    for (const char* privilege : {"SeBackupPrivilege", "SeRestorePrivilege", "SeShutdownPrivilege"})
        if (EnablePrivilege(privilege, true, wasEnabled) != ERROR_SUCCESS)
            throw ECompactError();
    if (RegReplaceKeyA(KeyHandle, nullptr, TempFileName.c_str(), old.c_str()) != ERROR_SUCCESS)
        throw ECompactError();
    Saved = false;
}

bool THive::IsRestoreCopy(const std::string& file) const {
    const auto names = RestoreCopyNames();
    return std::any_of(names.begin(), names.end(),
                       [&](const std::string& name) { return SameTextAscii(file, name); });
}

void THive::RemoveUnawaitedCopies(const std::vector<win32::PendingReplacement>& pending) const {
    const auto restoreCopies = RestoreCopyNames();
    for (const std::string& copy : {FileName + ".rctemp", restoreCopies[0], restoreCopies[1]}) {
        const bool awaited = std::any_of(pending.begin(), pending.end(), [&](const auto& r) {
            return SameTextAscii(r.newFile, copy);
        });
        if (!awaited && fileExists(copy))
            deleteFile(copy);
    }
}

const win32::PendingReplacement*
THive::WaitingReplacement(const std::vector<win32::PendingReplacement>& pending) const {
    const auto found = std::find_if(pending.begin(), pending.end(),
                                    [&](const auto& r) { return SameTextAscii(r.hive, FileName); });
    return found == pending.end() ? nullptr : &*found;
}
