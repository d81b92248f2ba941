#pragma once
// brltty, the braille display daemon, ships udev rules that claim USB ids shared by
// common USB serial bridges; when it takes such an adapter, its port vanishes.

#include <string>
#include <vector>

#include "cli/doctor/system_root.h"

namespace tarnlink::doctor {

struct BrlttyInstallation {
    bool installed = false;
    std::vector<std::string> ruleLines;  ///< every line of its udev rules files
};

/// Its program or its udev rules under `root`.
BrlttyInstallation findBrltty(const SystemRoot& root);

/// Whether a rule line matches the USB device `vendorId`:`productId` (hex, as sysfs gives
/// them): by ENV{PRODUCT}=="vid/pid/*" or by ATTRS{idVendor} and ATTRS{idProduct}.
bool ruleLineClaims(const std::string& line, const std::string& vendorId,
                    const std::string& productId);

}  // namespace tarnlink::doctor
