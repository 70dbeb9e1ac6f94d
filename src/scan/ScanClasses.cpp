#include "scan/ScanClasses.h"

#include "registry/TRegistry.h"
#include "scan/FileRefChecks.h"
#include "scan/ScanViews.h"
#include "scan/ValueWalk.h"

#include <string>
#include <string_view>
#include <vector>

namespace {

// Windows holds no deeper tree; a hive that does is not walked past it.
constexpr int kMaxDepth = 512;

constexpr std::string_view kRoot = "HKEY_CLASSES_ROOT\\";

// What the walk of one top-level key carries from key to key: the path of the key being
// scanned, grown and cut back as the walk goes down and up, and lists kept for the next
// key's values and names, so that walking a key allocates nothing once a deeper key has.
struct ClassWalk {
    TFixRegistry& engine;
    std::string path;
    std::string location; // "HKEY_CLASSES_ROOT\\" and the path, grown and cut with it
    std::vector<TRegTextValue> values;
    std::vector<std::string> names; // a subkey's name at each depth, while it is walked

    explicit ClassWalk(TFixRegistry& engine) : engine(engine) {
        names.reserve(kMaxDepth + 2); // never moved: a deeper key opens from a shallower name
    }
};

// `relative` opens the key from `parent`, which stays open while its subtree is walked;
// each subkey is opened as soon as the enumeration names it, from the key that named it.
void scanKey(ClassWalk& walk, HKEY parent, const std::string& relative, int depth) {
    TFixRegistry& engine = walk.engine;
    if (engine.HasExclusions() && engine.IsExcluded(walk.location))
        return;
    TRegistry reg(KEY_READ);
    reg.SetRootKey(parent);
    // A key that cannot be opened lists no values and no subkeys.
    reg.OpenKey(relative, false);
    engine.RaiseKeyChange(walk.path);
    reg.GetTextValues(walk.values);
    for (const TRegTextValue& value : walk.values) {
        if (engine.IsStopped())
            break;
        // The classes are shared by 32-bit and 64-bit programs (their own classes too,
        // below Wow6432Node, name files either may see).
        if (value.IsText &&
            !ValidInView(TRefView::Shared, [&] { return PathListValid(value.Text); }))
            ReportProblem(engine, riClasses, walk.location,
                          value.Name.empty() ? "Default" : value.Name, value.Text,
                          "File does not exist");
    }
    if (depth >= kMaxDepth)
        return;
    if (walk.names.size() <= size_t(depth))
        walk.names.resize(depth + 1);
    std::string& name = walk.names[depth];
    const size_t pathLength = walk.path.size(), locationLength = walk.location.size();
    for (DWORD i = 0; reg.GetKeyNameAt(i, name); ++i) {
        if (engine.IsStopped())
            return;
        walk.path.append(1, '\\').append(name);
        walk.location.append(1, '\\').append(name);
        scanKey(walk, reg.CurrentKey(), name, depth + 1);
        walk.path.resize(pathLength);
        walk.location.resize(locationLength);
    }
}

void scanTopKey(ClassWalk& walk, const std::string& path) {
    walk.path = path;
    walk.location.assign(kRoot).append(path);
    scanKey(walk, HKEY_CLASSES_ROOT, "\\" + path, 1);
}

} // namespace

void ScanClassKey(TFixRegistry& engine, const std::string& path) {
    ClassWalk walk(engine);
    scanTopKey(walk, path);
}

void ScanClasses(TFixRegistry& engine) {
    std::vector<std::string> names;
    {
        TRegistry reg(KEY_READ);
        reg.SetRootKey(HKEY_CLASSES_ROOT);
        if (reg.OpenKey("\\", false))
            reg.GetKeyNames(names);
    }
    ClassWalk walk(engine);
    for (size_t i = 0; i < names.size(); ++i) {
        engine.RaiseProgress(i, names.size());
        if (engine.IsStopped())
            return;
        scanTopKey(walk, names[i]);
    }
}
