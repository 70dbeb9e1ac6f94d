// The engine's repair side: fixing one problem of the list at a time, on the
// user-interface thread, after a scan.

#include "scan/ProblemDeletion.h"
#include "scan/ScanViews.h"
#include "scan/TFixRegistry.h"
#include "win32/registry/Registry.h"

#include <algorithm>

namespace {

bool DeleteProblem(const TInvalidRegData& problem, const std::string& undoFile) {
    // A key of the 32-bit view lies one level deeper, below its Wow6432Node.
    const int deeper = IsWow64Location(problem.KeyLocation) ? 1 : 0;
    switch (problem.Category) {
    case riActiveX: // the whole interface or type library registration
        return DeleteKeyAtDepth(problem.KeyLocation, 2 + deeper, undoFile);
    case riAppPaths: // the application's key below "App Paths"
        return DeleteKeyAtDepth(problem.KeyLocation, 6 + deeper, undoFile);
    case riFileAssociations:
        return DeleteAssociation(problem.KeyLocation, undoFile);
    case riClasses:
    case riSoftware:
    case riServices:
    case riUninstallers:
        return DeleteKeyAtDepth(problem.KeyLocation, kFullDepth, undoFile);
    case riStartMenu: // the folder's own key below the menu order key
        return DeleteKeyAtDepth(problem.KeyLocation + "\\" + problem.ValueName, kFullDepth,
                                undoFile);
    case riAutoRun:
    case riFonts:
    case riHelpFiles:
    case riSharedDlls:
        return DeleteProblemValue(problem.KeyLocation, problem.ValueName, undoFile);
    }
    return false;
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
    if (found == invalidDataList_.end() || !DeleteProblem(*found, undoFile))
        return false;
    invalidDataList_.erase(found);
    return true;
}

bool TFixRegistry::FlushRepairs() {
    // The machine root stands above every hive: flushing it writes each changed one.
    return RegFlushKey(HKEY_LOCAL_MACHINE) == ERROR_SUCCESS;
}
