// One interface's DHCP client at work: the state machine joined to its
// sockets and timer. Shared by the foreground and the background renewer.
#pragma once

#include "dhcp_machine.h"

struct DhcpSession {
    const char *ifname;
    int ifindex;
    int packet_fd;
    int timer_fd;
    int udp_fd;     // open only while renewing by unicast
    int listen_fd;  // the renewer's stop socket, -1 in the foreground
    DhcpClient client;
    bool applied;   // a lease was put on the interface
    bool apply_failed;
};

enum DhcpStep { STEP_GOING, STEP_STOP };

// Carries out the machine's actions (remove, apply, send) and re-arms the timer.
void session_perform(DhcpSession *s, const DhcpActions &a);

// Waits for the next event (timer, datagram, stop request, interface gone)
// and handles it; STEP_STOP when the renewer must end.
DhcpStep session_step(DhcpSession *s);
