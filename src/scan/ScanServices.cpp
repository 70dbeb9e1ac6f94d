#include "scan/ScanServices.h"

#include "registry/TRegistry.h"
#include "scan/FileRefChecks.h"
#include "scan/ValueWalk.h"

#include <string>
#include <vector>

void ScanServices(TFixRegistry& engine) {
    static const std::string kServices = "SYSTEM\\CurrentControlSet\\Services";
    std::vector<std::string> names;
    TRegistry reg(KEY_READ);
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    if (reg.OpenKey(kServices, false))
        reg.GetKeyNames(names);
    reg.CloseKey();
    for (size_t i = 0; i < names.size(); ++i) {
        engine.RaiseProgress(i, names.size());
        const std::string path = kServices + "\\" + names[i];
        const std::string location = "HKEY_LOCAL_MACHINE\\" + path;
        if (engine.IsExcluded(location))
            continue;
        if (!reg.OpenKey("\\" + path, false))
            continue;
        engine.RaiseKeyChange(path);
        if (reg.ValueExists("ImagePath")) {
            const std::string image = reg.ReadString("ImagePath");
            if (!ServiceImageValid(image))
                ReportProblem(engine, riServices, location, "ImagePath", image,
                              FileMissingText(image));
        }
        reg.CloseKey();
    }
}
