// SPDX-License-Identifier: GPL-2.0-or-later
// Every frame the client originates, sent by the real sender on one end of a
// veth pair and captured on the other, compared byte for byte with its builder.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <memory>
#include <poll.h>
#include <stdexcept>
#include <unistd.h>
#include <vector>

#include "auth/key.h"
#include "auth/packets.h"
#include "support/netns.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Handle = std::unique_ptr<pcap_t, void (*)(pcap_t *)>;

const uint8_t kLocal[6] = {0x02, 0x00, 0x00, 0x00, 0xc1, 0x01};
const uint8_t kServer[6] = {0x02, 0x00, 0x00, 0x00, 0x5e, 0x02};

// Immediate mode, so a frame is readable as soon as it arrives.
Handle open_handle(const std::string &dev, bool with_filter)
{
    char err[PCAP_ERRBUF_SIZE] = "";
    Handle h(pcap_create(dev.c_str(), err), pcap_close);
    if (!h) {
        ADD_FAILURE() << "pcap_create " << dev << ": " << err;
        return h;
    }
    pcap_set_snaplen(h.get(), 65536);
    pcap_set_promisc(h.get(), 1);
    pcap_set_immediate_mode(h.get(), 1);
    if (pcap_activate(h.get()) < 0) {
        ADD_FAILURE() << "pcap_activate " << dev << ": " << pcap_geterr(h.get());
        return Handle(nullptr, pcap_close);
    }
    bpf_program prog;
    if (with_filter) {
        // Only EAPOL: whatever else the kernel sends on a fresh link is not ours to compare.
        EXPECT_EQ(pcap_compile(h.get(), &prog, "ether proto 0x888e", 1, PCAP_NETMASK_UNKNOWN), 0);
        EXPECT_EQ(pcap_setfilter(h.get(), &prog), 0);
        pcap_freecode(&prog);
    }
    EXPECT_EQ(pcap_setnonblock(h.get(), 1, err), 0) << err;
    return h;
}

// The next captured frame, or empty when none arrives within timeout_ms.
Bytes capture_one(pcap_t *cap, int timeout_ms)
{
    const int fd = pcap_get_selectable_fd(cap);
    timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        pcap_pkthdr *hdr;
        const u_char *data;
        if (pcap_next_ex(cap, &hdr, &data) == 1)
            return Bytes(data, data + hdr->caplen);
        timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        const long spent = (now.tv_sec - start.tv_sec) * 1000 +
                           (now.tv_nsec - start.tv_nsec) / 1000000;
        if (spent >= timeout_ms)
            return Bytes();
        pollfd p{fd, POLLIN, 0};
        (void)poll(&p, 1, static_cast<int>(timeout_ms - spent));
    }
}

class Wire : public ::testing::Test {
  protected:
    void SetUp() override
    {
        ASSERT_EQ(geteuid(), 0u) << "the wire tests need root for namespaces and raw frames";
        net = std::make_unique<TestNetns>("w", kLocal, kServer);
        NetnsEntered in(*net);
        tx = open_handle(net->end_a, false);
        rx = open_handle(net->end_b, true);
        ASSERT_TRUE(tx && rx);
    }

    // Captures the one frame the sender put on the wire; nothing else may follow.
    Bytes sent_frame()
    {
        Bytes f = capture_one(rx.get(), 2000);
        EXPECT_FALSE(f.empty()) << "no frame arrived within 2 s";
        EXPECT_TRUE(capture_one(rx.get(), 100).empty()) << "a second frame followed";
        return f;
    }

    std::unique_ptr<TestNetns> net;
    Handle tx{nullptr, pcap_close};
    Handle rx{nullptr, pcap_close};
};

Bytes built(int (*build)(uint8_t *, const uint8_t *), const uint8_t *mac)
{
    uint8_t buf[EAPOL_FRAME_BUFSIZE];
    int n = build(buf, mac);
    return Bytes(buf, buf + n);
}

// An EAP-Request from the authenticator to us.
Bytes eap_request(uint8_t id, uint8_t type)
{
    Bytes r(60, 0);
    std::memcpy(r.data(), kLocal, 6);
    std::memcpy(r.data() + 6, kServer, 6);
    r[12] = 0x88, r[13] = 0x8e, r[14] = 1, r[15] = 0;
    r[18] = REQUEST, r[19] = id, r[22] = type, r[23] = 16;
    for (int i = 24; i < 40; i++)
        r[i] = static_cast<uint8_t>(i * 37);
    return r;
}

const uint8_t kEthHeader[14] = {0x01, 0x80, 0xc2, 0x00, 0x00, 0x03, 0x02, 0x00,
                                0x00, 0x00, 0xc1, 0x01, 0x88, 0x8e};

TEST_F(Wire, StartAndLogoffLeaveAsBuilt)
{
    SendStartPkt(tx.get(), kLocal);
    Bytes start = sent_frame();
    EXPECT_EQ(start, built(build_start_pkt, kLocal));
    EXPECT_EQ(start.size(), 18u) << "no padding is added";

    SendLogoffPkt(tx.get(), kLocal);
    EXPECT_EQ(sent_frame(), built(build_logoff_pkt, kLocal));
}

