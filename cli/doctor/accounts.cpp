#include "cli/doctor/accounts.h"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <sstream>

namespace tarnlink::doctor {

namespace {

std::vector<std::string> splitFields(const std::string& line, char separator) {
    std::vector<std::string> fields;
    std::string field;
    std::istringstream in(line);
    while (std::getline(in, field, separator)) {
        fields.push_back(field);
    }
    if (!line.empty() && line.back() == separator) {
        fields.emplace_back();
    }
    return fields;
}

std::optional<uint32_t> parseId(const std::string& text) {
    uint32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty()) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

AccountDatabase::AccountDatabase(const SystemRoot& root) {
    for (const std::string& line : root.lines("/etc/passwd")) {
        const std::vector<std::string> f = splitFields(line, ':');
        if (f.size() < 4 || f[0].empty() || f[0][0] == '#') {
            continue;
        }
        const auto uid = parseId(f[2]);
        const auto gid = parseId(f[3]);
        if (uid && gid) {
            m_users.push_back({f[0], *uid, *gid});
        }
    }
    for (const std::string& line : root.lines("/etc/group")) {
        const std::vector<std::string> f = splitFields(line, ':');
        if (f.size() < 3 || f[0].empty() || f[0][0] == '#') {
            continue;
        }
        const auto gid = parseId(f[2]);
        if (!gid) {
            continue;
        }
        GroupEntry entry{f[0], *gid, {}};
        if (f.size() >= 4 && !f[3].empty()) {
            entry.members = splitFields(f[3], ',');
        }
        m_groups.push_back(std::move(entry));
    }
}

std::optional<std::string> AccountDatabase::userName(uint32_t uid) const {
    for (const UserEntry& user : m_users) {
        if (user.uid == uid) {
            return user.name;
        }
    }
    return std::nullopt;
}

std::optional<uint32_t> AccountDatabase::primaryGroup(const std::string& name) const {
    for (const UserEntry& user : m_users) {
        if (user.name == name) {
            return user.gid;
        }
    }
    return std::nullopt;
}

const GroupEntry* AccountDatabase::group(uint32_t gid) const {
    for (const GroupEntry& entry : m_groups) {
        if (entry.gid == gid) {
            return &entry;
        }
    }
    return nullptr;
}

std::string AccountDatabase::groupName(uint32_t gid) const {
    const GroupEntry* entry = group(gid);
    return entry != nullptr ? entry->name : std::to_string(gid);
}

bool AccountDatabase::isMember(const std::string& user, uint32_t gid) const {
    if (primaryGroup(user) == gid) {
        return true;
    }
    const GroupEntry* entry = group(gid);
    return entry != nullptr &&
           std::find(entry->members.begin(), entry->members.end(), user) != entry->members.end();
}

bool UserIdentity::inGroup(uint32_t id) const {
    return gid == id || std::find(groups.begin(), groups.end(), id) != groups.end();
}

UserIdentity currentUser(const AccountDatabase& accounts) {
    UserIdentity user;
    user.uid = ::getuid();
    user.gid = ::getgid();
    const int count = ::getgroups(0, nullptr);
    if (count > 0) {
        std::vector<gid_t> groups(static_cast<size_t>(count));
        const int got = ::getgroups(count, groups.data());
        for (int i = 0; i < got; ++i) {
            user.groups.push_back(groups[static_cast<size_t>(i)]);
        }
    }
    // Left to the shell when the local database does not know the user (a directory
    // service): the fix line stays a command that works as it is.
    user.name = accounts.userName(user.uid).value_or("$USER");
    return user;
}

}  // namespace tarnlink::doctor
