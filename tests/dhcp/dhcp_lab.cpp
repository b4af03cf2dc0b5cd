// SPDX-License-Identifier: GPL-2.0-or-later
#include "dhcp_lab.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <algorithm>
#include <cstddef>
#include <sched.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/stat.h>
#include <sys/wait.h>

namespace {

// The start of the lab's names: CORVIX_LAB_PREFIX (1 to 4 letters or
// digits), so that labs run side by side on one machine keep apart, else "cdh".
std::string tag_prefix()
{
    const char *p = std::getenv("CORVIX_LAB_PREFIX");
    size_t len = p ? strnlen(p, 5) : 0;
    if (len == 0 || len > 4)
        return "cdh";
    for (size_t i = 0; i < len; i++)
        if (!std::isalnum(static_cast<unsigned char>(p[i])))
            return "cdh";
    return std::string(p, len);
}

// Every test runs as init of its own PID namespace, so the process id
// cannot tell labs apart; a random tag does.
std::string random_tag()
{
    uint8_t bytes[3] = {};
    if (getrandom(bytes, sizeof bytes, 0) != ssize_t(sizeof bytes))
        return "";
    char tag[16];
    std::snprintf(tag, sizeof tag, "%02x%02x%02x", bytes[0], bytes[1], bytes[2]);
    return tag_prefix() + tag;
}

bool run_ok(const std::string &cmd, std::string *error)
{
    if (std::system((cmd + " >/dev/null 2>&1").c_str()) == 0)
        return true;
    *error = "failed: " + cmd;
    return false;
}

pid_t spawn(const std::vector<std::string> &args, int in_fd, int out_fd)
{
    pid_t pid = fork();
    if (pid != 0)
        return pid;
    dup2(in_fd, 0);
    dup2(out_fd, 1);
    dup2(out_fd, 2);
    std::vector<char *> argv;
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
}

// Reads the pipe until its end or until timeout_ms pass without it.
bool read_to_end(int fd, std::string *out, int timeout_ms)
{
    char buf[512];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, timeout_ms) <= 0)
            return false;
        ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0)
            return n == 0;
        out->append(buf, size_t(n));
    }
}

char process_state(const std::string &pid)
{
    std::string stat = lab_read_file("/proc/" + pid + "/stat");
    size_t close_paren = stat.rfind(')');
    return close_paren != std::string::npos && close_paren + 2 < stat.size() ? stat[close_paren + 2]
                                                                             : '?';
}

template <class F> std::vector<pid_t> scan_processes(F keep)
{
    std::vector<pid_t> found;
    DIR *d = opendir("/proc");
    if (!d)
        return found;
    while (dirent *e = readdir(d)) {
        std::string name = e->d_name;
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        if (keep(name))
            found.push_back(pid_t(std::stol(name)));
    }
    closedir(d);
    return found;
}

} // namespace

std::string lab_up(DhcpLab *lab)
{
    std::string tag = random_tag();
    if (tag.empty())
        return "no random tag";
    lab->server_ns = tag + "-s";
    lab->client_ns = tag + "-c";
    lab->server_if = tag + "s";
    lab->client_if = tag + "c";
    char dir[] = "/tmp/corvixdhcp-lab-XXXXXX";
    if (!mkdtemp(dir))
        return "mkdtemp failed";
    lab->dir = dir;
    std::string err, s = lab->server_ns, c = lab->client_ns;
    bool ok = run_ok("ip netns add " + s, &err) && run_ok("ip netns add " + c, &err) &&
              run_ok("ip link add " + lab->server_if + " netns " + s + " type veth peer name " +
                         lab->client_if + " netns " + c, &err) &&
              run_ok("ip -n " + s + " addr add 10.66.0.1/24 dev " + lab->server_if, &err) &&
              run_ok("ip -n " + s + " link set " + lab->server_if + " up", &err) &&
              run_ok("ip -n " + c + " link set " + lab->client_if + " up", &err) &&
              run_ok("mkdir -p /etc/netns/" + c, &err);
    if (!ok)
        return err;
    lab->resolv_path = "/etc/netns/" + c + "/resolv.conf";
    std::ofstream(lab->resolv_path) << "# lab placeholder\n";
    return lab_read_file(lab->resolv_path).empty() ? "cannot write " + lab->resolv_path : "";
}

