#include "registry/RootKeys.h"

#include "registry/AsciiCase.h"

namespace {

struct RootRow {
    const char* name;
    HKEY handle;
    bool inProblemText; // also accepted by the key browser
    const char* securityPrefix;
};

const RootRow kRoots[] = {
    {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT, true, "CLASSES_ROOT\\"},
    {"HKEY_CURRENT_USER", HKEY_CURRENT_USER, true, "CURRENT_USER\\"},
    {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE, true, "MACHINE\\"},
    {"HKEY_USERS", HKEY_USERS, true, "USERS\\"},
    {"HKEY_PERFORMANCE_DATA", HKEY_PERFORMANCE_DATA, false, ""},
    {"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG, true, ""},
    {"HKEY_DYN_DATA", HKEY_DYN_DATA, false, ""},
};

const RootRow* rowOf(HKEY root) {
    for (const RootRow& row : kRoots)
        if (row.handle == root)
            return &row;
    return nullptr;
}

} // namespace

uint32_t RootKeyValue(HKEY root) {
    return static_cast<uint32_t>(reinterpret_cast<ULONG_PTR>(root));
}

HKEY RootKeyFromValue(uint32_t value) {
    return value ? HW_PREDEFINED_KEY(value) : nullptr;
}

HKEY RootKeyFromName(const std::string& name) {
    for (const RootRow& row : kRoots)
        if (SameTextAscii(row.name, name))
            return row.handle;
    return nullptr;
}

std::string RootKeyToName(HKEY root) {
    const RootRow* row = rowOf(root);
    return row && row->inProblemText ? row->name : "";
}

std::string ExportRootName(HKEY root) {
    const RootRow* row = rowOf(root);
    return row ? row->name : "";
}

HKEY BrowseRootFromName(const std::string& name) {
    for (const RootRow& row : kRoots)
        if (row.inProblemText && name == row.name)
            return row.handle;
    throw EInvalidRootName(name + " - Invalid HKEY description");
}

std::string SecurityObjectName(HKEY root, const std::string& keyPath) {
    const RootRow* row = rowOf(root);
    return (row ? row->securityPrefix : "") + keyPath;
}
