// SPDX-License-Identifier: GPL-2.0-or-later
// End-to-end test client: the client's two halves as users run them, a real
// engine (support/engine_fixture.h) with its worker threads and the window
// with the real GTK main loop (under Xvfb), in the lab's client namespace.
//
//   e2e_isolate_process();                 // first thing: private mount namespace
//   Lab lab; LabGuard g{lab}; ASSERT_TRUE(lab_up(lab, opt)) << lab.error;
//   E2eClient *c = e2e_client(lab, "acct", "labpass1");   // enters NAME-c, GTK up
//   e2e_drive([&] {                          // runs on a driver thread while the
//       start_worker(c);                     // main loop runs on this one
//       EXPECT_TRUE(e2e_wait([&] { return status == STATUS_ONLINE; }, 20000));
//   });
//
// dhclient is the system's, run through a wrapper bound over /sbin/dhclient in
// the test's own mount namespace: its lease and PID files stay in a temporary
// folder and every run is counted.
#pragma once

#include <functional>
#include <string>

#include "app/records.h"
#include "ui/main_widgets.h"
#include "support/lab.h"

struct E2eClient {
    ClientSettings settings;
    MainWidgets widgets;
    AppContext ctx;
    std::string dir;  // temporary folder: settings file, dhclient's files
};

// Gives the process a mount namespace of its own (mounts never reach the
// machine). Must run before any thread exists; fails the test loudly otherwise.
void e2e_isolate_process();
// e2e_isolate_process, then the lab up; false (and a test failure naming the
// lab's error) otherwise.
bool e2e_lab_up(Lab &lab, const LabOptions &opt);
// Forks the engine's process and starts GTK (so: before any thread), enters
// the client namespace with this thread (which runs GTK), mounts its
// /sys and resolv.conf, installs the dhclient wrapper, starts GTK and builds a
// client whose entries hold account, password and the lab's interface. Never
// freed: workers may outlive the test body. Null (and a test failure) when a
// step fails.
E2eClient *e2e_client(const Lab &lab, const std::string &account, const std::string &password);
// The same client record without a lab or namespace: only GTK and the settings file.
E2eClient *e2e_client_offline(const std::string &account, const std::string &password,
                              const std::string &device);

// For a test that drives the engine itself, without a window or GTK: enters
// the client namespace with this thread, mounts its view and the dhclient
// wrapper, and makes a temporary folder (removed at exit) whose Corvix.conf
// settings_path names from now on. The folder, or "" (and a test failure).
std::string e2e_engine_client(const Lab &lab);

// Starts the engine with the client's settings as they are now (the first
// time), then runs body on a driver thread while this thread runs the GTK
// main loop; the dialog is closed and the loop left when body returns.
void e2e_drive(const std::function<void()> &body);
// Polls pred on the driver thread every 10 ms until it holds or timeout_ms passed.
bool e2e_wait(const std::function<bool()> &pred, int timeout_ms);
// Runs fn on the main thread and waits for it.
void e2e_on_main(const std::function<void()> &fn);

// Asks the engine for a log-on with the window's entries, the way the log-on
// button does (from the main thread).
void e2e_start_worker(E2eClient *c);
// Copies of the dialog fields and window state, read on the main thread.
std::string e2e_msg_text(E2eClient *c);
std::string e2e_msg_title(E2eClient *c);
bool e2e_dialog_shown(E2eClient *c);
bool e2e_main_window_visible(E2eClient *c);
bool e2e_tray_shown(E2eClient *c);
// Sets the text of an entry of the client's window on the main thread.
void e2e_set_password(E2eClient *c, const std::string &password);
// Number of dhclient runs so far.
int e2e_dhcp_runs(E2eClient *c);
// The settings file's text.
std::string e2e_settings_text(E2eClient *c);
// IPv4 address of the lab's client interface, dotted ("" when none).
std::string e2e_client_address(const Lab &lab);
// A capture of the EAPOL frames arriving on the authenticator's interface,
// opened from the authenticator namespace; null (and a test failure) on error.
pcap_t *e2e_auth_capture(const Lab &lab);
// Waits up to timeout_ms for a frame from the client with this EAPOL packet type.
bool e2e_wait_client_frame(const Lab &lab, pcap_t *capture, uint8_t eapol_type, int timeout_ms);
// Number of simulator events whose text starts with prefix.
int e2e_count_events(const Lab &lab, const std::string &prefix);
// Milliseconds on the monotonic clock.
double e2e_now_ms();
