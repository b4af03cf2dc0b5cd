// SPDX-License-Identifier: GPL-2.0-or-later
#include "dhcp_io.h"

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <linux/filter.h>
#include <linux/if_packet.h>
#include <linux/sockios.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/timerfd.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

const char RUN_DIR[] = "/run/corvix";
constexpr int STOP_CONNECT_MS = 500; // a renewer that can't take a connection by then is left
constexpr int STOP_WAIT_MS = 2000;   // for the renewer to end once told

// Closes a descriptor at the end of a function.
struct FdGuard {
    int fd;
    ~FdGuard()
    {
        if (fd >= 0)
            close(fd);
    }
};

bool fill_ifreq(ifreq &ifr, const char *ifname)
{
    std::memset(&ifr, 0, sizeof ifr);
    size_t len = strnlen(ifname, IFNAMSIZ);
    if (len == 0 || len >= IFNAMSIZ)
        return false;
    std::memcpy(ifr.ifr_name, ifname, len);
    return true;
}

uint32_t sockaddr_ip(const sockaddr &sa)
{
    return ntohl(reinterpret_cast<const sockaddr_in &>(sa).sin_addr.s_addr);
}

int mask_prefix(uint32_t mask)
{
    int n = 0;
    for (; mask & 0x80000000u; mask <<= 1)
        n++;
    return n;
}

void query_address(int fd, ifreq &ifr, InterfaceInfo *out)
{
    if (ioctl(fd, SIOCGIFADDR, &ifr) != 0)
        return;
    out->address = sockaddr_ip(ifr.ifr_addr);
    if (ioctl(fd, SIOCGIFNETMASK, &ifr) != 0)
        return;
    out->prefix = mask_prefix(sockaddr_ip(ifr.ifr_netmask));
    out->has_address = out->address != 0 && out->prefix > 0;
}

// UDP to port 68, unfragmented; offsets count from the IP header.
const sock_filter DHCP_FILTER[] = {
    BPF_STMT(BPF_LD | BPF_B | BPF_ABS, 9),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, IPPROTO_UDP, 0, 6),
    BPF_STMT(BPF_LD | BPF_H | BPF_ABS, 6),
    BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, 0x3fff, 4, 0),
    BPF_STMT(BPF_LDX | BPF_B | BPF_MSH, 0),
    BPF_STMT(BPF_LD | BPF_H | BPF_IND, 2),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 68, 0, 1),
    BPF_STMT(BPF_RET | BPF_K, 0xffff),
    BPF_STMT(BPF_RET | BPF_K, 0),
};

// Root's folder for run-time files, the client's too (its instance lock):
// made mode 0700 on first use, so nobody but root can bind, connect to or
// squat a name in it. False unless it is such a folder of root's.
bool run_dir_ready()
{
    if (mkdir(RUN_DIR, 0700) != 0 && errno != EEXIST)
        return false;
    FdGuard dir{open(RUN_DIR, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)};
    struct stat st{};
    if (dir.fd < 0 || fstat(dir.fd, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != 0)
        return false;
    return (st.st_mode & 07777) == 0700 || fchmod(dir.fd, 0700) == 0;
}

// The stop socket of ifname: an interface name is unique only within its
// network namespace, so the namespace is part of the name.
bool renewer_address(const char *ifname, sockaddr_un *sun, socklen_t *len)
{
    struct stat ns{};
    if (stat("/proc/self/ns/net", &ns) != 0)
        return false;
    *sun = sockaddr_un{};
    sun->sun_family = AF_UNIX;
    int n = snprintf(sun->sun_path, sizeof sun->sun_path, "%s/dhcp-%llu-%s", RUN_DIR,
                     static_cast<unsigned long long>(ns.st_ino), ifname);
    if (n <= 0 || size_t(n) >= sizeof sun->sun_path)
        return false;
    *len = socklen_t(offsetof(sockaddr_un, sun_path) + size_t(n) + 1);
    return true;
}

// Connects a non-blocking socket; a renewer whose queue is full (one that is
// stopped, say) is tried again until the time-out and then given up on.
int connect_briefly(int fd, const sockaddr_un &sun, socklen_t len)
{
    int64_t until = io_now_ms() + STOP_CONNECT_MS;
    for (;;) {
        if (connect(fd, reinterpret_cast<const sockaddr *>(&sun), len) == 0)
            return 0;
        if (errno != EAGAIN && errno != EINTR)
            return errno;
        if (io_now_ms() >= until)
            return ETIMEDOUT;
        usleep(10 * 1000);
    }
}

// The kernel's note that the sender's checksum was never filled in.
bool checksum_left_to_hardware(msghdr *msg)
{
    for (cmsghdr *c = CMSG_FIRSTHDR(msg); c; c = CMSG_NXTHDR(msg, c)) {
        if (c->cmsg_level != SOL_PACKET || c->cmsg_type != PACKET_AUXDATA)
            continue;
        tpacket_auxdata aux;
        std::memcpy(&aux, CMSG_DATA(c), sizeof aux);
        if (aux.tp_status & TP_STATUS_CSUMNOTREADY)
            return true;
    }
    return false;
}

// Only root reaches the folder; the other end's credentials are checked all
// the same before it may end a renewer or be waited for.
bool peer_is_root(int fd)
{
    ucred cred{};
    socklen_t len = sizeof cred;
    return getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0 && cred.uid == 0;
}

} // namespace

