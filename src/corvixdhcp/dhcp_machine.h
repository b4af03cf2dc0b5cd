// SPDX-License-Identifier: GPL-2.0-or-later
// The client side of RFC 2131 as a pure state machine. It is handed the
// time, the parsed replies and its timer's expiries, and answers with what
// to send, put on the interface or take off it; it touches no socket or clock.
#pragma once

#include <cstdint>

#include "dhcp_lease.h"
#include "dhcp_packet.h"

enum DhcpState {
    DHCP_INIT_REBOOT, // asking to keep the address the interface holds
    DHCP_SELECTING,
    DHCP_REQUESTING,
    DHCP_BOUND,
    DHCP_RENEWING,
    DHCP_REBINDING,
    DHCP_GAVE_UP,
    DHCP_RELEASED,    // the lease was given back: nothing more to do
};

constexpr int64_t DHCP_NEVER = INT64_MAX;
constexpr int64_t DHCP_GIVE_UP_MS = 30000;
constexpr uint32_t DHCP_BROADCAST = 0xffffffff;

struct DhcpClient {
    DhcpState state;
    uint8_t mac[6];
    uint64_t rng;             // xorshift state for xids and back-off jitter
    uint32_t xid;
    int64_t exchange_start;   // ms; the secs field counts from here
    int64_t give_up_at;       // DHCP_NEVER while keeping a lease in the background
    int64_t wake_at;          // when dhcp_on_timer must run next
    int64_t interval;         // retransmission interval before jitter, ms
    int sends;                // messages sent in this exchange
    int naks;                 // NAKs since the last lease, for back-off
    uint32_t offered_ip, offered_server;
    bool has_lease;           // lease is on the interface (or held at start)
    DhcpLease lease;
    int64_t bound_at;
};

// What the driver must do, in this order: remove, apply, send.
struct DhcpActions {
    bool remove;
    DhcpLease removed;
    bool apply;
    DhcpLease applied;
    bool has_previous;        // applied replaces this lease
    DhcpLease previous;
    bool send;
    DhcpOutgoing msg;
    bool unicast;             // to dst_ip through the routing table, else link broadcast
    uint32_t src_ip, dst_ip;
    bool gave_up;
};

// Sets up a client for the hardware address mac; seed feeds the xids.
void dhcp_client_init(DhcpClient *c, const uint8_t mac[6], uint64_t seed);

// Starts at time now (ms): INIT-REBOOT for the address the interface holds
// (held, may be null), else DISCOVER. Gives up give_up_after ms later
// unless a lease is bound.
DhcpActions dhcp_start(DhcpClient *c, int64_t now, const DhcpLease *held, int64_t give_up_after);

// Runs the timer: retransmission, give-up, T1, T2 and expiry.
DhcpActions dhcp_on_timer(DhcpClient *c, int64_t now);

// Handles a parsed reply; those for another exchange or state are ignored.
DhcpActions dhcp_on_reply(DhcpClient *c, int64_t now, const DhcpReply &r);

// Gives the lease back at time now (ms), as the client ends: a RELEASE to
// the server that granted it, sent from its address (so before that goes),
// then the lease taken off. Nothing to do without a lease.
DhcpActions dhcp_release(DhcpClient *c, int64_t now);

// When T1, T2 and the end of the bound lease fall; DHCP_NEVER when infinite.
int64_t dhcp_t1_at(const DhcpClient &c);
int64_t dhcp_t2_at(const DhcpClient &c);
int64_t dhcp_expiry_at(const DhcpClient &c);
