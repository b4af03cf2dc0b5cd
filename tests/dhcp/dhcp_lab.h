// SPDX-License-Identifier: GPL-2.0-or-later
// A lab for CorvixDHCP: a server and a client network namespace joined by a
// veth pair, dnsmasq in the server namespace, a resolver file of the
// client namespace's own. Everything it starts is stopped by process id.
#pragma once

#include <string>
#include <sys/types.h>
#include <unistd.h>
#include <vector>

struct DhcpLab {
    std::string server_ns, client_ns;
    std::string server_if, client_if;
    std::string dir;           // dnsmasq's lease, log and pid files
    std::string resolv_path;   // /etc/netns/<client_ns>/resolv.conf
    pid_t dnsmasq = -1;
};

constexpr const char *LAB_SERVER_IP = "10.66.0.1";
constexpr const char *LAB_DNS_IP = "10.66.0.53";

// Builds the namespaces, the veth pair and the resolver file; "" or the error.
std::string lab_up(DhcpLab *lab);

// Starts dnsmasq (range 10.66.0.10-20/24, router and DNS option, --no-ping)
// with the lease time and extra options given; "" or the error.
std::string lab_start_dnsmasq(DhcpLab *lab, int lease_s, const std::vector<std::string> &extra);

// Stops dnsmasq by its process id and waits for it.
void lab_stop_dnsmasq(DhcpLab *lab);

// Stops what the lab started and removes namespaces, files and folders.
void lab_down(DhcpLab *lab);

struct ClientRun {
    int status;         // exit status, -1 when killed
    double ms;          // start to the foreground's exit
    std::string output; // everything written to stdout and stderr
    bool output_closed; // the pipe saw its end soon after the foreground exited
};

// Runs "CorvixDHCP -e <client_if>" in the client namespace with a stdin pipe
// that is never written, as the client's popen does, and waits for it.
ClientRun lab_run_client(const DhcpLab &lab);

// Output of a command line run through the shell.
std::string lab_shell(const std::string &cmd);

// The client interface's IPv4 addresses and default routes, as ip prints them.
std::string lab_client_addresses(const DhcpLab &lab);
std::string lab_client_default_routes(const DhcpLab &lab);

// Whole contents of a file ("" when missing).
std::string lab_read_file(const std::string &path);

// How often text occurs in the dnsmasq log.
int lab_log_count(const DhcpLab &lab, const std::string &text);

// Connects to the socket name (a path when it starts with '/', else an
// abstract name) in the client namespace as the user uid and holds the
// connection for hold_ms; true when the connection was made.
bool lab_connect_as(const DhcpLab &lab, uid_t uid, const std::string &name, int hold_ms);

// A process of uid in the client namespace that binds each name (as above),
// listens and fills the queue, so that a blocking connect would wait, and
// stays until killed. held gets one character per name: '1' bound and full,
// '0' refused. Its pid, or -1.
pid_t lab_squat_as(const DhcpLab &lab, uid_t uid, const std::vector<std::string> &names,
                   std::string *held);

// Where the renewer of the lab's client interface listens for a stop: its
// folder, the client namespace's inode number and the interface.
std::string lab_stop_socket_path(const DhcpLab &lab);

// Processes named CorvixDHCP that still run (zombies left out).
std::vector<pid_t> lab_renewers();

// Processes of this PID namespace that are zombies.
std::vector<pid_t> lab_zombies();

// Reaps the process when it has ended within timeout_ms; true when reaped.
bool lab_reap(pid_t pid, int timeout_ms);

// Polls cond every 50 ms for up to timeout_ms; true once it holds.
template <class F> bool lab_wait_for(F cond, int timeout_ms)
{
    for (int waited = 0;; waited += 50) {
        if (cond())
            return true;
        if (waited >= timeout_ms)
            return false;
        usleep(50 * 1000);
    }
}