int64_t io_now_ms()
{
    timespec ts{};
    clock_gettime(CLOCK_BOOTTIME, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

int io_interface_info(const char *ifname, InterfaceInfo *out)
{
    *out = InterfaceInfo{};
    ifreq ifr;
    FdGuard fd{socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)};
    if (fd.fd < 0 || !fill_ifreq(ifr, ifname) || ioctl(fd.fd, SIOCGIFINDEX, &ifr) != 0)
        return 0;
    out->ifindex = ifr.ifr_ifindex;
    if (ioctl(fd.fd, SIOCGIFHWADDR, &ifr) != 0 || ifr.ifr_hwaddr.sa_family != ARPHRD_ETHER)
        return 0;
    std::memcpy(out->mac, ifr.ifr_hwaddr.sa_data, 6);
    if (ioctl(fd.fd, SIOCGIFFLAGS, &ifr) != 0)
        return 0;
    out->up = (ifr.ifr_flags & IFF_UP) != 0;
    query_address(fd.fd, ifr, out);
    return 1;
}

int io_bring_up(const char *ifname)
{
    ifreq ifr;
    FdGuard fd{socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)};
    if (fd.fd < 0 || !fill_ifreq(ifr, ifname) || ioctl(fd.fd, SIOCGIFFLAGS, &ifr) != 0)
        return 0;
    if (ifr.ifr_flags & IFF_UP)
        return 1;
    ifr.ifr_flags = short(ifr.ifr_flags | IFF_UP);
    return ioctl(fd.fd, SIOCSIFFLAGS, &ifr) == 0;
}

int io_packet_socket(int ifindex)
{
    // Protocol 0 receives nothing until bind, so no frame slips in unfiltered.
    int fd = socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    sock_fprog prog{sizeof DHCP_FILTER / sizeof DHCP_FILTER[0], const_cast<sock_filter *>(DHCP_FILTER)};
    int on = 1;
    sockaddr_ll sll{};
    sll.sll_family = AF_PACKET;
    sll.sll_protocol = htons(ETH_P_IP);
    sll.sll_ifindex = ifindex;
    if (setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &prog, sizeof prog) != 0 ||
        setsockopt(fd, SOL_PACKET, PACKET_AUXDATA, &on, sizeof on) != 0 ||
        bind(fd, reinterpret_cast<sockaddr *>(&sll), sizeof sll) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

int io_send_broadcast(int fd, int ifindex, const uint8_t *frame, size_t len)
{
    sockaddr_ll sll{};
    sll.sll_family = AF_PACKET;
    sll.sll_protocol = htons(ETH_P_IP);
    sll.sll_ifindex = ifindex;
    sll.sll_halen = 6;
    std::memset(sll.sll_addr, 0xff, 6);
    return sendto(fd, frame, len, 0, reinterpret_cast<sockaddr *>(&sll), sizeof sll) == ssize_t(len);
}

ssize_t io_recv_frame(int fd, uint8_t *buf, size_t cap, int *udp_sum_checkable)
{
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(tpacket_auxdata))];
    sockaddr_ll from{};
    iovec iov{buf, cap};
    msghdr msg{};
    msg.msg_name = &from;
    msg.msg_namelen = sizeof from;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    ssize_t n = recvmsg(fd, &msg, 0);
    if (n < 0 || (msg.msg_flags & MSG_TRUNC) || from.sll_pkttype == PACKET_OUTGOING)
        return -1; // nothing, a cut-off datagram, or one we sent
    *udp_sum_checkable = !checksum_left_to_hardware(&msg);
    return n;
}

