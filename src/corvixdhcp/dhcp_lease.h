// SPDX-License-Identifier: GPL-2.0-or-later
// A lease as the client applies and keeps it, derived from a server's ACK.
#pragma once

#include <cstdint>
#include <string>

#include "dhcp_packet.h"

constexpr uint32_t DHCP_INFINITE = 0xffffffff;
constexpr uint32_t DHCP_MIN_LEASE = 10; // seconds

struct DhcpLease {
    uint32_t address;
    int prefix;
    uint32_t broadcast; // 0 for /31 and /32, which have none
    uint32_t server_id;
    uint32_t router;    // the first usable router; 0 for none
    int dns_count;
    uint32_t dns[DHCP_MAX_DNS];
    char domain[DHCP_MAX_DOMAIN + 1]; // "" for none
    uint16_t mtu;       // 0 leaves the link's MTU alone
    uint32_t lease_s;   // DHCP_INFINITE never ends
    uint32_t t1_s, t2_s;
};

// The lease an ACK grants: prefix from the subnet mask (classful without
// one), T1 and T2 as given when they are in order, else RFC 2131's
// defaults of 0.5 and 0.875 of the lease.
DhcpLease dhcp_lease_from_reply(const DhcpReply &ack);

// The mask of the address' class (A /8, B /16, otherwise /24).
uint32_t dhcp_classful_mask(uint32_t address);

// Dotted-quad text of a host-order address.
std::string dhcp_addr_text(uint32_t address);

// The resolver file for the lease's DNS servers and domain (as "search");
// empty when it names no server.
std::string dhcp_resolv_conf_text(const DhcpLease &lease);
