// Compaction: every listed hive saved into a dense copy beside its file, and the copy
// swapped in at the next start of the machine.

#include "compact/THiveManager.h"

void THiveManager::Compact() {
    stopRequested_ = false;
    success_ = false;
    SetLastError({});
    const size_t count = Hives.size();
    for (size_t index = 0; index < count; ++index) {
        if (stopRequested_)
            break;
        THive& hive = *Hives[index];
        try {
            hive.Save({});
            hive.Replace();
        } catch (const std::exception& e) {
            // The hives replaced before stay pending; the rest are not touched. The run
            // has failed: it must not be reported as a compaction.
            SetLastError(e.what());
            return;
        }
        RaiseProgress(int((index + 1) * 100 / count));
    }
    success_ = true;
}
