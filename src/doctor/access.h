#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace vosdoctor {

/// Whose access is checked: a user with a primary group and supplementary groups.
struct Identity {
    uid_t uid = 0;
    gid_t gid = 0;
    std::vector<gid_t> groups;      ///< supplementary groups that count now (this login's)
    std::vector<gid_t> fileGroups;  ///< the groups the group file gives the user; empty when unknown
    std::string name;               ///< login name, for the commands doctor suggests

    /// The user running this process (real IDs); under sudo or pkexec, the user
    /// who called it (SUDO_UID, PKEXEC_UID), with the groups the group file gives.
    static Identity Current();
    bool InGroup(gid_t group) const;
};

/// Permission bits of one ACL entry and of the wanted access.
inline constexpr unsigned PERM_READ = 4;
inline constexpr unsigned PERM_WRITE = 2;

/// One entry of a POSIX access ACL; `id` is used by User and Group entries only.
struct AclEntry {
    enum class Tag { UserObj, User, GroupObj, Group, Mask, Other };
    Tag tag;
    unsigned id;
    unsigned perms;
};

/// The POSIX.1e access check: may `who` have every bit of `wanted` on an object
/// owned by `owner`:`group` with this ACL? A file without an extended ACL is
/// described by its three mode entries. uid 0 is always granted read and write.
bool AclGrants(const std::vector<AclEntry>& acl, uid_t owner, gid_t group, const Identity& who,
               unsigned wanted);

/// What doctor learns about a device node.
struct NodeAccess {
    bool exists = false;
    bool readWrite = false;  ///< `who` may open it for reading and writing
    uid_t owner = 0;
    gid_t group = 0;
    mode_t mode = 0;         ///< permission bits only
    bool extendedAcl = false;
    std::string error;       ///< why the node could not be examined
};

/// Examines `path` (owner, group, mode and access ACL) for `who`.
NodeAccess CheckNode(const std::string& path, const Identity& who);

}  // namespace vosdoctor
