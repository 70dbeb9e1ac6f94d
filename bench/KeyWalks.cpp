#include "KeyWalks.h"

#include "HivexHandle.h"

#include "win32/registry/Registry.h"

#include <cstdlib>
#include <vector>

namespace bench {

namespace {

// Windows nests keys at most this deep; a deeper file is a loop or an attack.
constexpr size_t kMaxDepth = 512;

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

// The handles of the keys on the walk's path, closed whichever way the walk ends.
class OpenPath {
public:
    struct Level {
        HKEY key;
        DWORD next; // index of the next subkey to enumerate
    };
    explicit OpenPath(HKEY root) : levels_{{root, 0}} {}
    ~OpenPath() {
        while (levels_.size() > 1)
            pop();
    }
    OpenPath(const OpenPath&) = delete;
    OpenPath& operator=(const OpenPath&) = delete;

    bool empty() const { return levels_.empty(); }
    size_t depth() const { return levels_.size(); }
    Level& top() { return levels_.back(); }
    void push(HKEY key) { levels_.push_back({key, 0}); }
    void pop() {
        if (levels_.size() > 1) // the caller's root stays open
            RegCloseKey(levels_.back().key);
        levels_.pop_back();
    }

private:
    std::vector<Level> levels_;
};

[[noreturn]] void fail(const char* call, LONG rc) {
    throw std::runtime_error(std::string(call) + " failed with error " + std::to_string(rc));
}

} // namespace

size_t WalkWithRegistry(HKEY root) {
    OpenPath path(root);
    size_t count = 1;
    char name[256]; // key names are at most 255 characters
    while (!path.empty()) {
        OpenPath::Level& level = path.top();
        DWORD size = sizeof name;
        const LONG listed =
            RegEnumKeyExA(level.key, level.next, name, &size, nullptr, nullptr, nullptr, nullptr);
        if (listed == ERROR_NO_MORE_ITEMS) {
            path.pop();
            continue;
        }
        if (listed != ERROR_SUCCESS)
            fail("RegEnumKeyExA", listed);
        ++level.next;
        HKEY child = nullptr;
        if (const LONG opened = RegOpenKeyExA(level.key, name, 0, KEY_READ, &child);
            opened != ERROR_SUCCESS)
            fail("RegOpenKeyExA", opened);
        ++count;
        if (path.depth() > kMaxDepth) {
            RegCloseKey(child);
            throw std::runtime_error("keys nested deeper than 512 levels");
        }
        path.push(child);
    }
    return count;
}

size_t WalkWithLibhivex(const std::string& hivePath) {
    const HivexHandle hive = OpenHivex(hivePath);
    struct Pending {
        hive_node_h node;
        size_t depth;
    };
    std::vector<Pending> pending{{hivex_root(hive.get()), 0}};
    if (pending.back().node == 0)
        throw std::runtime_error("libhivex finds no root key in " + hivePath);
    size_t count = 0;
    while (!pending.empty()) {
        const Pending current = pending.back();
        pending.pop_back();
        ++count;
        const std::unique_ptr<char, FreeDeleter> name(hivex_node_name(hive.get(), current.node));
        if (!name)
            throw std::runtime_error("libhivex cannot read a key name in " + hivePath);
        const std::unique_ptr<hive_node_h[], FreeDeleter> children(
            hivex_node_children(hive.get(), current.node));
        if (!children)
            throw std::runtime_error("libhivex cannot read a subkey list in " + hivePath);
        if (children[0] && current.depth >= kMaxDepth)
            throw std::runtime_error("keys nested deeper than 512 levels in " + hivePath);
        for (size_t i = 0; children[i]; ++i)
            pending.push_back({children[i], current.depth + 1});
    }
    return count;
}

} // namespace bench
