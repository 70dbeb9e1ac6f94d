#pragma once
// Kernel device paths of files ("\Device\HarddiskVolume1\WINDOWS\...") turned into
// drive paths ("C:\WINDOWS\..."), through the drives present when the mapper is made.

#include <stdexcept>
#include <string>
#include <vector>

// Raised when the drives cannot be read or a path lies on none of them.
class EDeviceFileMapper : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One drive.
struct DeviceFileMapperDevice {
    std::string Drive;      // letter and colon: "C:"
    std::string DeviceName; // the drive's first DOS-device target, lower-cased
};

class TDeviceFileMapper {
public:
    // One device per drive present (GetLogicalDrives), in letter order. Raises
    // EDeviceFileMapper "QueryDosDevice Failed. Error Number: " + the error code when a
    // drive's device cannot be queried.
    TDeviceFileMapper();

    // The drive path of a device path: the first device, in letter order, whose name
    // the lower-cased path begins with gives its drive, "\" and the rest of the path
    // after the device name and the one character that follows it, in the path's own
    // case. A plain prefix test: with A: on \Device\HarddiskVolume1, a path on
    // \Device\HarddiskVolume10 maps through A:. Raises EDeviceFileMapper
    // "Unable to Map Path: [" + path + "]\Devices.Count = " + the number of devices
    // when no device matches.
    std::string MapPath(const std::string& devicePath) const;

    const std::vector<DeviceFileMapperDevice>& Devices() const { return devices_; }

private:
    std::vector<DeviceFileMapperDevice> devices_;
};
