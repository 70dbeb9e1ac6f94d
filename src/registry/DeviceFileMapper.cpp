#include "registry/DeviceFileMapper.h"

#include "win32/base/LastError.h"
#include "win32/files/Drives.h"

#include <algorithm>

namespace {

std::string lowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; });
    return text;
}

} // namespace

TDeviceFileMapper::TDeviceFileMapper() {
    const DWORD drives = GetLogicalDrives();
    for (int bit = 0; bit < 26; ++bit) {
        if (!(drives & (DWORD(1) << bit)))
            continue;
        const std::string drive = std::string(1, char('A' + bit)) + ":";
        char target[256];
        if (QueryDosDeviceA(drive.c_str(), target, sizeof target) == 0)
            throw EDeviceFileMapper("QueryDosDevice Failed. Error Number: " +
                                    std::to_string(GetLastError()));
        devices_.push_back({drive, lowerCase(target)}); // the first string of the list
    }
}

std::string TDeviceFileMapper::MapPath(const std::string& devicePath) const {
    const std::string lower = lowerCase(devicePath);
    for (const DeviceFileMapperDevice& device : devices_) {
        if (lower.compare(0, device.DeviceName.size(), device.DeviceName) != 0)
            continue;
        const size_t rest = std::min(device.DeviceName.size() + 1, devicePath.size());
        return device.Drive + "\\" + devicePath.substr(rest);
    }
    throw EDeviceFileMapper("Unable to Map Path: [" + devicePath +
                            "]\\Devices.Count = " + std::to_string(devices_.size()));
}
