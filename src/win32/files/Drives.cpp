#include "win32/files/Drives.h"

#include "win32/base/CodePage.h"
#include "win32/base/LastError.h"
#include "win32/registry/MachineRegistry.h"

#include <cstring>

namespace {

// Stores a list of strings as Windows returns one: each string ends in a zero, the
// list in one more. Returns the characters stored, or 0 and the last error.
DWORD storeMultiString(const std::vector<std::string>& strings, LPSTR out, DWORD size) {
    std::string block;
    for (const std::string& s : strings) {
        block += s;
        block += '\0';
    }
    block += '\0';
    if (!out || block.size() > size) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(out, block.data(), block.size());
    return DWORD(block.size());
}

} // namespace

DWORD GetLogicalDrives() {
    const win32::MachineRegistry* reg = win32::MachineRegistry::current();
    if (!reg) {
        SetLastError(ERROR_NOT_READY);
        return 0;
    }
    DWORD mask = 0;
    for (const win32::MachineDrive& drive : reg->paths->drives())
        mask |= DWORD(1) << (drive.letter - 'A');
    return mask;
}

DWORD QueryDosDeviceA(LPCSTR lpDeviceName, LPSTR lpTargetPath, DWORD ucchMax) {
    const win32::MachineRegistry* reg = win32::MachineRegistry::current();
    if (!reg) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    std::vector<std::string> result;
    if (!lpDeviceName) {
        for (const win32::MachineDrive& drive : reg->paths->drives())
            result.push_back(std::string(1, drive.letter) + ":");
    } else {
        const std::string_view name(lpDeviceName);
        const win32::MachineDrive* drive =
            name.size() == 2 && name[1] == ':' ? reg->paths->drive(char16_t(name[0])) : nullptr;
        if (!drive) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return 0;
        }
        result.push_back(reg->codePage->fromUnicode(drive->device));
    }
    return storeMultiString(result, lpTargetPath, ucchMax);
}

namespace win32 {

std::optional<std::string> HostPathOf(std::string_view windowsPath) {
    const MachineRegistry* reg = MachineRegistry::current();
    if (!reg)
        return std::nullopt;
    return reg->paths->toHost(reg->codePage->toUnicode(windowsPath));
}

} // namespace win32
