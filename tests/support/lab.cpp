// SPDX-License-Identifier: GPL-2.0-or-later
// Bringing the lab up and down from tests, running things in it and reading
// what the simulator saw.
#include "support/lab.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <sstream>

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string quote(const std::string &s)
{
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Runs a shell line, collecting its output (standard error too).
int run(const std::string &line, std::string *out)
{
    std::unique_ptr<FILE, int (*)(FILE *)> p(popen((line + " 2>&1").c_str(), "r"), pclose);
    if (!p)
        return -1;
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p.get())) > 0)
        text.append(buf, n);
    int st = pclose(p.release());
    if (out)
        *out = text;
    return st >= 0 && WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

bool executable(const std::string &path) { return access(path.c_str(), X_OK) == 0; }

bool in_path(const char *prog)
{
    return run(std::string("command -v ") + prog + " >/dev/null", nullptr) == 0;
}

// PID plus random digits: tests in parallel private PID namespaces all have
// PID 1, and the lab's folders are shared.
std::string fresh_name(const std::string &prefix)
{
    unsigned r = 0;
    int fd = open("/dev/urandom", O_RDONLY);
    if (fd < 0 || read(fd, &r, sizeof r) != static_cast<ssize_t>(sizeof r))
        r = static_cast<unsigned>(time(nullptr)) ^ static_cast<unsigned>(clock());
    if (fd >= 0)
        close(fd);
    char name[40];
    snprintf(name, sizeof name, "%.8s%dx%08x", prefix.c_str(), static_cast<int>(getpid()), r);
    return name;
}

std::string missing_tool(const LabOptions &opt)
{
    if (geteuid() != 0)
        return "the lab needs root (network namespaces, veth pairs)";
    if (!executable(lab_script()))
        return "lab script missing: " + lab_script();
    for (const char *p : {"ip", "unshare"})
        if (!in_path(p))
            return std::string(p) + " is not installed (scripts/packages.sh)";
    if (opt.auth == "hostapd" && !in_path("hostapd"))
        return "hostapd is not installed (scripts/packages.sh)";
    if (opt.auth == "sim" && !executable(lab_authsim()))
        return "simulator not built: " + lab_authsim();
    if (opt.dhcp && !in_path("dnsmasq"))
        return "dnsmasq is not installed (scripts/packages.sh)";
    return "";
}

std::string up_command(const Lab &lab, const LabOptions &opt)
{
    std::ostringstream c;
    c << quote(lab_script()) << " up " << lab.name << " --auth " << quote(opt.auth)
      << " --eapol-version " << opt.eapol_version << " --reauth " << opt.reauth_seconds
      << " --password " << quote(opt.password) << " --lease " << opt.lease_seconds;
    if (opt.auth == "sim")
        c << " --authsim " << quote(lab_authsim()) << " --sim-args " << quote(opt.sim_args);
    if (!opt.dhcp)
        c << " --no-dhcp";
    return c.str();
}

// PIDs the lab recorded, so that their zombies can be reaped after down
// when this process is the PID namespace's init.
std::vector<pid_t> recorded_pids(const Lab &lab)
{
    std::vector<pid_t> pids;
    for (const char *f : {"hostapd", "authsim", "dnsmasq"}) {
        int pid = atoi(lab_read_file(lab.state_dir + "/" + f + ".pid").c_str());
        if (pid > 1)
            pids.push_back(pid);
    }
    return pids;
}

}  // namespace

LabGuard::~LabGuard() { lab_down(lab); }

std::string lab_script() { return CORVIX_SOURCE_DIR "/tests/lab/lab.sh"; }

std::string lab_authsim() { return CORVIX_BINARY_DIR "/tests/authsim"; }

bool lab_up(Lab &lab, const LabOptions &opt)
{
    lab.error = missing_tool(opt);
    if (!lab.error.empty())
        return false;
    lab.name = fresh_name(opt.name_prefix);
    lab.state_dir = "/run/corvix-lab/" + lab.name;
    lab.client_ns = lab.name + "-c";
    lab.auth_ns = lab.name + "-a";
    std::string out;
    if (run(up_command(lab, opt), &out) != 0) {
        lab.error = "lab.sh up failed: " + out;
        return false;
    }
    lab.up = true;
    return true;
}

