// SPDX-License-Identifier: GPL-2.0-or-later
// Benchmark driver for scripts/bench_auth.sh (not a test: it prints figures).
// Each case runs in a process of its own and prints "RESULT <name> <value>"
// lines that the script summarises.
//
//   Bench.Logon      log-on request -> EAP-Success against hostapd, and
//                    EAP-Success -> STATUS_ONLINE at the window with dhclient
//                    (BENCH_RUNS runs)
//   Bench.KeyAnswers simulator key frame -> both answers seen by the simulator
//   Bench.KeyFlood   the same while the simulator also sends BENCH_FLOOD (2000) bogus
//                    key frames a second from the same address (BENCH_KEYS real ones)
//   Bench.OnlineCpu  CPU of the engine's online worker thread over BENCH_IDLE_S seconds
//
// The client runs as users run it: the window asks a real engine
// (support/engine_fixture.h) over its socket, and sees the run state in the
// engine's reports.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>

#include "app/records.h"
#include "app/window_half.h"
#include "bench/bench_util.h"
#include "netns/e2e_support.h"
#include "support/engine_fixture.h"

namespace {

// Kernel receive time of the next EAP-Success on the client's interface.
struct SuccessWatch {
    pcap_t *handle = nullptr;
    std::atomic<double> last_success_ms{0};
    std::atomic<bool> stop{false};
    std::thread reader;
};

void watch_successes(SuccessWatch &w, const Lab &lab)
{
    std::string error;
    w.handle = lab_open_eapol(lab.client_if, &error);
    ASSERT_NE(w.handle, nullptr) << error;
    w.reader = std::thread([&w] {
        while (!w.stop) {
            pcap_pkthdr *h;
            const u_char *f;
            int rc = pcap_next_ex(w.handle, &h, &f);
            if (rc == 1 && h->caplen >= 19 && f[18] == 3)
                w.last_success_ms = h->ts.tv_sec * 1000.0 + h->ts.tv_usec / 1000.0;
            else if (rc == 0)
                g_usleep(50);
        }
    });
}

// Waits for the window's status (the engine's last report), polling finely;
// the realtime at which it was seen, or -1.
double wait_status(int want, int timeout_ms)
{
    double end = e2e_now_ms() + timeout_ms;
    while (e2e_now_ms() < end) {
        if (status.load() == want)
            return realtime_ms();
        g_usleep(100);
    }
    return -1;
}

E2eClient *bench_client(Lab &lab, const LabOptions &opt)
{
    if (!e2e_lab_up(lab, opt))
        return nullptr;
    return e2e_client(lab, "benchuser", "labpass1");
}

TEST(Bench, Logon)
{
    Lab lab;
    LabGuard guard{lab};
    E2eClient *c = bench_client(lab, LabOptions{});
    ASSERT_NE(c, nullptr);
    // A short time-out: each run's worker has ended before the next starts.
    c->settings.timeout = 2;
    SuccessWatch watch;
    watch_successes(watch, lab);
    int runs = env_int("BENCH_RUNS", 20);
    e2e_drive([&] {
        for (int i = 0; i < runs; ++i) {
            watch.last_success_ms = 0;
            double start = 0;
            e2e_on_main([&] {
                start = realtime_ms();
                request_logon(&c->ctx);
            });
            double online = wait_status(STATUS_ONLINE, 30000);
            ASSERT_GT(online, 0) << "run " << i << ": status " << status;
            double success = watch.last_success_ms;
            ASSERT_GT(success, 0);
            std::printf("RESULT start_to_success_ms %.3f\n", success - start);
            std::printf("RESULT success_to_online_ms %.3f\n", online - success);
            std::fflush(stdout);
            ASSERT_GT(wait_status(STATUS_FAILED, 10000), 0) << "the link time-out did not come";
        }
    });
    watch.stop = true;
    watch.reader.join();
}

// Online, then the simulator's time from each of runs key frames to both answers.
void key_answers(const std::string &sim_args, int runs, const char *result)
{
    Lab lab;
    LabGuard guard{lab};
    LabOptions opt;
    opt.auth = "sim";
    opt.sim_args = sim_args;
    E2eClient *c = bench_client(lab, opt);
    ASSERT_NE(c, nullptr);
    e2e_drive([&] {
        e2e_start_worker(c);
        ASSERT_GT(wait_status(STATUS_ONLINE, 30000), 0);
        int seen = -1;
        for (int i = 0; i < runs; ++i) {
            seen = lab_wait_event(lab, "KEY2 OK", 5000, static_cast<size_t>(seen + 1));
            ASSERT_GE(seen, 0) << "no answer to key frame " << i;
            std::string text = lab_sim_events(lab)[static_cast<size_t>(seen)].text;
            size_t at = text.find("dt_us=");
            ASSERT_NE(at, std::string::npos) << text;
            std::printf("RESULT %s %.3f\n", result, std::atof(text.c_str() + at + 6) / 1000);
        }
    });
}

TEST(Bench, KeyAnswers)
{
    key_answers("--keys 0.25", env_int("BENCH_RUNS", 20), "key_to_answers_ms");
}

TEST(Bench, KeyFlood)
{
    key_answers("--keys 0.02 --flood " + std::to_string(env_int("BENCH_FLOOD", 2000)),
                env_int("BENCH_KEYS", 1000), "flood_key_to_answers_ms");
}

// CPU time of the engine's thread named "authentication" in nanoseconds
// (schedstat); -1 if none.
long long worker_cpu_ns()
{
    const std::string tasks = "/proc/" + std::to_string(engine_pid()) + "/task";
    DIR *dir = opendir(tasks.c_str());
    long long ns = -1;
    while (dirent *e = dir ? readdir(dir) : nullptr) {
        std::string base = tasks + "/" + e->d_name;
        std::ifstream comm(base + "/comm");
        std::string name;
        if (!std::getline(comm, name) || name != "authentication")
            continue;
        std::ifstream sched(base + "/schedstat");
        sched >> ns;  // first field: time spent on the CPU
    }
    if (dir)
        closedir(dir);
    return ns;
}

TEST(Bench, OnlineCpu)
{
    Lab lab;
    LabGuard guard{lab};
    E2eClient *c = bench_client(lab, LabOptions{});
    ASSERT_NE(c, nullptr);
    c->settings.timeout = 0;  // hostapd sends nothing while online: wait without limit
    int seconds = env_int("BENCH_IDLE_S", 60);
    e2e_drive([&] {
        e2e_start_worker(c);
        ASSERT_GT(wait_status(STATUS_ONLINE, 30000), 0);
        g_usleep(G_USEC_PER_SEC);
        long long before = worker_cpu_ns();
        ASSERT_GE(before, 0) << "no worker thread";
        g_usleep(static_cast<gulong>(seconds) * G_USEC_PER_SEC);
        long long after = worker_cpu_ns();
        ASSERT_GE(after, 0);
        EXPECT_EQ(status, STATUS_ONLINE);
        double cpu_ms = (after - before) / 1e6;
        std::printf("RESULT online_cpu_ms %.6f over %d s\n", cpu_ms, seconds);
        std::printf("RESULT online_cpu_percent %.5f\n", cpu_ms / (seconds * 10.0));
    });
}

}  // namespace
