// SPDX-License-Identifier: GPL-2.0-or-later
// The window's permanent drop to the user who started the client, and the
// engine's taking of root's ids. Runs as root, each case in a forked child.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <grp.h>
#include <linux/if_ether.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/privilege.h"
#include "support/sandbox.h"

namespace {

const uid_t kUser = 65534;  // nobody: present on every Debian system
const gid_t kGroup = 65534;

// The four ids of one "Uid:" or "Gid:" line of /proc/self/status.
std::string status_line(const std::string &name)
{
    std::string text = file_text("/proc/self/status");
    size_t at = text.find("\n" + name + ":");
    if (at == std::string::npos)
        return "";
    size_t end = text.find('\n', at + 1);
    std::string line = text.substr(at + 1, end - at - 1);
    while (!line.empty() && line.back() == ' ')
        line.pop_back();
    return line;
}

TEST(Privilege, WindowDropHasNoWayBackToRoot)
{
    std::string report = run_in_child(0, [](ChildChecks &c) {
        c.setup(setgroups(0, nullptr) == 0, "groups cleared");
        std::vector<gid_t> groups{kGroup, 4242};
        c.expect(drop_privileges_permanently(kUser, kGroup, groups), "drop reported success");
        c.expect(status_line("Uid") == "Uid:\t65534\t65534\t65534\t65534", status_line("Uid"));
        c.expect(status_line("Gid") == "Gid:\t65534\t65534\t65534\t65534", status_line("Gid"));
        c.expect(status_line("Groups") == "Groups:\t4242 65534" ||
                     status_line("Groups") == "Groups:\t65534 4242",
                 status_line("Groups"));
        c.expect(setuid(0) != 0 && setresuid(0, 0, 0) != 0, "root regained");
        c.expect(setgroups(0, nullptr) != 0, "groups changed again");
        // Capture needs root: the window cannot open the interface.
        int fd = socket(AF_PACKET, SOCK_RAW, htons(ETH_P_ALL));
        c.expect(fd < 0, "raw packet socket opened");
        if (fd >= 0)
            close(fd);
    });
    EXPECT_EQ("", report);
}

TEST(Privilege, EngineTakesRootIdsAndNoCallerGroups)
{
    std::string report = run_in_child(0, [](ChildChecks &c) {
        // As the set-user-ID start leaves it: the caller's real ids and groups.
        gid_t caller_groups[] = {kGroup, 100};
        c.setup(setgroups(2, caller_groups) == 0, "caller's groups");
        c.setup(setresgid(kGroup, kGroup, 0) == 0, "caller's group ids");
        c.setup(setresuid(kUser, 0, 0) == 0, "set-user-ID ids");
        c.expect(become_root_entirely(), "root taken");
        c.expect(status_line("Uid") == "Uid:\t0\t0\t0\t0", status_line("Uid"));
        c.expect(status_line("Gid") == "Gid:\t0\t0\t0\t0", status_line("Gid"));
        c.expect(status_line("Groups") == "Groups:\t", status_line("Groups"));
    });
    EXPECT_EQ("", report);
}

TEST(Privilege, RootStartKeepsRootInBothHalves)
{
    std::string report = run_in_child(0, [](ChildChecks &c) {
        c.expect(drop_privileges_permanently(0, 0, user_groups("root", 0)), "root kept");
        c.expect(getuid() == 0 && geteuid() == 0, "still root");
    });
    EXPECT_EQ("", report);
}

bool same(const struct rlimit &a, const struct rlimit &b)
{
    return a.rlim_cur == b.rlim_cur && a.rlim_max == b.rlim_max;
}

// The caller's limits: soft ones only, which root can always raise, or hard
// ones too, which takes CAP_SYS_RESOURCE.
class StartLimits : public ::testing::TestWithParam<bool> {};

TEST_P(StartLimits, SetUserIdStartTakesRootsLimitsOrGivesUpRoot)
{
    const bool hard = GetParam();
    std::string report = run_in_child(0, [hard](ChildChecks &c) {
        struct rlimit file{}, files{};
        c.setup(getrlimit(RLIMIT_FSIZE, &file) == 0 && getrlimit(RLIMIT_NOFILE, &files) == 0, "limits");
        file = {39, hard ? 39 : file.rlim_max};
        files = {8, hard ? 8 : files.rlim_max};
        c.setup(setrlimit(RLIMIT_FSIZE, &file) == 0 && setrlimit(RLIMIT_NOFILE, &files) == 0,
                "the caller's limits");
        const ResourceLimits before = current_limits();
        c.setup(setresuid(kUser, 0, 0) == 0, "set-user-ID ids");
        ResourceLimits caller = take_root_limits();
        ResourceLimits now = current_limits(), root = root_default_limits();
        for (int r = 0; r < RLIM_NLIMITS; r++)
            c.expect(same(caller.of[r], before.of[r]), "caller's limit kept aside: " + std::to_string(r));
        if (hard && !has_sys_resource()) {
            // Root's limits are out of reach: no root is left to run under the caller's.
            c.expect(getuid() == kUser && geteuid() == kUser && setuid(0) != 0, "root given up");
            for (int r = 0; r < RLIM_NLIMITS; r++)
                c.expect(same(now.of[r], before.of[r]), "the caller's limit stays: " + std::to_string(r));
            return;
        }
        c.expect(geteuid() == 0, "still root");
        for (int r = 0; r < RLIM_NLIMITS; r++)
            c.expect(now.of[r].rlim_cur == root.of[r].rlim_cur &&
                         (now.of[r].rlim_max == RLIM_INFINITY || now.of[r].rlim_max >= root.of[r].rlim_max),
                     "root's limit taken: " + std::to_string(r) + " is " + std::to_string(now.of[r].rlim_cur));
        // The window takes the caller's back before it drops to the user.
        c.expect(apply_limits(caller), "caller's limits applied");
        c.expect(drop_privileges_permanently(kUser, kGroup, {kGroup}), "dropped");
        now = current_limits();
        c.expect(same(now.of[RLIMIT_FSIZE], file) && same(now.of[RLIMIT_NOFILE], files),
                 "the user has the caller's limits again");
    });
    EXPECT_EQ("", report);
}

INSTANTIATE_TEST_SUITE_P(SoftAndHard, StartLimits, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool> &i) {
                             return i.param ? std::string("Hard") : std::string("SoftOnly");
                         });

TEST(Privilege, UserGroupsIncludeThePrimaryGroup)
{
    std::vector<gid_t> g = user_groups("nobody", kGroup);
    ASSERT_FALSE(g.empty());
    EXPECT_NE(g.end(), std::find(g.begin(), g.end(), kGroup));
    EXPECT_EQ(std::vector<gid_t>{77}, user_groups("", 77));
    EXPECT_EQ(std::vector<gid_t>{77}, user_groups("no-such-user-cvx", 77));
}

}  // namespace
