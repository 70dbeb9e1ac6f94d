#include "win32/registry/Wow64Redirection.h"

#include "win32/base/HiveTree.h"

#include <algorithm>
#include <initializer_list>
#include <string_view>

namespace win32 {

namespace {

constexpr std::u16string_view kWow64Node = u"Wow6432Node";

// Keys below HKLM\SOFTWARE that 32-bit and 64-bit programs share, with their subkeys.
const std::initializer_list<std::initializer_list<std::u16string_view>> kSharedSoftware = {
    {u"Clients"},
    {u"Policies"},
    {u"RegisteredApplications"},
    {u"Microsoft", u"COM3"},
    {u"Microsoft", u"Cryptography", u"Calais", u"Current"},
    {u"Microsoft", u"Cryptography", u"Calais", u"Readers"},
    {u"Microsoft", u"Cryptography", u"Services"},
    {u"Microsoft", u"CTF", u"SystemShared"},
    {u"Microsoft", u"CTF", u"TIP"},
    {u"Microsoft", u"DFS"},
    {u"Microsoft", u"Driver Signing"},
    {u"Microsoft", u"EnterpriseCertificates"},
    {u"Microsoft", u"EventSystem"},
    {u"Microsoft", u"MSMQ"},
    {u"Microsoft", u"Non-Driver Signing"},
    {u"Microsoft", u"Notepad", u"DefaultFonts"},
    {u"Microsoft", u"OLE"},
    {u"Microsoft", u"RAS"},
    {u"Microsoft", u"RPC"},
    {u"Microsoft", u"Shared Tools", u"MSInfo"},
    {u"Microsoft", u"SystemCertificates"},
    {u"Microsoft", u"TermServLicensing"},
    {u"Microsoft", u"Transaction Server"},
    {u"Microsoft", u"Windows", u"CurrentVersion", u"App Paths"},
    {u"Microsoft", u"Windows", u"CurrentVersion", u"Control Panel", u"Cursors", u"Schemes"},
    {u"Microsoft", u"Windows", u"CurrentVersion", u"Explorer", u"AutoplayHandlers"},
    {u"Microsoft", u"Windows", u"CurrentVersion", u"Explorer", u"DriveIcons"},
    {u"Microsoft", u"Windows", u"CurrentVersion", u"Explorer", u"KindMap"},
    {u"Microsoft", u"Windows", u"CurrentVersion", u"Group Policy"},
    {u"Microsoft", u"Windows", u"CurrentVersion", u"Policies"},
    {u"Microsoft", u"Windows", u"CurrentVersion", u"PreviewHandlers"},
    {u"Microsoft", u"Windows", u"CurrentVersion", u"Setup"},
    {u"Microsoft", u"Windows", u"CurrentVersion", u"Telephony", u"Locations"},
    {u"Microsoft", u"Windows NT", u"CurrentVersion", u"Console"},
    {u"Microsoft", u"Windows NT", u"CurrentVersion", u"FontDpi"},
    {u"Microsoft", u"Windows NT", u"CurrentVersion", u"FontLink"},
    {u"Microsoft", u"Windows NT", u"CurrentVersion", u"FontMapper"},
    {u"Microsoft", u"Windows NT", u"CurrentVersion", u"Fonts"},
    {u"Microsoft", u"Windows NT", u"CurrentVersion", u"FontSubstitutes"},
    {u"Microsoft", u"Windows NT", u"CurrentVersion", u"Gre_Initialize"},
    {u"Microsoft", u"Windows NT", u"CurrentVersion", u"Image File Execution Options"},
    {u"Microsoft", u"Windows NT", u"CurrentVersion", u"LanguagePack"},
    {u"Microsoft", u"Windows NT", u"CurrentVersion", u"NetworkCards"},
    {u"Microsoft", u"Windows NT", u"CurrentVersion", u"Perflib"},
    {u"Microsoft", u"Windows NT", u"CurrentVersion", u"Ports"},
    {u"Microsoft", u"Windows NT", u"CurrentVersion", u"Print"},
    {u"Microsoft", u"Windows NT", u"CurrentVersion", u"ProfileList"},
    {u"Microsoft", u"Windows NT", u"CurrentVersion", u"Time Zones"},
};

// The classes Windows 7 and later keep apart for 32-bit programs.
const std::initializer_list<std::u16string_view> kRedirectedClasses = {
    u"CLSID", u"DirectShow", u"Interface", u"Media Type", u"MediaFoundation"};

bool startsWith(const KeyPathParts& parts, size_t from,
                std::initializer_list<std::u16string_view> prefix) {
    if (parts.size() - from < prefix.size())
        return false;
    size_t i = from;
    for (const auto name : prefix)
        if (!NamesEqual(parts[i++], name))
            return false;
    return true;
}

bool isSharedSoftware(const KeyPathParts& parts, size_t from) {
    return std::any_of(kSharedSoftware.begin(), kSharedSoftware.end(),
                       [&](const auto& prefix) { return startsWith(parts, from, prefix); });
}

void insertWow64Node(KeyPathParts& parts, size_t at) {
    parts.insert(parts.begin() + ptrdiff_t(at), std::u16string(kWow64Node));
}

// The classes below parts[from...].
void redirectClasses(KeyPathParts& parts, size_t from, bool sharedClasses) {
    if (from < parts.size() && NamesEqual(parts[from], kWow64Node))
        return;
    if (sharedClasses) {
        if (from < parts.size() &&
            std::any_of(kRedirectedClasses.begin(), kRedirectedClasses.end(),
                        [&](std::u16string_view name) { return NamesEqual(parts[from], name); }))
            insertWow64Node(parts, from);
        return;
    }
    if (from < parts.size() && NamesEqual(parts[from], u"HCP"))
        return;
    insertWow64Node(parts, from);
}

bool isUserClasses(std::u16string_view name) {
    constexpr std::u16string_view suffix = u"_Classes";
    return name.size() > suffix.size() &&
           NamesEqual(name.substr(name.size() - suffix.size()), suffix);
}

// Removes a Wow6432Node at `at`, when there is one.
void dropWow64Node(KeyPathParts& parts, size_t at) {
    if (at < parts.size() && NamesEqual(parts[at], kWow64Node))
        parts.erase(parts.begin() + ptrdiff_t(at));
}

} // namespace

void RedirectTo32BitView(RegRoot root, KeyPathParts& parts, bool sharedClasses) {
    switch (root) {
    case RegRoot::ClassesRoot:
        redirectClasses(parts, 0, sharedClasses);
        return;
    case RegRoot::Users:
        if (!parts.empty() && isUserClasses(parts[0]))
            redirectClasses(parts, 1, sharedClasses);
        return;
    case RegRoot::LocalMachine:
        if (parts.empty() || !NamesEqual(parts[0], u"SOFTWARE"))
            return;
        if (parts.size() > 1 && NamesEqual(parts[1], kWow64Node))
            return;
        if (parts.size() > 1 && NamesEqual(parts[1], u"Classes")) {
            redirectClasses(parts, 2, sharedClasses);
            return;
        }
        if (!isSharedSoftware(parts, 1))
            insertWow64Node(parts, 1);
        return;
    }
}

void NameIn32BitView(RegRoot root, KeyPathParts& parts) {
    switch (root) {
    case RegRoot::ClassesRoot:
        dropWow64Node(parts, 0);
        return;
    case RegRoot::Users:
        if (!parts.empty() && isUserClasses(parts[0]))
            dropWow64Node(parts, 1);
        return;
    case RegRoot::LocalMachine:
        if (parts.empty() || !NamesEqual(parts[0], u"SOFTWARE"))
            return;
        if (parts.size() > 1 && NamesEqual(parts[1], u"Classes"))
            dropWow64Node(parts, 2);
        else
            dropWow64Node(parts, 1);
        return;
    }
}

bool LocateView(const MachineRegistry& reg, const KeyView& view, RegRoot& root,
                KeyPathParts& parts) {
    parts.clear();
    const HiveKey* key = view.key ? view.key.get() : view.userClass.get();
    const HiveKey* top = nullptr;
    if (view.merged) {
        root = RegRoot::ClassesRoot;
        top = view.key ? reg.machineClasses.get() : reg.userClasses.get();
    }
    for (int depth = 0; key && depth < 1024; ++depth) {
        if (view.merged && key == top) {
            std::reverse(parts.begin(), parts.end());
            return true;
        }
        if (!view.merged && (key == reg.localMachine.get() || key == reg.users.get())) {
            root = key == reg.localMachine.get() ? RegRoot::LocalMachine : RegRoot::Users;
            std::reverse(parts.begin(), parts.end());
            return true;
        }
        parts.push_back(key->name);
        key = key->parent;
    }
    return false;
}

} // namespace win32
