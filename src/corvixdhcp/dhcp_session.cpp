// SPDX-License-Identifier: GPL-2.0-or-later
#include "dhcp_session.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <poll.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include "dhcp_apply.h"
#include "dhcp_io.h"
#include "dhcp_ipudp.h"

namespace {

const char RESOLV_CONF[] = "/etc/resolv.conf";
// A server that cannot be reached (a port already closed) holds up the end
// no longer than this; the lease then simply runs out at the server.
constexpr int RELEASE_SEND_WAIT_MS = 500;

// A unicast renewal needs a kernel UDP socket bound to our address; it
// stays open while renewing so that the server's answer finds a listener.
void keep_udp_socket(DhcpSession *s)
{
    bool want = s->client.state == DHCP_RENEWING;
    if (want && s->udp_fd < 0)
        s->udp_fd = io_udp_socket(s->ifname, s->client.lease.address);
    if (!want && s->udp_fd >= 0) {
        close(s->udp_fd);
        s->udp_fd = -1;
    }
}

void send_message(DhcpSession *s, const DhcpActions &a)
{
    uint8_t frame[IPUDP_HEADER_LEN + DHCP_PAYLOAD_BUFSIZE];
    uint8_t *payload = frame + IPUDP_HEADER_LEN;
    size_t n = dhcp_build_payload(payload, DHCP_PAYLOAD_BUFSIZE, a.msg, s->client.mac);
    if (a.unicast && s->udp_fd >= 0) {
        (void)io_send_udp(s->udp_fd, a.dst_ip, payload, n);
        return;
    }
    // Without a UDP socket a renewal goes out as a broadcast, as when rebinding.
    size_t len = ipudp_wrap(frame, sizeof frame, n, a.src_ip, DHCP_BROADCAST);
    (void)io_send_broadcast(s->packet_fd, s->ifindex, frame, len);
}

void handle_frames(DhcpSession *s)
{
    uint8_t buf[4096];
    int checkable = 1;
    ssize_t n;
    while ((n = io_recv_frame(s->packet_fd, buf, sizeof buf, &checkable)) >= 0) {
        const uint8_t *payload = nullptr;
        size_t len = 0;
        DhcpReply reply;
        if (ipudp_payload(buf, size_t(n), checkable, &payload, &len) &&
            dhcp_parse_payload(payload, len, &reply))
            session_perform(s, dhcp_on_reply(&s->client, io_now_ms(), reply));
    }
}

void handle_timer(DhcpSession *s)
{
    uint64_t expirations = 0;
    if (read(s->timer_fd, &expirations, sizeof expirations) < 0) {
        // Nothing to clear: the machine looks at the clock, not at the count.
    }
    session_perform(s, dhcp_on_timer(&s->client, io_now_ms()));
}

// A socket error clears on reading it; the renewer ends when its interface
// is gone, since it has nothing left to keep.
bool interface_gone(DhcpSession *s)
{
    int err = 0;
    socklen_t len = sizeof err;
    (void)getsockopt(s->packet_fd, SOL_SOCKET, SO_ERROR, &err, &len);
    InterfaceInfo info;
    return !io_interface_info(s->ifname, &info) || info.ifindex != s->ifindex;
}

} // namespace

void session_perform(DhcpSession *s, const DhcpActions &a)
{
    if (a.remove) {
        (void)lease_remove(s->ifindex, a.removed);
        dns_take_back(&s->dns, s->ifname);
    }
    if (a.apply) {
        bool ok = lease_apply(s->ifindex, a.has_previous ? &a.previous : nullptr, a.applied);
        if (ok && !dns_apply(&s->dns, s->ifname, a.applied, RESOLV_CONF))
            std::fprintf(stderr, "CorvixDHCP: cannot hand the name servers of %s on\n", s->ifname);
        s->applied = s->applied || ok;
        s->apply_failed = !ok;
    }
    keep_udp_socket(s);
    if (a.send)
        send_message(s, a);
    io_timer_set(s->timer_fd, s->client.wake_at);
}

DhcpStep session_step(DhcpSession *s)
{
    pollfd fds[5] = {{s->packet_fd, POLLIN, 0},
                     {s->timer_fd, POLLIN, 0},
                     {s->udp_fd, POLLIN, 0},
                     {s->listen_fd, POLLIN, 0},
                     {s->signal_fd, POLLIN, 0}};
    if (poll(fds, 5, -1) < 0)
        return errno == EINTR ? STEP_GOING : STEP_STOP;
    signalfd_siginfo info;
    if (fds[4].revents && read(s->signal_fd, &info, sizeof info) == ssize_t(sizeof info)) {
        s->stop_signal = int(info.ssi_signo);
        return STEP_STOP;
    }
    if (fds[3].revents && io_stop_requested(s->listen_fd))
        return STEP_STOP; // a newer run on this interface takes over
    if ((fds[0].revents & POLLERR) && interface_gone(s))
        return STEP_STOP;
    if (fds[0].revents & POLLIN)
        handle_frames(s);
    if (fds[2].revents && s->udp_fd >= 0)
        io_drain(s->udp_fd); // the packet socket has seen the same answer
    if (fds[1].revents)
        handle_timer(s);
    return STEP_GOING;
}

void session_release(DhcpSession *s)
{
    DhcpActions a = dhcp_release(&s->client, io_now_ms());
    if (a.send) {
        // Sent before the address goes: its removal drops what still waits
        // for the server's hardware address, so the removal waits for that.
        if (s->udp_fd < 0)
            s->udp_fd = io_udp_socket(s->ifname, a.src_ip);
        send_message(s, a);
        if (s->udp_fd >= 0)
            io_wait_sent(s->udp_fd, RELEASE_SEND_WAIT_MS);
        a.send = false;
    }
    session_perform(s, a);
}

void session_end(DhcpSession *s)
{
    dns_take_back(&s->dns, s->ifname);
}
