#include "app/privilege.h"

#include <grp.h>
#include <unistd.h>

#include <algorithm>

namespace {

bool ids_are(uid_t uid, gid_t gid)
{
    uid_t ru, eu, su;
    gid_t rg, eg, sg;
    if (getresuid(&ru, &eu, &su) != 0 || getresgid(&rg, &eg, &sg) != 0)
        return false;
    return ru == uid && eu == uid && su == uid && rg == gid && eg == gid && sg == gid;
}

// Each attempt to regain root must fail; one that succeeds means the drop did not hold.
bool no_way_back()
{
    if (setuid(0) == 0 || seteuid(0) == 0 || setresuid(0, 0, 0) == 0)
        return false;
    if (setgid(0) == 0 || setegid(0) == 0 || setresgid(0, 0, 0) == 0)
        return false;
    return true;
}

}  // namespace

std::vector<gid_t> user_groups(const std::string &login_name, gid_t gid)
{
    std::vector<gid_t> groups{gid};
    if (login_name.empty())
        return groups;
    int n = 64;
    for (int tries = 0; tries < 4; tries++) {
        std::vector<gid_t> list(static_cast<size_t>(n));
        int count = n;
        if (getgrouplist(login_name.c_str(), gid, list.data(), &count) >= 0) {
            list.resize(static_cast<size_t>(count));
            if (std::find(list.begin(), list.end(), gid) == list.end())
                list.insert(list.begin(), gid);
            return list;
        }
        n = count > n ? count : n * 4;
    }
    return groups;
}

bool drop_privileges_permanently(uid_t uid, gid_t gid, const std::vector<gid_t> &groups)
{
    // Without root there is nothing to give up, and setgroups would fail.
    if (geteuid() != 0)
        return uid != 0 && ids_are(uid, gid) && no_way_back();
    if (setgroups(groups.size(), groups.data()) != 0)
        return false;
    if (setresgid(gid, gid, gid) != 0 || setresuid(uid, uid, uid) != 0)
        return false;
    if (!ids_are(uid, gid))
        return false;
    if (uid == 0)
        return true;
    return no_way_back() && ids_are(uid, gid);
}

bool become_root_entirely()
{
    if (setresuid(0, 0, 0) != 0 || setresgid(0, 0, 0) != 0 || setgroups(0, nullptr) != 0)
        return false;
    return ids_are(0, 0);
}
