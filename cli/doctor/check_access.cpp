#include "cli/doctor/checks.h"

namespace tarnlink::doctor {

namespace {

std::string grantedBy(const AccessDecision& access, const SystemFacts& system) {
    switch (access.via) {
        case AccessVia::ROOT:
            return "root may open any port";
        case AccessVia::OWNER:
            return "you own it";
        case AccessVia::ACL_USER:
            return "its access list names you (seat access)";
        case AccessVia::OWNING_GROUP:
        case AccessVia::ACL_GROUP:
            return "you are in group " + system.accounts.groupName(access.id);
        case AccessVia::OTHERS:
            return "everyone may";
        case AccessVia::NONE:
            break;
    }
    return {};
}

}  // namespace

Finding checkAccess(const PortFacts& port, const SystemFacts& system) {
    Finding finding{port.devicePath, "access", Status::OK, {}, {}};
    const AccessDecision access = readWriteAccess(port.ownership, system.user);
    if (access.allowed) {
        finding.found = "you can open it: " + grantedBy(access, system);
        return finding;
    }
    finding.status = Status::FAIL;
    const FileOwnership& file = port.ownership;
    const std::string group = system.accounts.groupName(file.gid);
    const std::string owner = system.accounts.userName(file.uid).value_or(std::to_string(file.uid));
    const std::string shown = modeText(file.mode) + " " + owner + ":" + group;
    const std::string& user = system.user.name;
    const bool groupMayUse = (file.mode >> 3 & 6) == 6;
    if (!groupMayUse) {
        finding.found = "only its owner may open it (" + shown +
                        "); the udev rule gives the user at the seat access";
        finding.fix = udevRuleInstallCommand();
    } else if (system.user.inGroup(file.gid)) {
        finding.found =
            "you are in group " + group + ", but its access list denies you (" + shown + ")";
    } else if (system.accounts.isMember(user, file.gid)) {
        finding.found = user + " was added to group " + group + " after this session began (" +
                        shown + "): log out and in again, or start a shell in the group";
        finding.fix = "newgrp " + group;
    } else {
        finding.found = user + " is not in group " + group + ", which may open it (" + shown +
                        "); log out and in again after the fix";
        finding.fix = "sudo usermod -aG " + group + " " + user;
    }
    return finding;
}

}  // namespace tarnlink::doctor