std::string lab_start_dnsmasq(DhcpLab *lab, int lease_s, const std::vector<std::string> &extra)
{
    std::vector<std::string> args = {
        "ip", "netns", "exec", lab->server_ns, "dnsmasq", "--no-daemon", "--conf-file=/dev/null",
        "--pid-file=" + lab->dir + "/dnsmasq.pid", "--dhcp-leasefile=" + lab->dir + "/leases",
        "--log-facility=" + lab->dir + "/dnsmasq.log", "--log-dhcp", "--port=0", "--no-ping",
        "--interface=" + lab->server_if, "--bind-interfaces",
        "--dhcp-range=10.66.0.10,10.66.0.20,255.255.255.0," + std::to_string(lease_s),
        "--dhcp-option=option:router,10.66.0.1", "--dhcp-option=option:dns-server,10.66.0.53"};
    args.insert(args.end(), extra.begin(), extra.end());
    (void)unlink((lab->dir + "/dnsmasq.log").c_str());
    int null_fd = open("/dev/null", O_RDWR | O_CLOEXEC);
    lab->dnsmasq = spawn(args, null_fd, null_fd);
    close(null_fd);
    if (lab->dnsmasq < 0)
        return "fork failed";
    bool up = lab_wait_for([&] { return lab_log_count(*lab, "DHCP, IP range") > 0; }, 10000);
    return up ? "" : "dnsmasq did not start: " + lab_read_file(lab->dir + "/dnsmasq.log");
}

void lab_stop_dnsmasq(DhcpLab *lab)
{
    if (lab->dnsmasq <= 0)
        return;
    kill(lab->dnsmasq, SIGTERM);
    waitpid(lab->dnsmasq, nullptr, 0);
    lab->dnsmasq = -1;
}

void lab_down(DhcpLab *lab)
{
    lab_stop_dnsmasq(lab);
    for (pid_t pid : lab_renewers()) { // only ours: this PID namespace is the test's own
        kill(pid, SIGTERM);
        lab_reap(pid, 2000);
    }
    if (!lab->server_ns.empty())
        (void)std::system(("ip netns del " + lab->server_ns + " 2>/dev/null").c_str());
    if (!lab->client_ns.empty()) {
        (void)std::system(("ip netns del " + lab->client_ns + " 2>/dev/null").c_str());
        (void)std::system(("rm -rf /etc/netns/" + lab->client_ns).c_str());
    }
    if (!lab->dir.empty())
        (void)std::system(("rm -rf " + lab->dir).c_str());
}

ClientRun lab_run_client(const DhcpLab &lab)
{
    ClientRun r{-1, 0, "", false};
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)
        return r;
    auto start = std::chrono::steady_clock::now();
    pid_t pid = spawn({"ip", "netns", "exec", lab.client_ns, CORVIXDHCP_EXE, "-e", lab.client_if},
                      in[0], out[1]);
    close(in[0]);
    close(out[1]);
    int st = 0;
    waitpid(pid, &st, 0);
    r.ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    r.output_closed = read_to_end(out[0], &r.output, 1000);
    close(out[0]);
    close(in[1]);
    return r;
}

std::string lab_shell(const std::string &cmd)
{
    std::string out;
    FILE *p = popen(cmd.c_str(), "r");
    if (!p)
        return out;
    char buf[512];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    pclose(p);
    return out;
}

std::string lab_client_addresses(const DhcpLab &lab)
{
    return lab_shell("ip -n " + lab.client_ns + " -4 -o addr show dev " + lab.client_if);
}

std::string lab_client_default_routes(const DhcpLab &lab)
{
    return lab_shell("ip -n " + lab.client_ns + " -4 route show default");
}

