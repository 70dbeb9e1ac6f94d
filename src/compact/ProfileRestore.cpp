// Restore of a backup profile: each of its five hives takes the place of the live hive
// at the next start of the machine, through the same replacement as compaction.
//
// A machine must never start into a half-restored registry: every entry is checked and
// every copy made and verified before the first replacement is asked for, and a failure
// on the way asks for none and removes the copies. The copies wait under a name of their
// own (F + ".rcrestore"), and the replacements are asked for with that name: F + ".rctemp"
// may be what an earlier compaction's replacement waits for, and a later compaction
// knows a waiting restore by the name, and leaves it alone.
#include "backup/ProfileConfig.h"
#include "compact/THiveManager.h"
#include "hive/HiveFile.h"
#include "hive/HostFiles.h"
#include "registry/AsciiCase.h"
#include "win32/files/Drives.h"
#include "win32/files/Files.h"
#include "win32/machine/Machine.h"
#include "win32/registry/PendingReplacements.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include <QFile>

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

std::string stagingName(const THive& hive) {
    return hive.FileName + ".rcrestore";
}

// Copies the profile's hive file (a host path) to the hive's staging name and checks
// that what is there now is a sound hive. Returns why not, empty on success.
std::string copyProfileHive(const TProfileEntry& entry, const THive& hive) {
    const std::string staging = stagingName(hive);
    const auto target = win32::HostPathOf(staging);
    if (!target)
        return staging + " is not on the machine's drives";
    QFile source(QString::fromStdString(entry.HiveFile));
    if (!source.open(QIODevice::ReadOnly))
        return "Cannot read " + entry.HiveFile + ": " + source.errorString().toStdString();
    const QByteArray bytes = source.readAll();
    if (source.error() != QFileDevice::NoError)
        return "Cannot read " + entry.HiveFile + ": " + source.errorString().toStdString();
    try {
        hive::ReplaceFileAtomically(*target, hive::Bytes(bytes.begin(), bytes.end()));
        hive::LoadHiveFile(*target);
    } catch (const std::exception& e) {
        return "Cannot copy " + entry.HiveFile + " to " + staging + ": " + e.what();
    }
    return {};
}

} // namespace

void THiveManager::RestoreHives() {
    success_ = false;
    SetLastError({});
    std::vector<TProfileEntry> entries;
    if (!ReadProfileConfig(Folder, entries)) {
        SetLastError("The profile " + Folder +
                     " is incomplete: its config.ini is missing, names a hive file the "
                     "profile does not have, or does not list five hives");
        return;
    }

    // Every entry names a live hive of its own, at the place the profile says, and every
    // hive file of the profile is sound, before anything is written.
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
        try {
            hive::LoadHiveFile(entry.HiveFile);
        } catch (const std::exception& e) {
            SetLastError(std::string("The profile's hive file is not sound: ") + e.what());
            return;
        }
        targets.push_back(hive);
    }

    // A fresh save of each live hive (which opens its key) and the profile's copy beside
    // it. Undone, the copies go, and so do the saves, unless an earlier compaction's
    // replacement waits for one: it is a dense copy of the live hive as that one was.
    std::vector<THive*> copied;
    // The saves go unless a replacement waits for one; so do the staged copies, unless
    // `keepStaged` (they are what the replacements wait for).
    auto removeCopies = [&](bool keepStaged = false) {
        const auto pending = win32::PendingReplacementsOf(win32::MachineFolder());
        for (THive* hive : copied) {
            if (const auto staged = win32::HostPathOf(stagingName(*hive)); staged && !keepStaged)
                std::remove(staged->c_str());
            const std::string save = hive->FileName + ".rctemp";
            const bool awaited = std::any_of(pending.begin(), pending.end(), [&](const auto& r) {
                return SameTextAscii(r.newFile, save);
            });
            if (!awaited)
                DeleteFileA(save.c_str());
        }
    };
    for (size_t j = 0; j < entries.size(); ++j) {
        THive* hive = targets[j];
        if (stopRequested_) {
            removeCopies();
            SetLastError("The restore was stopped; no hive will be replaced");
            return;
        }
        hive->SaveTo({});
        copied.push_back(hive);
        if (!hive->Saved) {
            removeCopies();
            SetLastError("Cannot save the live hive " + hive->KeyName + " to " +
                         hive->TempFileName);
            return;
        }
        if (const std::string why = copyProfileHive(entries[j], *hive); !why.empty()) {
            removeCopies();
            SetLastError(why);
            return;
        }
        RaiseProgress(int((j + 1) * 100 / entries.size()));
    }

    // The replacements. Should one be refused after all, those asked for already are
    // asked for again with a fresh copy of the live hive, so that no hive of the profile
    // comes back alone.
    std::vector<THive*> replaced;
    for (THive* hive : targets) {
        try {
            hive->TempFileName = stagingName(*hive);
            hive->Replace();
        } catch (const std::exception& e) {
            SetLastError(std::string(e.what()) + ": " + hive->KeyName + " cannot be replaced");
            for (THive* done : replaced) {
                try {
                    done->Save({});
                    done->Replace();
                } catch (const std::exception&) {
                    // Its copy is gone or its own: the replacement fails at the start.
                }
            }
            removeCopies();
            return;
        }
        replaced.push_back(hive);
    }
    removeCopies(true);
    success_ = true;
}
