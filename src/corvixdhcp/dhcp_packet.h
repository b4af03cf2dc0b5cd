// SPDX-License-Identifier: GPL-2.0-or-later
// DHCP messages (RFC 2131, options of RFC 2132): pure builders and parsers
// of the BOOTP payload. Addresses are IPv4 in host byte order.
#pragma once

#include <cstddef>
#include <cstdint>

enum DhcpMessageType : uint8_t {
    DHCP_DISCOVER = 1,
    DHCP_OFFER = 2,
    DHCP_REQUEST = 3,
    DHCP_ACK = 5,
    DHCP_NAK = 6,
    DHCP_RELEASE = 7,
};

constexpr int DHCP_MAX_ROUTERS = 4;
constexpr int DHCP_MAX_DNS = 3; // the resolver reads no more than three
constexpr size_t DHCP_MAX_DOMAIN = 64; // longer domain names are not kept
constexpr size_t DHCP_PAYLOAD_MIN = 300; // BOOTP minimum, RFC 1542 section 2.1
constexpr size_t DHCP_PAYLOAD_BUFSIZE = 576;

// What one message from the client carries besides its hardware address.
struct DhcpOutgoing {
    uint8_t type;          // DHCP_DISCOVER, DHCP_REQUEST or DHCP_RELEASE
    uint32_t xid;
    uint16_t secs;
    uint32_t ciaddr;       // our address while renewing or rebinding, else 0
    uint32_t requested_ip; // option 50; 0 leaves it out
    uint32_t server_id;    // option 54; 0 leaves it out
    bool broadcast_flag;
};

// The parts of a server's message that the client uses.
struct DhcpReply {
    uint8_t type;          // DHCP_OFFER, DHCP_ACK or DHCP_NAK
    uint32_t xid;
    uint8_t chaddr[6];
    uint32_t yiaddr;
    uint32_t server_id;
    bool has_subnet_mask;
    uint32_t subnet_mask;
    bool has_lease_time;
    uint32_t lease_time;   // seconds; 0xffffffff is infinite
    bool has_t1, has_t2;
    uint32_t t1, t2;
    uint16_t mtu;          // 0 when not given
    int router_count;
    uint32_t routers[DHCP_MAX_ROUTERS];
    int dns_count;
    uint32_t dns[DHCP_MAX_DNS];
    char domain[DHCP_MAX_DOMAIN + 1]; // option 15 when it is a plain host name, else ""
};

// Writes the BOOTP payload of msg (padded to the BOOTP minimum) into buf;
// returns its length, or 0 when cap is too small.
size_t dhcp_build_payload(uint8_t *buf, size_t cap, const DhcpOutgoing &msg, const uint8_t mac[6]);

// Parses a server's BOOTP payload of len bytes. Returns 1 and fills out for a
// well-formed OFFER, ACK or NAK; 0 for anything else (never reads past len).
int dhcp_parse_payload(const uint8_t *data, size_t len, DhcpReply *out);

// True for an address a host or router may have: not in 0.0.0.0/8 or
// loopback, not multicast or above.
bool dhcp_usable_unicast(uint32_t address);

// True when mask is a run of ones followed by zeros; sets *prefix.
bool dhcp_mask_prefix(uint32_t mask, int *prefix);
