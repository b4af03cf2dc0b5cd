// SPDX-License-Identifier: GPL-2.0-or-later
// Giving up and taking rights for the two halves of the client.
#pragma once

#include <sys/resource.h>
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

// Every resource limit of a process, by resource number.
struct ResourceLimits {
    struct rlimit of[RLIM_NLIMITS];
};

// The process' limits right now.
ResourceLimits current_limits();

// The limits the kernel gives the first process, which is what a process that
// runs as root can count on: nothing limited but the stack's default size,
// core files (off, as far as the soft limit goes), 1024 descriptors (4096 at
// most), 8 MiB of locked memory, POSIX queues, nice and real-time priority;
// processes and pending signals at half the kernel's thread maximum, as the
// kernel computes them for init.
ResourceLimits root_default_limits();

// Sets every limit; false when one could not be set.
bool apply_limits(const ResourceLimits &limits);

// Sets every limit as far as the process may go: where a hard limit can't be
// raised (no CAP_SYS_RESOURCE) the soft one goes up to the hard one. True when
// every soft limit reached the wanted value.
bool take_limits_within_reach(const ResourceLimits &wanted);

// At the set-user-ID start: what the caller set (a file size of a few bytes,
// no descriptors, no processes) must not reach root's work, so a process with
// root's effective id takes the soft limits of root_default_limits() (hard
// limits at least as high as those, never lowered); the limits it had are
// returned, for the window to take back when it drops to the user. When root's
// limits can't be had, the process gives up root for good (start-up then
// reports that it is not root). A process without root keeps its limits.
ResourceLimits take_root_limits();
