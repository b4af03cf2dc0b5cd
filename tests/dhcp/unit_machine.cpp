// SPDX-License-Identifier: GPL-2.0-or-later
// The state machine of RFC 2131, driven by hand with the time, the replies
// and its own timer.
#include <gtest/gtest.h>

#include <cstring>

#include "dhcp_machine.h"

namespace {

const uint8_t MAC[6] = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
constexpr uint32_t SERVER = 0x0a420001, ADDR = 0x0a420011, OTHER_SERVER = 0x0a420002;

DhcpReply reply(const DhcpClient &c, uint8_t type, uint32_t server = SERVER)
{
    DhcpReply r{};
    r.type = type;
    r.xid = c.xid;
    std::memcpy(r.chaddr, c.mac, 6);
    r.yiaddr = type == DHCP_NAK ? 0 : ADDR;
    r.server_id = server;
    r.has_subnet_mask = true;
    r.subnet_mask = 0xffffff00;
    r.router_count = 1;
    r.routers[0] = SERVER;
    return r;
}

DhcpReply ack(const DhcpClient &c, uint32_t lease, uint32_t t1 = 0, uint32_t t2 = 0)
{
    DhcpReply r = reply(c, DHCP_ACK);
    r.has_lease_time = true;
    r.lease_time = lease;
    r.has_t1 = t1 != 0;
    r.t1 = t1;
    r.has_t2 = t2 != 0;
    r.t2 = t2;
    return r;
}

struct Machine : ::testing::Test {
    DhcpClient c;
    void SetUp() override { dhcp_client_init(&c, MAC, 42); }

