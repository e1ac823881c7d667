#include "doctor/access.h"

#include <acl/libacl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/acl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace vosdoctor {

namespace {

// The groups the group file (through NSS) gives `name`, its primary group included.
std::vector<gid_t> GroupsOf(const char* name, gid_t primary) {
    int count = 0;
    getgrouplist(name, primary, nullptr, &count);
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    if (getgrouplist(name, primary, groups.data(), &count) < 0) groups.clear();
    return groups;
}

}  // namespace

Identity Identity::Current() {
    Identity who;
    who.uid = getuid();
    who.gid = getgid();
    // Under sudo or pkexec the question is whether the user who called it may open the logger.
    const char* callerUid = std::getenv("SUDO_UID");
    if (callerUid == nullptr) callerUid = std::getenv("PKEXEC_UID");
    const passwd* caller = who.uid == 0 && callerUid != nullptr
                               ? getpwuid(static_cast<uid_t>(std::strtoul(callerUid, nullptr, 10)))
                               : nullptr;
    if (caller != nullptr) {
        who.uid = caller->pw_uid;
        who.gid = caller->pw_gid;
        who.name = caller->pw_name;
        who.groups = GroupsOf(caller->pw_name, caller->pw_gid);
        who.fileGroups = who.groups;
        return who;
    }
    const int count = getgroups(0, nullptr);
    if (count > 0) {
        who.groups.resize(static_cast<std::size_t>(count));
        const int got = getgroups(count, who.groups.data());
        who.groups.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    }
    if (const passwd* entry = getpwuid(who.uid); entry != nullptr) {
        who.name = entry->pw_name;
        who.fileGroups = GroupsOf(entry->pw_name, entry->pw_gid);
    } else {
        who.name = std::to_string(who.uid);
    }
    return who;
}

bool Identity::InGroup(gid_t group) const {
    return group == gid || std::find(groups.begin(), groups.end(), group) != groups.end();
}

bool AclGrants(const std::vector<AclEntry>& acl, uid_t owner, gid_t group, const Identity& who,
               unsigned wanted) {
    if (who.uid == 0) return true;
    using Tag = AclEntry::Tag;
    auto has = [wanted](unsigned perms) { return (perms & wanted) == wanted; };
    unsigned mask = PERM_READ | PERM_WRITE | 1u;
    for (const AclEntry& e : acl) {
        if (e.tag == Tag::Mask) mask = e.perms;
    }
    // The owner's entry, then a named user, then every matching group entry,
    // then the others: the first class that matches decides.
    for (const AclEntry& e : acl) {
        if (e.tag == Tag::UserObj && who.uid == owner) return has(e.perms);
    }
    for (const AclEntry& e : acl) {
        if (e.tag == Tag::User && e.id == who.uid) return has(e.perms & mask);
    }
    bool groupMatched = false;
    for (const AclEntry& e : acl) {
        const bool matches = (e.tag == Tag::GroupObj && who.InGroup(group)) ||
                             (e.tag == Tag::Group && who.InGroup(static_cast<gid_t>(e.id)));
        if (!matches) continue;
        groupMatched = true;
        if (has(e.perms & mask)) return true;
    }
    if (groupMatched) return false;
    for (const AclEntry& e : acl) {
        if (e.tag == Tag::Other) return has(e.perms);
    }
    return false;
}

namespace {

std::vector<AclEntry> ModeEntries(mode_t mode) {
    return {{AclEntry::Tag::UserObj, 0, (mode >> 6) & 7u},
            {AclEntry::Tag::GroupObj, 0, (mode >> 3) & 7u},
            {AclEntry::Tag::Other, 0, mode & 7u}};
}

// The file's access ACL through libacl; empty when it has none beyond its mode.
std::vector<AclEntry> ExtendedEntries(const std::string& path) {
    std::vector<AclEntry> entries;
    acl_t acl = acl_get_file(path.c_str(), ACL_TYPE_ACCESS);
    if (acl == nullptr) return entries;
    if (acl_equiv_mode(acl, nullptr) == 0) {
        acl_free(acl);
        return entries;
    }
    acl_entry_t entry = nullptr;
    for (int which = ACL_FIRST_ENTRY; acl_get_entry(acl, which, &entry) == 1; which = ACL_NEXT_ENTRY) {
        acl_tag_t tag = ACL_UNDEFINED_TAG;
        acl_permset_t permset = nullptr;
        if (acl_get_tag_type(entry, &tag) != 0 || acl_get_permset(entry, &permset) != 0) continue;
        AclEntry out{AclEntry::Tag::Other, 0, 0};
        if (acl_get_perm(permset, ACL_READ) == 1) out.perms |= PERM_READ;
        if (acl_get_perm(permset, ACL_WRITE) == 1) out.perms |= PERM_WRITE;
        if (acl_get_perm(permset, ACL_EXECUTE) == 1) out.perms |= 1u;
        void* qualifier = nullptr;
        switch (tag) {
            case ACL_USER_OBJ: out.tag = AclEntry::Tag::UserObj; break;
            case ACL_GROUP_OBJ: out.tag = AclEntry::Tag::GroupObj; break;
            case ACL_MASK: out.tag = AclEntry::Tag::Mask; break;
            case ACL_OTHER: out.tag = AclEntry::Tag::Other; break;
            case ACL_USER:
                out.tag = AclEntry::Tag::User;
                qualifier = acl_get_qualifier(entry);
                if (qualifier != nullptr) out.id = *static_cast<uid_t*>(qualifier);
                break;
            case ACL_GROUP:
                out.tag = AclEntry::Tag::Group;
                qualifier = acl_get_qualifier(entry);
                if (qualifier != nullptr) out.id = *static_cast<gid_t*>(qualifier);
                break;
            default: continue;
        }
        if (qualifier != nullptr) acl_free(qualifier);
        entries.push_back(out);
    }
    acl_free(acl);
    return entries;
}

}  // namespace

NodeAccess CheckNode(const std::string& path, const Identity& who) {
    NodeAccess node;
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        node.error = std::strerror(errno);
        return node;
    }
    node.exists = true;
    node.owner = info.st_uid;
    node.group = info.st_gid;
    node.mode = info.st_mode & 07777;
    std::vector<AclEntry> acl = ExtendedEntries(path);
    node.extendedAcl = !acl.empty();
    if (acl.empty()) acl = ModeEntries(info.st_mode);
    node.readWrite = AclGrants(acl, node.owner, node.group, who, PERM_READ | PERM_WRITE);
    return node;
}

}  // namespace vosdoctor
