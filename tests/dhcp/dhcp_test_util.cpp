// SPDX-License-Identifier: GPL-2.0-or-later
#include "dhcp_test_util.h"

#include <fstream>
#include <stdexcept>

std::vector<uint8_t> load_recorded(const char *name)
{
    std::ifstream in(std::string(DHCP_TEST_DATA) + "/" + name);
    std::string hex;
    if (!(in >> hex) || hex.size() % 2)
        throw std::runtime_error(std::string("cannot read recorded frame ") + name);
    std::vector<uint8_t> out;
    for (size_t i = 0; i < hex.size(); i += 2)
        out.push_back(uint8_t(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return out;
}

uint16_t ref_checksum(const uint8_t *data, size_t len, uint32_t sum)
{
    for (size_t i = 0; i < len; i++)
        sum += (i % 2 == 0) ? uint32_t(data[i]) << 8 : data[i];
    while (sum > 0xffff)
        sum = (sum >> 16) + (sum & 0xffff);
    return uint16_t(~sum & 0xffff);
}

namespace {

size_t udp_offset(const std::vector<uint8_t> &f) { return size_t(f[0] & 0x0f) * 4; }

uint32_t pseudo_sum(const std::vector<uint8_t> &f, size_t udp_len)
{
    uint32_t sum = 17 + uint32_t(udp_len);
    for (size_t i = 12; i < 20; i += 2)
        sum += uint32_t(f[i]) << 8 | f[i + 1];
    return sum;
}

} // namespace

bool udp_sum_ok(const std::vector<uint8_t> &f)
{
    size_t u = udp_offset(f);
    size_t len = size_t(f[u + 4]) << 8 | f[u + 5];
    if (f[u + 6] == 0 && f[u + 7] == 0)
        return true;
    return ref_checksum(f.data() + u, len, pseudo_sum(f, len)) == 0;
}

void fix_udp_sum(std::vector<uint8_t> &f)
{
    size_t u = udp_offset(f);
    size_t len = size_t(f[u + 4]) << 8 | f[u + 5];
    f[u + 6] = f[u + 7] = 0;
    uint16_t sum = ref_checksum(f.data() + u, len, pseudo_sum(f, len));
    f[u + 6] = uint8_t(sum >> 8);
    f[u + 7] = uint8_t(sum);
}

void patch_reply(std::vector<uint8_t> &f, uint32_t xid, const uint8_t mac[6])
{
    size_t b = udp_offset(f) + 8;
    for (int i = 0; i < 4; i++)
        f[b + 4 + size_t(i)] = uint8_t(xid >> (24 - 8 * i));
    for (int i = 0; i < 6; i++)
        f[b + 28 + size_t(i)] = mac[i];
    fix_udp_sum(f);
}

std::vector<uint8_t> payload_of(const std::vector<uint8_t> &f)
{
    size_t b = udp_offset(f) + 8;
    return std::vector<uint8_t>(f.begin() + long(b), f.end());
}

std::vector<uint8_t> make_reply(uint32_t xid, const uint8_t mac[6], uint32_t yiaddr,
                                const std::vector<uint8_t> &options)
{
    std::vector<uint8_t> p(240, 0);
    p[0] = 2;
    p[1] = 1;
    p[2] = 6;
    for (int i = 0; i < 4; i++) {
        p[4 + size_t(i)] = uint8_t(xid >> (24 - 8 * i));
        p[16 + size_t(i)] = uint8_t(yiaddr >> (24 - 8 * i));
    }
    for (int i = 0; i < 6; i++)
        p[28 + size_t(i)] = mac[i];
    p[236] = 99;
    p[237] = 130;
    p[238] = 83;
    p[239] = 99;
    p.insert(p.end(), options.begin(), options.end());
    return p;
}

std::vector<uint8_t> basic_options(uint8_t type)
{
    return {53, 1, type, 54, 4, 10, 0, 0, 1};
}
