// SPDX-License-Identifier: GPL-2.0-or-later
#include "support/netns.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <random>
#include <sched.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Runs a command, collecting what it prints; the exit status, or -1.
int run_captured(const std::string &command, std::string &output)
{
    FILE *p = popen((command + " 2>&1").c_str(), "r");
    if (!p)
        return -1;
    char chunk[256];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, p)) > 0)
        output.append(chunk, n);
    int st = pclose(p);
    return (st != -1 && WIFEXITED(st)) ? WEXITSTATUS(st) : -1;
}

void run_or_throw(const std::string &command)
{
    std::string output;
    if (run_captured(command, output) != 0)
        throw std::runtime_error("test network set-up failed: `" + command + "`: " + output);
}

// Tests run in PID namespaces of their own, where every one of them may be
// pid 1, while /run/netns is shared: the pid alone does not make a name unique.
std::string unique_name(const std::string &tag)
{
    static std::atomic<int> counter{0};
    char suffix[9];
    std::snprintf(suffix, sizeof suffix, "%08x", static_cast<unsigned>(std::random_device{}()));
    return "cvx" + tag + std::to_string(getpid()) + "_" + std::to_string(counter++) + suffix;
}

}  // namespace

std::string mac_text(const uint8_t mac[6])
{
    char s[18];
    std::snprintf(s, sizeof s, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3],
                  mac[4], mac[5]);
    return s;
}

TestNetns::TestNetns(const std::string &tag, const uint8_t mac_a[6], const uint8_t mac_b[6])
    : name(unique_name(tag))
{
    if (geteuid() != 0)
        throw std::runtime_error("test network needs root: cannot create namespace " + name);
    run_or_throw("ip netns add " + name);
    try {
        std::string ignored;  // the kernel may lack IPv6: then there is nothing to silence
        (void)run_captured("ip netns exec " + name +
                               " sysctl -q -w net.ipv6.conf.all.disable_ipv6=1"
                               " net.ipv6.conf.default.disable_ipv6=1",
                           ignored);
        const std::string in = "ip -n " + name + " link ";
        run_or_throw(in + "add " + end_a + " address " + mac_text(mac_a) + " type veth peer name " +
                     end_b + " address " + mac_text(mac_b));
        run_or_throw(in + "set lo up");
        run_or_throw(in + "set " + end_a + " up");
        run_or_throw(in + "set " + end_b + " up");
    } catch (...) {
        std::string ignored;
        (void)run_captured("ip netns del " + name, ignored);
        throw;
    }
}

TestNetns::~TestNetns()
{
    std::string output;
    if (run_captured("ip netns del " + name, output) != 0)
        std::fprintf(stderr, "warning: cannot remove test namespace %s: %s\n", name.c_str(),
                     output.c_str());
}

int TestNetns::exec(const std::string &command) const
{
    std::string quoted = "'";
    for (char c : command)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    quoted += "'";
    const std::string line = "ip netns exec " + name + " sh -c " + quoted;
    int st = std::system(line.c_str());
    return (st != -1 && WIFEXITED(st)) ? WEXITSTATUS(st) : -1;
}

std::string TestNetns::path() const { return "/var/run/netns/" + name; }

NetnsEntered::NetnsEntered(const TestNetns &net)
{
    home_fd = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    int target = open(net.path().c_str(), O_RDONLY | O_CLOEXEC);
    const bool entered = home_fd >= 0 && target >= 0 && setns(target, CLONE_NEWNET) == 0;
    if (target >= 0)
        close(target);
    if (!entered) {
        if (home_fd >= 0)
            close(home_fd);
        throw std::runtime_error("cannot enter test namespace " + net.name);
    }
}

NetnsEntered::~NetnsEntered()
{
    // Staying in a namespace that is about to vanish would break every later test.
    if (setns(home_fd, CLONE_NEWNET) != 0) {
        std::fprintf(stderr, "cannot return to the original network namespace\n");
        std::abort();
    }
    close(home_fd);
}
