// SPDX-License-Identifier: GPL-2.0-or-later
// Helpers shared by the CorvixDHCP tests: recorded frames and a checksum
// written apart from the code under test.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr uint8_t RECORDED_MAC[6] = {0x02, 0xc0, 0x00, 0x00, 0x00, 0x01};

// An IPv4 datagram recorded from dnsmasq, stored as one hex line in data/.
std::vector<uint8_t> load_recorded(const char *name);

// RFC 1071 sum of data, complemented, starting from sum.
uint16_t ref_checksum(const uint8_t *data, size_t len, uint32_t sum);

// Whether the UDP checksum of an IPv4 datagram is right (or absent).
bool udp_sum_ok(const std::vector<uint8_t> &frame);

// Recomputes the UDP checksum after the payload was changed.
void fix_udp_sum(std::vector<uint8_t> &frame);

// Gives a recorded reply our exchange's xid and hardware address, as a live
// server's reply would carry them; the checksum is made right again.
void patch_reply(std::vector<uint8_t> &frame, uint32_t xid, const uint8_t mac[6]);

// The BOOTP payload of a recorded datagram (after IP and UDP headers).
std::vector<uint8_t> payload_of(const std::vector<uint8_t> &frame);

// A minimal server reply payload: header, magic, the given option bytes.
std::vector<uint8_t> make_reply(uint32_t xid, const uint8_t mac[6], uint32_t yiaddr,
                                const std::vector<uint8_t> &options);

// Option bytes for message type t and server identifier 10.0.0.1.
std::vector<uint8_t> basic_options(uint8_t type);
