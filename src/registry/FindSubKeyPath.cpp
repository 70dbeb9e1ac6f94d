#include "registry/FindSubKeyPath.h"

#include "registry/AnsiCharTable.h"
#include "registry/TRegistry.h"

#include <vector>

namespace {

// Windows nests keys at most this deep; a symbolic link that points back up the tree
// must not make the walk endless.
constexpr int kMaxDepth = 512;

bool sameName(const AnsiCharTable& table, const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (table.upper[static_cast<unsigned char>(a[i])] !=
            table.upper[static_cast<unsigned char>(b[i])])
            return false;
    return true;
}

// `relative` opens the key from `parent`, which stays open while the key's subtree is
// walked: each key is looked up once, below the key that listed it.
void walk(const AnsiCharTable& table, HKEY parent, const std::string& relative,
          const std::string& keyPath, const std::string& name, std::string& foundPath, int depth) {
    if (depth > kMaxDepth)
        return;
    TRegistry reg(KEY_READ);
    reg.SetRootKey(parent);
    if (!reg.OpenKeyReadOnly(relative))
        return;
    std::vector<std::string> names;
    reg.GetKeyNames(names);
    // The matching names are found once; at each step the hit is the first of them
    // not yet descended past, as a lookup among the remaining names would find it.
    std::vector<size_t> hits;
    for (size_t i = 0; i < names.size(); ++i)
        if (sameName(table, names[i], name))
            hits.push_back(i);
    auto hit = hits.begin();
    for (size_t first = 0; first < names.size(); ++first) {
        while (hit != hits.end() && *hit < first)
            ++hit;
        if (hit != hits.end())
            foundPath = keyPath + "\\" + names[*hit];
        // An empty name would open the key itself again.
        if (!names[first].empty())
            walk(table, reg.CurrentKey(), names[first], keyPath + "\\" + names[first], name,
                 foundPath, depth + 1);
    }
}

} // namespace

void FindSubKeyPath(HKEY root, const std::string& keyPath, const std::string& name,
                    std::string& foundPath) {
    walk(*CurrentAnsiCharTable(), root, keyPath, keyPath, name, foundPath, 0);
}
