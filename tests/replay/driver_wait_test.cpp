// SPDX-License-Identifier: GPL-2.0-or-later
// The worker's wait itself, on the real clock: frames come through a socket
// standing in for the capture, sent by a thread as an authenticator would.
// The machine's deadline ends a silent wait; a second descriptor wakes a wait
// that has no deadline at all.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "app/records.h"
#include "auth/logon_driver.h"
#include "config/settings.h"
#include "replay/wire_fake.h"

namespace {

const uint8_t kClient[6] = {0x02, 0xc0, 0x00, 0x00, 0x00, 0x01};
const uint8_t kServer[6] = {0x02, 0xa0, 0x00, 0x00, 0x00, 0x01};
constexpr uint8_t EAPOL_KEY = 3;
constexpr uint8_t EAPOL_LOGOFF = 2;

Bytes request(uint8_t code, uint8_t type)
{
    Bytes f(64, 0);
    std::memcpy(f.data(), kClient, 6);
    std::memcpy(f.data() + 6, kServer, 6);
    f[12] = 0x88;
    f[13] = 0x8e;
    f[18] = code;
    f[22] = type;
    return f;
}

int64_t now_ms()
{
    return g_get_monotonic_time() / 1000;
}

int frames_fd = -1;   // the driver's end of each socket pair
int control_fd = -1;

// A source's take: what the socket holds now, without waiting.
bool take_frames(AuthSession &s)
{
    uint8_t buf[256];
    ssize_t n;
    while ((n = recv(frames_fd, buf, sizeof buf, MSG_DONTWAIT)) > 0) {
        if (!logon_feed(s, LogonEvent::Frame, buf, static_cast<int>(n)))
            return false;
    }
    return true;
}

bool take_logoff_request(AuthSession &s)
{
    uint8_t byte;
    if (recv(control_fd, &byte, 1, MSG_DONTWAIT) == 1)
        return logon_feed(s, LogonEvent::Logoff);
    return true;
}

int64_t address_done_at = 0;

int fake_address_step(AppContext *, const char *, int *)
{
    link_set_status(STATUS_ONLINE);
    address_done_at = now_ms();
    return 0;
}

int keep_filter(pcap_t *, const char *) { return 1; }

class DriverWait : public ::testing::Test {
  protected:
    ClientSettings settings{};
    AppContext ctx{nullptr, &settings};
    AuthSession s{};
    int frames[2] = {-1, -1}, control[2] = {-1, -1};
    std::string settings_file;

    void SetUp() override
    {
        alarm(20);  // a wait that never ends fails the test instead of hanging it
        set_worker_link(WorkerLink{});
        sent_frames.clear();
        thread_auth_num = 0;
        status = STATUS_AUTHENTICATING;
        char path[] = "/tmp/corvix-driver-XXXXXX";
        int fd = mkstemp(path);
        ASSERT_GE(fd, 0);
        close(fd);
        settings_file = path;
        settings_path = settings_file.c_str();
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, frames), 0);
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, control), 0);
        frames_fd = frames[0];
        control_fd = control[0];
    }

    void TearDown() override
    {
        alarm(0);
        for (int fd : {frames[0], frames[1], control[0], control[1]})
            close(fd);
        (void)unlink(settings_file.c_str());
    }

    void begin(int timeout_s)
    {
        fill_session(s, &ctx, WorkerInput{"e2euser", "labpass1", "lab0", timeout_s, 0});
        std::memcpy(s.local_mac, kClient, 6);
        s.generation = thread_auth_num;
        s.acquire_address = fake_address_step;
        s.install_filter = keep_filter;
        ASSERT_TRUE(add_wait_source(s, WaitSource{frames_fd, take_frames}));
    }

    // The authenticator's side of a log-on, a frame every 30 ms.
    std::thread authenticator()
    {
        int fd = frames[1];
        return std::thread([fd] {
            for (const Bytes &f : {request(1, 1), request(1, 4), request(3, 0)}) {
                g_usleep(30000);
                (void)send(fd, f.data(), f.size(), 0);
            }
        });
    }
};

TEST_F(DriverWait, SilenceForTheTimeOutDropsTheLink)
{
    begin(1);
    std::thread peer = authenticator();
    ASSERT_TRUE(logon_begin(s));
    logon_drive(s);
    int64_t ended_at = now_ms();
    peer.join();
    EXPECT_EQ(status.load(), STATUS_FAILED);
    // Start, Identity, MD5 and the post-success key frame; then one silent second.
    ASSERT_EQ(sent_frames.size(), 4u);
    EXPECT_EQ(sent_frames[3][15], EAPOL_KEY);
    EXPECT_GE(ended_at - address_done_at, 1000);
    EXPECT_LT(ended_at - address_done_at, 1800);
}

// Without a time-out the wait has no deadline; a log-off request on another
// descriptor still ends it at once.
TEST_F(DriverWait, AnotherDescriptorWakesAWaitWithoutDeadline)
{
    begin(0);
    ASSERT_TRUE(add_wait_source(s, WaitSource{control_fd, take_logoff_request}));
    std::thread peer = authenticator();
    int control_peer = control[1];
    std::thread user([control_peer] {
        g_usleep(300000);
        (void)send(control_peer, "x", 1, 0);
    });
    ASSERT_TRUE(logon_begin(s));
    logon_drive(s);
    peer.join();
    user.join();
    EXPECT_EQ(status.load(), STATUS_IDLE);
    ASSERT_EQ(sent_frames.size(), 5u);
    EXPECT_EQ(sent_frames[3][15], EAPOL_KEY);
    EXPECT_EQ(sent_frames[4][15], EAPOL_LOGOFF);
}

}  // namespace
