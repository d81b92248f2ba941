#pragma once
// Whether a user may open a file for reading and writing, worked out from its mode, owner,
// group and access control list the way the kernel does, without opening it: opening a
// serial port raises its modem lines, which resets some boards.

#include <cstdint>
#include <string>
#include <vector>

#include "cli/doctor/accounts.h"

namespace tarnlink::doctor {

enum AclTag : uint16_t {
    ACL_TAG_USER_OBJ = 0x01,
    ACL_TAG_USER = 0x02,
    ACL_TAG_GROUP_OBJ = 0x04,
    ACL_TAG_GROUP = 0x08,
    ACL_TAG_MASK = 0x10,
    ACL_TAG_OTHER = 0x20,
};

struct AclEntry {
    uint16_t tag = 0;
    uint16_t perm = 0;  ///< 4 read, 2 write, 1 execute
    uint32_t id = 0;    ///< user or group id for ACL_TAG_USER and ACL_TAG_GROUP
};

/// The entries of a "system.posix_acl_access" attribute as Linux stores it (version 2,
/// little-endian); empty when the bytes are not such an attribute.
std::vector<AclEntry> parsePosixAcl(const std::string& bytes);

struct FileOwnership {
    uint32_t mode = 0;  ///< permission bits (0660)
    uint32_t uid = 0;
    uint32_t gid = 0;
    std::vector<AclEntry> acl;  ///< empty: none beyond the mode
};

enum class AccessVia { ROOT, OWNER, ACL_USER, OWNING_GROUP, ACL_GROUP, OTHERS, NONE };

struct AccessDecision {
    bool allowed = false;
    AccessVia via = AccessVia::NONE;
    uint32_t id = 0;  ///< the group for OWNING_GROUP and ACL_GROUP
};

/// Read and write access of `user` to a file of `ownership`.
AccessDecision readWriteAccess(const FileOwnership& ownership, const UserIdentity& user);

/// "crw-rw----" style text of a character device's permission bits.
std::string modeText(uint32_t mode);

}  // namespace tarnlink::doctor
