#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "doctor/access.h"

namespace {

using vosdoctor::AclEntry;
using Tag = AclEntry::Tag;

constexpr unsigned RW = vosdoctor::PERM_READ | vosdoctor::PERM_WRITE;
constexpr unsigned R = vosdoctor::PERM_READ;
constexpr uid_t OWNER = 0;
constexpr gid_t GROUP = 46;  // plugdev on Debian

// The POSIX.1e rules: the owner entry, else a named user entry (masked), else
// any matching group entry (masked), else other; the first class that matches decides.
TEST(AclGrants, FollowsThePosixAccessCheck) {
    struct Case {
        const char* title;
        std::vector<AclEntry> acl;
        uid_t owner;
        uid_t uid;
        std::vector<gid_t> groups;
        bool granted;
    };
    const std::vector<AclEntry> mode0660 = {{Tag::UserObj, 0, 6}, {Tag::GroupObj, 0, 6}, {Tag::Other, 0, 0}};
    const std::vector<AclEntry> mode0664 = {{Tag::UserObj, 0, 6}, {Tag::GroupObj, 0, 6}, {Tag::Other, 0, 4}};
    const std::vector<AclEntry> uaccess = {{Tag::UserObj, 0, 6}, {Tag::User, 1000, 6}, {Tag::GroupObj, 0, 6},
                                           {Tag::Mask, 0, 6},    {Tag::Other, 0, 4}};
    const std::vector<AclEntry> masked = {{Tag::UserObj, 0, 6}, {Tag::User, 1000, 6}, {Tag::GroupObj, 0, 6},
                                          {Tag::Mask, 0, 4},    {Tag::Other, 0, 6}};
    const std::vector<AclEntry> namedGroup = {{Tag::UserObj, 0, 6}, {Tag::GroupObj, 0, 4}, {Tag::Group, 20, 6},
                                              {Tag::Mask, 0, 6},    {Tag::Other, 0, 0}};
    const std::vector<AclEntry> groupDenies = {{Tag::UserObj, 0, 6}, {Tag::GroupObj, 0, 0}, {Tag::Other, 0, 6}};
    const std::vector<AclEntry> ownerReadOnly = {{Tag::UserObj, 0, 4}, {Tag::GroupObj, 0, 6}, {Tag::Other, 0, 6}};
    const std::vector<Case> cases = {
        {"0660, member of the group", mode0660, OWNER, 1000, {GROUP}, true},
        {"0660, not a member", mode0660, OWNER, 1000, {100}, false},
        {"0664, not a member: read only", mode0664, OWNER, 1000, {}, false},
        {"uaccess entry for the user", uaccess, OWNER, 1000, {}, true},
        {"uaccess entry for another user", uaccess, OWNER, 1001, {}, false},
        {"named user limited by the mask", masked, OWNER, 1000, {}, false},
        {"named group grants", namedGroup, OWNER, 1000, {20}, true},
        {"owning group alone is read only", namedGroup, OWNER, 1000, {GROUP}, false},
        {"a matching group entry decides before other", groupDenies, OWNER, 1000, {GROUP}, false},
        {"other applies when no group matches", groupDenies, OWNER, 1000, {}, true},
        {"the owner entry decides for the owner", ownerReadOnly, 7, 7, {GROUP}, false},
        {"root is always granted", {{Tag::UserObj, 0, 0}, {Tag::GroupObj, 0, 0}, {Tag::Other, 0, 0}}, OWNER, 0, {}, true},
    };
    for (const Case& c : cases) {
        vosdoctor::Identity who;
        who.uid = c.uid;
        who.gid = 1000;
        who.groups = c.groups;
        EXPECT_EQ(vosdoctor::AclGrants(c.acl, c.owner, GROUP, who, RW), c.granted) << c.title;
    }
}

TEST(AclGrants, AsksForEveryWantedBit) {
    const std::vector<AclEntry> mode0664 = {{Tag::UserObj, 0, 6}, {Tag::GroupObj, 0, 6}, {Tag::Other, 0, 4}};
    vosdoctor::Identity stranger;
    stranger.uid = 1000;
    stranger.gid = 1000;
    EXPECT_TRUE(vosdoctor::AclGrants(mode0664, OWNER, GROUP, stranger, R));
    EXPECT_FALSE(vosdoctor::AclGrants(mode0664, OWNER, GROUP, stranger, RW));
}

// "sudo vosctl doctor" and "pkexec vosctl doctor" check the access of the caller, not root's.
TEST(Identity, UnderSudoOrPkexecIsTheCaller) {
    if (getuid() != 0) GTEST_SKIP() << "only root sees SUDO_UID or PKEXEC_UID as the caller";
    for (const char* variable : {"SUDO_UID", "PKEXEC_UID"}) {
        ::setenv(variable, "65534", 1);  // nobody on Debian
        const vosdoctor::Identity who = vosdoctor::Identity::Current();
        ::unsetenv(variable);
        EXPECT_EQ(who.uid, 65534u) << variable;
        EXPECT_EQ(who.name, "nobody") << variable;
        EXPECT_TRUE(who.InGroup(65534)) << variable;  // nogroup
    }
    EXPECT_EQ(vosdoctor::Identity::Current().uid, 0u);
}

}  // namespace
