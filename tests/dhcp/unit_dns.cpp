// SPDX-License-Identifier: GPL-2.0-or-later
// Where the name servers go: the choice of the way, the command lines for
// each, the domain taken from a reply, the links the resolver file may be
// written through, and the hand-over's life with stand-in managers (scripts
// that record how they were called). The real managers: nameservers_test.sh.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "dhcp_apply.h"
#include "dhcp_dns.h"
#include "dhcp_session.h"
#include "dhcp_packet.h"
#include "dhcp_test_util.h"

namespace {

const uint8_t MAC[6] = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};

std::string read_file(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct TempDir {
    std::string path;
    TempDir()
    {
        char tmpl[] = "/tmp/corvixdhcp-dns-XXXXXX";
        path = mkdtemp(tmpl) ? tmpl : "";
    }
    ~TempDir() { (void)std::system(("rm -rf '" + path + "'").c_str()); }
};

DhcpLease lease_with(std::initializer_list<uint32_t> servers, const char *domain)
{
    DhcpLease l{};
    for (uint32_t s : servers)
        l.dns[l.dns_count++] = s;
    std::strncpy(l.domain, domain, DHCP_MAX_DOMAIN);
    return l;
}

TEST(DnsWay, ResolvedFirstThenResolvconfThenTheFile)
{
    struct Row {
        bool dir, bus;
        const char *resolvectl, *resolvconf;
        DnsWay way;
    } rows[] = {
        {true, false, "/usr/bin/resolvectl", "", DNS_RESOLVED},
        {false, true, "/usr/bin/resolvectl", "/sbin/resolvconf", DNS_RESOLVED},
        {true, true, "", "/sbin/resolvconf", DNS_RESOLVCONF}, // no resolvectl to hand them with
        {false, false, "/usr/bin/resolvectl", "/sbin/resolvconf", DNS_RESOLVCONF},
        {false, false, "/usr/bin/resolvectl", "", DNS_FILE}, // installed, not running
        {true, false, "", "", DNS_FILE},
    };
    for (const Row &r : rows) {
        DnsProbe p;
        p.resolved_dir = r.dir;
        p.resolved_on_bus = r.bus;
        p.resolvectl = r.resolvectl;
        p.resolvconf = r.resolvconf;
        EXPECT_EQ(dns_choose(p), r.way) << r.dir << r.bus << r.resolvectl << "|" << r.resolvconf;
    }
}

TEST(DnsWay, CommandLinesOfEachWay)
{
    DnsProbe p;
    p.resolvectl = "/usr/bin/resolvectl";
    p.resolvconf = "/sbin/resolvconf";
    DhcpLease two = lease_with({0x0a420035, 0x0a420036}, "lab.test");
    auto argv_of = [](const std::vector<DnsCommand> &cs) {
        std::string out;
        for (const DnsCommand &c : cs) {
            for (const std::string &a : c.argv)
                out += "[" + a + "]";
            out += c.input.empty() ? ";" : " <" + c.input + ";";
        }
        return out;
    };
    EXPECT_EQ(argv_of(dns_hand_commands(DNS_RESOLVED, p, "eth1", two)),
              "[/usr/bin/resolvectl][dns][eth1][10.66.0.53][10.66.0.54];"
              "[/usr/bin/resolvectl][domain][eth1][lab.test];");
    EXPECT_EQ(argv_of(dns_hand_commands(DNS_RESOLVED, p, "eth1", lease_with({0x0a420035}, ""))),
              "[/usr/bin/resolvectl][dns][eth1][10.66.0.53];[/usr/bin/resolvectl][domain][eth1][];");
    EXPECT_EQ(argv_of(dns_take_back_commands(DNS_RESOLVED, p, "eth1")),
              "[/usr/bin/resolvectl][revert][eth1];");
    EXPECT_EQ(argv_of(dns_hand_commands(DNS_RESOLVCONF, p, "eth1", two)),
              "[/sbin/resolvconf][-a][eth1.corvix] <" + dhcp_resolv_conf_text(two) + ";");
    EXPECT_EQ(argv_of(dns_take_back_commands(DNS_RESOLVCONF, p, "eth1")),
              "[/sbin/resolvconf][-d][eth1.corvix];");
    EXPECT_EQ(argv_of(dns_hand_commands(DNS_FILE, p, "eth1", two)), "");
    EXPECT_EQ(argv_of(dns_take_back_commands(DNS_FILE, p, "eth1")), "");
    // A lease without servers hands nothing over.
    for (DnsWay way : {DNS_RESOLVED, DNS_RESOLVCONF})
        EXPECT_TRUE(dns_hand_commands(way, p, "eth1", lease_with({}, "lab.test")).empty());
}

TEST(DnsDomain, OnlyPlainNamesAreTaken)
{
    struct Row {
        std::string option;
        std::string domain;
    } rows[] = {
        {"lab.test", "lab.test"},
        {std::string("campus-1.example_net\0\0", 22), "campus-1.example_net"},
        {"x", "x"},
        {"lab.test\nnameserver 192.0.2.66", ""}, // would add a line to the resolver file
        {"a b", ""},
        {".lab", ""},
        {"lab.", ""},
        {"lab..test", ""},
        {"-;rm", ""},
        {std::string(64, 'a'), std::string(64, 'a')},
        {std::string(65, 'a'), ""}, // longer than is kept
    };
    for (const Row &r : rows) {
        std::vector<uint8_t> opts = basic_options(DHCP_ACK);
        opts.push_back(15);
        opts.push_back(uint8_t(r.option.size()));
        opts.insert(opts.end(), r.option.begin(), r.option.end());
        opts.push_back(255);
        std::vector<uint8_t> p = make_reply(1, MAC, 0x0a000005, opts);
        DhcpReply reply{};
        ASSERT_EQ(dhcp_parse_payload(p.data(), p.size(), &reply), 1) << r.option;
        EXPECT_EQ(std::string(reply.domain), r.domain) << r.option;
        EXPECT_EQ(std::string(dhcp_lease_from_reply(reply).domain), r.domain);
    }
}

TEST(ResolvConfTarget, LinksMayLeadOnlyUnderEtcOrRun)
{
    TempDir t;
    ASSERT_FALSE(t.path.empty());
    std::string plain = t.path + "/plain";
    std::ofstream(plain) << "x\n";
    auto link_to = [&](const std::string &name, const std::string &to) {
        std::string at = t.path + "/" + name;
        EXPECT_EQ(symlink(to.c_str(), at.c_str()), 0) << at;
        return at;
    };
    // Counting the folders up to / makes a relative link that climbs to it.
    std::string up;
    for (char ch : t.path)
        up += ch == '/' ? "../" : "";
    struct Row {
        std::string path, target;
    } rows[] = {
        {plain, plain}, // no link: the path itself, wherever it is
        {t.path + "/missing", t.path + "/missing"},
        {link_to("to_tmp", plain), ""},
        {link_to("to_etc_missing", "/etc/corvix-no-such-file"), "/etc/corvix-no-such-file"},
        {link_to("to_run_rel", up + "run/corvix-no-such-file"), "/run/corvix-no-such-file"},
        {link_to("to_missing_dir", "/run/corvix-no-such-dir/resolv.conf"), ""},
        {link_to("chain", t.path + "/to_etc_missing"), "/etc/corvix-no-such-file"},
        {link_to("escape", "/etc/../tmp/x"), ""},
        {link_to("loop_a", t.path + "/loop_b"), ""},
        {link_to("loop_b", t.path + "/loop_a"), ""},
    };
    for (const Row &r : rows)
        EXPECT_EQ(resolv_conf_target(r.path.c_str()), r.target) << r.path;
    // A link in a folder that others may change is someone else's choice.
    std::string open_dir = t.path + "/open";
    ASSERT_EQ(mkdir(open_dir.c_str(), 0755), 0);
    std::string in_open = open_dir + "/resolv.conf";
    ASSERT_EQ(symlink("/etc/corvix-no-such-file", in_open.c_str()), 0);
    EXPECT_EQ(resolv_conf_target(in_open.c_str()), "/etc/corvix-no-such-file");
    for (mode_t mode : {01777, 0775, 0757}) {
        ASSERT_EQ(chmod(open_dir.c_str(), mode), 0);
        EXPECT_EQ(resolv_conf_target(in_open.c_str()), "") << std::oct << mode;
        EXPECT_EQ(resolv_conf_target((t.path + "/chain").c_str()), "/etc/corvix-no-such-file");
    }
    // A refused link writes nothing, neither the link nor where it leads.
    EXPECT_EQ(write_resolv_conf((t.path + "/to_tmp").c_str(), "nameserver 10.0.0.1\n"), 0);
    EXPECT_EQ(read_file(plain), "x\n");
    struct stat st;
    EXPECT_EQ(lstat((t.path + "/to_tmp").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
}

TEST(DnsRun, InputStatusTimeOutAndAFreshSignalMask)
{
    TempDir t;
    std::string got = t.path + "/got";
    sigset_t block, old;
    sigemptyset(&block);
    sigaddset(&block, SIGTERM);
    ASSERT_EQ(sigprocmask(SIG_BLOCK, &block, &old), 0);
    DnsCommand c{{"/bin/sh", "-c", "cat >'" + got + "'; grep SigBlk /proc/self/status >>'" + got +
                                       "'; echo \"$PATH\" >>'" + got + "'; exit 3"},
                 "nameserver 10.0.0.1\n"};
    EXPECT_EQ(dns_run(c, 5000), 3);
    ASSERT_EQ(sigprocmask(SIG_SETMASK, &old, nullptr), 0);
    EXPECT_EQ(read_file(got), "nameserver 10.0.0.1\nSigBlk:\t0000000000000000\n"
                              "/usr/sbin:/usr/bin:/sbin:/bin\n");
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(dns_run({{"/bin/sleep", "10"}, ""}, 200), -1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_EQ(dns_run({{t.path + "/no-such-program"}, ""}, 1000), -1);
}

// A stand-in manager: a script that appends its arguments and input to a log.
std::string stand_in(const TempDir &t, const std::string &name)
{
    std::string path = t.path + "/" + name;
    std::ofstream(path) << "#!/bin/sh\necho \"$*\" >>'" << t.path << "/calls'\n"
                        << "[ \"$1\" = -a ] && cat >>'" << t.path << "/calls'\nexit 0\n";
    chmod(path.c_str(), 0755);
    return path;
}

TEST(DnsState, HandsOverOnceTakesBackOnceAndFollowsChanges)
{
    TempDir t;
    struct Case {
        DnsWay way;
        std::string hand, renew_changed, take_back;
    } cases[] = {
        {DNS_RESOLVED, "dns cvd0 10.66.0.53\ndomain cvd0 lab.test\n",
         "dns cvd0 10.66.0.54\ndomain cvd0 \n", "revert cvd0\n"},
        {DNS_RESOLVCONF,
         "-a cvd0.corvix\n# Written by CorvixDHCP\nnameserver 10.66.0.53\nsearch lab.test\n",
         "-a cvd0.corvix\n# Written by CorvixDHCP\nnameserver 10.66.0.54\n", "-d cvd0.corvix\n"},
    };
    std::string calls = t.path + "/calls";
    for (const Case &k : cases) {
        DnsState s;
        s.chosen = true;
        s.way = k.way;
        s.probe.resolvectl = stand_in(t, "resolvectl");
        s.probe.resolvconf = stand_in(t, "resolvconf");
        std::string resolv = t.path + "/resolv.conf";
        std::ofstream(resolv) << "untouched\n";
        (void)unlink(calls.c_str());
        DhcpLease first = lease_with({0x0a420035}, "lab.test");
        EXPECT_EQ(dns_apply(&s, "cvd0", first, resolv.c_str()), 1);
        EXPECT_EQ(read_file(calls), k.hand) << k.way;
        EXPECT_EQ(dns_apply(&s, "cvd0", first, resolv.c_str()), 1);
        EXPECT_EQ(read_file(calls), k.hand) << "a renewal with the same servers calls again";
        (void)unlink(calls.c_str());
        EXPECT_EQ(dns_apply(&s, "cvd0", lease_with({0x0a420036}, ""), resolv.c_str()), 1);
        EXPECT_EQ(read_file(calls), k.renew_changed);
        (void)unlink(calls.c_str());
        dns_take_back(&s, "cvd0");
        dns_take_back(&s, "cvd0");
        EXPECT_EQ(read_file(calls), k.take_back) << "taken back once";
        EXPECT_EQ(read_file(resolv), "untouched\n") << "a manager's way writes no file";
    }
}

TEST(DnsState, TheFileWayWritesTheFileAndTakesNothingBack)
{
    TempDir t;
    DnsState s;
    s.chosen = true;
    s.way = DNS_FILE;
    s.probe.resolvconf = stand_in(t, "resolvconf");
    std::string resolv = t.path + "/resolv.conf";
    EXPECT_EQ(dns_apply(&s, "cvd0", lease_with({0x0a420035}, "lab.test"), resolv.c_str()), 1);
    EXPECT_EQ(read_file(resolv), "# Written by CorvixDHCP\nnameserver 10.66.0.53\nsearch lab.test\n");
    dns_take_back(&s, "cvd0");
    EXPECT_EQ(read_file(resolv), "# Written by CorvixDHCP\nnameserver 10.66.0.53\nsearch lab.test\n");
    EXPECT_EQ(read_file(t.path + "/calls"), "");
}

} // namespace

namespace {

// The end of a lease (the machine's remove action) takes the servers back.
TEST(DnsState, TheEndOfTheLeaseTakesThemBack)
{
    TempDir t;
    DhcpSession s{};
    s.ifname = "cvd0";
    s.ifindex = 0; // no such interface: only the name servers are looked at
    s.packet_fd = s.timer_fd = s.udp_fd = s.listen_fd = s.signal_fd = -1;
    s.dns.chosen = true;
    s.dns.way = DNS_RESOLVCONF;
    s.dns.probe.resolvconf = stand_in(t, "resolvconf");
    ASSERT_EQ(dns_apply(&s.dns, "cvd0", lease_with({0x0a420035}, ""), "/nonexistent"), 1);
    DhcpActions end{};
    end.remove = true;
    end.removed = lease_with({0x0a420035}, "");
    session_perform(&s, end);
    EXPECT_EQ(read_file(t.path + "/calls"),
              "-a cvd0.corvix\n# Written by CorvixDHCP\nnameserver 10.66.0.53\n-d cvd0.corvix\n");
    EXPECT_FALSE(s.dns.handed);
}

} // namespace
