// SPDX-License-Identifier: GPL-2.0-or-later
#include "dhcp_packet.h"

#include <cstring>

namespace {

enum : uint8_t {
    OPT_PAD = 0,
    OPT_SUBNET_MASK = 1,
    OPT_ROUTER = 3,
    OPT_DNS = 6,
    OPT_DOMAIN = 15,
    OPT_MTU = 26,
    OPT_REQUESTED_IP = 50,
    OPT_LEASE_TIME = 51,
    OPT_OVERLOAD = 52,
    OPT_MESSAGE_TYPE = 53,
    OPT_SERVER_ID = 54,
    OPT_PARAMETER_LIST = 55,
    OPT_T1 = 58,
    OPT_T2 = 59,
    OPT_CLIENT_ID = 61,
    OPT_END = 255,
};

constexpr uint8_t MAGIC[4] = {99, 130, 83, 99};
constexpr size_t OFF_SNAME = 44, OFF_FILE = 108, OFF_MAGIC = 236, OFF_OPTIONS = 240;
constexpr uint8_t PARAMETERS[] = {OPT_SUBNET_MASK, OPT_ROUTER, OPT_DNS, OPT_LEASE_TIME,
                                  OPT_T1, OPT_T2, OPT_MTU, OPT_DOMAIN};

// The options the client reads. An option may come in pieces that are
// joined (RFC 3396); total counts every byte, data keeps the first ones.
constexpr uint8_t WANTED[] = {OPT_SUBNET_MASK, OPT_ROUTER, OPT_DNS, OPT_MTU, OPT_LEASE_TIME,
                              OPT_OVERLOAD, OPT_MESSAGE_TYPE, OPT_SERVER_ID, OPT_T1, OPT_T2,
                              OPT_DOMAIN};
constexpr size_t OPTION_CAP = 64;
static_assert(DHCP_MAX_DOMAIN <= OPTION_CAP, "a kept domain fits what an option keeps");

struct Option {
    size_t total;
    uint8_t data[OPTION_CAP];
};

struct Options {
    Option opt[sizeof WANTED];
};

uint32_t get32(const uint8_t *p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

void put32(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; i++)
        p[i] = uint8_t(v >> (24 - 8 * i));
}

// Index of a wanted option code, or -1.
int slot(uint8_t code)
{
    for (size_t i = 0; i < sizeof WANTED; i++)
        if (WANTED[i] == code)
            return int(i);
    return -1;
}

// Only for codes listed in WANTED.
const Option &get(const Options &o, uint8_t code) { return o.opt[slot(code)]; }

void keep(Options &o, uint8_t code, const uint8_t *data, size_t len)
{
    int i = slot(code);
    if (i < 0)
        return;
    Option &opt = o.opt[i];
    for (size_t k = 0; k < len; k++, opt.total++)
        if (opt.total < OPTION_CAP)
            opt.data[opt.total] = data[k];
}

// Walks one option area; false when an option runs past its end.
bool walk(const uint8_t *p, size_t len, Options &o)
{
    size_t i = 0;
    while (i < len) {
        uint8_t code = p[i];
        if (code == OPT_END)
            return true;
        if (code == OPT_PAD) {
            i++;
            continue;
        }
        if (len - i < 2 || size_t(p[i + 1]) > len - i - 2)
            return false;
        keep(o, code, p + i + 2, p[i + 1]);
        i += 2 + size_t(p[i + 1]);
    }
    return true;
}

// Options, then the file field, then sname when the server overloaded them.
bool collect(const uint8_t *data, size_t len, Options &o)
{
    if (!walk(data + OFF_OPTIONS, len - OFF_OPTIONS, o))
        return false;
    const Option &ov = get(o, OPT_OVERLOAD);
    if (ov.total == 0)
        return true;
    uint8_t which = ov.data[0];
    if (ov.total != 1 || which < 1 || which > 3)
        return false;
    if ((which & 1) && !walk(data + OFF_FILE, 128, o))
        return false;
    return !(which & 2) || walk(data + OFF_SNAME, 64, o);
}

// A fixed-size option: absent, or exactly size bytes.
bool fixed(const Options &o, uint8_t code, size_t size, bool *present)
{
    size_t total = get(o, code).total;
    *present = total != 0;
    return !*present || total == size;
}

bool addr32(const Options &o, uint8_t code, bool *present, uint32_t *value)
{
    if (!fixed(o, code, 4, present))
        return false;
    if (*present)
        *value = get32(get(o, code).data);
    return true;
}

// A list of addresses: absent, or a non-empty multiple of four bytes.
bool addr_list(const Options &o, uint8_t code, uint32_t *out, int max, int *count)
{
    const Option &opt = get(o, code);
    *count = 0;
    if (opt.total % 4 != 0)
        return false;
    for (size_t i = 0; i + 4 <= opt.total && i + 4 <= OPTION_CAP && *count < max; i += 4)
        out[(*count)++] = get32(opt.data + i);
    return true;
}

// The domain goes into the resolver file and onto command lines: only a
// plain name of letters, digits, '-', '_' and inner dots is taken. Some
// servers end it with NUL bytes.
void read_domain(const Options &o, DhcpReply *r)
{
    const Option &opt = get(o, OPT_DOMAIN);
    size_t len = opt.total;
    while (len > 0 && len <= OPTION_CAP && opt.data[len - 1] == 0)
        len--;
    r->domain[0] = 0;
    if (len == 0 || len > DHCP_MAX_DOMAIN)
        return;
    for (size_t i = 0; i < len; i++) {
        uint8_t ch = opt.data[i];
        bool dot = ch == '.';
        bool plain = (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') ||
                     ch == '-' || ch == '_';
        if (!plain && !(dot && i > 0 && i + 1 < len && opt.data[i - 1] != '.'))
            return;
    }
    std::memcpy(r->domain, opt.data, len);
    r->domain[len] = 0;
}

bool read_options(const Options &o, DhcpReply *r)
{
    bool present = false, ok = true;
    ok &= fixed(o, OPT_MESSAGE_TYPE, 1, &present) && present;
    if (!ok)
        return false;
    r->type = get(o, OPT_MESSAGE_TYPE).data[0];
    ok &= addr32(o, OPT_SERVER_ID, &present, &r->server_id) && present;
    ok &= addr32(o, OPT_SUBNET_MASK, &r->has_subnet_mask, &r->subnet_mask);
    ok &= addr32(o, OPT_LEASE_TIME, &r->has_lease_time, &r->lease_time);
    ok &= addr32(o, OPT_T1, &r->has_t1, &r->t1);
    ok &= addr32(o, OPT_T2, &r->has_t2, &r->t2);
    ok &= fixed(o, OPT_MTU, 2, &present);
    if (ok && present) {
        const uint8_t *m = get(o, OPT_MTU).data;
        r->mtu = uint16_t(m[0] << 8 | m[1]);
    }
    ok &= addr_list(o, OPT_ROUTER, r->routers, DHCP_MAX_ROUTERS, &r->router_count);
    ok &= addr_list(o, OPT_DNS, r->dns, DHCP_MAX_DNS, &r->dns_count);
    read_domain(o, r);
    return ok;
}

bool sensible(const DhcpReply &r)
{
    int prefix = 0;
    if (r.type != DHCP_OFFER && r.type != DHCP_ACK && r.type != DHCP_NAK)
        return false;
    if (r.server_id == 0)
        return false;
    if (r.has_subnet_mask && (!dhcp_mask_prefix(r.subnet_mask, &prefix) || prefix == 0))
        return false;
    return r.type == DHCP_NAK || dhcp_usable_unicast(r.yiaddr);
}

uint8_t *put_option(uint8_t *p, uint8_t code, const uint8_t *data, uint8_t len)
{
    p[0] = code;
    p[1] = len;
    std::memcpy(p + 2, data, len);
    return p + 2 + len;
}

uint8_t *put_addr_option(uint8_t *p, uint8_t code, uint32_t addr)
{
    uint8_t v[4];
    put32(v, addr);
    return put_option(p, code, v, 4);
}

void put_header(uint8_t *buf, const DhcpOutgoing &msg, const uint8_t mac[6])
{
    buf[0] = 1; // BOOTREQUEST
    buf[1] = 1; // Ethernet
    buf[2] = 6;
    put32(buf + 4, msg.xid);
    buf[8] = uint8_t(msg.secs >> 8);
    buf[9] = uint8_t(msg.secs);
    buf[10] = msg.broadcast_flag ? 0x80 : 0;
    put32(buf + 12, msg.ciaddr);
    std::memcpy(buf + 28, mac, 6);
    std::memcpy(buf + OFF_MAGIC, MAGIC, 4);
}

// Writes the options from p on; returns the end.
uint8_t *put_options(uint8_t *p, const DhcpOutgoing &msg, const uint8_t mac[6])
{
    uint8_t client_id[7] = {1}; // type 1: an Ethernet address follows
    std::memcpy(client_id + 1, mac, 6);
    p = put_option(p, OPT_MESSAGE_TYPE, &msg.type, 1);
    p = put_option(p, OPT_CLIENT_ID, client_id, sizeof client_id);
    if (msg.requested_ip)
        p = put_addr_option(p, OPT_REQUESTED_IP, msg.requested_ip);
    if (msg.server_id)
        p = put_addr_option(p, OPT_SERVER_ID, msg.server_id);
    // RFC 2131 table 5: a release asks for nothing.
    if (msg.type != DHCP_RELEASE)
        p = put_option(p, OPT_PARAMETER_LIST, PARAMETERS, sizeof PARAMETERS);
    *p++ = OPT_END;
    return p;
}

} // namespace

bool dhcp_usable_unicast(uint32_t address)
{
    uint8_t first = uint8_t(address >> 24);
    return first != 0 && first != 127 && first < 224;
}

bool dhcp_mask_prefix(uint32_t mask, int *prefix)
{
    uint32_t host = ~mask;
    if ((host & (host + 1)) != 0)
        return false;
    int n = 0;
    for (uint32_t m = mask; m; m <<= 1)
        n++;
    *prefix = n;
    return true;
}

size_t dhcp_build_payload(uint8_t *buf, size_t cap, const DhcpOutgoing &msg, const uint8_t mac[6])
{
    if (cap < DHCP_PAYLOAD_BUFSIZE)
        return 0;
    std::memset(buf, 0, DHCP_PAYLOAD_BUFSIZE);
    put_header(buf, msg, mac);
    size_t len = size_t(put_options(buf + OFF_OPTIONS, msg, mac) - buf);
    return len < DHCP_PAYLOAD_MIN ? DHCP_PAYLOAD_MIN : len;
}

int dhcp_parse_payload(const uint8_t *data, size_t len, DhcpReply *out)
{
    if (len < OFF_OPTIONS || data[0] != 2 || data[1] != 1 || data[2] != 6)
        return 0;
    if (std::memcmp(data + OFF_MAGIC, MAGIC, 4) != 0)
        return 0;
    static_assert(sizeof(Options) < 1024, "options are collected on the stack");
    Options o{};
    if (!collect(data, len, o))
        return 0;
    DhcpReply r{};
    r.xid = get32(data + 4);
    std::memcpy(r.chaddr, data + 28, 6);
    r.yiaddr = get32(data + 16);
    if (!read_options(o, &r) || !sensible(r))
        return 0;
    *out = r;
    return 1;
}
