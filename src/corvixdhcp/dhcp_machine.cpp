// SPDX-License-Identifier: GPL-2.0-or-later
#include "dhcp_machine.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int64_t FIRST_INTERVAL = 4000; // RFC 2131 section 4.1: 4 s, doubling to 64 s
constexpr int64_t MAX_INTERVAL = 64000;
constexpr int64_t REBOOT_WAIT = 1000;    // then the address is asked for anew
constexpr int64_t MIN_RENEW_WAIT = 60000; // RFC 2131 section 4.4.5
constexpr int REQUEST_TRIES = 4;

uint32_t next_random(DhcpClient *c)
{
    c->rng ^= c->rng >> 12;
    c->rng ^= c->rng << 25;
    c->rng ^= c->rng >> 27;
    return uint32_t((c->rng * 0x2545F4914F6CDD1DULL) >> 32);
}

// Uniform in -1000..1000 ms, the randomisation RFC 2131 asks for.
int64_t jitter(DhcpClient *c) { return int64_t(next_random(c) % 2001) - 1000; }

int64_t at_offset(int64_t base, uint32_t seconds)
{
    return seconds == DHCP_INFINITE ? DHCP_NEVER : base + int64_t(seconds) * 1000;
}

void new_exchange(DhcpClient *c, int64_t now)
{
    c->xid = next_random(c);
    c->exchange_start = now;
    c->sends = 0;
    c->interval = FIRST_INTERVAL;
}

void retransmit_later(DhcpClient *c, int64_t now)
{
    c->wake_at = std::min(now + c->interval + jitter(c), c->give_up_at);
    c->interval = std::min(c->interval * 2, MAX_INTERVAL);
}

DhcpActions message(DhcpClient *c, int64_t now, uint8_t type)
{
    DhcpActions a{};
    a.send = true;
    a.msg.type = type;
    a.msg.xid = c->xid;
    a.msg.secs = uint16_t(std::min<int64_t>((now - c->exchange_start) / 1000, 0xffff));
    a.msg.broadcast_flag = true;
    a.dst_ip = DHCP_BROADCAST;
    c->sends++;
    return a;
}

DhcpActions send_discover(DhcpClient *c, int64_t now)
{
    DhcpActions a = message(c, now, DHCP_DISCOVER);
    retransmit_later(c, now);
    return a;
}

DhcpActions send_select_request(DhcpClient *c, int64_t now)
{
    DhcpActions a = message(c, now, DHCP_REQUEST);
    a.msg.requested_ip = c->offered_ip;
    a.msg.server_id = c->offered_server;
    retransmit_later(c, now);
    return a;
}

DhcpActions send_reboot_request(DhcpClient *c, int64_t now)
{
    DhcpActions a = message(c, now, DHCP_REQUEST);
    a.msg.requested_ip = c->lease.address;
    c->wake_at = std::min(now + REBOOT_WAIT, c->give_up_at);
    return a;
}

// RENEWING goes to the server that granted the lease, REBINDING to anyone;
// both wait half the time left to their limit, at least a minute.
DhcpActions send_renewal(DhcpClient *c, int64_t now, bool unicast, int64_t limit)
{
    DhcpActions a = message(c, now, DHCP_REQUEST);
    a.msg.ciaddr = c->lease.address;
    a.msg.broadcast_flag = false;
    a.src_ip = c->lease.address;
    a.unicast = unicast;
    a.dst_ip = unicast ? c->lease.server_id : DHCP_BROADCAST;
    c->wake_at = std::min(now + std::max(MIN_RENEW_WAIT, (limit - now) / 2), limit);
    return a;
}

// Back to DISCOVER. After repeated NAKs the first DISCOVER waits, so a
// server that refuses every request cannot drive a tight loop.
DhcpActions enter_selecting(DhcpClient *c, int64_t now)
{
    c->state = DHCP_SELECTING;
    new_exchange(c, now);
    if (c->naks < 2)
        return send_discover(c, now);
    int64_t wait = std::min<int64_t>(int64_t(1000) << std::min(c->naks - 2, 6), MAX_INTERVAL);
    c->wake_at = std::min(now + wait, c->give_up_at);
    return DhcpActions{};
}

// Takes what is on the interface off it and starts again.
DhcpActions drop_lease(DhcpClient *c, int64_t now)
{
    DhcpActions a = enter_selecting(c, now);
    a.remove = c->has_lease;
    a.removed = c->lease;
    c->has_lease = false;
    return a;
}

DhcpActions bind(DhcpClient *c, int64_t now, const DhcpReply &ack)
{
    if (!ack.has_lease_time) // RFC 2131 table 3: an ACK to a REQUEST carries it
        return DhcpActions{};
    DhcpActions a{};
    a.apply = true;
    a.applied = dhcp_lease_from_reply(ack);
    a.has_previous = c->has_lease;
    a.previous = c->lease;
    c->lease = a.applied;
    c->has_lease = true;
    c->bound_at = now;
    c->naks = 0;
    c->state = DHCP_BOUND;
    c->wake_at = dhcp_t1_at(*c);
    return a;
}

DhcpActions on_nak(DhcpClient *c, int64_t now)
{
    c->naks++;
    if (c->state == DHCP_REQUESTING)
        return enter_selecting(c, now);
    return drop_lease(c, now); // the address we hold or asked to keep is refused
}

