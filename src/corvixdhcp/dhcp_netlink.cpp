// SPDX-License-Identifier: GPL-2.0-or-later
#include "dhcp_netlink.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

struct Request {
    nlmsghdr hdr;
    union {
        ifaddrmsg addr;
        rtmsg route;
        ifinfomsg link;
    };
    char attrs[128];
};

void add_attr(Request &r, uint16_t type, const void *data, size_t len)
{
    rtattr *a = reinterpret_cast<rtattr *>(reinterpret_cast<char *>(&r) + NLMSG_ALIGN(r.hdr.nlmsg_len));
    a->rta_type = type;
    a->rta_len = uint16_t(RTA_LENGTH(len));
    std::memcpy(RTA_DATA(a), data, len);
    r.hdr.nlmsg_len = uint32_t(NLMSG_ALIGN(r.hdr.nlmsg_len) + RTA_ALIGN(a->rta_len));
}

void add_addr_attr(Request &r, uint16_t type, uint32_t host_order)
{
    uint32_t net = htonl(host_order);
    add_attr(r, type, &net, sizeof net);
}

void add_u32_attr(Request &r, uint16_t type, uint32_t value) { add_attr(r, type, &value, sizeof value); }

Request start(uint16_t type, uint16_t flags, size_t body)
{
    Request r{};
    r.hdr.nlmsg_len = uint32_t(NLMSG_LENGTH(body));
    r.hdr.nlmsg_type = type;
    r.hdr.nlmsg_flags = uint16_t(NLM_F_REQUEST | NLM_F_ACK | flags);
    r.hdr.nlmsg_seq = 1;
    return r;
}

// Looks for the kernel's answer among n received bytes; every length
// comes from the kernel, but is checked all the same.
bool find_error(char *buf, size_t n, int *error)
{
    for (size_t off = 0; n - off >= sizeof(nlmsghdr);) {
        nlmsghdr *h = reinterpret_cast<nlmsghdr *>(buf + off);
        if (h->nlmsg_len < sizeof(nlmsghdr) || h->nlmsg_len > n - off)
            return false;
        if (h->nlmsg_type == NLMSG_ERROR && h->nlmsg_len >= NLMSG_LENGTH(sizeof(nlmsgerr))) {
            *error = static_cast<nlmsgerr *>(NLMSG_DATA(h))->error;
            return true;
        }
        size_t step = NLMSG_ALIGN(h->nlmsg_len);
        if (step >= n - off)
            return false;
        off += step;
    }
    return false;
}

// The kernel's answer to our one request: 0 or a negative errno.
int read_ack(int fd)
{
    alignas(nlmsghdr) char buf[4096];
    int error = 0;
    for (;;) {
        ssize_t got = recv(fd, buf, sizeof buf, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return -errno;
        if (find_error(buf, size_t(got), &error))
            return error;
    }
}

int transact(Request &r)
{
    int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0)
        return -errno;
    timeval limit{2, 0}; // the kernel answers at once; never hang on it
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    int err = 0;
    if (sendto(fd, &r, r.hdr.nlmsg_len, 0, reinterpret_cast<sockaddr *>(&kernel), sizeof kernel) < 0)
        err = -errno;
    else
        err = read_ack(fd);
    close(fd);
    return err;
}

Request address_request(uint16_t type, uint16_t flags, int ifindex, uint32_t addr, int prefix)
{
    Request r = start(type, flags, sizeof(ifaddrmsg));
    r.addr.ifa_family = AF_INET;
    r.addr.ifa_prefixlen = uint8_t(prefix);
    r.addr.ifa_scope = RT_SCOPE_UNIVERSE;
    r.addr.ifa_index = uint32_t(ifindex);
    add_addr_attr(r, IFA_LOCAL, addr);
    add_addr_attr(r, IFA_ADDRESS, addr);
    return r;
}

Request route_request(uint16_t type, uint16_t flags, int ifindex, uint32_t gateway)
{
    Request r = start(type, flags, sizeof(rtmsg));
    r.route.rtm_family = AF_INET;
    r.route.rtm_table = RT_TABLE_MAIN;
    r.route.rtm_protocol = RTPROT_DHCP;
    r.route.rtm_scope = RT_SCOPE_UNIVERSE;
    r.route.rtm_type = RTN_UNICAST;
    add_addr_attr(r, RTA_GATEWAY, gateway);
    add_u32_attr(r, RTA_OIF, uint32_t(ifindex));
    return r;
}

} // namespace

int nl_set_address(int ifindex, uint32_t addr, int prefix, uint32_t brd)
{
    Request r = address_request(RTM_NEWADDR, NLM_F_CREATE | NLM_F_REPLACE, ifindex, addr, prefix);
    if (brd)
        add_addr_attr(r, IFA_BROADCAST, brd);
    return transact(r) == 0;
}

int nl_del_address(int ifindex, uint32_t addr, int prefix)
{
    Request r = address_request(RTM_DELADDR, 0, ifindex, addr, prefix);
    int err = transact(r);
    return err == 0 || err == -EADDRNOTAVAIL || err == -ENODEV;
}

int nl_add_default_route(int ifindex, uint32_t gateway, bool onlink)
{
    // Neither replace nor exclusive: a default route of another interface stays.
    Request r = route_request(RTM_NEWROUTE, NLM_F_CREATE, ifindex, gateway);
    if (onlink)
        r.route.rtm_flags |= RTNH_F_ONLINK;
    int err = transact(r);
    return err == 0 || err == -EEXIST;
}

int nl_del_default_route(int ifindex, uint32_t gateway)
{
    Request r = route_request(RTM_DELROUTE, 0, ifindex, gateway);
    int err = transact(r);
    return err == 0 || err == -ESRCH || err == -ENODEV;
}

int nl_set_mtu(int ifindex, uint16_t mtu)
{
    Request r = start(RTM_NEWLINK, 0, sizeof(ifinfomsg));
    r.link.ifi_family = AF_UNSPEC;
    r.link.ifi_index = ifindex;
    add_u32_attr(r, IFLA_MTU, mtu);
    return transact(r) == 0;
}
