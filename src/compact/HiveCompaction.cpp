// Compaction: every listed hive saved into a dense copy beside its file, and the copy
// swapped in at the next start of the machine.

#include "compact/THiveManager.h"
#include "registry/AsciiCase.h"
#include "win32/machine/Machine.h"
#include "win32/registry/PendingReplacements.h"

#include <algorithm>

namespace {

// A restore of a backup profile waits for the next start to put the profile's copy of
// the hive in place (ProfileRestore.cpp): that copy is what the machine starts with.
std::string waitingRestoreOf(const std::vector<win32::PendingReplacement>& pending,
                             const THive& hive) {
    const auto names = hive.RestoreCopyNames();
    const auto found = std::find_if(pending.begin(), pending.end(), [&](const auto& r) {
        return SameTextAscii(r.hive, hive.FileName) &&
               std::any_of(names.begin(), names.end(),
                           [&](const std::string& name) { return SameTextAscii(r.newFile, name); });
    });
    return found == pending.end() ? std::string() : found->newFile;
}

} // namespace

void THiveManager::CompactHives() {
    success_ = false;
    SetLastError({});
    const auto pending = win32::PendingReplacementsOf(win32::MachineFolder());
    const size_t count = Hives.size();
    for (size_t index = 0; index < count; ++index) {
        if (stopRequested_)
            break;
        THive& hive = *Hives[index];
        // A compaction of the live hive would put it back in place of the restored one.
        // The profile's copy was written by a save: it is a dense copy already.
        if (const std::string restored = waitingRestoreOf(pending, hive); !restored.empty()) {
            hive.SavedSize = HiveFileSize(restored);
        } else {
            try {
                hive.Save({});
                hive.Replace();
            } catch (const std::exception& e) {
                // The hives replaced before stay pending; the rest are not touched. The run
                // has failed: it must not be reported as a compaction.
                SetLastError(e.what());
                return;
            }
        }
        RaiseProgress(int((index + 1) * 100 / count));
    }
    success_ = true;
}