DhcpActions on_offer(DhcpClient *c, int64_t now, const DhcpReply &r)
{
    c->offered_ip = r.yiaddr;
    c->offered_server = r.server_id;
    c->state = DHCP_REQUESTING;
    c->sends = 0;
    c->interval = FIRST_INTERVAL;
    return send_select_request(c, now);
}

DhcpActions timer_before_lease(DhcpClient *c, int64_t now)
{
    if (now >= c->give_up_at) {
        c->state = DHCP_GAVE_UP;
        c->wake_at = DHCP_NEVER;
        DhcpActions a{};
        a.gave_up = true;
        return a;
    }
    if (c->state == DHCP_SELECTING)
        return send_discover(c, now);
    if (c->state == DHCP_REQUESTING && c->sends < REQUEST_TRIES)
        return send_select_request(c, now);
    return enter_selecting(c, now); // INIT-REBOOT unanswered, or REQUEST tries used up
}

DhcpActions timer_with_lease(DhcpClient *c, int64_t now)
{
    if (c->state == DHCP_BOUND || (c->state == DHCP_RENEWING && now >= dhcp_t2_at(*c))) {
        c->state = c->state == DHCP_BOUND ? DHCP_RENEWING : DHCP_REBINDING;
        new_exchange(c, now);
    }
    if (c->state == DHCP_RENEWING)
        return send_renewal(c, now, true, dhcp_t2_at(*c));
    if (now >= dhcp_expiry_at(*c))
        return drop_lease(c, now);
    return send_renewal(c, now, false, dhcp_expiry_at(*c));
}

} // namespace

void dhcp_client_init(DhcpClient *c, const uint8_t mac[6], uint64_t seed)
{
    *c = DhcpClient{};
    std::memcpy(c->mac, mac, 6);
    c->rng = seed ? seed : 0x9e3779b97f4a7c15ULL; // xorshift must not start at zero
    c->state = DHCP_SELECTING;
    c->give_up_at = DHCP_NEVER;
    c->wake_at = DHCP_NEVER;
}

DhcpActions dhcp_start(DhcpClient *c, int64_t now, const DhcpLease *held, int64_t give_up_after)
{
    c->give_up_at = give_up_after == DHCP_NEVER ? DHCP_NEVER : now + give_up_after;
    new_exchange(c, now);
    c->has_lease = held != nullptr;
    if (!held) {
        c->state = DHCP_SELECTING;
        return send_discover(c, now);
    }
    c->lease = *held;
    c->state = DHCP_INIT_REBOOT;
    return send_reboot_request(c, now);
}

DhcpActions dhcp_on_timer(DhcpClient *c, int64_t now)
{
    // A timer that is not armed never runs, whatever the clock says.
    if (c->wake_at == DHCP_NEVER || now < c->wake_at || c->state == DHCP_GAVE_UP)
        return DhcpActions{};
    if (c->state == DHCP_BOUND || c->state == DHCP_RENEWING || c->state == DHCP_REBINDING)
        return timer_with_lease(c, now);
    return timer_before_lease(c, now);
}

DhcpActions dhcp_on_reply(DhcpClient *c, int64_t now, const DhcpReply &r)
{
    if (r.xid != c->xid || std::memcmp(r.chaddr, c->mac, 6) != 0)
        return DhcpActions{};
    switch (c->state) {
    case DHCP_SELECTING:
        return r.type == DHCP_OFFER ? on_offer(c, now, r) : DhcpActions{};
    case DHCP_REQUESTING:
        if (r.server_id != c->offered_server)
            return DhcpActions{}; // another server answering our broadcast
        break;
    case DHCP_INIT_REBOOT:
    case DHCP_RENEWING:
    case DHCP_REBINDING:
        break;
    default:
        return DhcpActions{};
    }
    if (r.type == DHCP_ACK)
        return bind(c, now, r);
    return r.type == DHCP_NAK ? on_nak(c, now) : DhcpActions{};
}

// RFC 2131 section 4.4.6 and table 5: ciaddr and the server identifier,
// no requested address, and no answer to wait for.
DhcpActions dhcp_release(DhcpClient *c, int64_t now)
{
    bool held = c->has_lease && c->lease.server_id != 0 &&
                (c->state == DHCP_BOUND || c->state == DHCP_RENEWING || c->state == DHCP_REBINDING);
    c->state = DHCP_RELEASED;
    c->wake_at = DHCP_NEVER;
    if (!held)
        return DhcpActions{};
    new_exchange(c, now);
    DhcpActions a = message(c, now, DHCP_RELEASE);
    a.msg.ciaddr = c->lease.address;
    a.msg.server_id = c->lease.server_id;
    a.msg.broadcast_flag = false;
    a.src_ip = c->lease.address;
    a.unicast = true;
    a.dst_ip = c->lease.server_id;
    a.remove = true;
    a.removed = c->lease;
    c->has_lease = false;
    return a;
}

int64_t dhcp_t1_at(const DhcpClient &c) { return at_offset(c.bound_at, c.lease.t1_s); }

int64_t dhcp_t2_at(const DhcpClient &c) { return at_offset(c.bound_at, c.lease.t2_s); }

int64_t dhcp_expiry_at(const DhcpClient &c) { return at_offset(c.bound_at, c.lease.lease_s); }
