// SPDX-License-Identifier: GPL-2.0-or-later
// Where a lease's name servers go: to the resolver manager the system runs
// (systemd-resolved, resolvconf) or, without one, into the resolver file.
// Chosen once, at the first lease, and kept for the life of the program.
#pragma once

#include <string>
#include <vector>

#include "dhcp_lease.h"

enum DnsWay { DNS_RESOLVED, DNS_RESOLVCONF, DNS_FILE };

// What the system shows of its resolver managers.
struct DnsProbe {
    bool resolved_dir = false;    // /run/systemd/resolve/ is a folder
    bool resolved_on_bus = false; // org.freedesktop.resolve1 has an owner on the system bus
    std::string resolvectl;       // the executable, "" when missing
    std::string resolvconf;       // a resolvconf of its own (not resolvectl's stand-in), or ""
};

// systemd-resolved when it runs and resolvectl is there; else resolvconf
// when installed; else the file.
DnsWay dns_choose(const DnsProbe &probe);

// Looks at this system. The bus is asked (busctl) only when the folder is
// missing, so a machine without systemd-resolved pays for no extra program.
DnsProbe dns_probe();

// How the way is named in the system log.
const char *dns_way_name(DnsWay way);

// One program to run: arguments and what goes to its standard input.
struct DnsCommand {
    std::vector<std::string> argv;
    std::string input;
};

// The commands that hand the lease's servers and domain to the manager
// (none for the file, or when the lease names no server).
std::vector<DnsCommand> dns_hand_commands(DnsWay way, const DnsProbe &probe, const std::string &ifname,
                                          const DhcpLease &lease);

// The commands that take them back again.
std::vector<DnsCommand> dns_take_back_commands(DnsWay way, const DnsProbe &probe,
                                               const std::string &ifname);

// Runs a command with a fixed environment, no inherited signal mask, its
// output discarded; waits at most timeout_ms, then kills it. Its exit
// status, or -1 when it could not run or was killed.
int dns_run(const DnsCommand &command, int timeout_ms);

// What the name servers of one interface became, for the session.
struct DnsState {
    bool chosen = false;
    DnsWay way = DNS_FILE;
    DnsProbe probe;
    bool handed = false;      // the manager holds our servers now
    std::string handed_text;  // the resolver text they were handed as
};

// Puts the lease's servers where the chosen way wants them; the first call
// chooses the way and logs it. 1 done (or nothing to do), 0 failed.
int dns_apply(DnsState *state, const std::string &ifname, const DhcpLease &lease,
              const char *resolv_path);

// Takes back what dns_apply handed to a manager; the file is left as it is.
void dns_take_back(DnsState *state, const std::string &ifname);
