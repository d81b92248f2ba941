#pragma once
// The processes under <root>/proc: their pid, name, owner, and the character devices they
// have open. Other users' open files are hidden from a user who is not root.

#include <cstdint>
#include <string>
#include <vector>

#include "cli/doctor/system_root.h"

namespace tarnlink::doctor {

struct DeviceNumber {
    uint32_t major = 0;
    uint32_t minor = 0;
    bool operator==(const DeviceNumber&) const = default;
};

struct ProcessInfo {
    int pid = 0;
    std::string name;  ///< comm: "minicom", "ModemManager"
    uint32_t uid = 0;
    bool filesVisible = false;          ///< its fd folder could be read
    std::vector<DeviceNumber> devices;  ///< character devices among its open files
    std::vector<uint32_t> ptyMasters;   ///< pseudo-terminals whose master side it holds
};

/// Every process; their open files only as far as this user may see them.
std::vector<ProcessInfo> listProcesses(const SystemRoot& root);

/// The first process called `name`, or null.
const ProcessInfo* findProcess(const std::vector<ProcessInfo>& processes, const std::string& name);

}  // namespace tarnlink::doctor
