// Giving up and taking rights for the two halves of the client.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// The groups of login name (with gid among them), as the system lists them;
// just gid when the name is empty or unknown.
std::vector<gid_t> user_groups(const std::string &login_name, gid_t gid);

// Drops to uid/gid for good: setgroups to groups, setresgid, setresuid. Then
// checks that no way back to root is left (setuid(0), setresuid(0,0,0) and
// setresgid(0,0,0) all fail, and every id is the user's). False when any step
// failed or a way back is open; the caller must then end the process.
// For uid 0 (started by root) it keeps root and only sets the groups.
bool drop_privileges_permanently(uid_t uid, gid_t gid, const std::vector<gid_t> &groups);

// Sets every user and group id to root's and drops the supplementary groups;
// false when the process can't.
bool become_root_entirely();
