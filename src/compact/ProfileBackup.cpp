// Backup into a profile: the five system hives saved straight into the profile folder,
// and its "config.ini".

#include "backup/ProfileConfig.h"
#include "compact/THiveManager.h"
#include "registry/SplitFns.h"
#include "win32/host/PlainFileName.h"

#include <filesystem>

namespace {

// SAM, SECURITY, SOFTWARE, SYSTEM and the .DEFAULT user hive.
bool isWantedHive(const std::string& keyName) {
    for (const char* name : {"SAM", "SECURITY", "SOFTWARE", "SYSTEM", ".DEFAULT"})
        if (FindTextFrom(keyName, name) != 0)
            return true;
    return false;
}

// The file name part of a drive path.
std::string namePart(const std::string& path) {
    const size_t slash = path.find_last_of("\\:");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

void THiveManager::BackupHives() {
    success_ = false;
    SetLastError({});
    std::error_code error;
    std::filesystem::create_directories(Folder, error);
    if (!std::filesystem::is_directory(Folder, error)) {
        SetLastError("Cannot create the profile folder " + Folder);
        return;
    }
    TProfileConfig config(Now());
    int saved = 0;
    for (const auto& hive : Hives) {
        if (stopRequested_)
            break;
        if (!isWantedHive(hive->KeyName))
            continue;
        const std::string name = namePart(hive->FileName);
        if (const std::string fault = win32::PlainFileNameFault(name); !fault.empty()) {
            SetLastError("the hive " + hive->KeyName + " lies in the file " + hive->FileName +
                         ", whose name \"" + name + "\" " + fault);
            return;
        }
        hive->SaveTo(ProfileFilePath(Folder, name));
        if (!hive->Saved)
            continue;
        ++saved;
        RaiseProgress(saved * 100 / kProfileHiveCount);
        config.AddHive(name, hive->KeyName, hive->FileName);
    }
    config.Write(Folder);
    success_ = saved == kProfileHiveCount;
    if (!success_)
        SetLastError(std::to_string(saved) + " of " + std::to_string(kProfileHiveCount) +
                     " hives were saved");
}
