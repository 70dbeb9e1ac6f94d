#include "scan/ScanServices.h"

#include "registry/TRegistry.h"
#include "scan/FileRefChecks.h"
#include "scan/ValueWalk.h"

#include <string>
#include <vector>

void ScanServices(TFixRegistry& engine) {
    static const std::string kServices = "SYSTEM\\CurrentControlSet\\Services";
    std::vector<std::string> names;
    // Kept open: each service's key opens from it.
    TRegistry services(KEY_READ);
    services.SetRootKey(HKEY_LOCAL_MACHINE);
    if (services.OpenKey(kServices, false))
        services.GetKeyNames(names);
    TRegistry reg(KEY_READ);
    reg.SetRootKey(services.CurrentKey());
    std::string path, location;
    for (size_t i = 0; i < names.size(); ++i) {
        engine.RaiseProgress(i, names.size());
        path.assign(kServices).append(1, '\\').append(names[i]);
        location.assign("HKEY_LOCAL_MACHINE\\").append(path);
        if (engine.HasExclusions() && engine.IsExcluded(location))
            continue;
        if (!reg.OpenKey(names[i], false))
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