std::string lab_read_file(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

int lab_log_count(const DhcpLab &lab, const std::string &text)
{
    std::string log = lab_read_file(lab.dir + "/dnsmasq.log");
    int n = 0;
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
        n++;
    return n;
}

namespace {

// A path when name starts with '/', else an abstract name.
sockaddr_un unix_address(const std::string &name, socklen_t *len)
{
    sockaddr_un sun{};
    sun.sun_family = AF_UNIX;
    size_t at = name[0] == '/' ? 0 : 1;
    size_t n = std::min(name.size(), sizeof sun.sun_path - 2);
    std::memcpy(sun.sun_path + at, name.data(), n);
    *len = socklen_t(offsetof(sockaddr_un, sun_path) + at + n + (at ? 0 : 1));
    return sun;
}

// In a forked child: enters the client namespace as uid; false when it can't.
bool become_in_client_ns(const DhcpLab &lab, uid_t uid)
{
    int ns = open(("/run/netns/" + lab.client_ns).c_str(), O_RDONLY | O_CLOEXEC);
    return ns >= 0 && setns(ns, CLONE_NEWNET) == 0 && setgid(uid) == 0 && setuid(uid) == 0;
}

// Binds name, listens with the shortest queue and fills it; true when the
// queue is full, so that a blocking connect to it would wait.
bool bind_and_fill(const std::string &name)
{
    socklen_t len = 0;
    sockaddr_un sun = unix_address(name, &len);
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&sun), len) != 0 || listen(fd, 0) != 0)
        return false;
    for (int i = 0; i < 64; i++) {
        int c = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
        if (c < 0)
            return false;
        if (connect(c, reinterpret_cast<sockaddr *>(&sun), len) != 0)
            return errno == EAGAIN;
    }
    return false;
}

} // namespace

bool lab_connect_as(const DhcpLab &lab, uid_t uid, const std::string &name, int hold_ms)
{
    pid_t pid = fork();
    if (pid == 0) {
        if (!become_in_client_ns(lab, uid))
            _exit(2);
        socklen_t len = 0;
        sockaddr_un sun = unix_address(name, &len);
        int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        if (fd < 0 || connect(fd, reinterpret_cast<sockaddr *>(&sun), len) != 0)
            _exit(1);
        usleep(useconds_t(hold_ms) * 1000);
        _exit(0);
    }
    int st = 0;
    return pid > 0 && waitpid(pid, &st, 0) == pid && WIFEXITED(st) && WEXITSTATUS(st) == 0;
}

pid_t lab_squat_as(const DhcpLab &lab, uid_t uid, const std::vector<std::string> &names,
                   std::string *held)
{
    int report[2];
    if (pipe(report) != 0)
        return -1;
    pid_t pid = fork();
    if (pid == 0) {
        close(report[0]);
        std::string got;
        if (become_in_client_ns(lab, uid))
            for (const std::string &name : names)
                got += bind_and_fill(name) ? "1" : "0";
        if (write(report[1], got.data(), got.size()) != ssize_t(got.size()))
            _exit(1);
        close(report[1]);
        pause();
        _exit(0);
    }
    close(report[1]);
    char buf[64];
    ssize_t n = pid > 0 ? read(report[0], buf, sizeof buf) : -1;
    close(report[0]);
    *held = n > 0 ? std::string(buf, size_t(n)) : "";
    return pid;
}

std::string lab_stop_socket_path(const DhcpLab &lab)
{
    struct stat ns{};
    if (stat(("/run/netns/" + lab.client_ns).c_str(), &ns) != 0)
        return "";
    return "/run/corvix/dhcp-" + std::to_string(ns.st_ino) + "-" + lab.client_if;
}

std::vector<pid_t> lab_renewers()
{
    return scan_processes([](const std::string &pid) {
        return lab_read_file("/proc/" + pid + "/comm") == "CorvixDHCP\n" && process_state(pid) != 'Z';
    });
}

std::vector<pid_t> lab_zombies()
{
    return scan_processes([](const std::string &pid) { return process_state(pid) == 'Z'; });
}

bool lab_reap(pid_t pid, int timeout_ms)
{
    return lab_wait_for([pid] { return waitpid(pid, nullptr, WNOHANG) == pid; }, timeout_ms);
}