TEST_F(Wire, IdentityAndMd5ResponsesLeaveAsBuilt)
{
    const uint8_t extra[4] = {};
    const std::string account(50, 'k');
    const Bytes ident = eap_request(0x11, IDENTITY);
    SendResponseIdentity(tx.get(), ident.data(), kEthHeader, extra, account.c_str());
    uint8_t buf[EAPOL_FRAME_BUFSIZE];
    int n = build_response_identity(buf, ident.data(), kEthHeader, extra, account.c_str());
    EXPECT_EQ(n, 79);
    EXPECT_EQ(sent_frame(), Bytes(buf, buf + n));

    const Bytes md5 = eap_request(0x12, MD5);
    SendResponseMD5(tx.get(), md5.data(), kEthHeader, account.c_str(), "passw0rd");
    n = build_response_md5(buf, md5.data(), kEthHeader, account.c_str(), "passw0rd");
    EXPECT_EQ(n, 90);
    EXPECT_EQ(sent_frame(), Bytes(buf, buf + n));
}

TEST_F(Wire, KeyAnswersLeaveAsBuilt)
{
    Bytes key = eap_request(0, 0);
    key[15] = 3;
    key[18] = 1;
    for (int i = 21; i <= 45; i++)
        key[i] = static_cast<uint8_t>(0x90 + i);
    uint8_t buf[KEY_FRAME_BUFSIZE];

    EXPECT_EQ(send_packet_key1(tx.get(), key.data(), kLocal), 1);
    int n = build_packet_key1(buf, key.data(), kLocal);
    EXPECT_EQ(sent_frame(), Bytes(buf, buf + n));

    EXPECT_EQ(send_packet_key2(tx.get(), key.data(), kLocal), 1);
    n = build_packet_key2(buf, key.data(), kLocal);
    EXPECT_EQ(sent_frame(), Bytes(buf, buf + n));
}

TEST_F(Wire, PostSuccessKeyFrameMatchesTheBuilderAtTheSameSecond)
{
    const Bytes success = eap_request(3, 0);
    uint8_t buf[KEY_FRAME_BUFSIZE];
    // The sender reads the clock itself: retry once if a second boundary fell in between.
    for (int attempt = 0; attempt < 2; attempt++) {
        const time_t before = time(nullptr);
        ASSERT_EQ(send_packet_key(tx.get(), success.data(), kLocal), 1);
        const time_t after = time(nullptr);
        const Bytes got = sent_frame();
        if (before != after && attempt == 0)
            continue;
        ASSERT_EQ(before, after) << "the clock crossed a second boundary twice";
        const int n = build_packet_key(buf, kLocal, before);
        EXPECT_EQ(n, 76);
        EXPECT_EQ(got, Bytes(buf, buf + n));
        return;
    }
}

// The namespace helper that the other network tests build on.
TEST(TestNetnsHelper, UniqueNamesAddressesCommandsAndCleanup)
{
    ASSERT_EQ(geteuid(), 0u) << "the helper needs root";
    std::string first_path;
    {
        TestNetns one("h", kLocal, kServer);
        TestNetns two("h", kServer, kLocal);
        EXPECT_NE(one.name, two.name);
        first_path = one.path();
        EXPECT_EQ(access(first_path.c_str(), F_OK), 0);
        EXPECT_EQ(one.exec("ip link show " + one.end_a + " | grep -q " + mac_text(kLocal)), 0);
        EXPECT_EQ(one.exec("ip link show " + one.end_b + " | grep -q 'state UP'"), 0);
        EXPECT_EQ(two.exec("ip link show " + two.end_a + " | grep -q " + mac_text(kServer)), 0);
        EXPECT_EQ(one.exec("test 'it'\\''s' = \"it's\""), 0) << "quotes survive";
        EXPECT_EQ(one.exec("exit 3"), 3);
        // The host's interfaces are not visible inside.
        EXPECT_NE(one.exec("ip link show eth0 >/dev/null 2>&1"), 0);
    }
    EXPECT_NE(access(first_path.c_str(), F_OK), 0) << "namespace left behind";
}

TEST(TestNetnsHelper, FailedSetUpThrowsAndLeavesNothingBehind)
{
    ASSERT_EQ(geteuid(), 0u) << "the helper needs root";
    const uint8_t group[6] = {0x01, 0x80, 0xc2, 0x00, 0x00, 0x03};  // no interface may carry it
    std::string message;
    try {
        TestNetns bad("bad", group, kServer);
        ADD_FAILURE() << "a multicast hardware address was accepted";
    } catch (const std::runtime_error &e) {
        message = e.what();
    }
    EXPECT_NE(message.find("link add cvxa address 01:80:c2:00:00:03"), std::string::npos)
        << message;
    // The message names the failed command, "ip -n <name> link add ...".
    const size_t at = message.find("ip -n cvxbad");
    ASSERT_NE(at, std::string::npos) << message;
    const std::string name = message.substr(at + 6, message.find(' ', at + 6) - (at + 6));
    EXPECT_NE(access(("/run/netns/" + name).c_str(), F_OK), 0) << name << " left behind";
}

}  // namespace
