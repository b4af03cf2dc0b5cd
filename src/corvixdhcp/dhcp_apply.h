// SPDX-License-Identifier: GPL-2.0-or-later
// Puts a lease on an interface and takes it off again.
#pragma once

#include <string>

#include "dhcp_lease.h"

// Puts lease on ifindex in place of previous (may be null): address with
// prefix and broadcast, default route through the first router, MTU (the
// name servers are dns_apply's). Returns 1 when the address is on the
// interface; a route or MTU failure is reported on stderr only.
int lease_apply(int ifindex, const DhcpLease *previous, const DhcpLease &lease);

// Takes the lease's default route and address off ifindex; 1 when both are gone.
int lease_remove(int ifindex, const DhcpLease &lease);

// The file a write of path lands in: path itself when it is no link, else
// where its links lead, which must be under /etc or /run, with every link
// and the file's folder in folders only root can change ("" otherwise, or
// for too many links).
std::string resolv_conf_target(const char *path);

// Replaces the contents of path with text unless it holds exactly that
// already: a new file renamed over it, or, where a file is mounted over the
// name, written in place. A link is written through only when it leads
// under /etc or /run (resolv_conf_target). 1 done.
int write_resolv_conf(const char *path, const std::string &text);
