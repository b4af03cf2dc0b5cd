// SPDX-License-Identifier: GPL-2.0-or-later
// CorvixDHCP against dnsmasq across a veth pair between two network
// namespaces. Each test runs as init of a private PID namespace (see
// CMakeLists.txt), so "killall" and the process scan see only its own.
#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

#include "dhcp_lab.h"

namespace {

// What each descriptor of a process refers to, by descriptor number.
std::vector<std::string> open_files(pid_t pid)
{
    std::vector<std::string> out;
    std::string dir = "/proc/" + std::to_string(pid) + "/fd/";
    for (int fd = 0; fd < 64; fd++) {
        char target[256];
        ssize_t n = readlink((dir + std::to_string(fd)).c_str(), target, sizeof target - 1);
        if (n < 0)
            continue;
        out.resize(size_t(fd) + 1);
        out[size_t(fd)] = std::string(target, size_t(n));
    }
    return out;
}

struct DhcpNetns : ::testing::Test {
    DhcpLab lab;
    std::string host_resolv;

    void SetUp() override
    {
        ASSERT_EQ(getuid(), 0u) << "these tests need root (namespaces, veth, addresses)";
        ASSERT_EQ(getpid(), 1) << "run through ctest: each test must be init of a private "
                                  "PID namespace (unshare --pid --fork --mount-proc)";
        host_resolv = lab_read_file("/etc/resolv.conf");
        std::string err = lab_up(&lab);
        ASSERT_EQ(err, "");
    }

    void TearDown() override
    {
        lab_down(&lab);
        EXPECT_EQ(lab_read_file("/etc/resolv.conf"), host_resolv) << "the machine's resolver changed";
    }

