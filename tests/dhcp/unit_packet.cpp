// SPDX-License-Identifier: GPL-2.0-or-later
// The DHCP payload: replies recorded from dnsmasq, malformed replies built
// by hand, and the messages the client builds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "dhcp_ipudp.h"
#include "dhcp_packet.h"
#include "dhcp_test_util.h"

namespace {

const uint8_t MAC[6] = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
constexpr uint32_t XID = 0x1234abcd;

DhcpReply parse_frame(std::vector<uint8_t> frame, bool *ok)
{
    const uint8_t *payload = nullptr;
    size_t len = 0;
    DhcpReply r{};
    *ok = ipudp_payload(frame.data(), frame.size(), 1, &payload, &len) &&
          dhcp_parse_payload(payload, len, &r);
    return r;
}

int parse(const std::vector<uint8_t> &payload)
{
    DhcpReply r;
    return dhcp_parse_payload(payload.data(), payload.size(), &r);
}

TEST(RecordedReplies, OfferFromDnsmasqWithOurXidAndAddress)
{
    std::vector<uint8_t> frame = load_recorded("dnsmasq_offer.hex");
    patch_reply(frame, XID, MAC);
    bool ok = false;
    DhcpReply r = parse_frame(frame, &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(r.type, DHCP_OFFER);
    EXPECT_EQ(r.xid, XID);
    EXPECT_EQ(0, std::memcmp(r.chaddr, MAC, 6));
    EXPECT_EQ(r.yiaddr, 0x0a420011u);
    EXPECT_EQ(r.server_id, 0x0a420001u);
    EXPECT_TRUE(r.has_subnet_mask);
    EXPECT_EQ(r.subnet_mask, 0xffffff00u);
    EXPECT_EQ(r.lease_time, 120u);
    EXPECT_EQ(r.t1, 60u);
    EXPECT_EQ(r.t2, 105u);
    ASSERT_EQ(r.router_count, 1);
    EXPECT_EQ(r.routers[0], 0x0a420001u);
    ASSERT_EQ(r.dns_count, 1);
    EXPECT_EQ(r.dns[0], 0x0a420035u);
    EXPECT_EQ(r.mtu, 0);
}

TEST(RecordedReplies, AckAndNakFromDnsmasq)
{
    std::vector<uint8_t> ack = load_recorded("dnsmasq_ack.hex");
    std::vector<uint8_t> nak = load_recorded("dnsmasq_nak.hex");
    patch_reply(ack, XID, MAC);
    patch_reply(nak, XID + 1, MAC);
    bool ok_ack = false, ok_nak = false;
    DhcpReply a = parse_frame(ack, &ok_ack);
    DhcpReply n = parse_frame(nak, &ok_nak);
    ASSERT_TRUE(ok_ack);
    ASSERT_TRUE(ok_nak);
    EXPECT_EQ(a.type, DHCP_ACK);
    EXPECT_TRUE(a.has_lease_time);
    EXPECT_EQ(n.type, DHCP_NAK);
    EXPECT_EQ(n.xid, XID + 1);
    EXPECT_EQ(n.server_id, 0x0a420001u);
    EXPECT_EQ(n.yiaddr, 0u);
}

// A local or veth sender leaves the UDP checksum to the hardware: the
// recording carries only the pseudo-header sum, and the kernel says so.
TEST(RecordedReplies, ChecksumLeftToHardwareIsAcceptedOnlyWhenFlagged)
{
    std::vector<uint8_t> frame = load_recorded("dnsmasq_ack.hex");
    ASSERT_FALSE(udp_sum_ok(frame));
    const uint8_t *payload = nullptr;
    size_t len = 0;
    EXPECT_EQ(0, ipudp_payload(frame.data(), frame.size(), 1, &payload, &len));
    EXPECT_EQ(1, ipudp_payload(frame.data(), frame.size(), 0, &payload, &len));
    EXPECT_EQ(len, 300u);
}

TEST(RecordedReplies, EveryTruncationIsRejectedOrStopsAtAnOptionBoundary)
{
    std::vector<uint8_t> full = payload_of(load_recorded("dnsmasq_ack.hex"));
    // Option boundaries of the recording: after each whole option.
    std::vector<size_t> whole;
    for (size_t i = 240; i < full.size() && full[i] != 255; i += 2 + full[i + 1])
        whole.push_back(i + 2 + full[i + 1]);
    for (size_t k = 0; k < full.size(); k++) {
        std::vector<uint8_t> cut(full.begin(), full.begin() + long(k));
        bool at_boundary = k >= 240 + 9 && // message type and server id present
                           (std::find(whole.begin(), whole.end(), k) != whole.end() || k > whole.back());
        EXPECT_EQ(parse(cut), at_boundary ? 1 : 0) << "cut at " << k;
    }
}

TEST(MalformedReplies, HeaderFieldsAndMagic)
{
    std::vector<uint8_t> good = make_reply(XID, MAC, 0x0a000005, basic_options(DHCP_OFFER));
    good.push_back(255);
    ASSERT_EQ(parse(good), 1);
    for (size_t at : {size_t(0), size_t(1), size_t(2), size_t(236), size_t(239)}) {
        std::vector<uint8_t> bad = good;
        bad[at] ^= 0x40;
        EXPECT_EQ(parse(bad), 0) << "byte " << at;
    }
}

TEST(MalformedReplies, OptionsThatBreakTheRules)
{
    const std::vector<std::vector<uint8_t>> bad = {
        {53, 1, DHCP_OFFER, 54, 4, 10, 0, 0},       // runs past the end
        {53, 1, DHCP_OFFER},                          // no server identifier
        {53, 2, DHCP_OFFER, 0, 54, 4, 10, 0, 0, 1},   // message type of two bytes
        {53, 1, DHCP_REQUEST, 54, 4, 10, 0, 0, 1},    // not a server's message
        {53, 1, 9, 54, 4, 10, 0, 0, 1},               // unknown message type
        {53, 1, DHCP_OFFER, 54, 3, 10, 0, 0},         // short server identifier
        {53, 1, DHCP_OFFER, 54, 4, 10, 0, 0, 1, 1, 4, 255, 0, 255, 0}, // holes in the mask
        {53, 1, DHCP_OFFER, 54, 4, 10, 0, 0, 1, 1, 4, 0, 0, 0, 0},     // empty mask
        {53, 1, DHCP_OFFER, 54, 4, 10, 0, 0, 1, 3, 5, 10, 0, 0, 1, 2}, // router list of 5 bytes
        {53, 1, DHCP_OFFER, 54, 4, 10, 0, 0, 1, 51, 2, 0, 1},          // short lease time
        {53, 1, DHCP_OFFER, 54, 4, 10, 0, 0, 1, 26, 1, 5},             // one-byte MTU
        {53, 1, DHCP_OFFER, 54, 4, 10, 0, 0, 1, 52, 1, 4},             // overload of nothing
        {53, 1, DHCP_OFFER, 53, 1, DHCP_OFFER, 54, 4, 10, 0, 0, 1},    // type given twice
        {53},                                                          // code without length
    };
    for (size_t i = 0; i < bad.size(); i++)
        EXPECT_EQ(parse(make_reply(XID, MAC, 0x0a000005, bad[i])), 0) << "case " << i;
}

TEST(MalformedReplies, OfferOfAnAddressNoHostMayUse)
{
    for (uint32_t yiaddr : {0u, 0x7f000001u, 0xe0000001u, 0xffffffffu, 0x00000005u}) {
        std::vector<uint8_t> offer = make_reply(XID, MAC, yiaddr, basic_options(DHCP_OFFER));
        EXPECT_EQ(parse(offer), 0) << std::hex << yiaddr;
    }
    // A NAK carries no address at all.
    EXPECT_EQ(parse(make_reply(XID, MAC, 0, basic_options(DHCP_NAK))), 1);
}

TEST(OptionLayout, PadsOverloadAndSplitOptions)
{
    // Pads between options, the DNS list split in two pieces (RFC 3396),
    // and the lease time carried in the overloaded file field.
    std::vector<uint8_t> opts = basic_options(DHCP_ACK);
    opts.insert(opts.end(), {0, 0, 6, 4, 10, 0, 0, 53, 52, 1, 1, 0, 6, 4, 10, 0, 0, 54, 255});
    std::vector<uint8_t> p = make_reply(XID, MAC, 0x0a000005, opts);
    const uint8_t in_file[] = {51, 4, 0, 0, 0x0e, 0x10, 255};
    std::memcpy(p.data() + 108, in_file, sizeof in_file);
    DhcpReply r{};
    ASSERT_EQ(dhcp_parse_payload(p.data(), p.size(), &r), 1);
    ASSERT_EQ(r.dns_count, 2);
    EXPECT_EQ(r.dns[0], 0x0a000035u);
    EXPECT_EQ(r.dns[1], 0x0a000036u);
    EXPECT_TRUE(r.has_lease_time);
    EXPECT_EQ(r.lease_time, 3600u);
    // Without the overload option the file field is only a file name.
    const size_t overload_at = 240 + 9 + 2 + 6; // after type, server id, pads, DNS part
    ASSERT_EQ(p[overload_at], 52);
    p[overload_at] = p[overload_at + 1] = p[overload_at + 2] = 0; // now pads
    ASSERT_EQ(dhcp_parse_payload(p.data(), p.size(), &r), 1);
    EXPECT_FALSE(r.has_lease_time);
}

TEST(OptionLayout, LongListsKeepTheFirstAddresses)
{
    std::vector<uint8_t> opts = basic_options(DHCP_ACK);
    opts.push_back(6);
    opts.push_back(40);
    for (uint8_t i = 0; i < 10; i++)
        opts.insert(opts.end(), {10, 0, 1, i});
    opts.push_back(255);
    DhcpReply r{};
    std::vector<uint8_t> p = make_reply(XID, MAC, 0x0a000005, opts);
    ASSERT_EQ(dhcp_parse_payload(p.data(), p.size(), &r), 1);
    ASSERT_EQ(r.dns_count, DHCP_MAX_DNS);
    EXPECT_EQ(r.dns[2], 0x0a000102u);
}

// Offsets of the options the client wrote, by code.
std::vector<uint8_t> option(const uint8_t *p, size_t len, uint8_t code)
{
    for (size_t i = 240; i < len && p[i] != 255; i += 2 + p[i + 1])
        if (p[i] == code)
            return std::vector<uint8_t>(p + i + 2, p + i + 2 + p[i + 1]);
    return {};
}

TEST(ClientMessages, DiscoverCarriesIdentityFlagAndParameterList)
{
    uint8_t buf[DHCP_PAYLOAD_BUFSIZE];
    DhcpOutgoing msg{DHCP_DISCOVER, XID, 3, 0, 0, 0, true};
    size_t n = dhcp_build_payload(buf, sizeof buf, msg, MAC);
    ASSERT_EQ(n, DHCP_PAYLOAD_MIN);
    EXPECT_EQ(buf[0], 1);
    EXPECT_EQ(buf[1], 1);
    EXPECT_EQ(buf[2], 6);
    EXPECT_EQ(0, std::memcmp(buf + 4, "\x12\x34\xab\xcd", 4));
    EXPECT_EQ(buf[9], 3);
    EXPECT_EQ(buf[10], 0x80);
    EXPECT_EQ(0, std::memcmp(buf + 28, MAC, 6));
    EXPECT_EQ(0, std::memcmp(buf + 236, "\x63\x82\x53\x63", 4));
    EXPECT_EQ(option(buf, n, 53), std::vector<uint8_t>{DHCP_DISCOVER});
    EXPECT_EQ(option(buf, n, 61), (std::vector<uint8_t>{1, 0x02, 0x11, 0x22, 0x33, 0x44, 0x55}));
    EXPECT_EQ(option(buf, n, 55), (std::vector<uint8_t>{1, 3, 6, 51, 58, 59, 26, 15}));
    EXPECT_TRUE(option(buf, n, 50).empty());
    EXPECT_TRUE(option(buf, n, 54).empty());
    EXPECT_EQ(dhcp_build_payload(buf, DHCP_PAYLOAD_BUFSIZE - 1, msg, MAC), 0u);
}

TEST(ClientMessages, RequestsForSelectingAndRenewing)
{
    uint8_t buf[DHCP_PAYLOAD_BUFSIZE];
    DhcpOutgoing select{DHCP_REQUEST, XID, 0, 0, 0x0a420011, 0x0a420001, true};
    size_t n = dhcp_build_payload(buf, sizeof buf, select, MAC);
    EXPECT_EQ(option(buf, n, 50), (std::vector<uint8_t>{10, 66, 0, 17}));
    EXPECT_EQ(option(buf, n, 54), (std::vector<uint8_t>{10, 66, 0, 1}));
    DhcpOutgoing renew{DHCP_REQUEST, XID, 0, 0x0a420011, 0, 0, false};
    n = dhcp_build_payload(buf, sizeof buf, renew, MAC);
    EXPECT_EQ(0, std::memcmp(buf + 12, "\x0a\x42\x00\x11", 4));
    EXPECT_EQ(buf[10], 0);
    EXPECT_TRUE(option(buf, n, 50).empty());
    EXPECT_TRUE(option(buf, n, 54).empty());
    // Our own message is never taken for a server's.
    DhcpReply r;
    EXPECT_EQ(dhcp_parse_payload(buf, n, &r), 0);
}

TEST(ClientMessages, ReleaseNamesTheServerAndAsksForNothing)
{
    uint8_t buf[DHCP_PAYLOAD_BUFSIZE];
    DhcpOutgoing release{DHCP_RELEASE, XID, 0, 0x0a420011, 0, 0x0a420001, false};
    size_t n = dhcp_build_payload(buf, sizeof buf, release, MAC);
    EXPECT_EQ(0, std::memcmp(buf + 12, "\x0a\x42\x00\x11", 4));
    EXPECT_EQ(buf[10], 0);
    EXPECT_EQ(option(buf, n, 53), std::vector<uint8_t>{DHCP_RELEASE});
    EXPECT_EQ(option(buf, n, 54), (std::vector<uint8_t>{10, 66, 0, 1}));
    EXPECT_EQ(option(buf, n, 61), (std::vector<uint8_t>{1, 0x02, 0x11, 0x22, 0x33, 0x44, 0x55}));
    EXPECT_TRUE(option(buf, n, 50).empty());
    EXPECT_TRUE(option(buf, n, 55).empty());
}

TEST(MaskPrefix, ContiguousMasksOnly)
{
    int prefix = -1;
    EXPECT_TRUE(dhcp_mask_prefix(0xffffff00, &prefix));
    EXPECT_EQ(prefix, 24);
    EXPECT_TRUE(dhcp_mask_prefix(0xffffffff, &prefix));
    EXPECT_EQ(prefix, 32);
    EXPECT_TRUE(dhcp_mask_prefix(0xfffffffe, &prefix));
    EXPECT_EQ(prefix, 31);
    EXPECT_FALSE(dhcp_mask_prefix(0xff00ff00, &prefix));
    EXPECT_FALSE(dhcp_mask_prefix(0x00ffffff, &prefix));
}

} // namespace
