// Interface address queries against a veth pair with known addresses,
// inside a network namespace that the test creates and removes.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <string>
#include <unistd.h>

#include "auth/ip.h"

namespace {

int sh(const std::string &cmd) { return std::system(cmd.c_str()); }

class IpTest : public ::testing::Test {
  protected:
    std::string ns = "cvxip" + std::to_string(getpid());
    int home = -1;

    void SetUp() override
    {
        ASSERT_EQ(geteuid(), 0u) << "needs root to create network namespaces";
        ASSERT_EQ(sh("ip netns add " + ns), 0) << "cannot create namespace " << ns;
        std::string in = "ip -n " + ns + " ";
        ASSERT_EQ(sh(in + "link add ipa type veth peer name ipb"), 0);
        ASSERT_EQ(sh(in + "link set ipa address 02:11:22:33:44:55"), 0);
        ASSERT_EQ(sh(in + "link set ipa up"), 0);
        ASSERT_EQ(sh(in + "link set ipb up"), 0);
        ASSERT_EQ(sh(in + "link add abcdefghijklmno type veth peer name ipc"), 0);  // 15 characters
        ASSERT_EQ(sh(in + "link set abcdefghijklmno address 02:0f:0f:0f:0f:0f"), 0);
        ASSERT_EQ(sh(in + "addr add 192.168.1.5/24 dev abcdefghijklmno"), 0);
        ASSERT_EQ(sh(in + "addr add 10.20.30.40/8 dev ipb"), 0);
        home = open("/proc/self/ns/net", O_RDONLY);
        int target = open(("/var/run/netns/" + ns).c_str(), O_RDONLY);
        ASSERT_GE(target, 0);
        ASSERT_EQ(setns(target, CLONE_NEWNET), 0);
        close(target);
    }

    void TearDown() override
    {
        if (home >= 0) {
            EXPECT_EQ(setns(home, CLONE_NEWNET), 0);
            close(home);
        }
        sh("ip netns del " + ns + " 2>/dev/null");
    }
};

TEST_F(IpTest, ReadsHardwareAddressesInWireOrder)
{
    uint8_t mac[6] = {};
    ASSERT_EQ(GetMacFromDevice(mac, "ipa"), 1);
    const uint8_t want[6] = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
    EXPECT_EQ(0, memcmp(mac, want, 6));

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
    GetIpFromDevice(ip, "ipb");
    const uint8_t want2[4] = {10, 20, 30, 40};
    EXPECT_EQ(0, memcmp(ip, want2, 4));
}

TEST_F(IpTest, NoAddressReadsAllOnes)
{
    const uint8_t none[4] = {0xff, 0xff, 0xff, 0xff};
    uint8_t ip[4] = {};
    GetIpFromDevice(ip, "ipa");  // up, but no IPv4 address
    EXPECT_EQ(0, memcmp(ip, none, 4));
    GetIpFromDevice(ip, "nosuchif");
    EXPECT_EQ(0, memcmp(ip, none, 4));
    // A 16-character name must not be cut to the 15-character interface.
    GetIpFromDevice(ip, "abcdefghijklmnop");
    EXPECT_EQ(0, memcmp(ip, none, 4));
}

}  // namespace
