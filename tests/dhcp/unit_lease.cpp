// SPDX-License-Identifier: GPL-2.0-or-later
// Leases derived from ACKs, and the resolver file written from them.
#include <gtest/gtest.h>

#include <cstring>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "dhcp_apply.h"
#include "dhcp_lease.h"

namespace {

DhcpReply ack_with(uint32_t yiaddr, uint32_t lease)
{
    DhcpReply r{};
    r.type = DHCP_ACK;
    r.yiaddr = yiaddr;
    r.server_id = 0x0a000001;
    r.has_lease_time = true;
    r.lease_time = lease;
    return r;
}

TEST(LeaseFromAck, TimersAsGivenOrRfcDefaults)
{
    DhcpReply r = ack_with(0x0a000005, 1000);
    DhcpLease l = dhcp_lease_from_reply(r);
    EXPECT_EQ(l.lease_s, 1000u);
    EXPECT_EQ(l.t1_s, 500u);
    EXPECT_EQ(l.t2_s, 875u);
    r.has_t1 = r.has_t2 = true;
    r.t1 = 100;
    r.t2 = 200;
    l = dhcp_lease_from_reply(r);
    EXPECT_EQ(l.t1_s, 100u);
    EXPECT_EQ(l.t2_s, 200u);
    r.t1 = 300; // after T2: not usable, half the lease is after T2 as well
    l = dhcp_lease_from_reply(r);
    EXPECT_EQ(l.t1_s, 200u);
    r.t1 = 100;
    r.t2 = 1000; // not before the end of the lease
    l = dhcp_lease_from_reply(r);
    EXPECT_EQ(l.t2_s, 875u);
    EXPECT_EQ(l.t1_s, 100u);
    r.t1 = 0; // zero would renew without pause
    l = dhcp_lease_from_reply(r);
    EXPECT_EQ(l.t1_s, 500u);
}

TEST(LeaseFromAck, InfiniteAndTinyLeases)
{
    DhcpLease l = dhcp_lease_from_reply(ack_with(0x0a000005, DHCP_INFINITE));
    EXPECT_EQ(l.lease_s, DHCP_INFINITE);
    EXPECT_EQ(l.t1_s, DHCP_INFINITE);
    EXPECT_EQ(l.t2_s, DHCP_INFINITE);
    l = dhcp_lease_from_reply(ack_with(0x0a000005, 0));
    EXPECT_EQ(l.lease_s, DHCP_MIN_LEASE);
    EXPECT_GT(l.t1_s, 0u);
    EXPECT_LT(l.t1_s, l.t2_s);
    DhcpReply r = ack_with(0x0a000005, 0);
    r.has_lease_time = false;
    EXPECT_EQ(dhcp_lease_from_reply(r).lease_s, DHCP_INFINITE);
}

TEST(LeaseFromAck, PrefixAndBroadcast)
{
    DhcpReply r = ack_with(0xc0a80117, 600); // 192.168.1.23
    r.has_subnet_mask = true;
    r.subnet_mask = 0xfffffe00;
    DhcpLease l = dhcp_lease_from_reply(r);
    EXPECT_EQ(l.prefix, 23);
    EXPECT_EQ(l.broadcast, 0xc0a801ffu);
    r.subnet_mask = 0xfffffffe;
    l = dhcp_lease_from_reply(r);
    EXPECT_EQ(l.prefix, 31);
    EXPECT_EQ(l.broadcast, 0u); // RFC 3021: a /31 has no broadcast address
    r.subnet_mask = 0xffffffff;
    EXPECT_EQ(dhcp_lease_from_reply(r).prefix, 32);
    // Without a mask: the address' class decides.
    r.has_subnet_mask = false;
    EXPECT_EQ(dhcp_lease_from_reply(r).prefix, 24);
    EXPECT_EQ(dhcp_lease_from_reply(ack_with(0x0a010203, 600)).prefix, 8);
    DhcpLease b = dhcp_lease_from_reply(ack_with(0xac100203, 600));
    EXPECT_EQ(b.prefix, 16);
    EXPECT_EQ(b.broadcast, 0xac10ffffu);
}

TEST(LeaseFromAck, RouterDnsAndMtu)
{
    DhcpReply r = ack_with(0x0a000005, 600);
    r.router_count = 2;
    r.routers[0] = 0x0a000001;
    r.routers[1] = 0x0a000002;
    r.dns_count = 3;
    r.dns[0] = 0x08080808;
    r.dns[1] = 0;
    r.dns[2] = 0x01010101;
    r.mtu = 1400;
    DhcpLease l = dhcp_lease_from_reply(r);
    EXPECT_EQ(l.router, 0x0a000001u);
    ASSERT_EQ(l.dns_count, 2);
    EXPECT_EQ(l.dns[1], 0x01010101u);
    EXPECT_EQ(l.mtu, 1400);
    r.mtu = 100; // below what every IPv4 host must accept
    EXPECT_EQ(dhcp_lease_from_reply(r).mtu, 0);
    r.router_count = 0;
    EXPECT_EQ(dhcp_lease_from_reply(r).router, 0u);
    // Routers no route can go through are passed over.
    r.router_count = 4;
    r.routers[0] = 0;
    r.routers[1] = 0x7f000001;
    r.routers[2] = 0xe0000001;
    r.routers[3] = 0x0a000009;
    EXPECT_EQ(dhcp_lease_from_reply(r).router, 0x0a000009u);
    r.router_count = 3;
    EXPECT_EQ(dhcp_lease_from_reply(r).router, 0u);
}

TEST(ResolvConf, TextFromTheLease)
{
    DhcpLease l{};
    EXPECT_EQ(dhcp_resolv_conf_text(l), "");
    l.dns_count = 2;
    l.dns[0] = 0x0a420035;
    l.dns[1] = 0xfffefdfc;
    EXPECT_EQ(dhcp_resolv_conf_text(l),
              "# Written by CorvixDHCP\nnameserver 10.66.0.53\nnameserver 255.254.253.252\n");
    std::strcpy(l.domain, "lab.test");
    EXPECT_EQ(dhcp_resolv_conf_text(l), "# Written by CorvixDHCP\nnameserver 10.66.0.53\n"
                                        "nameserver 255.254.253.252\nsearch lab.test\n");
}

std::string read_file(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(ResolvConf, ReplacedWholeAndOnlyWhenChanged)
{
    char dir[] = "/tmp/corvixdhcp-resolv-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string path = std::string(dir) + "/resolv.conf";
    std::ofstream(path) << "nameserver 192.0.2.1\nsearch example\n";
    struct stat before {};
    ASSERT_EQ(stat(path.c_str(), &before), 0);
    ASSERT_EQ(write_resolv_conf(path.c_str(), "nameserver 10.0.0.53\n"), 1);
    EXPECT_EQ(read_file(path), "nameserver 10.0.0.53\n");
    struct stat after {};
    ASSERT_EQ(stat(path.c_str(), &after), 0);
    // A new file took the name: a reader never sees half a text. (A file
    // mounted over the name is written in place: the lab's netns tests.)
    EXPECT_NE(before.st_ino, after.st_ino);
    EXPECT_EQ(after.st_mode & 07777, 0644u);
    // Unchanged text is not written again: renewals leave the file alone.
    const timespec old_times[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), old_times, 0), 0);
    EXPECT_EQ(write_resolv_conf(path.c_str(), "nameserver 10.0.0.53\n"), 1);
    ASSERT_EQ(stat(path.c_str(), &after), 0);
    EXPECT_EQ(after.st_mtim.tv_sec, 1000000000);
    EXPECT_EQ(write_resolv_conf(path.c_str(), "nameserver 10.0.0.54\n"), 1);
    ASSERT_EQ(stat(path.c_str(), &after), 0);
    EXPECT_NE(after.st_mtim.tv_sec, 1000000000);
    // Longer, then shorter again: nothing of an older text is left behind.
    std::string longer = "# Written by CorvixDHCP\nnameserver 10.0.0.53\nnameserver 10.0.0.54\n";
    ASSERT_EQ(write_resolv_conf(path.c_str(), longer), 1);
    EXPECT_EQ(read_file(path), longer);
    ASSERT_EQ(write_resolv_conf(path.c_str(), "nameserver 10.0.0.1\n"), 1);
    EXPECT_EQ(read_file(path), "nameserver 10.0.0.1\n");
    std::string fresh = std::string(dir) + "/fresh.conf";
    ASSERT_EQ(write_resolv_conf(fresh.c_str(), "nameserver 10.0.0.2\n"), 1);
    EXPECT_EQ(read_file(fresh), "nameserver 10.0.0.2\n");
    unlink(fresh.c_str());
    EXPECT_EQ(write_resolv_conf((std::string(dir) + "/missing/resolv.conf").c_str(), "x\n"), 0);
    unlink(path.c_str());
    rmdir(dir);
}

} // namespace
