// SPDX-License-Identifier: GPL-2.0-or-later
#include "dhcp_run.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <net/if.h>
#include <sys/prctl.h>
#include <sys/random.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include "dhcp_io.h"
#include "dhcp_session.h"

namespace {

bool valid_ifname(const char *name)
{
    size_t len = strnlen(name, IFNAMSIZ);
    if (len == 0 || len >= IFNAMSIZ || !std::strcmp(name, ".") || !std::strcmp(name, ".."))
        return false;
    for (size_t i = 0; i < len; i++)
        if (name[i] == '/' || name[i] == ':' || name[i] <= ' ' || name[i] == 0x7f)
            return false;
    return true;
}

uint64_t random_seed()
{
    uint64_t seed = 0;
    if (getrandom(&seed, sizeof seed, GRND_NONBLOCK) != ssize_t(sizeof seed))
        seed = uint64_t(io_now_ms()) * 6364136223846793005ULL ^ uint64_t(getpid());
    return seed;
}

// The address the interface holds already, to ask for again (INIT-REBOOT).
// Link-local addresses never came from a DHCP server.
bool held_lease(const InterfaceInfo &info, DhcpLease *held)
{
    if (!info.has_address || (info.address >> 16) == 0xa9fe)
        return false;
    *held = DhcpLease{};
    held->address = info.address;
    held->prefix = info.prefix;
    return true;
}

// Started with a standard stream closed, a socket could take its number
// and a message could land in it.
void open_standard_streams()
{
    int fd;
    while ((fd = open("/dev/null", O_RDWR | O_CLOEXEC)) >= 0 && fd < 3)
        (void)fcntl(fd, F_SETFD, 0);
    if (fd >= 3)
        close(fd);
}

// SIGTERM (killall at log-off) and SIGINT are read from a descriptor, so
// that a session ends in order: the renewer gives its lease back and takes
// the address off (the port no longer lets it through), and name servers
// handed on are taken back.
int stop_signal_fd()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    int fd = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    if (fd >= 0)
        (void)sigprocmask(SIG_BLOCK, &set, nullptr);
    return fd;
}

// Ends the way the signal would have ended the process at once.
[[noreturn]] void end_by_signal(int sig)
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    signal(sig, SIG_DFL);
    (void)sigprocmask(SIG_UNBLOCK, &set, nullptr);
    raise(sig);
    _exit(128 + sig);
}

bool open_session(DhcpSession *s, const char *ifname, const InterfaceInfo &info)
{
    *s = DhcpSession{};
    s->ifname = ifname;
    s->ifindex = info.ifindex;
    s->udp_fd = -1;
    s->listen_fd = -1;
    s->signal_fd = stop_signal_fd();
    s->packet_fd = io_packet_socket(info.ifindex);
    s->timer_fd = io_timer();
    dhcp_client_init(&s->client, info.mac, random_seed());
    return s->packet_fd >= 0 && s->timer_fd >= 0;
}

// The socket by which a later run stops this one's renewer; a renewer that
// a run started beside ours has left meanwhile is stopped first. -1 when
// the name stays taken: the renewer then runs without it.
int claim_stop_socket(const char *ifname)
{
    int fd = io_renewer_listen(ifname);
    if (fd < 0) {
        io_stop_renewer(ifname);
        fd = io_renewer_listen(ifname);
    }
    return fd;
}

// Moves the descriptors the renewer keeps to 3, 4, ... and closes all others.
void keep_only(int *fds, int count)
{
    for (int i = 0; i < count; i++)
        fds[i] = fcntl(fds[i], F_DUPFD_CLOEXEC, 64);
    for (int i = 0; i < count; i++) {
        dup2(fds[i], 3 + i);
        (void)fcntl(3 + i, F_SETFD, FD_CLOEXEC);
        fds[i] = 3 + i;
    }
    if (close_range(unsigned(3 + count), ~0U, 0) != 0)
        for (int fd = 3 + count; fd < 1024; fd++)
            close(fd);
}

