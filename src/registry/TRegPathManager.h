#pragma once
// The key browser's current key path, split into the root's name, its handle and the
// key path below the root.

#include "win32/base/WinTypes.h"

#include <string>

class TRegPathManager {
public:
    // Splits at the first "\" and maps the root's name through BrowseRootFromName, which
    // throws EInvalidRootName for a name the browser does not show; the object is then
    // left as it was.
    void SetPath(const std::string& path);

    const std::string& Path() const { return path_; }
    const std::string& RootName() const { return rootName_; }
    HKEY RootKey() const { return rootKey_; }
    // Empty for a root alone.
    const std::string& SubKey() const { return subKey_; }

private:
    std::string path_;
    std::string rootName_;
    HKEY rootKey_ = nullptr;
    std::string subKey_;
};
