// SPDX-License-Identifier: GPL-2.0-or-later
// The one place where CorvixDHCP meets sockets, interfaces and the clock.
// Addresses are IPv4 in host byte order; results are 1 done, 0 not done,
// or a descriptor (-1 on failure).
#pragma once

#include <cstddef>
#include <cstdint>
#include <sys/types.h>

struct InterfaceInfo {
    int ifindex;
    uint8_t mac[6];
    bool up;
    bool has_address; // the interface's primary IPv4 address, if any
    uint32_t address;
    int prefix;
};

// Milliseconds of CLOCK_BOOTTIME, which keeps counting while suspended,
// as a lease's lifetime does.
int64_t io_now_ms();

// Index, Ethernet address and primary IPv4 address of ifname.
int io_interface_info(const char *ifname, InterfaceInfo *out);

// Sets the interface up when it is down.
int io_bring_up(const char *ifname);

// A packet socket on ifindex that receives only UDP datagrams to port 68;
// it works while the interface has no address.
int io_packet_socket(int ifindex);

// Sends an IPv4 frame to the link's broadcast address.
int io_send_broadcast(int fd, int ifindex, const uint8_t *frame, size_t len);

// Reads one received datagram; returns its length or -1 when none is
// waiting. *udp_sum_checkable is 0 when the sender left the UDP checksum to
// the hardware, as a veth or local sender does.
ssize_t io_recv_frame(int fd, uint8_t *buf, size_t cap, int *udp_sum_checkable);

// A UDP socket bound to local_ip port 68 on ifname, for unicast renewals.
int io_udp_socket(const char *ifname, uint32_t local_ip);

// Sends a DHCP payload to the server port of dst over a UDP socket.
int io_send_udp(int fd, uint32_t dst, const uint8_t *payload, size_t len);

// Waits up to timeout_ms until what was sent on a socket has left it (a
// datagram waits there while the next hop's hardware address is looked up).
void io_wait_sent(int fd, int timeout_ms);

// Reads and drops whatever waits on a descriptor.
void io_drain(int fd);

// A timer on CLOCK_BOOTTIME (see io_now_ms).
int io_timer();

// Arms the timer for the absolute time at_ms, or disarms it for INT64_MAX.
void io_timer_set(int fd, int64_t at_ms);

// The listening socket by which the renewer of ifname can be told to end: a
// socket in root's folder /run/corvix (made mode 0700 when missing), named
// after the network namespace and the interface. -1 when the folder is not
// root's alone or the name is taken.
int io_renewer_listen(const char *ifname);

// Takes one connection from the renewer's socket: 1 when it comes from root
// and the renewer must end (the connection stays open until then), else 0.
int io_stop_requested(int listen_fd);

// Ends the renewer of ifname left by an earlier run, if one runs as root,
// and waits up to two seconds for it to go; a renewer that does not take the
// connection within half a second is left as it is. Removes the name of a
// renewer that has gone.
void io_stop_renewer(const char *ifname);