// The renewer holds neither the caller's streams nor its directory, and no
// terminal can hang it up.
void detach(DhcpSession *s)
{
    (void)setsid();
    if (chdir("/") != 0) {
        // Stays where it was: nothing is opened relative to it.
    }
    int null_fd = open("/dev/null", O_RDWR | O_CLOEXEC);
    for (int fd = 0; fd < 3 && null_fd >= 0; fd++)
        dup2(null_fd, fd);
    int *kept[] = {&s->packet_fd, &s->timer_fd, &s->signal_fd, &s->listen_fd};
    int fds[4], count = 0;
    for (int *fd : kept)
        if (*fd >= 0)
            fds[count++] = *fd;
    keep_only(fds, count);
    count = 0;
    for (int *fd : kept)
        if (*fd >= 0)
            *fd = fds[count++];
    signal(SIGPIPE, SIG_IGN);
    signal(SIGHUP, SIG_IGN);
    (void)prctl(PR_SET_NAME, "CorvixDHCP", 0, 0, 0);
}

// The foreground's work: until the lease is on the interface or time is up.
// The fork comes after it: made earlier, the new process' first wake-up
// costs more than the fork itself.
int acquire(DhcpSession *s, const InterfaceInfo &info)
{
    DhcpLease held;
    bool has_held = held_lease(info, &held);
    session_perform(s, dhcp_start(&s->client, io_now_ms(), has_held ? &held : nullptr,
                                  DHCP_GIVE_UP_MS));
    while (!s->applied && !s->apply_failed && s->client.state != DHCP_GAVE_UP)
        if (session_step(s) == STEP_STOP && s->stop_signal) {
            session_end(s);
            end_by_signal(s->stop_signal);
        }
    if (s->applied)
        return 0;
    if (s->apply_failed)
        std::fprintf(stderr, "CorvixDHCP: cannot put the address on %s\n", s->ifname);
    else
        std::fprintf(stderr, "CorvixDHCP: no answer from a DHCP server on %s\n", s->ifname);
    return 1;
}

// Leaves the renewer behind; the foreground returns its exit status.
int leave_renewer(DhcpSession *s)
{
    s->listen_fd = claim_stop_socket(s->ifname);
    pid_t pid = fork();
    if (pid < 0) {
        std::fprintf(stderr, "CorvixDHCP: cannot keep the lease in the background\n");
        return 1;
    }
    if (pid > 0)
        return 0;
    detach(s);
    s->client.give_up_at = DHCP_NEVER;
    while (session_step(s) == STEP_GOING) {
    }
    // A newer run's stop keeps the address: that run asks for it again.
    if (s->stop_signal)
        session_release(s);
    session_end(s);
    _exit(0);
}

} // namespace

const char *dhcp_parse_command_line(int argc, char **argv)
{
    if (argc != 3 || std::strcmp(argv[1], "-e") != 0 || !valid_ifname(argv[2]))
        return nullptr;
    return argv[2];
}

int dhcp_run(const char *ifname)
{
    open_standard_streams();
    InterfaceInfo info;
    if (!io_interface_info(ifname, &info)) {
        std::fprintf(stderr, "CorvixDHCP: %s is not an Ethernet interface\n", ifname);
        return 1;
    }
    io_stop_renewer(ifname); // one renewer per interface
    if (!info.up && !io_bring_up(ifname)) {
        std::fprintf(stderr, "CorvixDHCP: cannot set %s up\n", ifname);
        return 1;
    }
    DhcpSession s;
    if (!open_session(&s, ifname, info)) {
        std::fprintf(stderr, "CorvixDHCP: cannot open a packet socket on %s\n", ifname);
        return 1;
    }
    int status = acquire(&s, info);
    return status == 0 ? leave_renewer(&s) : status;
}
