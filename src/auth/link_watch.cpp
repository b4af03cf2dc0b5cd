// SPDX-License-Identifier: GPL-2.0-or-later
#include "auth/link_watch.h"

#include <cerrno>
#include <cstring>
#include <ctime>
// net/if.h first: the kernel header then leaves out what the C library defined.
#include <net/if.h>
#include <linux/if.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <unistd.h>

namespace {

int operstate_of(const ifinfomsg *ifi, size_t len)
{
    int left = static_cast<int>(len);
    for (const rtattr *a = IFLA_RTA(ifi); RTA_OK(a, left); a = RTA_NEXT(a, left)) {
        if (a->rta_type == IFLA_OPERSTATE && RTA_PAYLOAD(a) >= 1)
            return *static_cast<const uint8_t *>(RTA_DATA(a));
    }
    return -1;
}

int64_t clock_ms(clockid_t id)
{
    timespec ts{};
    (void)clock_gettime(id, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

}  // namespace

LinkState link_state_from(unsigned flags, int operstate)
{
    if (!(flags & IFF_UP))
        return LinkState::Disabled;
    if (!(flags & IFF_LOWER_UP) || operstate == IF_OPER_DOWN ||
        operstate == IF_OPER_LOWERLAYERDOWN || operstate == IF_OPER_NOTPRESENT)
        return LinkState::NoCarrier;
    return LinkState::Running;
}

bool link_parse_messages(const uint8_t *buf, size_t len, int ifindex, LinkState *state)
{
    bool named = false;
    // The kernel aligns its messages; NLMSG_OK and NLMSG_NEXT step over them.
    auto *h = reinterpret_cast<const nlmsghdr *>(buf);
    size_t left = len;
    for (; NLMSG_OK(h, left); h = NLMSG_NEXT(h, left)) {
        if (h->nlmsg_type != RTM_NEWLINK && h->nlmsg_type != RTM_DELLINK)
            continue;
        if (h->nlmsg_len < NLMSG_LENGTH(sizeof(ifinfomsg)))
            continue;
        auto *ifi = static_cast<const ifinfomsg *>(NLMSG_DATA(h));
        if (ifi->ifi_index != ifindex)
            continue;
        named = true;
        if (h->nlmsg_type == RTM_DELLINK)
            *state = LinkState::Gone;
        else
            *state = link_state_from(ifi->ifi_flags, operstate_of(ifi, IFLA_PAYLOAD(h)));
    }
    return named;
}

LinkState link_query(const char *ifname)
{
    int ifindex = static_cast<int>(if_nametoindex(ifname));
    if (ifindex <= 0)
        return LinkState::Gone;
    // The flags an ioctl reports stop at 16 bits, without IFF_LOWER_UP: ask rtnetlink.
    int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0)
        return LinkState::Gone;
    struct {
        nlmsghdr h;
        ifinfomsg ifi;
    } req{};
    req.h.nlmsg_len = NLMSG_LENGTH(sizeof req.ifi);
    req.h.nlmsg_type = RTM_GETLINK;
    req.h.nlmsg_flags = NLM_F_REQUEST;
    req.ifi.ifi_family = AF_UNSPEC;
    req.ifi.ifi_index = ifindex;
    LinkState state = LinkState::Gone;
    timeval limit{1, 0};
    (void)setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    if (send(fd, &req, req.h.nlmsg_len, 0) == static_cast<ssize_t>(req.h.nlmsg_len)) {
        alignas(nlmsghdr) uint8_t buf[16384];
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n > 0)
            (void)link_parse_messages(buf, static_cast<size_t>(n), ifindex, &state);
    }
    (void)close(fd);
    return state;  // an error reply (no such interface) leaves it Gone
}

bool link_watch_open(LinkWatch *w, const char *ifname)
{
    *w = LinkWatch{};
    std::strncpy(w->ifname, ifname, sizeof w->ifname - 1);
    w->fd = socket(AF_NETLINK, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (w->fd < 0)
        return false;
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    local.nl_groups = RTMGRP_LINK;
    if (bind(w->fd, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0) {
        link_watch_close(w);
        return false;
    }
    w->ifindex = static_cast<int>(if_nametoindex(ifname));
    // Read after the socket listens, so no change falls between the two.
    w->state = w->ifindex > 0 ? link_query(ifname) : LinkState::Gone;
    return true;
}

void link_watch_close(LinkWatch *w)
{
    if (w->fd >= 0)
        (void)close(w->fd);
    w->fd = -1;
}

bool link_watch_take(LinkWatch *w)
{
    if (w->fd < 0)
        return false;
    LinkState before = w->state;
    alignas(nlmsghdr) uint8_t buf[16384];
    for (;;) {
        ssize_t n = recv(w->fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n > 0) {
            (void)link_parse_messages(buf, static_cast<size_t>(n), w->ifindex, &w->state);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == ENOBUFS) {
            // Messages were lost: what the interface is now is what counts.
            w->state = link_query(w->ifname);
            if (w->state != LinkState::Gone &&
                static_cast<int>(if_nametoindex(w->ifname)) != w->ifindex)
                w->state = LinkState::Gone;  // a new interface of the same name
            continue;
        }
        break;
    }
    return w->state != before;
}

int64_t clock_sleep_offset_ms()
{
    return clock_ms(CLOCK_BOOTTIME) - clock_ms(CLOCK_MONOTONIC);
}

bool clock_slept(int64_t *last, int64_t now)
{
    bool slept = now - *last > SLEEP_THRESHOLD_MS;
    *last = now;
    return slept;
}

int clock_wake_fd()
{
    int fd = timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd < 0)
        return -1;
    clock_wake_rearm(fd);
    return fd;
}

void clock_wake_rearm(int fd)
{
    uint64_t expirations;
    (void)read(fd, &expirations, sizeof expirations);  // ECANCELED after a resume: drained
    // Far away, cancelled by every resume and every setting of the wall clock.
    itimerspec far{};
    far.it_value.tv_sec = time(nullptr) + 10L * 365 * 24 * 3600;
    (void)timerfd_settime(fd, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &far, nullptr);
}
