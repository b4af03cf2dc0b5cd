// SPDX-License-Identifier: GPL-2.0-or-later
// The address step of a worker that a newer request supersedes ends at once,
// not when its DHCP client gives up, and stops that client: in a private
// mount namespace whose dhclient is a script that only waits.
#include <gtest/gtest.h>

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <string>

#include "dhcp/request_ip.h"
#include "support/sandbox.h"

namespace {

std::atomic<bool> returned{false};
int generation = 0;

gpointer address_step(gpointer)
{
    ClientSettings settings{};
    AppContext ctx{nullptr, &settings};
    (void)request_ip(&ctx, "x0", &generation);
    returned = true;
    return nullptr;
}

// Gone, or a zombie left to this process (the PID namespace's first).
bool ended(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string pid_field, comm, state;
    return !(in >> pid_field >> comm >> state) || state == "Z";
}

TEST(AddressWake, ASupersededAddressStepStopsItsClientAndEndsAtOnce)
{
    EXPECT_EQ("", run_in_child(CLONE_NEWNS, [](ChildChecks &c) {
        char tmpl[] = "/tmp/corvix-wake-XXXXXX";
        c.setup(mkdtemp(tmpl) != nullptr, "scratch folder");
        std::string dir = tmpl;
        std::ofstream(dir + "/dhclient") << "#!/bin/sh\necho $$ >" << dir << "/pid\nexec sleep 30\n";
        c.setup(chmod((dir + "/dhclient").c_str(), 0755) == 0 &&
                    mount((dir + "/dhclient").c_str(), "/usr/sbin/dhclient", nullptr, MS_BIND,
                          nullptr) == 0,
                "a dhclient that only waits");
        WorkerLink link{};
        link.read_address_settings = [](void *) { return AddressSettings{0, 0, "", ""}; };
        set_worker_link(link);
        generation = next_generation();
        GThread *worker = g_thread_new("worker", address_step, nullptr);
        pid_t client = 0;
        for (int i = 0; i < 500 && client <= 0; i++, g_usleep(10000))
            client = std::atoi(file_text(dir + "/pid").c_str());
        c.expect(client > 0, "the DHCP client started");
        gint64 t0 = g_get_monotonic_time();
        (void)next_generation();
        (void)g_thread_join(worker);
        gint64 ms = (g_get_monotonic_time() - t0) / 1000;
        c.expect(ms < 1000, "the step ended " + std::to_string(ms) + " ms after");
        c.expect(!returned, "the step ended the thread instead of returning");
        c.expect(client > 0 && ended(client), "the DHCP client was stopped");
        c.expect(status.load() != STATUS_ONLINE, "no address reported");
        (void)umount2("/usr/sbin/dhclient", MNT_DETACH);
        (void)std::system(("rm -rf " + dir).c_str());
    }));
}

}  // namespace
