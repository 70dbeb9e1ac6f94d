// Restore of a backup profile: each of its five hives takes the place of the live hive
// at the next start of the machine, through the same replacement as compaction.
//
// A machine must never start into a half-restored registry: every entry is checked and
// every copy made and verified before the replacements are asked for, all five in one
// step (win32::ReplacementBatch), and a failure on the way leaves what waited for the
// next start as it was and removes the copies.
// The copies wait under names of their own (THive::RestoreCopyNames), and the
// replacements are asked for with them: F + ".rctemp" may be what an earlier compaction's
// replacement waits for, and a later compaction knows a waiting restore by the name, and
// leaves it alone.
#include "backup/ProfileConfig.h"
#include "backup/ProfileFolder.h"
#include "backup/ProfileHiveFile.h"
#include "backup/ProfileProof.h"
#include "compact/THiveManager.h"
#include "hive/HiveFile.h"
#include "hive/HostFiles.h"
#include "registry/AsciiCase.h"
#include "win32/base/ErrorText.h"
#include "win32/files/Drives.h"
#include "win32/machine/Machine.h"
#include "win32/registry/PendingReplacements.h"

#include <algorithm>
#include <optional>
#include <stdexcept>

#include <QCryptographicHash>
#include <QFileInfo>

namespace {

std::string rootName(HKEY root) {
    return root == HKEY_LOCAL_MACHINE ? "MACHINE" : "USER";
}

// The one live hive an entry names: the hive whose upper-cased key name contains the
// entry's key name; among several, the one that is exactly the entry's root and key.
THive* liveHiveOf(const std::vector<std::unique_ptr<THive>>& hives, const TProfileEntry& entry) {
    std::vector<THive*> found;
    for (const auto& hive : hives)
        if (AsciiUpper(hive->KeyName).find(entry.KeyName) != std::string::npos)
            found.push_back(hive.get());
    if (found.size() > 1)
        std::erase_if(found, [&](const THive* hive) {
            return !SameTextAscii(hive->KeyName,
                                  "\\REGISTRY\\" + rootName(entry.Root) + "\\" + entry.KeyName);
        });
    return found.size() == 1 ? found.front() : nullptr;
}

// The name the profile's copy of `hive` is made under: not the one a replacement that
// waits for the hive (an earlier restore's) uses, so that it stays whole should this
// restore fail.
std::string stagingName(const std::vector<win32::PendingReplacement>& pending, const THive& hive) {
    const auto names = hive.RestoreCopyNames();
    const win32::PendingReplacement* waiting = hive.WaitingReplacement(pending);
    return waiting && SameTextAscii(waiting->newFile, names[0]) ? names[1] : names[0];
}

// Checks the profile's hive file of `entry` before anything is written: its base block,
// the proof the backup left for it (when the profile has one), and that its keys are
// those of the hive the entry names. Returns why it cannot be restored, empty when it can.
std::string checkProfileHive(const TProfileEntry& entry,
                             const std::optional<std::vector<TProfileFileProof>>& proof,
                             TProfileHiveHeader& header) {
    const std::string name =
        QFileInfo(QString::fromStdString(entry.HiveFile)).fileName().toStdString();
    if (const std::string why = ReadProfileHiveHeader(entry.HiveFile, header); !why.empty())
        return "The profile's hive file is not sound: " + why;
    const THiveKind kind = HiveKindOfKeyName(entry.KeyName);
    try {
        const hive::LoadedHive loaded = LoadProfileHive(entry.HiveFile, header);
        if (const THiveKind found = GuessHiveKind(*loaded.root); found != kind)
            return "The profile's " + entry.KeyName + " (" + entry.HiveFile + ") holds " +
                   HiveKindPhrase(found) + ", not " + HiveKindPhrase(kind);
    } catch (const std::exception& e) {
        return std::string("The profile's hive file is not sound: ") + e.what();
    }
    if (proof) {
        const TProfileFileProof* line = FindProof(*proof, name);
        if (!line)
            return "The profile's proof file names no " + name;
        if (const std::string why = CheckProfileFile(entry.HiveFile, *line); !why.empty())
            return "The profile's " + entry.KeyName + " cannot be restored: " + why;
    }
    return {};
}

// Copies the profile's hive file (a host path) to `staging`: the bytes its base block
// declares, or the hive its logs bring up to date, and checks that what is there now is
// the same sound hive. Returns why not, empty on success.
std::string copyProfileHive(const TProfileEntry& entry, const TProfileHiveHeader& header,
                            const TProfileFileProof* proof, const std::string& staging) {
    const auto target = win32::HostPathOf(staging);
    if (!target)
        return staging + " is not on the machine's drives";
    try {
        if (header.Unfinished) {
            hive::ReplaceFileAtomically(*target,
                                        LoadProfileHive(entry.HiveFile, header).recovery.hive);
        } else {
            // The backup wrote the file as its base block declares it: the bytes copied,
            // read once, are checked against the proof again.
            QCryptographicHash hash(QCryptographicHash::Sha256);
            CopyFileHead(entry.HiveFile, *target, header.DeclaredSize, &hash);
            if (proof && proof->Size == header.DeclaredSize && hash.result() != proof->Sha256)
                return "The profile's " + entry.KeyName + " cannot be restored: " + entry.HiveFile +
                       " has changed since the backup";
        }
        const hive::LoadedHive copy = hive::LoadHiveFile(*target);
        if (GuessHiveKind(*copy.root) != HiveKindOfKeyName(entry.KeyName))
            return "The profile's " + entry.KeyName + " changed while it was copied";
    } catch (const std::exception& e) {
        return "Cannot copy " + entry.HiveFile + " to " + staging + ": " + e.what();
    }
    return {};
}

} // namespace

