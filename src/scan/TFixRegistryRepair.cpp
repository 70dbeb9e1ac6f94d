// The engine's repair side: fixing one problem of the list at a time, on the
// user-interface thread, after a scan.

#include "scan/ProblemDeletion.h"
#include "scan/ScanViews.h"
#include "scan/TFixRegistry.h"
#include "win32/registry/Registry.h"

#include <algorithm>

namespace {

// The key a repair of the problem deletes with its whole tree (at most: a file
// association may lose only its default value), or empty when it deletes a value only;
// the depth DeleteProblem deletes it at.
std::string DeletedKey(const TInvalidRegData& problem, int& depth) {
    // A key of the 32-bit view lies one level deeper, below its Wow6432Node.
    const int deeper = IsWow64Location(problem.KeyLocation) ? 1 : 0;
    depth = kFullDepth;
    switch (problem.Category) {
    case riActiveX: // the whole interface or type library registration
        depth = 2 + deeper;
        return problem.KeyLocation;
    case riAppPaths: // the application's key below "App Paths"
        depth = 6 + deeper;
        return problem.KeyLocation;
    case riClasses:
    case riFileAssociations:
    case riSoftware:
    case riServices:
    case riUninstallers:
        return problem.KeyLocation;
    case riStartMenu: // the folder's own key below the menu order key
        return problem.KeyLocation + "\\" + problem.ValueName;
    case riAutoRun:
    case riFonts:
    case riHelpFiles:
    case riSharedDlls:
        break;
    }
    return {};
}

bool DeleteProblem(const TInvalidRegData& problem, const std::string& undoFile) {
    if (problem.Category == riFileAssociations)
        return DeleteAssociation(problem.KeyLocation, undoFile);
    int depth = kFullDepth;
    const std::string key = DeletedKey(problem, depth);
    if (!key.empty())
        return DeleteKeyAtDepth(key, depth, undoFile);
    return DeleteProblemValue(problem.KeyLocation, problem.ValueName, undoFile);
}

} // namespace

bool TFixRegistry::FixItem(TRepairItem category, const std::string& undoFile,
                           const std::string& keyLocation, const std::string& valueName) {
    if (FixThread)
        return false; // the list belongs to the scan until it ends
    const auto found =
        std::find_if(invalidDataList_.begin(), invalidDataList_.end(), [&](const auto& problem) {
            return problem.Category == category && problem.KeyLocation == keyLocation &&
                   problem.ValueName == valueName;
        });
    lastFixRefusal_.clear();
    if (found == invalidDataList_.end())
        return false;
    // A key the user excluded from the scans is never deleted with a parent reported.
    int depth = kFullDepth;
    if (const std::string key = DeletedKey(*found, depth); !key.empty()) {
        const std::string deleted = KeyLocationAtDepth(key, depth);
        if (const std::string entry = ExclusionWithin(deleted);
            !deleted.empty() && !entry.empty()) {
            lastFixRefusal_ = "The problem at " + found->KeyLocation +
                              " was not removed: its repair would delete the key " + deleted +
                              " with all its subkeys, and the exclusion list keeps \"" + entry +
                              "\" at or below it.";
            return false;
        }
    }
    if (!DeleteProblem(*found, undoFile))
        return false;
    invalidDataList_.erase(found);
    return true;
}

bool TFixRegistry::FlushRepairs() {
    // The machine root stands above every hive: flushing it writes each changed one.
    return RegFlushKey(HKEY_LOCAL_MACHINE) == ERROR_SUCCESS;
}
