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
#include "config/settings.h"
#include "dhcp/request_ip.h"
#include "netns/e2e_support.h"

namespace {

constexpr int kBurst = 1500;
constexpr long kMaxThreads = 8;
constexpr long kMaxHwmGrowthKb = 64 * 1024;
// Each attempt start runs the killall lines once; a coalesced burst starts few.
constexpr int kMaxStops = 6;

// A figure of /proc/self/status ("Threads", "VmHWM" in kB); -1 when missing.
long self_status(const char *key)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    size_t n = std::strlen(key);
    while (std::getline(in, line)) {
        if (line.compare(0, n, key) == 0 && line.size() > n && line[n] == ':')
            return std::atol(line.c_str() + n + 1);
    }
    return -1;
}

long open_descriptors()
{
    DIR *d = opendir("/proc/self/fd");
    long n = 0;
    while (d && readdir(d))
        n++;
    if (d)
        closedir(d);
    return n - 3;  // ".", ".." and the folder's own descriptor
}

std::atomic<int> stops{0};
void counted_stop()
{
    stops++;
    stop_dhcp_clients();
}

IpcRecord logon_request()
{
    IpcRecord r = ipc_record(REQ_LOGON);
    ipc_set_text(r, 0, "e2euser");
    ipc_set_text(r, 1, "labpass1");
    ipc_set_text(r, 2, "labc0");
    return r;
}

// The engine's loop and the window's reader, each on a thread of its own
// (started in the client namespace, so the workers are there too).
struct Halves {
    int fds[2] = {-1, -1};
    std::atomic<bool> quit{false};
    std::thread engine, window;

    void start(ClientSettings *s)
    {
        ASSERT_TRUE(ipc_socketpair(fds));
        engine_setup(fds[1], s, 0);
        engine_set_stop_clients(counted_stop);
        engine = std::thread([this] {
            while (!quit && engine_turn(20) != EngineTurn::WindowGone) {
            }
        });
        // Every message is read as it comes: workers never wait on a full socket.
        window = std::thread([this] {
            IpcRecord r;
            while (ipc_recv(fds[0], r) != RecvResult::Closed) {
            }
        });
    }
    void stop()
    {
        quit = true;
        if (engine.joinable())
            engine.join();
        (void)shutdown(fds[1], SHUT_RDWR);
        if (window.joinable())
            window.join();
        close(fds[0]);
        close(fds[1]);
    }
};

// Peak figures while pred does not hold, sampled every millisecond.
struct Peaks {
    long threads = 0, descriptors = 0;
    bool sample_until(const std::function<bool()> &pred, int timeout_ms)
    {
        double end = e2e_now_ms() + timeout_ms;
        while (!pred()) {
            threads = std::max(threads, self_status("Threads"));
            descriptors = std::max(descriptors, open_descriptors());
            if (e2e_now_ms() > end)
                return false;
            usleep(1000);
        }
        return true;
    }
};

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
    long hwm_before = self_status("VmHWM");
    long descriptors_before = open_descriptors();
    Halves h;
    ASSERT_NO_FATAL_FAILURE(h.start(&s));

    double t0 = e2e_now_ms();
    std::atomic<bool> sent{false};
    std::thread window_burst([&] {
        IpcRecord r = logon_request();
        for (int i = 0; i < kBurst; i++)
            EXPECT_TRUE(ipc_send(h.fds[0], r)) << i;
        sent = true;
    });
    Peaks peaks;
    bool online = peaks.sample_until([&] { return sent && status == STATUS_ONLINE; }, 60000);
    double online_ms = e2e_now_ms() - t0;
    window_burst.join();
    int stops_in_burst = stops;
    long hwm_growth = self_status("VmHWM") - hwm_before;
    std::string address = e2e_client_address(lab);
    std::string runs = lab_read_file(dir + "/runs.log");
    std::printf("burst of %d: %.0f ms to online, threads max %ld, descriptors max %ld (%ld "
                "before), VmHWM +%ld kB, killall-line runs %d, dhclient runs %td\n",
                kBurst, online_ms, peaks.threads, peaks.descriptors, descriptors_before,
                hwm_growth, stops_in_burst, std::count(runs.begin(), runs.end(), '\n'));

    EXPECT_TRUE(online) << "status " << status.load();
    EXPECT_FALSE(address.empty());
    EXPECT_LE(peaks.threads, kMaxThreads);
    EXPECT_LE(peaks.descriptors, descriptors_before + 16);
    EXPECT_LT(hwm_growth, kMaxHwmGrowthKb);
    EXPECT_GE(stops_in_burst, 1);
    EXPECT_LE(stops_in_burst, kMaxStops);

    // The online worker waits for the next key frame for up to 8 s; the
    // disconnect's Logoff worker may only start once it has gone.
    double t1 = e2e_now_ms();
    IpcRecord off = ipc_record(REQ_DISCONNECT);
    ASSERT_TRUE(ipc_send(h.fds[0], off));
    EXPECT_TRUE(e2e_wait([] { return status == STATUS_IDLE; }, 3000)) << status.load();
    std::printf("disconnect: idle after %.0f ms\n", e2e_now_ms() - t1);
    EXPECT_LT(e2e_now_ms() - t1, 2000);
    ASSERT_TRUE(ipc_send(h.fds[0], ipc_record(REQ_STOP_DHCP)));
    EXPECT_TRUE(e2e_wait([&] { return stops == stops_in_burst + 1; }, 3000));
    h.stop();
}

}  // namespace
