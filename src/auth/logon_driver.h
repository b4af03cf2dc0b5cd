// SPDX-License-Identifier: GPL-2.0-or-later
// The worker's driver: the log-on machine (logon_machine.h) joined to the
// capture, the clock, the worker link, the settings file and the address
// step. It waits on its sources' descriptors until the machine's deadline,
// feeds what comes to the machine and carries out the steps it answers with,
// ending the thread at a checkpoint when a newer worker has taken over.
#pragma once

#include <cstdint>
#include <pcap/pcap.h>

#include "app/records.h"
#include "auth/link_watch.h"
#include "auth/logon_machine.h"
#include "auth/worker_link.h"

struct AuthSession;

// A descriptor the worker waits on, and how it takes what that holds: take()
// reads without blocking and feeds the machine, and answers false once the
// worker has ended. Every source's take() runs before each wait as well, so
// nothing already held is waited for. A negative fd is taken from but never
// waited on.
struct WaitSource {
    int fd;
    bool (*take)(AuthSession &s);
};

// The link, the clock, the generation's wake-up, the capture, and one for tests.
constexpr int MAX_WAIT_SOURCES = 5;

// One worker's values, private to its thread.
struct AuthSession {
    AppContext *ctx;
    pcap_t *handle;
    int generation;
    int timeout_ms;  // 0: a read waits until a frame arrives
    char account[51];
    char password[21];
    char answer_password[30];  // what MD5 answers use: password, or with the private suffix
    char device[64];
    uint8_t local_mac[6];
    LogonMachine machine;
    int start_period_ms;  // 0: LOGON_START_PERIOD_MS
    bool no_carrier;      // at Begin
    // The interface and the clock, watched when watch_link has opened them.
    LinkWatch link;
    int clock_fd = -1;
    int64_t sleep_offset_ms;
    WaitSource sources[MAX_WAIT_SOURCES];
    int source_count;
    // The lower-case process check, the address step (request_ip) and the
    // filter's installation (capture_set_filter when null); tests may replace them.
    void (*after_key_answer)();
    int (*acquire_address)(AppContext *ctx, const char *device, int *generation);
    int (*install_filter)(pcap_t *handle, const char *text);
    // Stops the DHCP clients an earlier address step left running.
    void (*stop_clients)();
};

// Account, passwords, interface and read time-out from what the user entered.
void fill_session(AuthSession &s, AppContext *ctx, const WorkerInput &in);
// Adds a descriptor to wait on; false when the session has no room left.
bool add_wait_source(AuthSession &s, const WaitSource &source);
// Watches the interface's link and the clock from now on: two more wait
// sources, taken before the capture. no_carrier follows what the link shows.
void watch_link(AuthSession &s);
// Closes what watch_link opened.
void unwatch_link(AuthSession &s);
// The period between Starts on a silent port for every later worker; 0 for
// LOGON_START_PERIOD_MS. Only tests shorten it.
void set_logon_start_period(int ms);
int logon_start_period();
// Sets up the machine for local_mac and begins it; false when the worker has ended.
bool logon_begin(AuthSession &s);
// Feeds one input, stamped with the clocks, `status` and the reconnect
// setting as they are now, and carries out the steps; false when the worker has ended.
bool logon_feed(AuthSession &s, LogonEvent event, const uint8_t *frame = nullptr, int caplen = 0);
// Waits on the sources and feeds what they bring, and the deadline's silences,
// until the worker has ended. The machine must have begun.
void logon_drive(AuthSession &s);
// On handle, whose local_mac is known: the whole log-on, until the worker
// has logged off or an attempt has ended with a reported failure.
void run_on_capture(AuthSession &s, pcap_t *handle);
