#pragma once
// What udev recorded for a device: its properties and tags, read from the database files
// under <root>/run/udev/data, so the doctor needs neither udevadm nor a running udev.

#include <map>
#include <optional>
#include <set>
#include <string>

#include "cli/doctor/system_root.h"

namespace tarnlink::doctor {

struct UdevRecord {
    std::map<std::string, std::string> properties;  ///< "E:" lines
    std::set<std::string> tags;                     ///< "G:" and "Q:" lines
};

/// The record of `udevId` ("c188:0"); nullopt when udev has none (it never saw the device).
std::optional<UdevRecord> readUdevRecord(const SystemRoot& root, const std::string& udevId);

}  // namespace tarnlink::doctor
