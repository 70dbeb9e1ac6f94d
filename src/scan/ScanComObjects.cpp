#include "scan/ScanComObjects.h"

#include "registry/AsciiCase.h"
#include "registry/FindSubKeyPath.h"
#include "registry/TRegistry.h"
#include "scan/FileRefChecks.h"

#include <vector>

namespace {

const std::string kRootName = "HKEY_CLASSES_ROOT\\";

// This category raises OnFound before the record joins the list.
void report(TFixRegistry& engine, const std::string& keyLocation, const std::string& valueName,
            const std::string& valueData, const std::string& diagnosis) {
    engine.RaiseFound(riActiveX);
    engine.AddInvalidData(riActiveX, keyLocation, diagnosis, valueData, valueName);
}

std::vector<std::string> subKeyNames(const std::string& keyPath) {
    std::vector<std::string> names;
    TRegistry reg(KEY_READ);
    reg.SetRootKey(HKEY_CLASSES_ROOT);
    if (reg.OpenKey(keyPath, false))
        reg.GetKeyNames(names);
    return names;
}

void scanTypeLibrary(TFixRegistry& engine, const std::string& name) {
    // The last "win32" key of the walk is the one judged.
    std::string found;
    FindSubKeyPath(HKEY_CLASSES_ROOT, "TypeLib\\" + name, "win32", found);
    if (found.empty())
        return;
    TRegistry reg(KEY_READ);
    reg.SetRootKey(HKEY_CLASSES_ROOT);
    if (!reg.OpenKey(found, false))
        return;
    engine.RaiseKeyChange(found);
    const std::string data = reg.ReadString("");
    reg.CloseKey();
    if (!FileRefValid(data))
        report(engine, kRootName + found, "win32", data,
               "Missing or Invalid Path \"" + data + "\"");
}

} // namespace

void CheckProxyStub(TFixRegistry& engine, const TFixRegistry::TNameSet& classes, HKEY interfaces,
                    const std::string& interfaceName, const std::string& subKeyName) {
    const std::string relative = interfaceName + "\\" + subKeyName;
    TRegistry reg(KEY_READ);
    reg.SetRootKey(interfaces);
    if (!reg.OpenKey(relative, false))
        return;
    const std::string path = "Interface\\" + relative;
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

void ScanComObjects(TFixRegistry& engine) {
    TFixRegistry::TNameSet classes, classNames;
    TFixRegistry::CollectKeyNames(HKEY_CLASSES_ROOT, "CLSID", classes, classNames);

    std::vector<std::string> interfaces;
    TRegistry interfaceKey(KEY_READ);
    interfaceKey.SetRootKey(HKEY_CLASSES_ROOT);
    // Kept open: each interface's keys open from it.
    if (interfaceKey.OpenKey("Interface", false))
        interfaceKey.GetKeyNames(interfaces);
    for (size_t i = 0; i < interfaces.size(); ++i) {
        engine.RaiseProgress(i, interfaces.size());
        if (engine.IsStopped())
            break;
        if (engine.IsExcluded(kRootName + "Interface\\" + interfaces[i]))
            continue;
        const HKEY key = interfaceKey.CurrentKey();
        CheckProxyStub(engine, classes, key, interfaces[i], "ProxyStubClsid");
        CheckProxyStub(engine, classes, key, interfaces[i], "ProxyStubClsid32");
    }
    interfaceKey.CloseKey();

    const std::vector<std::string> libraries = subKeyNames("TypeLib");
    for (size_t i = 0; i < libraries.size(); ++i) {
        engine.RaiseProgress(i, libraries.size());
        if (engine.IsStopped())
            break;
        if (engine.IsExcluded(kRootName + "TypeLib\\" + libraries[i]))
            continue;
        scanTypeLibrary(engine, libraries[i]);
    }
}
