// SPDX-License-Identifier: GPL-2.0-or-later
// IPv4 and UDP headers around a DHCP message: pure builders and checkers
// over byte buffers, for a packet socket that sees the network layer.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint16_t DHCP_SERVER_PORT = 67;
constexpr uint16_t DHCP_CLIENT_PORT = 68;
constexpr size_t IPUDP_HEADER_LEN = 28; // IPv4 without options, then UDP

// Internet checksum (RFC 1071) of len bytes, folded and complemented.
uint16_t inet_checksum(const uint8_t *data, size_t len, uint32_t initial_sum);

// Writes IPv4 and UDP headers for a payload already placed at
// frame + IPUDP_HEADER_LEN; both checksums are filled. Addresses in host
// order. Returns the frame length, or 0 when it would not fit in cap.
size_t ipudp_wrap(uint8_t *frame, size_t cap, size_t payload_len, uint32_t src_ip,
                  uint32_t dst_ip);

// Finds the UDP payload of an IPv4 datagram sent to the DHCP client port.
// Rejects fragments, bad lengths and bad header checksums; the UDP checksum
// is checked when check_udp_sum is true and the sender filled it in.
// Returns 1 and sets payload/payload_len, or 0 to ignore the datagram.
int ipudp_payload(const uint8_t *frame, size_t len, int check_udp_sum, const uint8_t **payload,
                  size_t *payload_len);