void THiveManager::RestoreHives() {
    success_ = false;
    SetLastError({});
    // A folder reached through a link is not the profile the user chose.
    for (const auto& [path, what] :
         {std::pair{hive::ParentFolder(Folder), "The backup folder"},
          std::pair{Folder, "The profile folder"},
          std::pair{ProfileFilePath(Folder, kProfileConfigName), "The profile's file"}})
        if (const std::string why = SymbolicLinkProblem(path, what); !why.empty()) {
            SetLastError(why);
            return;
        }
    std::vector<TProfileEntry> entries;
    if (!ReadProfileConfig(Folder, entries)) {
        SetLastError("The profile " + Folder +
                     " is incomplete: its config.ini is missing, names a hive file the "
                     "profile does not have, or does not list five hives");
        return;
    }

    // Every entry names a live hive of its own, at the place the profile says, and every
    // file of the profile is sound, unchanged since the backup (when the profile carries
    // its proof) and of its kind, before anything is written.
    std::vector<THive*> targets;
    for (const TProfileEntry& entry : entries) {
        THive* hive = liveHiveOf(Hives, entry);
        if (!hive) {
            SetLastError("No loaded hive of the machine is the profile's " + entry.KeyName);
            return;
        }
        if (std::find(targets.begin(), targets.end(), hive) != targets.end()) {
            SetLastError("The profile names the hive " + hive->KeyName + " twice");
            return;
        }
        if (!SameTextAscii(hive->FileName, entry.FilePath)) {
            SetLastError("The profile's " + entry.KeyName + " was saved from " + entry.FilePath +
                         ", but the machine loads it from " + hive->FileName);
            return;
        }
        if (HiveKindOfKeyName(entry.KeyName) == THiveKind::Unknown) {
            SetLastError("The profile's " + entry.KeyName + " is none of the five system hives");
            return;
        }
        targets.push_back(hive);
    }
    std::optional<std::vector<TProfileFileProof>> proof;
    try {
        proof = ReadProfileProof(Folder);
        if (proof) {
            const TProfileFileProof* line = FindProof(*proof, kProfileConfigName);
            const std::string why =
                line ? CheckProfileFile(ProfileFilePath(Folder, kProfileConfigName), *line)
                     : "the proof file names no " + std::string(kProfileConfigName);
            if (!why.empty()) {
                SetLastError("The profile " + Folder + " cannot be restored: " + why);
                return;
            }
        }
    } catch (const std::exception& e) {
        SetLastError(std::string("The profile cannot be restored: ") + e.what());
        return;
    }
    std::vector<TProfileHiveHeader> headers(entries.size());
    for (size_t j = 0; j < entries.size(); ++j)
        if (const std::string why = checkProfileHive(entries[j], proof, headers[j]); !why.empty()) {
            SetLastError(why);
            return;
        }

    // What waited for the next start before this restore (an earlier restore's copies):
    // this one's copies go under the other name, so a failure leaves those whole.
    const auto before = win32::PendingReplacementsOf(win32::MachineFolder());
    std::vector<std::string> staging;
    for (const THive* hive : targets)
        staging.push_back(stagingName(before, *hive));

    // A fresh save of each live hive (which opens its key) and the profile's copy beside
    // it. Undone or done, the saves and the restored copies go, this restore's and any
    // an earlier one left, except the files a replacement waits for (an earlier
    // compaction's save is a dense copy of the live hive as that one was).
    size_t copied = 0;
    auto removeCopies = [&] {
        const auto pending = win32::PendingReplacementsOf(win32::MachineFolder());
        for (size_t j = 0; j < copied; ++j)
            targets[j]->RemoveUnawaitedCopies(pending);
    };
    for (size_t j = 0; j < entries.size(); ++j) {
        THive* hive = targets[j];
        if (stopRequested_) {
            removeCopies();
            SetLastError("The restore was stopped; no hive will be replaced");
            return;
        }
        hive->SaveTo({});
        ++copied;
        if (!hive->Saved) {
            removeCopies();
            SetLastError("Cannot save the live hive " + hive->KeyName + ": " + hive->SaveError);
            return;
        }
        const TProfileFileProof* line =
            proof ? FindProof(*proof, QFileInfo(QString::fromStdString(entries[j].HiveFile))
                                          .fileName()
                                          .toStdString())
                  : nullptr;
        if (const std::string why = copyProfileHive(entries[j], headers[j], line, staging[j]);
            !why.empty()) {
            removeCopies();
            SetLastError(why);
            return;
        }
        RaiseProgress(int((j + 1) * 100 / entries.size()));
    }

    // The replacements, asked for together: should one be refused, or their list not be
    // written, none of them waits and what waited before stays exactly as it was.
    win32::ReplacementBatch batch;
    for (size_t j = 0; j < targets.size(); ++j) {
        THive* hive = targets[j];
        try {
            hive->TempFileName = staging[j];
            hive->Replace();
        } catch (const std::exception& e) {
            SetLastError(std::string(e.what()) + ": " + hive->KeyName + " cannot be replaced");
            removeCopies();
            return;
        }
    }
    if (const LONG rc = batch.Commit(); rc != ERROR_SUCCESS) {
        SetLastError("Cannot record the replacements for the machine's next start: " +
                     win32::SystemErrorText(rc));
        removeCopies();
        return;
    }
    removeCopies();
    success_ = true;
}