int io_udp_socket(const char *ifname, uint32_t local_ip)
{
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    int on = 1;
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(68);
    sin.sin_addr.s_addr = htonl(local_ip);
    if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, ifname, socklen_t(strnlen(ifname, IFNAMSIZ))) != 0 ||
        bind(fd, reinterpret_cast<sockaddr *>(&sin), sizeof sin) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

int io_send_udp(int fd, uint32_t dst, const uint8_t *payload, size_t len)
{
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(67);
    sin.sin_addr.s_addr = htonl(dst);
    return sendto(fd, payload, len, 0, reinterpret_cast<sockaddr *>(&sin), sizeof sin) == ssize_t(len);
}

void io_wait_sent(int fd, int timeout_ms)
{
    for (int waited = 0; waited < timeout_ms; waited += 5) {
        int queued = 0;
        if (ioctl(fd, SIOCOUTQ, &queued) != 0 || queued == 0)
            return;
        usleep(5000);
    }
}

void io_drain(int fd)
{
    char buf[2048];
    while (recv(fd, buf, sizeof buf, MSG_DONTWAIT) >= 0) {
    }
}

int io_timer() { return timerfd_create(CLOCK_BOOTTIME, TFD_CLOEXEC | TFD_NONBLOCK); }

void io_timer_set(int fd, int64_t at_ms)
{
    itimerspec its{};
    if (at_ms != INT64_MAX) {
        at_ms = at_ms < 1 ? 1 : at_ms; // zero would disarm it
        its.it_value.tv_sec = time_t(at_ms / 1000);
        its.it_value.tv_nsec = long(at_ms % 1000) * 1000000;
    }
    (void)timerfd_settime(fd, TFD_TIMER_ABSTIME, &its, nullptr);
}

int io_renewer_listen(const char *ifname)
{
    sockaddr_un sun;
    socklen_t len = 0;
    if (!run_dir_ready() || !renewer_address(ifname, &sun, &len))
        return -1;
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd >= 0 && (bind(fd, reinterpret_cast<sockaddr *>(&sun), len) != 0 || listen(fd, 4) != 0)) {
        close(fd);
        return -1;
    }
    return fd;
}

int io_stop_requested(int listen_fd)
{
    int fd = accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0)
        return 0;
    if (peer_is_root(fd))
        return 1; // left open: our end closes it
    close(fd);
    return 0;
}

void io_stop_renewer(const char *ifname)
{
    sockaddr_un sun;
    socklen_t len = 0;
    if (!run_dir_ready() || !renewer_address(ifname, &sun, &len))
        return;
    FdGuard fd{socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0)};
    if (fd.fd < 0)
        return;
    int err = connect_briefly(fd.fd, sun, len);
    if (err == ECONNREFUSED) {
        (void)unlink(sun.sun_path); // left by a renewer that was killed
        return;
    }
    if (err != 0 || !peer_is_root(fd.fd))
        return;
    // The renewer ends when a connection arrives; its end closes ours, and
    // its name can then go.
    pollfd p{fd.fd, POLLIN, 0};
    if (poll(&p, 1, STOP_WAIT_MS) == 1 && (p.revents & (POLLHUP | POLLIN)))
        (void)unlink(sun.sun_path);
}
