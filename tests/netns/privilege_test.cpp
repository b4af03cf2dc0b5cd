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

TEST(Privilege, UserGroupsIncludeThePrimaryGroup)
{
    std::vector<gid_t> g = user_groups("nobody", kGroup);
    ASSERT_FALSE(g.empty());
    EXPECT_NE(g.end(), std::find(g.begin(), g.end(), kGroup));
    EXPECT_EQ(std::vector<gid_t>{77}, user_groups("", 77));
    EXPECT_EQ(std::vector<gid_t>{77}, user_groups("no-such-user-cvx", 77));
}

}  // namespace
