#include "cli/doctor/file_access.h"

namespace tarnlink::doctor {

namespace {

constexpr uint16_t READ_WRITE = 4 | 2;

uint16_t le16(const std::string& b, size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1])
                                                                   << 8);
}

uint32_t le32(const std::string& b, size_t at) {
    return static_cast<uint32_t>(le16(b, at)) | static_cast<uint32_t>(le16(b, at + 2)) << 16;
}

bool grants(uint16_t perm) {
    return (perm & READ_WRITE) == READ_WRITE;
}

AccessDecision withoutAcl(const FileOwnership& file, const UserIdentity& user) {
    if (user.uid == file.uid) {
        return {grants(static_cast<uint16_t>(file.mode >> 6 & 7)), AccessVia::OWNER, 0};
    }
    if (user.inGroup(file.gid)) {
        return {grants(static_cast<uint16_t>(file.mode >> 3 & 7)), AccessVia::OWNING_GROUP,
                file.gid};
    }
    return {grants(static_cast<uint16_t>(file.mode & 7)), AccessVia::OTHERS, 0};
}

// The order of the kernel's check: owner, named users, then every group that matches
// (one that grants is enough, matching any denies the others' entry), then others.
AccessDecision withAcl(const FileOwnership& file, const UserIdentity& user) {
    uint16_t mask = 7;
    for (const AclEntry& e : file.acl) {
        if (e.tag == ACL_TAG_MASK) {
            mask = e.perm;
        }
    }
    for (const AclEntry& e : file.acl) {
        if (e.tag == ACL_TAG_USER_OBJ && user.uid == file.uid) {
            return {grants(e.perm), AccessVia::OWNER, 0};
        }
        if (e.tag == ACL_TAG_USER && e.id == user.uid) {
            return {grants(e.perm & mask), AccessVia::ACL_USER, e.id};
        }
    }
    bool groupMatched = false;
    AccessDecision denied{false, AccessVia::OWNING_GROUP, file.gid};
    for (const AclEntry& e : file.acl) {
        const bool owning = e.tag == ACL_TAG_GROUP_OBJ && user.inGroup(file.gid);
        const bool named = e.tag == ACL_TAG_GROUP && user.inGroup(e.id);
        if (!owning && !named) {
            continue;
        }
        const AccessVia via = owning ? AccessVia::OWNING_GROUP : AccessVia::ACL_GROUP;
        const uint32_t id = owning ? file.gid : e.id;
        if (grants(e.perm & mask)) {
            return {true, via, id};
        }
        if (!groupMatched) {
            denied = {false, via, id};
        }
        groupMatched = true;
    }
    if (groupMatched) {
        return denied;
    }
    for (const AclEntry& e : file.acl) {
        if (e.tag == ACL_TAG_OTHER) {
            return {grants(e.perm), AccessVia::OTHERS, 0};
        }
    }
    return {false, AccessVia::NONE, 0};
}

}  // namespace

std::vector<AclEntry> parsePosixAcl(const std::string& bytes) {
    constexpr uint32_t VERSION = 2;
    constexpr size_t HEADER = 4;
    constexpr size_t ENTRY = 8;
    if (bytes.size() < HEADER || (bytes.size() - HEADER) % ENTRY != 0 ||
        le32(bytes, 0) != VERSION) {
        return {};
    }
    std::vector<AclEntry> entries;
    for (size_t at = HEADER; at < bytes.size(); at += ENTRY) {
        entries.push_back({le16(bytes, at), le16(bytes, at + 2), le32(bytes, at + 4)});
    }
    return entries;
}

AccessDecision readWriteAccess(const FileOwnership& file, const UserIdentity& user) {
    if (user.uid == 0) {
        return {true, AccessVia::ROOT, 0};
    }
    return file.acl.empty() ? withoutAcl(file, user) : withAcl(file, user);
}

std::string modeText(uint32_t mode) {
    std::string text = "c---------";
    const char* letters = "rwx";
    for (int i = 0; i < 9; ++i) {
        if ((mode >> (8 - i) & 1) != 0) {
            text[static_cast<size_t>(1 + i)] = letters[i % 3];
        }
    }
    return text;
}

}  // namespace tarnlink::doctor
