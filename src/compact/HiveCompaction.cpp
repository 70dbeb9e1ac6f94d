// Compaction: every listed hive saved into a dense copy beside its file, and the copy
// swapped in at the next start of the machine.

#include "compact/THiveManager.h"
#include "win32/base/ErrorText.h"
#include "win32/machine/Machine.h"
#include "win32/registry/PendingReplacements.h"

void THiveManager::CompactHives() {
    success_ = false;
    SetLastError({});
    const std::string machine = win32::MachineFolder();
    const auto pending = win32::PendingReplacementsOf(machine);
    for (const auto& hive : Hives)
        hive->RemoveUnawaitedCopies(pending);
    // The replacements are recorded together when the run ends, however it ends: a run
    // that is killed leaves none of them waiting, never some.
    win32::ReplacementBatch batch;
    auto record = [&] {
        if (const LONG rc = batch.Commit(); rc != ERROR_SUCCESS) {
            SetLastError("Cannot record the replacements for the machine's next start: " +
                         win32::SystemErrorText(rc) + " No hive will be replaced");
            for (const auto& hive : Hives)
                hive->RemoveUnawaitedCopies(pending);
            return false;
        }
        return true;
    };
    const size_t count = Hives.size();
    for (size_t index = 0; index < count; ++index) {
        if (stopRequested_)
            break;
        THive& hive = *Hives[index];
        // A compaction of the live hive would put it back in place of the restored one
        // (ProfileRestore.cpp). The profile's copy was written by a save: it is a dense
        // copy already.
        if (const auto* waiting = hive.WaitingReplacement(pending);
            waiting && hive.IsRestoreCopy(waiting->newFile)) {
            hive.SavedSize = HiveFileSize(waiting->newFile);
        } else {
            try {
                hive.Save({});
                hive.Replace();
            } catch (const std::exception& e) {
                // The hives handled before stay pending; the rest are not touched. The run
                // has failed: it must not be reported as a compaction.
                const std::string why = std::string(e.what()) + ": " + hive.KeyName + " (" +
                                        hive.FileName + ") cannot be replaced";
                if (record()) {
                    SetLastError(why);
                    hive.RemoveUnawaitedCopies(win32::PendingReplacementsOf(machine));
                }
                return;
            }
        }
        RaiseProgress(int((index + 1) * 100 / count));
    }
    success_ = record();
}
