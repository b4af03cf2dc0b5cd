// SPDX-License-Identifier: GPL-2.0-or-later
// Tests' handle on the lab (tests/lab/lab.sh): an authenticator namespace and
// a client namespace joined by a veth pair, hostapd or the simulator
// (tests/tools/authsim.cpp) and dnsmasq on the authenticator's side.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <pcap/pcap.h>

struct LabOptions {
    std::string auth = "hostapd";  // "hostapd", "sim" or "none"
    int eapol_version = 2;         // hostapd's own default
    int reauth_seconds = 3600;     // hostapd's eap_reauth_period
    std::string password = "labpass1";  // EAP-MD5 password of the client's identity
    std::string sim_args;          // further simulator arguments, blank-separated
    bool dhcp = true;
    int lease_seconds = 600;
    std::string name_prefix = "lab";  // of the namespaces' names, to tell a test's labs apart
};

struct Lab {
    std::string name;       // unique: holds the PID and random digits
    std::string state_dir;  // /run/corvix-lab/<name>: logs, leases, pid files
    std::string client_ns, auth_ns;
    std::string client_if = "labc0", auth_if = "laba0";
    uint8_t client_mac[6] = {0x02, 0xc0, 0, 0, 0, 1};
    uint8_t auth_mac[6] = {0x02, 0xa0, 0, 0, 0, 1};
    std::string server_ip = "10.77.0.1";
    bool up = false;
    std::string error;  // why lab_up failed
};

// Tears a lab down when the scope ends, whatever the test's outcome.
struct LabGuard {
    Lab &lab;
    ~LabGuard();
};

// One event of the simulator's log: monotonic milliseconds and the rest.
struct LabEvent {
    double ms;
    std::string text;
};

// Path of tests/lab/lab.sh and of the simulator built beside the tests.
std::string lab_script();
std::string lab_authsim();

// Builds a lab under a fresh name; false with lab.error saying why (not
// root, hostapd or the simulator missing, a step that failed).
bool lab_up(Lab &lab, const LabOptions &opt);
// Stops what the lab started (by PID) and removes it; safe to call twice.
void lab_down(Lab &lab);

// Runs a shell line in the client namespace inside a private PID namespace;
// its exit status (-1 when it could not run) and, in *out, its output.
int lab_exec(const Lab &lab, const std::string &line, std::string *out = nullptr);
// The same in the authenticator namespace, without a private PID namespace.
int lab_exec_auth(const Lab &lab, const std::string &line, std::string *out = nullptr);

// Moves the calling thread into the client namespace (threads it starts
// afterwards follow it); the descriptor of the namespace it left, or -1.
int lab_enter_client(const Lab &lab);
// Returns the calling thread to the namespace lab_enter_client handed back.
bool lab_leave(int previous_ns);

// Restarts the simulator with new blank-separated arguments (its log starts
// afresh).
bool lab_restart_sim(Lab &lab, const std::string &args);

// Whole text of a file ("" when unreadable).
std::string lab_read_file(const std::string &path);
// The simulator's log as events, in order.
std::vector<LabEvent> lab_sim_events(const Lab &lab);
// Index of the first event at or after `from` whose text starts with
// prefix, waiting up to timeout_ms for it; -1 when none came.
int lab_wait_event(const Lab &lab, const std::string &prefix, int timeout_ms, size_t from = 0);

// A capture handle on an interface of the calling thread's namespace for
// EAPOL frames arriving there (immediate mode, non-blocking); null on failure.
pcap_t *lab_open_eapol(const std::string &iface, std::string *error = nullptr);
// Next captured frame within timeout_ms; empty when none came.
std::vector<uint8_t> lab_recv(pcap_t *handle, int timeout_ms);
// Hands one frame to the capture library; true when it was sent whole.
bool lab_send(pcap_t *handle, const uint8_t *frame, int len);
