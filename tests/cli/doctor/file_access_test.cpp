// Read-write access worked out from mode, owner, group and access list, against what the
// kernel decides for the same file.

#include "cli/doctor/file_access.h"

#include <gtest/gtest.h>

namespace tarnlink::doctor {
namespace {

constexpr uint32_t ALICE = 4242;
constexpr uint32_t DIALOUT = 20;
constexpr uint32_t PLUGDEV = 46;

UserIdentity alice(std::vector<uint32_t> groups = {}) {
    return UserIdentity{ALICE, ALICE, std::move(groups), "alice"};
}

std::vector<AclEntry> seatAcl(uint16_t mask) {
    // What udev's seat access leaves on a port: owner, alice, group, mask, others.
    return {{ACL_TAG_USER_OBJ, 6, 0},
            {ACL_TAG_USER, 6, ALICE},
            {ACL_TAG_GROUP_OBJ, 6, 0},
            {ACL_TAG_MASK, mask, 0},
            {ACL_TAG_OTHER, 0, 0}};
}

struct AccessCase {
    const char* name;
    FileOwnership file;
    UserIdentity user;
    bool allowed;
    AccessVia via;
};

class FileAccessTest : public ::testing::TestWithParam<AccessCase> {};

TEST_P(FileAccessTest, DecidesAsTheKernelWould) {
    const AccessCase& c = GetParam();
    const AccessDecision decision = readWriteAccess(c.file, c.user);
    EXPECT_EQ(decision.allowed, c.allowed);
    EXPECT_EQ(decision.via, c.via);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FileAccessTest,
    ::testing::Values(
        AccessCase{"group_member",
                   {0660, 0, DIALOUT, {}},
                   alice({DIALOUT}),
                   true,
                   AccessVia::OWNING_GROUP},
        AccessCase{
            "not_in_group", {0660, 0, DIALOUT, {}}, alice({PLUGDEV}), false, AccessVia::OTHERS},
        AccessCase{"primary_group_counts",
                   {0660, 0, DIALOUT, {}},
                   UserIdentity{ALICE, DIALOUT, {}, "alice"},
                   true,
                   AccessVia::OWNING_GROUP},
        AccessCase{"group_may_only_write",
                   {0620, 0, DIALOUT, {}},
                   alice({DIALOUT}),
                   false,
                   AccessVia::OWNING_GROUP},
        AccessCase{"owner", {0600, ALICE, DIALOUT, {}}, alice(), true, AccessVia::OWNER},
        AccessCase{"owner_without_rights_is_not_helped_by_group",
                   {0060, ALICE, DIALOUT, {}},
                   alice({DIALOUT}),
                   false,
                   AccessVia::OWNER},
        AccessCase{"everyone", {0666, 0, DIALOUT, {}}, alice(), true, AccessVia::OTHERS},
        AccessCase{"root", {0600, 0, 0, {}}, UserIdentity{0, 0, {}, "root"}, true, AccessVia::ROOT},
        AccessCase{
            "seat_access_list", {0660, 0, DIALOUT, seatAcl(6)}, alice(), true, AccessVia::ACL_USER},
        AccessCase{"mask_takes_the_list_entry_away",
                   {0600, 0, DIALOUT, seatAcl(4)},
                   alice(),
                   false,
                   AccessVia::ACL_USER},
        AccessCase{"named_group_in_list",
                   {0660,
                    0,
                    DIALOUT,
                    {{ACL_TAG_USER_OBJ, 6, 0},
                     {ACL_TAG_GROUP_OBJ, 6, 0},
                     {ACL_TAG_GROUP, 6, PLUGDEV},
                     {ACL_TAG_MASK, 6, 0},
                     {ACL_TAG_OTHER, 0, 0}}},
                   alice({PLUGDEV}),
                   true,
                   AccessVia::ACL_GROUP},
        AccessCase{"matched_group_shuts_out_others",
                   {0664,
                    0,
                    DIALOUT,
                    {{ACL_TAG_USER_OBJ, 6, 0},
                     {ACL_TAG_GROUP_OBJ, 4, 0},
                     {ACL_TAG_MASK, 6, 0},
                     {ACL_TAG_OTHER, 6, 0}}},
                   alice({DIALOUT}),
                   false,
                   AccessVia::OWNING_GROUP}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PosixAclTest, ParsesTheAttributeLinuxStores) {
    // Version 2, then tag, perm, id, little-endian: user::rw- user:4242:rw- group::rw-
    // mask::rw- other::---
    const std::string bytes(
        "\x02\x00\x00\x00"
        "\x01\x00\x06\x00\xff\xff\xff\xff"
        "\x02\x00\x06\x00\x92\x10\x00\x00"
        "\x04\x00\x06\x00\xff\xff\xff\xff"
        "\x10\x00\x06\x00\xff\xff\xff\xff"
        "\x20\x00\x00\x00\xff\xff\xff\xff",
        44);
    const std::vector<AclEntry> acl = parsePosixAcl(bytes);
    ASSERT_EQ(acl.size(), 5u);
    EXPECT_EQ(acl[1].tag, ACL_TAG_USER);
    EXPECT_EQ(acl[1].perm, 6);
    EXPECT_EQ(acl[1].id, 4242u);
    EXPECT_EQ(acl[4].tag, ACL_TAG_OTHER);

    EXPECT_TRUE(parsePosixAcl("").empty());
    EXPECT_TRUE(parsePosixAcl(bytes.substr(0, 43)).empty()) << "cut short";
    EXPECT_TRUE(parsePosixAcl(std::string("\x01\x00\x00\x00", 4) + bytes.substr(4)).empty())
        << "another version";
}

TEST(PosixAclTest, ModeTextShowsTheBitsOfADevice) {
    EXPECT_EQ(modeText(0660), "crw-rw----");
    EXPECT_EQ(modeText(0620), "crw--w----");
    EXPECT_EQ(modeText(0666), "crw-rw-rw-");
}

}  // namespace
}  // namespace tarnlink::doctor
