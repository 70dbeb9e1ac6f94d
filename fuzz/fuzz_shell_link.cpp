// Feeds arbitrary bytes to the shortcut (.lnk) parser: it must return or throw
// ShellLinkError, never crash, hang or read out of bounds.

#include "win32/base/CodePage.h"
#include "win32/shell/ShellLink.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const win32::CodePage ansi(1252);
    try {
        win32::ParseShellLink(std::vector<uint8_t>(data, data + size), ansi);
    } catch (const win32::ShellLinkError&) {
    }
    return 0;
}
