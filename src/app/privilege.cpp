// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/privilege.h"

#include <grp.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

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

// The kernel's own values for init (include/asm-generic/resource.h).
constexpr rlim_t STACK_DEFAULT = 8ull * 1024 * 1024;
constexpr rlim_t OPEN_FILES = 1024, kOpenFilesMax = 4096;
constexpr rlim_t LOCKED_MEMORY = 8ull * 1024 * 1024;
constexpr rlim_t QUEUE_BYTES = 819200;

// What the kernel gives init for processes and pending signals: half the
// thread maximum. Unlimited when the maximum cannot be read.
rlim_t half_thread_max()
{
    FILE *f = std::fopen("/proc/sys/kernel/threads-max", "re");
    unsigned long long max = 0;
    bool read = f && std::fscanf(f, "%llu", &max) == 1 && max >= 2;
    if (f)
        std::fclose(f);
    return read ? static_cast<rlim_t>(max / 2) : RLIM_INFINITY;
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

ResourceLimits current_limits()
{
    ResourceLimits l{};
    for (int r = 0; r < RLIM_NLIMITS; r++) {
        if (getrlimit(static_cast<__rlimit_resource>(r), &l.of[r]) != 0)
            l.of[r] = {RLIM_INFINITY, RLIM_INFINITY};
    }
    return l;
}

ResourceLimits root_default_limits()
{
    ResourceLimits l{};
    for (struct rlimit &one : l.of)
        one = {RLIM_INFINITY, RLIM_INFINITY};
    const rlim_t tasks = half_thread_max();
    l.of[RLIMIT_STACK] = {STACK_DEFAULT, RLIM_INFINITY};
    l.of[RLIMIT_CORE] = {0, RLIM_INFINITY};
    l.of[RLIMIT_NPROC] = {tasks, tasks};
    l.of[RLIMIT_NOFILE] = {OPEN_FILES, kOpenFilesMax};
    l.of[RLIMIT_MEMLOCK] = {LOCKED_MEMORY, LOCKED_MEMORY};
    l.of[RLIMIT_SIGPENDING] = {tasks, tasks};
    l.of[RLIMIT_MSGQUEUE] = {QUEUE_BYTES, QUEUE_BYTES};
    l.of[RLIMIT_NICE] = {0, 0};
    l.of[RLIMIT_RTPRIO] = {0, 0};
    return l;
}

bool apply_limits(const ResourceLimits &limits)
{
    bool all = true;
    for (int r = 0; r < RLIM_NLIMITS; r++) {
        if (setrlimit(static_cast<__rlimit_resource>(r), &limits.of[r]) != 0)
            all = false;
    }
    return all;
}

bool take_limits_within_reach(const ResourceLimits &wanted)
{
    bool reached = true;
    for (int r = 0; r < RLIM_NLIMITS; r++) {
        const auto res = static_cast<__rlimit_resource>(r);
        if (setrlimit(res, &wanted.of[r]) == 0)
            continue;
        // Without CAP_SYS_RESOURCE a hard limit can't go up: the soft one
        // then goes as far as the hard one allows, and must get there.
        struct rlimit now{};
        if (getrlimit(res, &now) != 0) {
            reached = false;
            continue;
        }
        struct rlimit within{wanted.of[r].rlim_cur, now.rlim_max};
        bool fits = now.rlim_max == RLIM_INFINITY ||
                    (wanted.of[r].rlim_cur != RLIM_INFINITY && wanted.of[r].rlim_cur <= now.rlim_max);
        if (!fits) {
            within.rlim_cur = now.rlim_max;
            reached = false;
        }
        if (setrlimit(res, &within) != 0)
            reached = false;
    }
    return reached;
}

ResourceLimits take_root_limits()
{
    ResourceLimits caller = current_limits();
    if (geteuid() != 0)
        return caller;
    // A hard limit is only ever raised: the window must be able to take the
    // caller's back without CAP_SYS_RESOURCE, and the soft limit is what counts.
    auto wanted = [&caller] {
        ResourceLimits w = root_default_limits();
        for (int r = 0; r < RLIM_NLIMITS; r++) {
            rlim_t &hard = w.of[r].rlim_max;
            if (hard != RLIM_INFINITY &&
                (caller.of[r].rlim_max == RLIM_INFINITY || caller.of[r].rlim_max > hard))
                hard = caller.of[r].rlim_max;
        }
        return w;
    };
    // Twice: without descriptors the thread maximum can't be read the first time.
    (void)take_limits_within_reach(wanted());
    if (!take_limits_within_reach(wanted())) {
        // Root's work must not run under limits the caller chose: the process
        // goes on as the caller, and start-up reports that root is missing.
        uid_t uid = getuid();
        gid_t gid = getgid();
        if (setresgid(gid, gid, gid) != 0 || setresuid(uid, uid, uid) != 0 || geteuid() == 0)
            _exit(1);
        (void)apply_limits(caller);
        return caller;
    }
    // The C library sized the threads' default stack from the caller's stack
    // limit when the process started; the engine's workers get the default.
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) == 0) {
        if (pthread_attr_setstacksize(&attr, STACK_DEFAULT) == 0)
            (void)pthread_setattr_default_np(&attr);
        (void)pthread_attr_destroy(&attr);
    }
    return caller;
}
