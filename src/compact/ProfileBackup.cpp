// Backup into a profile: the five system hives saved into the profile folder, with its
// "config.ini" and the proof of what was written.
//
// The profile is built in a hidden folder beside its own (PartialProfileFolder) and takes
// its name only once every file in it is written and synced: a backup that fails, is
// stopped or is killed never leaves a folder that looks like a profile, and one that
// re-uses a profile's name replaces the old profile in one step.

#include "backup/ProfileConfig.h"
#include "backup/ProfileFolder.h"
#include "backup/ProfileProof.h"
#include "compact/THiveManager.h"
#include "hive/HostFiles.h"
#include "registry/SplitFns.h"
#include "win32/host/PlainFileName.h"

#include <cstring>
#include <filesystem>
#include <unistd.h>

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

std::string trimmedFolder(std::string folder) {
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder;
}

} // namespace

void THiveManager::BackupHives() {
    success_ = false;
    SetLastError({});
    const std::string folder = trimmedFolder(Folder);
    const std::string parent = hive::ParentFolder(folder);
    for (const auto& [path, what] :
         {std::pair{parent, "The backup folder"}, std::pair{folder, "The profile folder"}})
        if (const std::string why = SymbolicLinkProblem(path, what); !why.empty()) {
            SetLastError(why);
            return;
        }
    std::error_code error;
    std::filesystem::create_directories(parent, error);
    RemovePartialProfiles(parent);
    const std::string partial = PartialProfileFolder(folder);
    if (!std::filesystem::create_directory(partial, error)) {
        SetLastError("Cannot create the profile folder " + partial +
                     (error ? ": " + error.message() : std::string()));
        return;
    }
    // What this backup wrote goes unless it ends whole; the empty folder the wizard made
    // for it goes as well.
    bool published = false;
    struct Cleanup {
        const std::string& partial;
        const std::string& folder;
        const bool& published;
        ~Cleanup() {
            if (published)
                return;
            std::error_code ignored;
            std::filesystem::remove_all(partial, ignored);
            ::rmdir(folder.c_str());
        }
    } cleanup{partial, folder, published};

    TProfileConfig config(Now());
    std::vector<std::string> written;
    int saved = 0;
    for (const auto& hive : Hives) {
        if (stopRequested_) {
            SetLastError("The backup was stopped; no profile was made");
            return;
        }
        if (!isWantedHive(hive->KeyName))
            continue;
        const std::string name = namePart(hive->FileName);
        if (const std::string fault = win32::PlainFileNameFault(name); !fault.empty()) {
            SetLastError("the hive " + hive->KeyName + " lies in the file " + hive->FileName +
                         ", whose name \"" + name + "\" " + fault);
            return;
        }
        const std::string target = ProfileFilePath(partial, name);
        hive->SaveTo(target);
        if (!hive->Saved) {
            SetLastError("Cannot save the hive " + hive->KeyName + ": " + hive->SaveError);
            return;
        }
        if (const int why = SyncPath(target); why != 0) {
            SetLastError("Cannot write " + target + ": " + std::strerror(why));
            return;
        }
        written.push_back(name);
        ++saved;
        RaiseProgress(saved * 100 / kProfileHiveCount);
        config.AddHive(name, hive->KeyName, hive->FileName);
    }
    if (saved != kProfileHiveCount) {
        SetLastError(std::to_string(saved) + " hives of the machine are system hives, not " +
                     std::to_string(kProfileHiveCount) + "; no profile was made");
        return;
    }
    try {
        config.Write(partial);
        written.push_back(kProfileConfigName);
        WriteProfileProof(partial, written);
    } catch (const std::exception& e) {
        SetLastError(std::string("Cannot complete the profile: ") + e.what());
        return;
    }
    if (const int why = SyncPath(partial); why != 0) {
        SetLastError("Cannot write the folder " + partial + ": " + std::strerror(why));
        return;
    }
    if (stopRequested_) {
        SetLastError("The backup was stopped; no profile was made");
        return;
    }
    if (const std::string why = PublishProfile(partial, folder); !why.empty()) {
        SetLastError(why);
        return;
    }
    published = true;
    success_ = true;
}