    // A bound client at time 0 with the given lease (seconds).
    void bind_at_zero(uint32_t lease, uint32_t t1 = 0, uint32_t t2 = 0)
    {
        dhcp_start(&c, 0, nullptr, DHCP_GIVE_UP_MS);
        dhcp_on_reply(&c, 0, reply(c, DHCP_OFFER));
        DhcpActions a = dhcp_on_reply(&c, 0, ack(c, lease, t1, t2));
        ASSERT_TRUE(a.apply);
        ASSERT_EQ(c.state, DHCP_BOUND);
    }
};

TEST_F(Machine, DiscoverGoesOutAtOnceAsBroadcast)
{
    DhcpActions a = dhcp_start(&c, 1000, nullptr, DHCP_GIVE_UP_MS);
    ASSERT_TRUE(a.send);
    EXPECT_EQ(a.msg.type, DHCP_DISCOVER);
    EXPECT_TRUE(a.msg.broadcast_flag);
    EXPECT_FALSE(a.unicast);
    EXPECT_EQ(a.src_ip, 0u);
    EXPECT_EQ(a.dst_ip, DHCP_BROADCAST);
    EXPECT_EQ(a.msg.xid, c.xid);
    EXPECT_EQ(a.msg.secs, 0);
    EXPECT_GE(c.wake_at, 1000 + 3000);
    EXPECT_LE(c.wake_at, 1000 + 5000);
}

TEST_F(Machine, BackOffDoublesAndGivesUpAtTheBound)
{
    dhcp_start(&c, 0, nullptr, DHCP_GIVE_UP_MS);
    uint32_t xid = c.xid;
    std::vector<int64_t> sent_at = {0};
    int64_t now = 0;
    DhcpActions a{};
    while (!a.gave_up) {
        ASSERT_LT(now, 60000) << "never gave up";
        EXPECT_EQ(dhcp_on_timer(&c, c.wake_at - 1).send, false); // too early: nothing
        now = c.wake_at;
        a = dhcp_on_timer(&c, now);
        if (a.send) {
            EXPECT_EQ(a.msg.xid, xid);
            EXPECT_EQ(a.msg.secs, now / 1000);
            sent_at.push_back(now);
        }
    }
    EXPECT_EQ(now, DHCP_GIVE_UP_MS);
    EXPECT_EQ(c.state, DHCP_GAVE_UP);
    ASSERT_EQ(sent_at.size(), 4u); // about 0, 4, 12 and 28 s
    const int64_t gaps[] = {4000, 8000, 16000};
    for (size_t i = 0; i < 3; i++) {
        EXPECT_GE(sent_at[i + 1] - sent_at[i], gaps[i] - 1000) << i;
        EXPECT_LE(sent_at[i + 1] - sent_at[i], gaps[i] + 1000) << i;
    }
    EXPECT_EQ(c.wake_at, DHCP_NEVER);
    EXPECT_FALSE(dhcp_on_timer(&c, 100000).send);
}

TEST_F(Machine, RepliesOfOtherExchangesOrStatesAreIgnored)
{
    dhcp_start(&c, 0, nullptr, DHCP_GIVE_UP_MS);
    DhcpReply wrong_xid = reply(c, DHCP_OFFER);
    wrong_xid.xid ^= 1;
    DhcpReply wrong_mac = reply(c, DHCP_OFFER);
    wrong_mac.chaddr[5] ^= 1;
    for (const DhcpReply &r : {wrong_xid, wrong_mac, ack(c, 600), reply(c, DHCP_NAK)}) {
        DhcpActions a = dhcp_on_reply(&c, 10, r);
        EXPECT_FALSE(a.send || a.apply || a.remove);
        EXPECT_EQ(c.state, DHCP_SELECTING);
    }
}

TEST_F(Machine, OfferThenAckBindsAndAppliesTheLease)
{
    dhcp_start(&c, 0, nullptr, DHCP_GIVE_UP_MS);
    uint32_t xid = c.xid;
    DhcpActions a = dhcp_on_reply(&c, 5, reply(c, DHCP_OFFER));
    ASSERT_TRUE(a.send);
    EXPECT_EQ(c.state, DHCP_REQUESTING);
    EXPECT_EQ(a.msg.type, DHCP_REQUEST);
    EXPECT_EQ(a.msg.xid, xid);
    EXPECT_EQ(a.msg.requested_ip, ADDR);
    EXPECT_EQ(a.msg.server_id, SERVER);
    EXPECT_EQ(a.msg.ciaddr, 0u);
    EXPECT_TRUE(a.msg.broadcast_flag);
    // A second offer, or an ACK from a server we did not choose, changes nothing.
    EXPECT_FALSE(dhcp_on_reply(&c, 6, reply(c, DHCP_OFFER)).send);
    DhcpReply foreign = ack(c, 600);
    foreign.server_id = OTHER_SERVER;
    EXPECT_FALSE(dhcp_on_reply(&c, 6, foreign).apply);
    DhcpReply no_lease = ack(c, 600);
    no_lease.has_lease_time = false;
    EXPECT_FALSE(dhcp_on_reply(&c, 6, no_lease).apply);
    a = dhcp_on_reply(&c, 7, ack(c, 600));
    ASSERT_TRUE(a.apply);
    EXPECT_FALSE(a.has_previous);
    EXPECT_FALSE(a.send);
    EXPECT_EQ(a.applied.address, ADDR);
    EXPECT_EQ(a.applied.prefix, 24);
    EXPECT_EQ(c.state, DHCP_BOUND);
    EXPECT_EQ(c.wake_at, 7 + 300000);
}

TEST_F(Machine, UnansweredRequestsFallBackToDiscover)
{
    dhcp_start(&c, 0, nullptr, DHCP_NEVER);
    dhcp_on_reply(&c, 0, reply(c, DHCP_OFFER));
    uint32_t xid = c.xid;
    int requests = 1;
    DhcpActions a{};
    do {
        a = dhcp_on_timer(&c, c.wake_at);
        ASSERT_TRUE(a.send);
        requests += a.msg.type == DHCP_REQUEST;
    } while (a.msg.type == DHCP_REQUEST);
    EXPECT_EQ(requests, 4);
    EXPECT_EQ(a.msg.type, DHCP_DISCOVER);
    EXPECT_NE(c.xid, xid);
}

TEST_F(Machine, NakRestartsAndRepeatedNaksWait)
{
    dhcp_start(&c, 0, nullptr, DHCP_GIVE_UP_MS);
    dhcp_on_reply(&c, 0, reply(c, DHCP_OFFER));
    uint32_t xid = c.xid;
    DhcpReply nak_other = reply(c, DHCP_NAK, OTHER_SERVER);
    EXPECT_FALSE(dhcp_on_reply(&c, 1, nak_other).send); // not the chosen server
    DhcpActions a = dhcp_on_reply(&c, 1, reply(c, DHCP_NAK));
    ASSERT_TRUE(a.send);
    EXPECT_FALSE(a.remove);
    EXPECT_EQ(a.msg.type, DHCP_DISCOVER);
    EXPECT_NE(c.xid, xid);
    EXPECT_EQ(c.state, DHCP_SELECTING);
    // The same server refusing again: the next DISCOVER waits a second.
    dhcp_on_reply(&c, 2, reply(c, DHCP_OFFER));
    a = dhcp_on_reply(&c, 3, reply(c, DHCP_NAK));
    EXPECT_FALSE(a.send);
    EXPECT_EQ(c.wake_at, 3 + 1000);
    a = dhcp_on_timer(&c, 1003);
    ASSERT_TRUE(a.send);
    EXPECT_EQ(a.msg.type, DHCP_DISCOVER);
}

TEST_F(Machine, InitRebootKeepsOrDropsTheHeldAddress)
{
    DhcpLease held{};
    held.address = 0x0a630005;
    held.prefix = 24;
    DhcpActions a = dhcp_start(&c, 0, &held, DHCP_GIVE_UP_MS);
    ASSERT_TRUE(a.send);
    EXPECT_EQ(c.state, DHCP_INIT_REBOOT);
    EXPECT_EQ(a.msg.type, DHCP_REQUEST);
    EXPECT_EQ(a.msg.requested_ip, held.address);
    EXPECT_EQ(a.msg.server_id, 0u);
    EXPECT_EQ(a.msg.ciaddr, 0u);
    // Refused: the held address comes off and DISCOVER starts.
    a = dhcp_on_reply(&c, 3, reply(c, DHCP_NAK));
    ASSERT_TRUE(a.remove);
    EXPECT_EQ(a.removed.address, held.address);
    ASSERT_TRUE(a.send);
    EXPECT_EQ(a.msg.type, DHCP_DISCOVER);
    EXPECT_FALSE(c.has_lease);

    // Granted: the new lease replaces what the interface held.
    dhcp_client_init(&c, MAC, 7);
    dhcp_start(&c, 0, &held, DHCP_GIVE_UP_MS);
    a = dhcp_on_reply(&c, 2, ack(c, 600));
    ASSERT_TRUE(a.apply);
    ASSERT_TRUE(a.has_previous);
    EXPECT_EQ(a.previous.address, held.address);

    // Unanswered: after a second, DISCOVER; the held address goes only
    // when another lease takes its place.
    dhcp_client_init(&c, MAC, 9);
    dhcp_start(&c, 0, &held, DHCP_GIVE_UP_MS);
    EXPECT_EQ(c.wake_at, 1000);
    a = dhcp_on_timer(&c, 1000);
    EXPECT_EQ(a.msg.type, DHCP_DISCOVER);
    EXPECT_FALSE(a.remove);
    dhcp_on_reply(&c, 1100, reply(c, DHCP_OFFER));
    a = dhcp_on_reply(&c, 1200, ack(c, 600));
    ASSERT_TRUE(a.has_previous);
    EXPECT_EQ(a.previous.address, held.address);
}

TEST_F(Machine, RenewsByUnicastAtT1)
{
    bind_at_zero(120, 10, 100);
    uint32_t bound_xid = c.xid;
    EXPECT_EQ(c.wake_at, 10000);
    DhcpActions a = dhcp_on_timer(&c, 10000);
    ASSERT_TRUE(a.send);
    EXPECT_EQ(c.state, DHCP_RENEWING);
    EXPECT_TRUE(a.unicast);
    EXPECT_EQ(a.dst_ip, SERVER);
    EXPECT_EQ(a.src_ip, ADDR);
    EXPECT_EQ(a.msg.ciaddr, ADDR);
    EXPECT_FALSE(a.msg.broadcast_flag);
    EXPECT_EQ(a.msg.requested_ip, 0u);
    EXPECT_EQ(a.msg.server_id, 0u);
    EXPECT_NE(c.xid, bound_xid);
    EXPECT_EQ(c.wake_at, 70000); // at least a minute, but not past T2 (100 s)
    a = dhcp_on_reply(&c, 10050, ack(c, 120, 10, 100));
    ASSERT_TRUE(a.apply);
    ASSERT_TRUE(a.has_previous);
    EXPECT_EQ(c.state, DHCP_BOUND);
    EXPECT_EQ(c.wake_at, 20050);
}

TEST_F(Machine, RenewalRetriesWaitHalfTheTimeToT2)
{
    bind_at_zero(86400);
    dhcp_on_timer(&c, 43200000);
    EXPECT_EQ(c.wake_at, 43200000 + (75600000 - 43200000) / 2);
}

TEST_F(Machine, RebindsByBroadcastAtT2ThenDropsTheLeaseAtExpiry)
{
    bind_at_zero(120, 10, 100);
    dhcp_on_timer(&c, 10000);
    DhcpActions a = dhcp_on_timer(&c, 70000); // second unicast try
    EXPECT_TRUE(a.unicast);
    a = dhcp_on_timer(&c, 100000);
    ASSERT_TRUE(a.send);
    EXPECT_EQ(c.state, DHCP_REBINDING);
    EXPECT_FALSE(a.unicast);
    EXPECT_EQ(a.dst_ip, DHCP_BROADCAST);
    EXPECT_EQ(a.src_ip, ADDR);
    EXPECT_EQ(a.msg.ciaddr, ADDR);
    EXPECT_EQ(c.wake_at, 120000);
    c.give_up_at = DHCP_NEVER; // as in the background renewer
    a = dhcp_on_timer(&c, 120000);
    ASSERT_TRUE(a.remove);
    EXPECT_EQ(a.removed.address, ADDR);
    EXPECT_EQ(a.removed.router, SERVER);
    ASSERT_TRUE(a.send);
    EXPECT_EQ(a.msg.type, DHCP_DISCOVER);
    EXPECT_EQ(c.state, DHCP_SELECTING);
    // The renewer never gives up: DISCOVER goes on at most every 65 s.
    for (int i = 0; i < 10; i++) {
        int64_t before = c.wake_at;
        a = dhcp_on_timer(&c, c.wake_at);
        ASSERT_TRUE(a.send) << i;
        EXPECT_LE(c.wake_at - before, 65000);
    }
}

TEST_F(Machine, NakWhileRenewingDropsTheLease)
{
    bind_at_zero(120, 10, 100);
    dhcp_on_timer(&c, 10000);
    DhcpActions a = dhcp_on_reply(&c, 10010, reply(c, DHCP_NAK));
    ASSERT_TRUE(a.remove);
    EXPECT_EQ(a.removed.address, ADDR);
    EXPECT_EQ(a.msg.type, DHCP_DISCOVER);
    EXPECT_FALSE(c.has_lease);
}

TEST_F(Machine, InfiniteLeaseNeverWakes)
{
    bind_at_zero(DHCP_INFINITE);
    EXPECT_EQ(c.wake_at, DHCP_NEVER);
    EXPECT_FALSE(dhcp_on_timer(&c, int64_t(1) << 50).send);
    EXPECT_FALSE(dhcp_on_timer(&c, DHCP_NEVER).send); // no overflow at the clock's end
    EXPECT_EQ(c.state, DHCP_BOUND);
}

TEST_F(Machine, ReleaseGoesToTheGrantingServerAndTakesTheLeaseOff)
{
    bind_at_zero(120, 10, 100);
    dhcp_on_timer(&c, 10000); // renewing: the lease is still ours
    uint32_t renew_xid = c.xid;
    DhcpActions a = dhcp_release(&c, 20000);
    ASSERT_TRUE(a.send);
    EXPECT_EQ(a.msg.type, DHCP_RELEASE);
    EXPECT_TRUE(a.unicast);
    EXPECT_EQ(a.dst_ip, SERVER);
    EXPECT_EQ(a.src_ip, ADDR);
    EXPECT_EQ(a.msg.ciaddr, ADDR);
    EXPECT_EQ(a.msg.server_id, SERVER);
    EXPECT_EQ(a.msg.requested_ip, 0u);
    EXPECT_FALSE(a.msg.broadcast_flag);
    EXPECT_NE(a.msg.xid, renew_xid);
    ASSERT_TRUE(a.remove);
    EXPECT_EQ(a.removed.address, ADDR);
    EXPECT_EQ(a.removed.router, SERVER);
    EXPECT_FALSE(a.apply);
    EXPECT_FALSE(c.has_lease);
    // Released means done: no timer, and a late ACK puts nothing back.
    EXPECT_EQ(c.wake_at, DHCP_NEVER);
    EXPECT_FALSE(dhcp_on_timer(&c, 100000).send);
    EXPECT_FALSE(dhcp_on_reply(&c, 20010, ack(c, 120)).apply);
}

TEST_F(Machine, NothingToReleaseWithoutAGrantedLease)
{
    DhcpLease held{};
    held.address = ADDR;
    held.prefix = 24;
    dhcp_start(&c, 0, &held, DHCP_GIVE_UP_MS); // held from before, not granted yet
    DhcpActions a = dhcp_release(&c, 100);
    EXPECT_FALSE(a.send);
    EXPECT_FALSE(a.remove);
}

TEST_F(Machine, XidsDifferBetweenClients)
{
    DhcpClient other;
    dhcp_client_init(&other, MAC, 43);
    dhcp_start(&c, 0, nullptr, DHCP_GIVE_UP_MS);
    dhcp_start(&other, 0, nullptr, DHCP_GIVE_UP_MS);
    EXPECT_NE(c.xid, other.xid);
}

} // namespace
