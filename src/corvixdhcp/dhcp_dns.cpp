// SPDX-License-Identifier: GPL-2.0-or-later
#include "dhcp_dns.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include "dhcp_apply.h"

namespace {

const char RESOLVED_DIR[] = "/run/systemd/resolve";
const char SYSTEM_BUS_SOCKET[] = "/run/dbus/system_bus_socket";
const char *const RESOLVECTL_PATHS[] = {"/usr/bin/resolvectl", "/bin/resolvectl"};
const char *const RESOLVCONF_PATHS[] = {"/usr/sbin/resolvconf", "/sbin/resolvconf"};
const char *const BUSCTL_PATHS[] = {"/usr/bin/busctl", "/bin/busctl"};
constexpr int COMMAND_TIMEOUT_MS = 5000;

bool is_dir(const char *path)
{
    struct stat st;
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

template <size_t N> std::string first_executable(const char *const (&paths)[N])
{
    for (const char *p : paths)
        if (access(p, X_OK) == 0)
            return p;
    return "";
}

// systemd-resolved's package installs a resolvconf that is resolvectl under
// another name: without the daemon it can do nothing.
bool stands_in_for_resolvectl(const std::string &path)
{
    char real[PATH_MAX];
    if (!realpath(path.c_str(), real))
        return true;
    const char *base = std::strrchr(real, '/');
    return std::strcmp(base ? base + 1 : real, "resolvectl") == 0;
}

// Reads what a child writes until its end or the time-out.
std::string read_all(int fd, int timeout_ms)
{
    std::string out;
    char buf[256];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, timeout_ms) <= 0)
            break;
        ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0)
            break;
        out.append(buf, size_t(n));
        if (out.size() > 4096)
            break;
    }
    return out;
}

// The child's standard streams: input from in_fd, output to out_fd (or
// /dev/null when -1), errors discarded.
bool spawn_child(const std::vector<std::string> &args, int in_fd, int out_fd, pid_t *pid)
{
    posix_spawn_file_actions_t fa;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&fa);
    posix_spawnattr_init(&attr);
    if (in_fd >= 0)
        posix_spawn_file_actions_adddup2(&fa, in_fd, 0);
    else
        posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    if (out_fd >= 0)
        posix_spawn_file_actions_adddup2(&fa, out_fd, 1);
    else
        posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    // The renewer blocks the signals it reads from its signal descriptor and
    // ignores SIGPIPE and SIGHUP: none of that is the child's.
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int sig : {SIGTERM, SIGINT, SIGPIPE, SIGHUP})
        sigaddset(&defaults, sig);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    std::vector<char *> argv;
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    char path_var[] = "PATH=/usr/sbin:/usr/bin:/sbin:/bin";
    char lang_var[] = "LC_ALL=C";
    char *envp[] = {path_var, lang_var, nullptr};
    int rc = posix_spawn(pid, argv[0], &fa, &attr, argv.data(), envp);
    posix_spawn_file_actions_destroy(&fa);
    posix_spawnattr_destroy(&attr);
    return rc == 0;
}

