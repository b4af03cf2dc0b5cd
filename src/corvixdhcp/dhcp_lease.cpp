// SPDX-License-Identifier: GPL-2.0-or-later
#include "dhcp_lease.h"

#include <algorithm>
#include <cstring>

namespace {

// T2 as given when it lies inside the lease, else 7/8 of the lease.
uint32_t rebind_time(const DhcpReply &ack, uint32_t lease)
{
    if (ack.has_t2 && ack.t2 > 0 && ack.t2 < lease)
        return ack.t2;
    return uint32_t(uint64_t(lease) * 7 / 8);
}

// T1 as given when it comes before T2, else half the lease (never after T2).
uint32_t renew_time(const DhcpReply &ack, uint32_t lease, uint32_t t2)
{
    if (ack.has_t1 && ack.t1 > 0 && ack.t1 < t2)
        return ack.t1;
    return std::min(lease / 2, t2);
}

void set_timers(DhcpLease &l, const DhcpReply &ack)
{
    uint32_t lease = ack.has_lease_time ? ack.lease_time : DHCP_INFINITE;
    if (lease == DHCP_INFINITE) {
        l.lease_s = l.t1_s = l.t2_s = DHCP_INFINITE;
        return;
    }
    // A tiny lease would have us renew in a tight loop.
    l.lease_s = std::max(lease, DHCP_MIN_LEASE);
    l.t2_s = rebind_time(ack, l.lease_s);
    l.t1_s = renew_time(ack, l.lease_s, l.t2_s);
}

// The first router a default route can go through; others would make no
// route, or a harmful one.
uint32_t first_usable(const uint32_t *routers, int count)
{
    for (int i = 0; i < count; i++)
        if (dhcp_usable_unicast(routers[i]))
            return routers[i];
    return 0;
}

} // namespace

uint32_t dhcp_classful_mask(uint32_t address)
{
    if (address >> 31 == 0)
        return 0xff000000;
    if (address >> 30 == 2)
        return 0xffff0000;
    return 0xffffff00;
}

DhcpLease dhcp_lease_from_reply(const DhcpReply &ack)
{
    DhcpLease l{};
    l.address = ack.yiaddr;
    uint32_t mask = ack.has_subnet_mask ? ack.subnet_mask : 0;
    if (!dhcp_mask_prefix(mask, &l.prefix) || l.prefix == 0)
        dhcp_mask_prefix(dhcp_classful_mask(ack.yiaddr), &l.prefix);
    mask = ~uint32_t(0) << (32 - l.prefix);
    l.broadcast = l.prefix < 31 ? (ack.yiaddr | ~mask) : 0;
    l.server_id = ack.server_id;
    l.router = first_usable(ack.routers, ack.router_count);
    for (int i = 0; i < ack.dns_count; i++)
        if (ack.dns[i] != 0)
            l.dns[l.dns_count++] = ack.dns[i];
    std::memcpy(l.domain, ack.domain, sizeof l.domain);
    l.domain[DHCP_MAX_DOMAIN] = 0;
    // 576 is the datagram size every IPv4 host must accept (RFC 791).
    l.mtu = ack.mtu >= 576 ? ack.mtu : 0;
    set_timers(l, ack);
    return l;
}

std::string dhcp_addr_text(uint32_t a)
{
    return std::to_string(a >> 24) + "." + std::to_string(a >> 16 & 0xff) + "." +
           std::to_string(a >> 8 & 0xff) + "." + std::to_string(a & 0xff);
}

std::string dhcp_resolv_conf_text(const DhcpLease &lease)
{
    if (lease.dns_count == 0)
        return "";
    std::string text = "# Written by CorvixDHCP\n";
    for (int i = 0; i < lease.dns_count; i++)
        text += "nameserver " + dhcp_addr_text(lease.dns[i]) + "\n";
    if (lease.domain[0])
        text += std::string("search ") + lease.domain + "\n";
    return text;
}
