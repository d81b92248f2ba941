#pragma once
// The local account database (/etc/passwd, /etc/group) under a root, and who runs the
// doctor: the ids the kernel gave this process, which decide what it can open now.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/doctor/system_root.h"

namespace tarnlink::doctor {

struct GroupEntry {
    std::string name;
    uint32_t gid = 0;
    std::vector<std::string> members;
};

class AccountDatabase {
  public:
    /// Reads <root>/etc/passwd and <root>/etc/group; missing files give an empty database.
    explicit AccountDatabase(const SystemRoot& root);

    std::optional<std::string> userName(uint32_t uid) const;
    std::optional<uint32_t> primaryGroup(const std::string& user) const;
    const GroupEntry* group(uint32_t gid) const;
    /// The group's name, or its number as text when the database does not know it.
    std::string groupName(uint32_t gid) const;
    /// Whether a fresh login of `user` would be in `gid` (primary group or listed member).
    bool isMember(const std::string& user, uint32_t gid) const;

  private:
    struct UserEntry {
        std::string name;
        uint32_t uid = 0;
        uint32_t gid = 0;
    };
    std::vector<UserEntry> m_users;
    std::vector<GroupEntry> m_groups;
};

struct UserIdentity {
    uint32_t uid = 0;
    uint32_t gid = 0;
    std::vector<uint32_t> groups;  ///< supplementary groups of this session
    std::string name;              ///< login name; "$USER" when the database lacks it

    bool inGroup(uint32_t id) const;
};

/// This process's user: its real ids and groups from the kernel, its name from `accounts`.
UserIdentity currentUser(const AccountDatabase& accounts);

}  // namespace tarnlink::doctor
