// SPDX-License-Identifier: GPL-2.0-or-later
#include "dhcp_ipudp.h"

namespace {

uint16_t get16(const uint8_t *p) { return uint16_t(p[0] << 8 | p[1]); }

void put16(uint8_t *p, uint16_t v)
{
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}

void put32(uint8_t *p, uint32_t v)
{
    put16(p, uint16_t(v >> 16));
    put16(p + 2, uint16_t(v));
}

uint32_t sum_words(const uint8_t *data, size_t len, uint32_t sum)
{
    for (size_t i = 0; i + 1 < len; i += 2)
        sum += get16(data + i);
    if (len & 1)
        sum += uint32_t(data[len - 1]) << 8;
    return sum;
}

// Sum over the UDP pseudo header (RFC 768): addresses, protocol, length.
uint32_t pseudo_header_sum(const uint8_t *ip, uint16_t udp_len)
{
    return sum_words(ip + 12, 8, 0) + 17 + udp_len;
}

} // namespace

uint16_t inet_checksum(const uint8_t *data, size_t len, uint32_t initial_sum)
{
    uint32_t sum = sum_words(data, len, initial_sum);
    while (sum >> 16)
        sum = (sum & 0xffff) + (sum >> 16);
    return uint16_t(~sum);
}

size_t ipudp_wrap(uint8_t *frame, size_t cap, size_t payload_len, uint32_t src_ip,
                  uint32_t dst_ip)
{
    size_t total = IPUDP_HEADER_LEN + payload_len;
    if (cap < IPUDP_HEADER_LEN || payload_len > cap - IPUDP_HEADER_LEN || total > 0xffff)
        return 0;
    uint8_t *ip = frame, *udp = frame + 20;
    ip[0] = 0x45; // version 4, five header words
    ip[1] = 0x10; // type of service: low delay
    put16(ip + 2, uint16_t(total));
    put16(ip + 4, 0);
    put16(ip + 6, 0);
    ip[8] = 64;
    ip[9] = 17;
    put16(ip + 10, 0);
    put32(ip + 12, src_ip);
    put32(ip + 16, dst_ip);
    put16(ip + 10, inet_checksum(ip, 20, 0));
    put16(udp, DHCP_CLIENT_PORT);
    put16(udp + 2, DHCP_SERVER_PORT);
    put16(udp + 4, uint16_t(8 + payload_len));
    put16(udp + 6, 0);
    uint16_t sum = inet_checksum(udp, 8 + payload_len, pseudo_header_sum(ip, uint16_t(8 + payload_len)));
    put16(udp + 6, sum == 0 ? 0xffff : sum); // zero would mean "no checksum"
    return total;
}

int ipudp_payload(const uint8_t *frame, size_t len, int check_udp_sum, const uint8_t **payload,
                  size_t *payload_len)
{
    if (len < 20 || (frame[0] >> 4) != 4)
        return 0;
    size_t ihl = size_t(frame[0] & 0x0f) * 4;
    size_t total = get16(frame + 2);
    // Link-layer padding may follow the datagram, so the header's length rules.
    if (ihl < 20 || total < ihl + 8 || total > len)
        return 0;
    if (frame[9] != 17 || (get16(frame + 6) & 0x3fff) != 0) // UDP, not a fragment
        return 0;
    if (inet_checksum(frame, ihl, 0) != 0)
        return 0;
    const uint8_t *udp = frame + ihl;
    size_t udp_len = get16(udp + 4);
    if (get16(udp + 2) != DHCP_CLIENT_PORT || udp_len < 8 || udp_len > total - ihl)
        return 0;
    if (check_udp_sum && get16(udp + 6) != 0 &&
        inet_checksum(udp, udp_len, pseudo_header_sum(frame, uint16_t(udp_len))) != 0)
        return 0;
    *payload = udp + 8;
    *payload_len = udp_len - 8;
    return 1;
}
