// SPDX-License-Identifier: GPL-2.0-or-later
// The worker's wait on a live capture handle (a veth pair in a private
// namespace): a frame is handed over as soon as it arrives, silence ends the
// wait after the read time-out, and a time-out of 0 waits without limit.
#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/resource.h>
#include <thread>
#include <vector>

#include "auth/capture.h"
#include "auth/filters.h"
#include "netns/e2e_support.h"
#include "support/netns.h"

namespace {

const uint8_t kOurs[6] = {0x02, 0xca, 0x00, 0x00, 0x00, 0x01};
const uint8_t kPeer[6] = {0x02, 0xcb, 0x00, 0x00, 0x00, 0x01};
const uint8_t kGroup[6] = {0x01, 0x80, 0xc2, 0x00, 0x00, 0x03};

using Handle = std::unique_ptr<pcap_t, void (*)(pcap_t *)>;

// A 60-byte EAP-Request from the peer to dst, with a marker byte.
std::vector<uint8_t> request_to(const uint8_t dst[6], uint8_t marker)
{
    std::vector<uint8_t> f(60, 0);
    std::memcpy(f.data(), dst, 6);
    std::memcpy(f.data() + 6, kPeer, 6);
    f[12] = 0x88;
    f[13] = 0x8e;
    f[14] = 1;
    f[17] = 5;
    f[18] = 1;
    f[19] = marker;
    f[21] = 5;
    f[22] = 1;
    return f;
}

struct Wire {
    Handle ours{nullptr, pcap_close};  // the worker's handle, first filter installed
    Handle peer{nullptr, pcap_close};
};

Wire open_wire(const TestNetns &net)
{
    Wire w;
    NetnsEntered in(net);
    char err[PCAP_ERRBUF_SIZE] = "";
    w.ours.reset(capture_open(net.end_a.c_str(), err));
    EXPECT_TRUE(w.ours) << err;
    w.peer.reset(capture_open(net.end_b.c_str(), err));
    EXPECT_TRUE(w.peer) << err;
    if (w.ours) {
        char filter[FILTER_TEXT_SIZE];
        format_filter_before(filter, sizeof filter, kOurs);
        EXPECT_EQ(capture_set_filter(w.ours.get(), filter), 1) << filter;
    }
    return w;
}

// Sends the frame after delay_ms; *sent_ms, if given, is the moment it went out.
void send_later(pcap_t *peer, std::vector<uint8_t> frame, int delay_ms, double *sent_ms = nullptr)
{
    g_usleep(static_cast<gulong>(delay_ms) * 1000);
    if (sent_ms)
        *sent_ms = e2e_now_ms();
    EXPECT_EQ(pcap_sendpacket(peer, frame.data(), static_cast<int>(frame.size())), 0);
}

double thread_cpu_ms()
{
    rusage ru;
    getrusage(RUSAGE_THREAD, &ru);
    return (ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1000.0 +
           (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1000.0;
}

TEST(Capture, AFrameIsHandedOverAsSoonAsItArrives)
{
    TestNetns net("cap", kOurs, kPeer);
    Wire w = open_wire(net);
    ASSERT_TRUE(w.ours && w.peer);
    double sent = 0;
    std::thread sender(send_later, w.peer.get(), request_to(kOurs, 7), 300, &sent);
    const uint8_t *frame = nullptr;
    int caplen = 0;
    double start = e2e_now_ms();
    int got = capture_read(w.ours.get(), 5000, &frame, &caplen);
    double received = e2e_now_ms();
    sender.join();
    ASSERT_EQ(got, 1);
    EXPECT_GE(received - start, 290);
    // Measured from the send, not from the sender's start, which a loaded
    // machine delays too; a frame held back would wait for the 5 s time-out.
    EXPECT_LE(received - sent, 100) << "the frame was held back";
    ASSERT_EQ(caplen, 60);
    EXPECT_EQ(frame[19], 7);

    // A burst: each frame is already there, none waits for the next.
    std::vector<uint8_t> burst[3] = {request_to(kOurs, 1), request_to(kOurs, 2),
                                     request_to(kOurs, 3)};
    for (auto &f : burst)
        ASSERT_EQ(pcap_sendpacket(w.peer.get(), f.data(), 60), 0);
    start = e2e_now_ms();
    for (uint8_t marker = 1; marker <= 3; ++marker) {
        ASSERT_EQ(capture_read(w.ours.get(), 2000, &frame, &caplen), 1);
        EXPECT_EQ(frame[19], marker);
    }
    EXPECT_LE(e2e_now_ms() - start, 50);
}

TEST(Capture, SilenceEndsTheWaitAfterTheTimeoutWithoutSpinning)
{
    TestNetns net("cap", kOurs, kPeer);
    Wire w = open_wire(net);
    ASSERT_TRUE(w.ours && w.peer);
    // Frames that the filter drops keep arriving: they neither end nor extend the wait.
    std::thread noise([&] {
        for (int i = 0; i < 12; ++i)
            send_later(w.peer.get(), request_to(kGroup, 9), 100);
    });
    const uint8_t *frame = nullptr;
    int caplen = 0;
    double cpu = thread_cpu_ms();
    double start = e2e_now_ms();
    int got = capture_read(w.ours.get(), 1000, &frame, &caplen);
    double waited = e2e_now_ms() - start;
    cpu = thread_cpu_ms() - cpu;
    noise.join();
    EXPECT_EQ(got, 0);
    EXPECT_GE(waited, 995);
    EXPECT_LE(waited, 1150);
    EXPECT_LT(cpu, 20) << "the wait is not blocking";
}

TEST(Capture, ZeroTimeoutWaitsWithoutLimit)
{
    TestNetns net("cap", kOurs, kPeer);
    Wire w = open_wire(net);
    ASSERT_TRUE(w.ours && w.peer);
    std::thread sender(send_later, w.peer.get(), request_to(kOurs, 5), 2500, nullptr);
    const uint8_t *frame = nullptr;
    int caplen = 0;
    double start = e2e_now_ms();
    int got = capture_read(w.ours.get(), 0, &frame, &caplen);
    double waited = e2e_now_ms() - start;
    sender.join();
    ASSERT_EQ(got, 1);
    EXPECT_GE(waited, 2450);
    EXPECT_EQ(frame[19], 5);
}

TEST(Capture, HandleIsNotInheritedAndMissingInterfacesFail)
{
    TestNetns net("cap", kOurs, kPeer);
    Wire w = open_wire(net);
    ASSERT_TRUE(w.ours);
    int fd = pcap_get_selectable_fd(w.ours.get());
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC);
    NetnsEntered in(net);
    char err[PCAP_ERRBUF_SIZE] = "";
    EXPECT_EQ(capture_open("nosuch0", err), nullptr);
    EXPECT_NE(err[0], '\0');
}

}  // namespace
