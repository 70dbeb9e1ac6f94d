#include "scan/ScanSharedDlls.h"

#include "scan/PathExists.h"
#include "scan/ScanViews.h"
#include "scan/ValueWalk.h"

#include <string>

namespace {

void scanKey(TFixRegistry& engine, const std::string& keyPath, TRefView view) {
    const std::string location = "HKEY_LOCAL_MACHINE\\" + keyPath;
    WalkKeyValues(engine, HKEY_LOCAL_MACHINE, keyPath, location,
                  [&](TRegistry& reg, const std::string& name) {
                      const std::string count = std::to_string(reg.ReadInteger(name));
                      // Installers count shared folders here too, not only files.
                      if (!ValidInView(view, [&] { return ReferenceExists(name, true); }))
                          ReportProblem(engine, riSharedDlls, location, name, count,
                                        FileMissingText(name));
                  });
}

} // namespace

void ScanSharedDlls(TFixRegistry& engine) {
    static const std::string kKeyPath = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDlls";
    scanKey(engine, kKeyPath, TRefView::Native);
    if (HasWow64View() && !engine.IsStopped())
        scanKey(engine, Wow64SoftwarePath(kKeyPath), TRefView::Wow64);
}