void lab_down(Lab &lab)
{
    if (lab.name.empty())
        return;
    std::vector<pid_t> pids = recorded_pids(lab);
    (void)run(quote(lab_script()) + " down " + lab.name, nullptr);
    for (pid_t pid : pids)
        (void)waitpid(pid, nullptr, WNOHANG);
    lab.up = false;
}

int lab_exec(const Lab &lab, const std::string &line, std::string *out)
{
    return run(quote(lab_script()) + " exec " + lab.name + " sh -c " + quote(line), out);
}

int lab_exec_auth(const Lab &lab, const std::string &line, std::string *out)
{
    return run(quote(lab_script()) + " exec-a " + lab.name + " sh -c " + quote(line), out);
}

int lab_enter_client(const Lab &lab)
{
    int home = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    int target = open(("/run/netns/" + lab.client_ns).c_str(), O_RDONLY | O_CLOEXEC);
    bool ok = home >= 0 && target >= 0 && setns(target, CLONE_NEWNET) == 0;
    if (target >= 0)
        close(target);
    if (!ok && home >= 0) {
        close(home);
        home = -1;
    }
    return home;
}

bool lab_leave(int previous_ns)
{
    bool ok = previous_ns >= 0 && setns(previous_ns, CLONE_NEWNET) == 0;
    if (previous_ns >= 0)
        close(previous_ns);
    return ok;
}

bool lab_restart_sim(Lab &lab, const std::string &args)
{
    std::string line = quote(lab_script()) + " sim " + lab.name, word;
    std::istringstream words(args);
    while (words >> word)
        line += " " + quote(word);
    return run(line, nullptr) == 0;
}

std::string lab_read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<LabEvent> lab_sim_events(const Lab &lab)
{
    std::vector<LabEvent> events;
    std::istringstream in(lab_read_file(lab.state_dir + "/authsim.log"));
    std::string line;
    while (std::getline(in, line)) {
        size_t sp = line.find(' ');
        char *end = nullptr;
        double ms = strtod(line.c_str(), &end);
        if (sp == std::string::npos || end != line.c_str() + sp)
            continue;  // not an event line (a diagnostic on standard error)
        events.push_back({ms, line.substr(sp + 1)});
    }
    return events;
}

int lab_wait_event(const Lab &lab, const std::string &prefix, int timeout_ms, size_t from)
{
    for (int waited = 0;; waited += 5) {
        std::vector<LabEvent> ev = lab_sim_events(lab);
        for (size_t i = from; i < ev.size(); i++)
            if (ev[i].text.compare(0, prefix.size(), prefix) == 0)
                return static_cast<int>(i);
        if (waited >= timeout_ms)
            return -1;
        usleep(5000);
    }
}

pcap_t *lab_open_eapol(const std::string &iface, std::string *error)
{
    char err[PCAP_ERRBUF_SIZE] = {};
    pcap_t *pc = pcap_create(iface.c_str(), err);
    bpf_program prog;
    bool ok = pc && pcap_set_snaplen(pc, 65536) == 0 && pcap_set_promisc(pc, 1) == 0 &&
              pcap_set_immediate_mode(pc, 1) == 0 && pcap_activate(pc) >= 0 &&
              pcap_setdirection(pc, PCAP_D_IN) == 0 &&
              pcap_compile(pc, &prog, "ether proto 0x888e", 1, PCAP_NETMASK_UNKNOWN) == 0;
    if (ok) {
        ok = pcap_setfilter(pc, &prog) == 0 && pcap_setnonblock(pc, 1, err) == 0;
        pcap_freecode(&prog);
    }
    if (!ok && error)
        *error = pc ? pcap_geterr(pc) : err;
    if (!ok && pc) {
        pcap_close(pc);
        pc = nullptr;
    }
    return pc;
}

std::vector<uint8_t> lab_recv(pcap_t *handle, int timeout_ms)
{
    timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        pcap_pkthdr *h;
        const u_char *data;
        if (pcap_next_ex(handle, &h, &data) == 1)
            return std::vector<uint8_t>(data, data + h->caplen);
        timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        long left = timeout_ms - ((now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000);
        if (left <= 0)
            return {};
        pollfd p = {pcap_get_selectable_fd(handle), POLLIN, 0};
        (void)poll(&p, 1, static_cast<int>(left));
    }
}

bool lab_send(pcap_t *handle, const uint8_t *frame, int len)
{
    return pcap_inject(handle, frame, static_cast<size_t>(len)) == len;
}
