#include "registry/TRegPathManager.h"

#include "registry/RootKeys.h"

void TRegPathManager::SetPath(const std::string& path) {
    const size_t separator = path.find('\\');
    std::string rootName = path.substr(0, separator);
    const HKEY root = BrowseRootFromName(rootName);
    path_ = path;
    rootName_ = std::move(rootName);
    rootKey_ = root;
    subKey_ = separator == std::string::npos ? std::string() : path.substr(separator + 1);
}