    // Runs the client and expects a lease; returns the one renewer's pid.
    pid_t obtain()
    {
        ClientRun run = lab_run_client(lab);
        EXPECT_EQ(run.status, 0) << run.output;
        std::vector<pid_t> renewers = lab_renewers();
        EXPECT_EQ(renewers.size(), 1u);
        return renewers.empty() ? -1 : renewers[0];
    }
};

TEST_F(DhcpNetns, ObtainsAndAppliesALeaseThenLeavesOneQuietRenewer)
{
    ASSERT_EQ(lab_start_dnsmasq(&lab, 600, {}), "");
    ClientRun run = lab_run_client(lab);
    EXPECT_EQ(run.status, 0);
    EXPECT_LT(run.ms, 5000);
    EXPECT_EQ(run.output, "");
    EXPECT_TRUE(run.output_closed) << "something kept the foreground's stdout or stderr open";

    std::string addrs = lab_client_addresses(lab);
    EXPECT_NE(addrs.find("inet 10.66.0."), std::string::npos) << addrs;
    EXPECT_NE(addrs.find("/24 brd 10.66.0.255"), std::string::npos) << addrs;
    EXPECT_NE(lab_client_default_routes(lab).find("default via 10.66.0.1 dev " + lab.client_if),
              std::string::npos);
    EXPECT_EQ(lab_read_file(lab.resolv_path), "# Written by CorvixDHCP\nnameserver 10.66.0.53\n");

    std::vector<pid_t> renewers = lab_renewers();
    ASSERT_EQ(renewers.size(), 1u);
    std::string proc = "/proc/" + std::to_string(renewers[0]);
    std::vector<std::string> fds = open_files(renewers[0]);
    ASSERT_GE(fds.size(), 3u);
    for (size_t fd = 0; fd < 3; fd++)
        EXPECT_EQ(fds[fd], "/dev/null") << fd;
    for (size_t fd = 3; fd < fds.size(); fd++)
        EXPECT_TRUE(fds[fd].rfind("socket:", 0) == 0 || fds[fd] == "anon_inode:[timerfd]" ||
                    fds[fd] == "anon_inode:[signalfd]")
            << "descriptor " << fd << " is " << fds[fd];
    EXPECT_LE(fds.size(), 7u); // packet socket, timer, log-off signals, stop socket
    EXPECT_EQ(lab_shell("readlink " + proc + "/cwd"), "/\n");
    EXPECT_EQ(lab_shell("awk '{print $6 == $1}' " + proc + "/stat"), "1\n") << "not a session leader";
    EXPECT_TRUE(lab_zombies().empty());
}

TEST_F(DhcpNetns, RenewsAtT1AndKeepsTheAddress)
{
    // dnsmasq keeps its own T1 for values below about five seconds.
    ASSERT_EQ(lab_start_dnsmasq(&lab, 600, {"--dhcp-option=option:T1,5", "--dhcp-option=option:T2,100"}), "");
    ASSERT_GT(obtain(), 0);
    std::string addrs = lab_client_addresses(lab);
    ASSERT_EQ(lab_log_count(lab, "DHCPACK("), 1);
    EXPECT_TRUE(lab_wait_for([&] { return lab_log_count(lab, "DHCPACK(") >= 2; }, 10000))
        << lab_read_file(lab.dir + "/dnsmasq.log");
    EXPECT_EQ(lab_log_count(lab, "DHCPDISCOVER("), 1); // a renewal, not a new lease
    // Only the first OFFER and ACK went out as broadcasts: the renewal was
    // sent to the server directly and answered the same way.
    EXPECT_EQ(lab_log_count(lab, "broadcast response"), 2);
    EXPECT_EQ(lab_client_addresses(lab), addrs);
    EXPECT_EQ(lab_renewers().size(), 1u);
}

TEST_F(DhcpNetns, NakForAForeignAddressGivesWayToANewLease)
{
    ASSERT_EQ(lab_start_dnsmasq(&lab, 600, {"--dhcp-authoritative"}), "");
    std::string ns = "ip -n " + lab.client_ns + " ";
    ASSERT_EQ(std::system((ns + "addr add 10.99.0.5/24 dev " + lab.client_if).c_str()), 0);
    ASSERT_EQ(std::system((ns + "route add default via 10.99.0.1").c_str()), 0);
    ASSERT_GT(obtain(), 0);
    EXPECT_GE(lab_log_count(lab, "DHCPNAK("), 1);
    std::string addrs = lab_client_addresses(lab);
    EXPECT_EQ(addrs.find("10.99.0.5"), std::string::npos) << addrs;
    EXPECT_NE(addrs.find("inet 10.66.0."), std::string::npos) << addrs;
    std::string routes = lab_client_default_routes(lab);
    EXPECT_EQ(routes.find("10.99.0.1"), std::string::npos) << routes;
    EXPECT_NE(routes.find("default via 10.66.0.1"), std::string::npos) << routes;
}

TEST_F(DhcpNetns, SilentServerGivesUpWithinTheBound)
{
    ClientRun run = lab_run_client(lab);
    EXPECT_EQ(run.status, 1);
    EXPECT_GE(run.ms, 29000);
    EXPECT_LE(run.ms, 33000);
    EXPECT_NE(run.output.find("no answer"), std::string::npos) << run.output;
    EXPECT_TRUE(lab_renewers().empty());
    EXPECT_EQ(lab_client_addresses(lab), "");
}

// Log-off and a killed window end the renewer with SIGTERM: the port no
// longer lets the address through, so the lease goes back and the address
// and its route come off the interface.
TEST_F(DhcpNetns, KillallGivesTheLeaseBackAndTakesTheAddressOff)
{
    ASSERT_EQ(lab_start_dnsmasq(&lab, 600, {}), "");
    pid_t renewer = obtain();
    ASSERT_GT(renewer, 0);
    ASSERT_NE(lab_client_addresses(lab).find("inet 10.66.0."), std::string::npos);
    ASSERT_EQ(std::system("killall CorvixDHCP >/dev/null 2>&1"), 0);
    EXPECT_TRUE(lab_reap(renewer, 1000)) << "still running after SIGTERM";
    EXPECT_TRUE(lab_renewers().empty());
    EXPECT_EQ(lab_client_addresses(lab), "");
    EXPECT_EQ(lab_client_default_routes(lab), "");
    EXPECT_TRUE(lab_wait_for([&] { return lab_log_count(lab, "DHCPRELEASE(") == 1; }, 2000))
        << lab_read_file(lab.dir + "/dnsmasq.log");
    EXPECT_EQ(lab_log_count(lab, "unknown lease"), 0) << "released a lease the server did not know";
}

// A log-on after the link came back runs killall and at once a new run,
// which may read the address before the old renewer takes it off: the
// address it applies must stay.
TEST_F(DhcpNetns, KillallThenANewRunLeavesTheNewLeaseOn)
{
    ASSERT_EQ(lab_start_dnsmasq(&lab, 600, {}), "");
    pid_t first = obtain();
    ASSERT_GT(first, 0);
    ASSERT_EQ(std::system("killall CorvixDHCP >/dev/null 2>&1"), 0);
    ClientRun again = lab_run_client(lab);
    EXPECT_EQ(again.status, 0) << again.output;
    EXPECT_TRUE(lab_reap(first, 1000));
    ASSERT_EQ(lab_renewers().size(), 1u);
    usleep(1000 * 1000); // past the old renewer's longest wait for its release
    EXPECT_NE(lab_client_addresses(lab).find("inet 10.66.0."), std::string::npos) << lab_client_addresses(lab);
    EXPECT_NE(lab_client_default_routes(lab).find("default via 10.66.0.1"), std::string::npos);
}

TEST_F(DhcpNetns, SecondRunOnAHeldLeaseKeepsItAndReplacesTheRenewer)
{
    ASSERT_EQ(lab_start_dnsmasq(&lab, 600, {}), "");
    pid_t first = obtain();
    ASSERT_GT(first, 0);
    std::string addrs = lab_client_addresses(lab);
    ClientRun again = lab_run_client(lab);
    EXPECT_EQ(again.status, 0) << again.output;
    EXPECT_LT(again.ms, 1500);
    EXPECT_TRUE(lab_reap(first, 1000)) << "the first renewer still runs";
    std::vector<pid_t> renewers = lab_renewers();
    ASSERT_EQ(renewers.size(), 1u);
    EXPECT_NE(renewers[0], first);
    EXPECT_EQ(lab_client_addresses(lab), addrs);
    EXPECT_EQ(lab_log_count(lab, "DHCPDISCOVER("), 1); // the second run asked to keep it
    EXPECT_EQ(lab_log_count(lab, "DHCPACK("), 2);
}

TEST_F(DhcpNetns, OnlyRootCanEndTheRenewerThroughItsSocket)
{
    ASSERT_EQ(lab_start_dnsmasq(&lab, 600, {}), "");
    pid_t renewer = obtain();
    ASSERT_GT(renewer, 0);
    std::string path = lab_stop_socket_path(lab);
    struct stat dir{}, sock{};
    ASSERT_EQ(lstat("/run/corvix", &dir), 0);
    EXPECT_TRUE(S_ISDIR(dir.st_mode) && dir.st_uid == 0 && (dir.st_mode & 07777) == 0700)
        << std::oct << dir.st_mode << " owner " << std::dec << dir.st_uid;
    ASSERT_EQ(lstat(path.c_str(), &sock), 0) << path;
    EXPECT_TRUE(S_ISSOCK(sock.st_mode) && sock.st_uid == 0);
    EXPECT_FALSE(lab_connect_as(lab, 65534, path, 300)) << "nobody reached the stop socket";
    EXPECT_FALSE(lab_reap(renewer, 300)) << "a user who is not root ended the renewer";
    ASSERT_TRUE(lab_connect_as(lab, 0, path, 300));
    EXPECT_TRUE(lab_reap(renewer, 1000));
}

TEST_F(DhcpNetns, AUsersSquatBeforeTheFirstRunHoldsNothingUp)
{
    ASSERT_EQ(lab_start_dnsmasq(&lab, 600, {}), "");
    std::string held;
    pid_t squatter = lab_squat_as(lab, 65534, {"CorvixDHCP/" + lab.client_if, lab_stop_socket_path(lab)}, &held);
    ASSERT_GT(squatter, 0);
    EXPECT_EQ(held, "10") << "the old abstract name is anyone's; root's folder is not";
    ClientRun run = lab_run_client(lab);
    kill(squatter, SIGKILL);
    EXPECT_TRUE(lab_reap(squatter, 1000));
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_LT(run.ms, 5000);
    EXPECT_EQ(lab_renewers().size(), 1u);
    struct stat sock{};
    EXPECT_TRUE(lstat(lab_stop_socket_path(lab).c_str(), &sock) == 0 && S_ISSOCK(sock.st_mode));
}

// A later run stops the renewer and takes its place in the usual time,
// whatever holds the names it could have waited on.
struct Squat {
    const char *what;
    uid_t uid;
    bool path_freed;      // the renewer's stop socket is unlinked first, as if it had been killed
    const char *held;     // what it manages to bind and fill
    bool first_replaced;  // the first renewer is gone and one new one runs
};

void PrintTo(const Squat &q, std::ostream *os) { *os << q.what; }

class DhcpSquat : public DhcpNetns, public ::testing::WithParamInterface<Squat> {};

TEST_P(DhcpSquat, NothingBoundBesideTheRenewerHoldsUpTheNextRun)
{
    const Squat &q = GetParam();
    ASSERT_EQ(lab_start_dnsmasq(&lab, 600, {}), "");
    pid_t first = obtain();
    ASSERT_GT(first, 0);
    std::string path = lab_stop_socket_path(lab);
    // The name the stop socket had before, and the one it has.
    std::vector<std::string> names{"CorvixDHCP/" + lab.client_if, path};
    if (q.path_freed) {
        ASSERT_EQ(unlink(path.c_str()), 0);
    }
    std::string held;
    pid_t squatter = lab_squat_as(lab, q.uid, names, &held);
    ASSERT_GT(squatter, 0);
    EXPECT_EQ(held, q.held) << q.what;

    ClientRun again = lab_run_client(lab);
    kill(squatter, SIGKILL);
    EXPECT_TRUE(lab_reap(squatter, 1000));
    EXPECT_EQ(again.status, 0) << again.output;
    EXPECT_LT(again.ms, q.first_replaced ? 1500 : 2500) << q.what;
    if (q.first_replaced) {
        EXPECT_TRUE(lab_reap(first, 1000)) << "the first renewer still runs";
        std::vector<pid_t> renewers = lab_renewers();
        ASSERT_EQ(renewers.size(), 1u);
        EXPECT_NE(renewers[0], first);
    } else {
        // The first one could not be reached, so it stays; the new one runs beside it.
        EXPECT_EQ(lab_renewers().size(), 2u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Squatters, DhcpSquat,
    ::testing::Values(Squat{"nobody on the abstract name and in root's folder", 65534, false, "10", true},
                      Squat{"root's own stuck listener at the stop path", 0, true, "11", false}),
    [](const ::testing::TestParamInfo<Squat> &i) { return i.param.uid ? std::string("User") : std::string("RootStuck"); });

TEST_F(DhcpNetns, RenewerEndsWhenItsInterfaceIsGone)
{
    ASSERT_EQ(lab_start_dnsmasq(&lab, 600, {}), "");
    pid_t renewer = obtain();
    ASSERT_GT(renewer, 0);
    ASSERT_EQ(std::system(("ip -n " + lab.client_ns + " link del " + lab.client_if).c_str()), 0);
    // It ends within milliseconds alone, but more than 2 s has been seen in full
    // runs beside builds (its last route and address requests can wait behind the
    // other tests' namespace teardown). A renewer that stays would stay for good,
    // so a wider bound tells the two apart as well.
    EXPECT_TRUE(lab_reap(renewer, 15000));
}

// dnsmasq grants two minutes at the least, so this test waits that long.
TEST_F(DhcpNetns, ExpiredLeaseTakesAddressAndRouteOff)
{
    ASSERT_EQ(lab_start_dnsmasq(&lab, 120, {"--dhcp-option=option:T1,5", "--dhcp-option=option:T2,10"}), "");
    pid_t renewer = obtain();
    ASSERT_GT(renewer, 0);
    lab_stop_dnsmasq(&lab);
    auto bound = [&] { return lab_client_addresses(lab).find("inet 10.66.0.") != std::string::npos; };
    ASSERT_TRUE(bound());
    // The 120 s lease ends on the renewer's timer; a loaded machine (the whole suite in
    // parallel) has been seen to need more than 10 s of slack.
    EXPECT_TRUE(lab_wait_for([&] { return !bound(); }, 150000)) << "address kept past the lease";
    EXPECT_EQ(lab_client_default_routes(lab), "");
    EXPECT_EQ(lab_renewers().size(), 1u) << "the renewer looks for a new lease";
}

} // namespace