// Waits for pid at most timeout_ms (a process descriptor, where the kernel
// has them), then kills it. Its exit status, or -1.
int wait_child(pid_t pid, int timeout_ms)
{
    int pidfd = int(syscall(SYS_pidfd_open, pid, 0));
    if (pidfd >= 0) {
        pollfd p{pidfd, POLLIN, 0};
        int n;
        while ((n = poll(&p, 1, timeout_ms)) < 0 && errno == EINTR) {
        }
        if (n == 0)
            kill(pid, SIGKILL);
        close(pidfd);
    }
    int st = 0;
    while (waitpid(pid, &st, 0) < 0)
        if (errno != EINTR)
            return -1;
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

// Whether the system bus knows the resolver's name. Asked without starting
// the daemon: NameHasOwner does not activate.
bool resolved_on_bus()
{
    std::string busctl = first_executable(BUSCTL_PATHS);
    if (busctl.empty() || access(SYSTEM_BUS_SOCKET, F_OK) != 0)
        return false;
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return false;
    pid_t pid;
    bool started = spawn_child({busctl, "--system", "call", "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                "org.freedesktop.DBus", "NameHasOwner", "s", "org.freedesktop.resolve1"},
                               -1, out[1], &pid);
    close(out[1]);
    std::string answer = started ? read_all(out[0], COMMAND_TIMEOUT_MS) : "";
    close(out[0]);
    if (started)
        (void)wait_child(pid, COMMAND_TIMEOUT_MS);
    return answer.rfind("b true", 0) == 0;
}

void log_line(int priority, const std::string &text)
{
    openlog("CorvixDHCP", LOG_PID, LOG_DAEMON);
    syslog(priority, "%s", text.c_str());
}

// Runs every command; true when each ended with status 0.
bool run_all(const std::vector<DnsCommand> &commands, const std::string &ifname)
{
    bool ok = true;
    for (const DnsCommand &c : commands) {
        int status = dns_run(c, COMMAND_TIMEOUT_MS);
        if (status != 0) {
            log_line(LOG_WARNING, ifname + ": " + c.argv[0] + " " + c.argv[1] + " ended with status " +
                                      std::to_string(status));
            ok = false;
        }
    }
    return ok;
}

} // namespace

DnsWay dns_choose(const DnsProbe &probe)
{
    if ((probe.resolved_dir || probe.resolved_on_bus) && !probe.resolvectl.empty())
        return DNS_RESOLVED;
    if (!probe.resolvconf.empty())
        return DNS_RESOLVCONF;
    return DNS_FILE;
}

DnsProbe dns_probe()
{
    DnsProbe p;
    p.resolvectl = first_executable(RESOLVECTL_PATHS);
    p.resolved_dir = is_dir(RESOLVED_DIR);
    if (!p.resolved_dir && !p.resolvectl.empty())
        p.resolved_on_bus = resolved_on_bus();
    p.resolvconf = first_executable(RESOLVCONF_PATHS);
    if (!p.resolvconf.empty() && stands_in_for_resolvectl(p.resolvconf))
        p.resolvconf.clear();
    return p;
}

const char *dns_way_name(DnsWay way)
{
    switch (way) {
    case DNS_RESOLVED:
        return "systemd-resolved (resolvectl)";
    case DNS_RESOLVCONF:
        return "resolvconf";
    case DNS_FILE:
        break;
    }
    return "the resolver file";
}

std::vector<DnsCommand> dns_hand_commands(DnsWay way, const DnsProbe &probe, const std::string &ifname,
                                          const DhcpLease &lease)
{
    if (lease.dns_count == 0)
        return {};
    if (way == DNS_RESOLVED) {
        DnsCommand dns{{probe.resolvectl, "dns", ifname}, ""};
        for (int i = 0; i < lease.dns_count; i++)
            dns.argv.push_back(dhcp_addr_text(lease.dns[i]));
        // An empty domain clears one that an earlier lease handed over.
        DnsCommand domain{{probe.resolvectl, "domain", ifname, lease.domain}, ""};
        return {dns, domain};
    }
    if (way == DNS_RESOLVCONF)
        return {{{probe.resolvconf, "-a", ifname + ".corvix"}, dhcp_resolv_conf_text(lease)}};
    return {};
}

std::vector<DnsCommand> dns_take_back_commands(DnsWay way, const DnsProbe &probe,
                                               const std::string &ifname)
{
    if (way == DNS_RESOLVED)
        return {{{probe.resolvectl, "revert", ifname}, ""}};
    if (way == DNS_RESOLVCONF)
        return {{{probe.resolvconf, "-d", ifname + ".corvix"}, ""}};
    return {};
}

int dns_run(const DnsCommand &command, int timeout_ms)
{
    int in[2];
    if (command.argv.empty() || pipe2(in, O_CLOEXEC) != 0)
        return -1;
    pid_t pid;
    bool started = spawn_child(command.argv, in[0], -1, &pid);
    // Written while this side still holds the reading end: the pipe takes a
    // resolver text whole, and a child that ends unread raises no SIGPIPE.
    size_t done = 0;
    while (started && done < command.input.size()) {
        ssize_t n = write(in[1], command.input.data() + done, command.input.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += size_t(n);
    }
    close(in[1]);
    close(in[0]);
    return started ? wait_child(pid, timeout_ms) : -1;
}

int dns_apply(DnsState *state, const std::string &ifname, const DhcpLease &lease,
              const char *resolv_path)
{
    if (!state->chosen) {
        state->probe = dns_probe();
        state->way = dns_choose(state->probe);
        state->chosen = true;
        std::string where = state->way == DNS_FILE ? std::string(" ") + resolv_path : "";
        log_line(LOG_INFO, ifname + ": name servers go to " + dns_way_name(state->way) + where);
    }
    std::string text = dhcp_resolv_conf_text(lease);
    if (state->way == DNS_FILE) {
        if (text.empty() || write_resolv_conf(resolv_path, text))
            return 1;
        log_line(LOG_WARNING, ifname + ": cannot write " + resolv_path +
                                  (resolv_conf_target(resolv_path).empty()
                                       ? " (a link that leads outside /etc and /run)"
                                       : ""));
        return 0;
    }
    if (text.empty()) {
        dns_take_back(state, ifname);
        return 1;
    }
    if (state->handed && state->handed_text == text)
        return 1; // a renewal with the same servers
    bool ok = run_all(dns_hand_commands(state->way, state->probe, ifname, lease), ifname);
    state->handed = true; // even half done, it is ours to take back
    state->handed_text = ok ? text : "";
    return ok;
}

void dns_take_back(DnsState *state, const std::string &ifname)
{
    if (!state->handed)
        return;
    (void)run_all(dns_take_back_commands(state->way, state->probe, ifname), ifname);
    state->handed = false;
    state->handed_text.clear();
}
