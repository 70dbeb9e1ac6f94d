#include "scan/ScanSharedDlls.h"

#include "scan/PathExists.h"
#include "scan/ValueWalk.h"

#include <string>

void ScanSharedDlls(TFixRegistry& engine) {
    static const std::string kKeyPath = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDlls";
    static const std::string kLocation = "HKEY_LOCAL_MACHINE\\" + kKeyPath;
    WalkKeyValues(engine, HKEY_LOCAL_MACHINE, kKeyPath, kLocation,
                  [&](TRegistry& reg, const std::string& name) {
                      const std::string count = std::to_string(reg.ReadInteger(name));
                      // Installers count shared folders here too, not only files.
                      if (!ReferenceExists(name, true))
                          ReportProblem(engine, riSharedDlls, kLocation, name, count,
                                        FileMissingText(name));
                  });
}
