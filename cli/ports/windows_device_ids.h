#pragma once
// What the ids that Windows gives a device tell of a USB serial adapter.

#include <string>
#include <vector>

namespace tarnlink {

struct UsbIds {
    std::string vendorId;   ///< "0403", lower case; empty when none is named
    std::string productId;  ///< "6001"
};

/// The first VID_xxxx and PID_xxxx among the hardware ids ("USB\VID_0403&PID_6001&REV_0600",
/// "FTDIBUS\COMPORT&VID_0403&PID_6001").
UsbIds usbIdsFromHardwareIds(const std::vector<std::string>& hardwareIds);

/// The serial number in a USB device's instance id ("USB\VID_0403&PID_6001\A1B2C3" gives
/// "A1B2C3"); empty for another bus, and for an id that Windows made up itself because the
/// device has no serial number (it holds '&': "USB\VID_1A86&PID_7523\5&2C5E8B1&0&2").
std::string usbSerialFromInstanceId(const std::string& instanceId);

}  // namespace tarnlink
