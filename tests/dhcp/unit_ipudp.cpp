// SPDX-License-Identifier: GPL-2.0-or-later
// IPv4 and UDP around the DHCP payload: the frames we send carry right
// checksums, and received datagrams are checked before their payload is used.
#include <gtest/gtest.h>

#include <vector>

#include "dhcp_ipudp.h"
#include "dhcp_test_util.h"

namespace {

std::vector<uint8_t> wrapped(size_t payload_len, uint32_t src, uint32_t dst)
{
    std::vector<uint8_t> f(IPUDP_HEADER_LEN + payload_len);
    for (size_t i = 0; i < payload_len; i++)
        f[IPUDP_HEADER_LEN + i] = uint8_t(i * 7 + 1);
    size_t n = ipudp_wrap(f.data(), f.size(), payload_len, src, dst);
    EXPECT_EQ(n, f.size());
    return f;
}

// Turns a frame we built into one a server could have sent to port 68.
std::vector<uint8_t> as_reply(std::vector<uint8_t> f)
{
    std::swap(f[20], f[22]);
    std::swap(f[21], f[23]);
    fix_udp_sum(f);
    return f;
}

bool accepted(const std::vector<uint8_t> &f, size_t len, int check = 1)
{
    const uint8_t *p = nullptr;
    size_t n = 0;
    return ipudp_payload(f.data(), len, check, &p, &n) == 1;
}

TEST(IpUdpWrap, HeadersAndChecksums)
{
    std::vector<uint8_t> f = wrapped(301, 0, 0xffffffff); // odd length exercises the last byte
    EXPECT_EQ(f[0], 0x45);
    EXPECT_EQ(size_t(f[2] << 8 | f[3]), f.size());
    EXPECT_EQ(f[8], 64);
    EXPECT_EQ(f[9], 17);
    EXPECT_EQ(ref_checksum(f.data(), 20, 0), 0);
    EXPECT_EQ(std::vector<uint8_t>(f.begin() + 12, f.begin() + 20),
              (std::vector<uint8_t>{0, 0, 0, 0, 255, 255, 255, 255}));
    EXPECT_EQ(f[20] << 8 | f[21], 68);
    EXPECT_EQ(f[22] << 8 | f[23], 67);
    EXPECT_EQ(size_t(f[24] << 8 | f[25]), 8u + 301u);
    EXPECT_TRUE(udp_sum_ok(f));
    EXPECT_FALSE(f[26] == 0 && f[27] == 0);
    std::vector<uint8_t> renew = wrapped(300, 0x0a420011, 0x0a420001);
    EXPECT_EQ(ref_checksum(renew.data(), 20, 0), 0);
    EXPECT_TRUE(udp_sum_ok(renew));
    uint8_t small[40];
    EXPECT_EQ(ipudp_wrap(small, sizeof small, 13, 0, 0), 0u);
}

TEST(IpUdpPayload, AcceptsARightDatagramWithLinkPadding)
{
    std::vector<uint8_t> f = as_reply(wrapped(300, 0x0a420001, 0xffffffff));
    const uint8_t *p = nullptr;
    size_t n = 0;
    ASSERT_EQ(ipudp_payload(f.data(), f.size(), 1, &p, &n), 1);
    EXPECT_EQ(p, f.data() + 28);
    EXPECT_EQ(n, 300u);
    f.resize(f.size() + 20, 0); // Ethernet padding after the datagram
    ASSERT_EQ(ipudp_payload(f.data(), f.size(), 1, &p, &n), 1);
    EXPECT_EQ(n, 300u);
    f[26] = f[27] = 0; // no UDP checksum at all is allowed
    EXPECT_TRUE(accepted(f, f.size()));
}

TEST(IpUdpPayload, RejectsBrokenOrForeignDatagrams)
{
    const std::vector<uint8_t> good = as_reply(wrapped(300, 0x0a420001, 0xffffffff));
    struct Case {
        const char *what;
        size_t at;
        uint8_t value;
    } cases[] = {
        {"IPv6 version", 0, 0x65},      {"header too short", 0, 0x44},
        {"TCP", 9, 6},                  {"more fragments", 6, 0x20},
        {"fragment offset", 7, 0x01},
        {"to the server port", 23, 67}, {"UDP length too long", 24, 0x09},
        {"total length too long", 2, 0x09},
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> f = good;
        f[c.at] = c.value;
        if (c.at < 20 && c.at != 10) { // only the field under test may be wrong
            f[10] = f[11] = 0;
            uint16_t sum = ref_checksum(f.data(), 20, 0);
            f[10] = uint8_t(sum >> 8);
            f[11] = uint8_t(sum);
        }
        EXPECT_FALSE(accepted(f, f.size(), 0)) << c.what;
    }
    std::vector<uint8_t> f = good;
    f[24] = 0;
    f[25] = 4; // UDP length shorter than its own header
    EXPECT_FALSE(accepted(f, f.size(), 0));
    f = good;
    f[11] ^= 0xff; // header checksum
    EXPECT_FALSE(accepted(f, f.size(), 0));
    f = good;
    f[40] ^= 1; // payload changed, checksum stale
    EXPECT_FALSE(accepted(f, f.size(), 1));
    EXPECT_TRUE(accepted(f, f.size(), 0));
    for (size_t len = 0; len < good.size(); len++)
        EXPECT_FALSE(accepted(good, len)) << "truncated to " << len;
}

TEST(IpUdpPayload, HeaderWithOptions)
{
    std::vector<uint8_t> f = as_reply(wrapped(300, 0x0a420001, 0xffffffff));
    f.insert(f.begin() + 20, {1, 1, 1, 0}); // NOP, NOP, NOP, end of options
    f[0] = 0x46;
    size_t total = f.size();
    f[2] = uint8_t(total >> 8);
    f[3] = uint8_t(total);
    f[10] = f[11] = 0;
    uint16_t sum = ref_checksum(f.data(), 24, 0);
    f[10] = uint8_t(sum >> 8);
    f[11] = uint8_t(sum);
    const uint8_t *p = nullptr;
    size_t n = 0;
    ASSERT_EQ(ipudp_payload(f.data(), f.size(), 1, &p, &n), 1);
    EXPECT_EQ(p, f.data() + 32);
}

} // namespace
