#include "scan/ProblemDeletion.h"

#include "backup/ExportRegKey.h"
#include "registry/KeyAccess.h"
#include "registry/RootKeys.h"
#include "registry/SplitFns.h"
#include "registry/TRegistry.h"
#include "scan/ScanFileAssociations.h"

#include <vector>

namespace {

// The root and the path below it of the key DeleteKeyAtDepth deletes; false when there is
// none.
bool keyAtDepth(const std::string& keyLocation, int depth, std::string& rootName, HKEY& root,
                std::string& keyPath) {
    std::vector<std::string> pieces;
    SplitByChar(keyLocation, '\\', pieces);
    if (pieces.empty())
        return false;
    root = RootKeyFromName(pieces[0]);
    if (!root)
        return false;
    rootName = pieces[0];
    const size_t components = pieces.size() - 1;
    // A shorter location would name a parent of the key meant, with everything below it.
    if (depth >= 0 && components < size_t(depth))
        return false;
    const size_t count = depth < 0 ? components : size_t(depth);
    keyPath.clear();
    for (size_t i = 1; i <= count; ++i)
        keyPath += (i > 1 ? "\\" : "") + pieces[i];
    return !keyPath.empty();
}

} // namespace

std::string KeyLocationAtDepth(const std::string& keyLocation, int depth) {
    std::string rootName, keyPath;
    HKEY root = nullptr;
    return keyAtDepth(keyLocation, depth, rootName, root, keyPath) ? rootName + "\\" + keyPath
                                                                   : std::string();
}

bool DeleteKeyAtDepth(const std::string& keyLocation, int depth, const std::string& undoFile) {
    std::string rootName, keyPath;
    HKEY root = nullptr;
    if (!keyAtDepth(keyLocation, depth, rootName, root, keyPath))
        return false;

    if (!undoFile.empty())
        ExportRegKey(root, keyPath, undoFile, "");
    TRegistry registry;
    registry.SetRootKey(root);
    if (!registry.KeyExists("\\" + keyPath))
        return true; // gone already, e.g. with a parent an earlier fix deleted
    if (registry.DeleteKey("\\" + keyPath))
        return true;
    GrantKeyAccess(root, keyPath);
    return registry.DeleteKey("\\" + keyPath);
}

bool DeleteProblemValue(const std::string& keyLocation, const std::string& valueName,
                        const std::string& undoFile) {
    const size_t slash = keyLocation.find('\\');
    if (slash == std::string::npos)
        return false;
    const HKEY root = RootKeyFromName(keyLocation.substr(0, slash));
    if (!root)
        return false;
    const std::string keyPath = keyLocation.substr(slash + 1);
    TRegistry registry;
    registry.SetRootKey(root);
    if (!registry.OpenKey("\\" + keyPath, false) || !registry.ValueExists(valueName))
        return false;
    if (!undoFile.empty())
        ExportRegKey(root, keyPath, undoFile, valueName);
    if (registry.DeleteValue(valueName))
        return true;
    GrantKeyAccess(root, keyPath);
    return registry.DeleteValue(valueName);
}

bool DeleteAssociation(const std::string& keyLocation, const std::string& undoFile) {
    const size_t slash = keyLocation.find('\\');
    const HKEY root =
        slash == std::string::npos ? nullptr : RootKeyFromName(keyLocation.substr(0, slash));
    if (!root)
        return false;
    TRegistry registry(KEY_READ);
    registry.SetRootKey(root);
    if (registry.OpenKey("\\" + keyLocation.substr(slash + 1), false) &&
        ExtensionKeyHoldsMore(registry))
        return DeleteProblemValue(keyLocation, "", undoFile);
    return DeleteKeyAtDepth(keyLocation, kFullDepth, undoFile);
}
