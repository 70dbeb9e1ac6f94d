#pragma once
// A small 64-bit Windows 10 installation for tests: its 32-bit programs registered as
// Windows keeps them (below Wow6432Node, files in SysWOW64 and "Program Files (x86)"),
// every reference valid in the view it is read from.

#include "support/MachineFixture.h"

#include <string>
#include <vector>

namespace testing_support {

extern const char kWow64Registry[];
// A machine reads its architecture when it boots: a test machine whose registry was
// imported after its boot is booted again to know it.
void Reboot(TestMachine& machine);
std::vector<FixtureFile> Wow64Files();
inline const win32::NewMachine kWindows10{.version = "10.0.19045", .servicePack = ""};

} // namespace testing_support
