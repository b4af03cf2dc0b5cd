// SPDX-License-Identifier: GPL-2.0-or-later
// One interface's DHCP client at work: the state machine joined to its
// sockets and timer. Shared by the foreground and the background renewer.
#pragma once

#include "dhcp_dns.h"
#include "dhcp_machine.h"

struct DhcpSession {
    const char *ifname;
    int ifindex;
    int packet_fd;
    int timer_fd;
    int udp_fd;     // open only while renewing by unicast
    int listen_fd;  // the renewer's stop socket, -1 in the foreground
    int signal_fd;  // SIGTERM and SIGINT (killall at log-off), -1 when none
    int stop_signal; // the signal that ended the session, 0 for none
    DhcpClient client;
    DnsState dns;
    bool applied;   // a lease was put on the interface
    bool apply_failed;
};

enum DhcpStep { STEP_GOING, STEP_STOP };

// Carries out the machine's actions (remove, apply, send) and re-arms the timer.
void session_perform(DhcpSession *s, const DhcpActions &a);

// Waits for the next event (timer, datagram, stop request, signal,
// interface gone) and handles it; STEP_STOP when the session must end.
DhcpStep session_step(DhcpSession *s);

// Gives the lease back and takes it off the interface: the end of a
// renewer stopped by SIGTERM or SIGINT, whose port no longer lets it through.
void session_release(DhcpSession *s);

// What a session leaves when it ends: the name servers it handed to a
// resolver manager are taken back.
void session_end(DhcpSession *s);
