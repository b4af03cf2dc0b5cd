// SPDX-License-Identifier: GPL-2.0-or-later
// A flood of log-on requests from the window costs the engine one worker at a
// time: a burst of them, taken through the engine's own loop on a socket
// pair, runs in a bounded number of threads, descriptors and killall lines,
// and the last request still logs on against the lab's authenticator. A
// disconnect then retires the online worker at once, not at its time-out.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include "app/engine.h"
#include "app/ipc.h"
#include "app/records.h"
#include "config/settings.h"
#include "dhcp/request_ip.h"
#include "netns/e2e_support.h"

namespace {

constexpr int kBurst = 1500;
// Each attempt start runs the killall lines once; a coalesced burst starts few.
constexpr int kMaxStops = 6;

// A figure of /proc/self/status ("Threads", "VmHWM" in kB); -1 when missing.
long self_status(const std::string &key)
{
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(key + ":", 0) == 0)
            return std::atol(line.c_str() + key.size() + 1);
    }
    return -1;
}

long open_descriptors()
{
    DIR *d = opendir("/proc/self/fd");
    long n = -3;  // ".", ".." and the folder's own descriptor
    while (d && readdir(d))
        n++;
    if (d)
        closedir(d);
    return n;
}

std::atomic<int> stops{0};
void counted_stop()
{
    stops++;
    stop_dhcp_clients();
}

TEST(EngineFlood, ABurstOfLogonsRunsOneWorkerAndTheLastLogsOn)
{
    Lab lab;
    LabGuard guard{lab};
    LabOptions opt;
    opt.name_prefix = "ow";
    ASSERT_TRUE(e2e_lab_up(lab, opt));
    std::string dir = e2e_engine_client(lab);
    ASSERT_FALSE(dir.empty());
    static ClientSettings s{};
    get_ini_message(&s);
    s.use_own_dhcp = 0;
    s.timeout = 8;
    s.timeout_reconnect = 0;
    status = STATUS_IDLE;
    long hwm_before = self_status("VmHWM"), fds_before = open_descriptors();
    int fds[2];
    ASSERT_TRUE(ipc_socketpair(fds));
    engine_setup(fds[1], &s, 0);
    engine_set_stop_clients(counted_stop);
    // The engine's loop, and the window reading every message as it comes
    // (started here, in the client namespace, so the workers are there too).
    std::atomic<bool> quit{false}, sent{false};
    std::thread engine([&] {
        while (!quit && engine_turn(20) != EngineTurn::WindowGone) {
        }
    });
    std::thread window([&] {
        for (IpcRecord r; ipc_recv(fds[0], r) != RecvResult::Closed;) {
        }
    });
    double t0 = e2e_now_ms();
    std::thread burst([&] {
        IpcRecord r = ipc_record(REQ_LOGON);
        ipc_set_text(r, 0, "e2euser");
        ipc_set_text(r, 1, "labpass1");
        ipc_set_text(r, 2, "labc0");
        for (int i = 0; i < kBurst; i++)
            EXPECT_TRUE(ipc_send(fds[0], r)) << i;
        sent = true;
    });
    long threads = 0, descriptors = 0;
    while (!(sent && status == STATUS_ONLINE) && e2e_now_ms() - t0 < 60000) {
        threads = std::max(threads, self_status("Threads"));
        descriptors = std::max(descriptors, open_descriptors());
        usleep(1000);
    }
    double online_ms = e2e_now_ms() - t0;
    burst.join();
    int stops_in_burst = stops;
    long hwm_growth = self_status("VmHWM") - hwm_before;
    std::string runs = lab_read_file(dir + "/runs.log");
    std::printf("burst of %d: %.0f ms to online, threads max %ld, descriptors max %ld (%ld "
                "before), VmHWM +%ld kB, killall-line runs %d, dhclient runs %td\n",
                kBurst, online_ms, threads, descriptors, fds_before, hwm_growth, stops_in_burst,
                std::count(runs.begin(), runs.end(), '\n'));
    EXPECT_EQ(STATUS_ONLINE, status.load());
    EXPECT_FALSE(e2e_client_address(lab).empty());
    EXPECT_LE(threads, 8);
    EXPECT_LE(descriptors, fds_before + 16);
    EXPECT_LT(hwm_growth, 64 * 1024);
    EXPECT_GE(stops_in_burst, 1);
    EXPECT_LE(stops_in_burst, kMaxStops);

    // The online worker waits up to 8 s for a key frame; the disconnect's
    // Logoff worker starts only once it has gone.
    double t1 = e2e_now_ms();
    ASSERT_TRUE(ipc_send(fds[0], ipc_record(REQ_DISCONNECT)));
    EXPECT_TRUE(e2e_wait([] { return status == STATUS_IDLE; }, 2000)) << status.load();
    std::printf("disconnect: idle after %.0f ms\n", e2e_now_ms() - t1);
    ASSERT_TRUE(ipc_send(fds[0], ipc_record(REQ_STOP_DHCP)));
    EXPECT_TRUE(e2e_wait([&] { return stops == stops_in_burst + 1; }, 3000));
    quit = true;
    engine.join();
    (void)shutdown(fds[1], SHUT_RDWR);
    window.join();
    close(fds[0]);
    close(fds[1]);
}

}  // namespace
