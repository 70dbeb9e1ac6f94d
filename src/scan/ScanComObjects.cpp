#include "scan/ScanComObjects.h"

#include "registry/AsciiCase.h"
#include "registry/FindSubKeyPath.h"
#include "registry/TRegistry.h"
#include "scan/FileRefChecks.h"
#include "scan/ScanViews.h"

#include <vector>

namespace {

const std::string kRootName = "HKEY_CLASSES_ROOT\\";
const std::string kProxyStub = "ProxyStubClsid";
const std::string kProxyStub32 = "ProxyStubClsid32";

// This category raises OnFound before the record joins the list.
void report(TFixRegistry& engine, const std::string& keyLocation, const std::string& valueName,
            const std::string& valueData, const std::string& diagnosis) {
    engine.RaiseFound(riActiveX);
    engine.AddInvalidData(riActiveX, keyLocation, diagnosis, valueData, valueName);
}

// `librariesKey` is the open key of `libraries`: the library's keys are walked and
// opened from it.
void scanTypeLibrary(TFixRegistry& engine, HKEY librariesKey, const std::string& libraries,
                     const std::string& name, TRefView view) {
    // A name that is empty or begins with a backslash would open from the list itself:
    // it names no library below it.
    if (name.empty() || name.front() == '\\')
        return;
    // The last "win32" key of the walk is the one judged.
    std::string found;
    FindSubKeyPath(librariesKey, name, "win32", found);
    if (found.empty())
        return;
    TRegistry reg(KEY_READ);
    reg.SetRootKey(librariesKey);
    if (!reg.OpenKey(found, false))
        return;
    const std::string path = libraries + "\\" + found;
    engine.RaiseKeyChange(path);
    const std::string data = reg.ReadString("");
    reg.CloseKey();
    if (!ValidInView(view, [&] { return FileRefValid(data); }))
        report(engine, kRootName + path, "win32", data, "Missing or Invalid Path \"" + data + "\"");
}

} // namespace

namespace {

// CheckProxyStub with the interface's key open already: both of its proxy/stub keys open
// from it, and the interface is looked up among its many siblings once.
void checkProxyStubOf(TFixRegistry& engine, const TFixRegistry::TNameSet& classes,
                      HKEY interfaceKey, const std::string& interfaceName,
                      const std::string& subKeyName, const std::string& interfacesPath) {
    TRegistry reg(KEY_READ);
    reg.SetRootKey(interfaceKey);
    if (!reg.OpenKey(subKeyName, false))
        return;
    const std::string path = interfacesPath + "\\" + interfaceName + "\\" + subKeyName;
    engine.RaiseKeyChange(path);
    const std::string value = reg.ReadString("");
    reg.CloseKey();
    std::string diagnosis;
    if (value.empty())
        diagnosis = "Missing CLSID \"" + interfaceName + "\" Empty Reference";
    else if (!classes.count(AsciiUpper(value)))
        diagnosis = "Missing CLSID \"" + value + "\" Invalid Reference";
    else
        return;
    report(engine, kRootName + path, subKeyName, value, diagnosis);
}

} // namespace

void CheckProxyStub(TFixRegistry& engine, const TFixRegistry::TNameSet& classes, HKEY interfaces,
                    const std::string& interfaceName, const std::string& subKeyName,
                    const std::string& interfacesPath) {
    TRegistry reg(KEY_READ);
    reg.SetRootKey(interfaces);
    if (reg.OpenKey(interfaceName, false))
        checkProxyStubOf(engine, classes, reg.CurrentKey(), interfaceName, subKeyName,
                         interfacesPath);
}

namespace {

// False when the scan was stopped.
bool scanInterfaces(TFixRegistry& engine, const TFixRegistry::TNameSet& classes,
                    const std::string& interfacesPath) {
    std::vector<std::string> interfaces;
    TRegistry interfaceKey(KEY_READ);
    interfaceKey.SetRootKey(HKEY_CLASSES_ROOT);
    // Kept open: each interface's keys open from it.
    if (interfaceKey.OpenKey(interfacesPath, false))
        interfaceKey.GetKeyNames(interfaces);
    TRegistry reg(KEY_READ);
    reg.SetRootKey(interfaceKey.CurrentKey());
    for (size_t i = 0; i < interfaces.size(); ++i) {
        engine.RaiseProgress(i, interfaces.size());
        if (engine.IsStopped())
            return false;
        if (engine.HasExclusions() &&
            engine.IsExcluded(kRootName + interfacesPath + "\\" + interfaces[i]))
            continue;
        if (!reg.OpenKey(interfaces[i], false))
            continue;
        const HKEY key = reg.CurrentKey();
        checkProxyStubOf(engine, classes, key, interfaces[i], kProxyStub, interfacesPath);
        checkProxyStubOf(engine, classes, key, interfaces[i], kProxyStub32, interfacesPath);
        reg.CloseKey();
    }
    return true;
}

bool scanTypeLibraries(TFixRegistry& engine, const std::string& libraries, TRefView view) {
    std::vector<std::string> names;
    // Kept open: each library is walked from it.
    TRegistry librariesKey(KEY_READ);
    librariesKey.SetRootKey(HKEY_CLASSES_ROOT);
    if (librariesKey.OpenKey(libraries, false))
        librariesKey.GetKeyNames(names);
    for (size_t i = 0; i < names.size(); ++i) {
        engine.RaiseProgress(i, names.size());
        if (engine.IsStopped())
            return false;
        if (engine.HasExclusions() && engine.IsExcluded(kRootName + libraries + "\\" + names[i]))
            continue;
        scanTypeLibrary(engine, librariesKey.CurrentKey(), libraries, names[i], view);
    }
    return true;
}

} // namespace

void ScanComObjects(TFixRegistry& engine) {
    TFixRegistry::TNameSet classes, classNames;
    TFixRegistry::CollectKeyNames(HKEY_CLASSES_ROOT, "CLSID", classes, classNames);
    const bool wow64 = HasWow64View();
    if (wow64) {
        // A proxy/stub class registered for either kind of program serves the interface:
        // which one a client loads is not told by the interface's key alone.
        TFixRegistry::TNameSet classes32, names32;
        TFixRegistry::CollectKeyNames(HKEY_CLASSES_ROOT, "Wow6432Node\\CLSID", classes32, names32);
        classes.insert(classes32.begin(), classes32.end());
    }
    if (!scanInterfaces(engine, classes, "Interface"))
        return;
    if (wow64 && !scanInterfaces(engine, classes, "Wow6432Node\\Interface"))
        return;
    // The type libraries are shared from Windows 7 on, and "win32" names a 32-bit file.
    if (!scanTypeLibraries(engine, "TypeLib", TRefView::Shared))
        return;
    if (wow64)
        scanTypeLibraries(engine, "Wow6432Node\\TypeLib", TRefView::Wow64);
}
