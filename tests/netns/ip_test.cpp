// SPDX-License-Identifier: GPL-2.0-or-later
// Interface address queries against a veth pair with known addresses,
// inside a network namespace that the test creates and removes.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "auth/ip.h"
#include "support/netns.h"

namespace {

const uint8_t kMacA[6] = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
const uint8_t kMacB[6] = {0x02, 0x11, 0x22, 0x33, 0x44, 0x66};

class IpTest : public ::testing::Test {
  protected:
    TestNetns net{"ip", kMacA, kMacB};
    std::unique_ptr<NetnsEntered> inside;

    void SetUp() override
    {
        ASSERT_EQ(net.exec("ip link add abcdefghijklmno type veth peer name ipc"), 0);  // 15 characters
        ASSERT_EQ(net.exec("ip link set abcdefghijklmno address 02:0f:0f:0f:0f:0f"), 0);
        ASSERT_EQ(net.exec("ip addr add 192.168.1.5/24 dev abcdefghijklmno"), 0);
        ASSERT_EQ(net.exec("ip addr add 10.20.30.40/8 dev " + net.end_b), 0);
        inside = std::make_unique<NetnsEntered>(net);
    }
};

TEST_F(IpTest, ReadsHardwareAddressesInWireOrder)
{
    uint8_t mac[6] = {};
    ASSERT_EQ(GetMacFromDevice(mac, net.end_a.c_str()), 1);
    EXPECT_EQ(0, memcmp(mac, kMacA, 6));

    ASSERT_EQ(GetMacFromDevice(mac, "abcdefghijklmno"), 1);
    const uint8_t want15[6] = {0x02, 0x0f, 0x0f, 0x0f, 0x0f, 0x0f};
    EXPECT_EQ(0, memcmp(mac, want15, 6));
}

TEST_F(IpTest, MissingInterfaceIsAFailureNotAStop)
{
    uint8_t mac[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(GetMacFromDevice(mac, "nosuchif"), 0);
}

TEST_F(IpTest, ReadsIpv4AddressesInNetworkOrder)
{
    uint8_t ip[4] = {};
    GetIpFromDevice(ip, "abcdefghijklmno");
    const uint8_t want[4] = {192, 168, 1, 5};
    EXPECT_EQ(0, memcmp(ip, want, 4));
    GetIpFromDevice(ip, net.end_b.c_str());
    const uint8_t want2[4] = {10, 20, 30, 40};
    EXPECT_EQ(0, memcmp(ip, want2, 4));
}

TEST_F(IpTest, NoAddressReadsAllOnes)
{
    const uint8_t none[4] = {0xff, 0xff, 0xff, 0xff};
    uint8_t ip[4] = {};
    GetIpFromDevice(ip, net.end_a.c_str());  // up, but no IPv4 address
    EXPECT_EQ(0, memcmp(ip, none, 4));
    GetIpFromDevice(ip, "nosuchif");
    EXPECT_EQ(0, memcmp(ip, none, 4));
    // A 16-character name must not be cut to the 15-character interface.
    GetIpFromDevice(ip, "abcdefghijklmnop");
    EXPECT_EQ(0, memcmp(ip, none, 4));
}

}  // namespace
