// Puts a lease on an interface and takes it off again.
#pragma once

#include <string>

#include "dhcp_lease.h"

// Puts lease on ifindex in place of previous (may be null): address with
// prefix and broadcast, default route through the first router, MTU, and
// the DNS servers in resolv_path. Returns 1 when the address is on the
// interface; a route, MTU or resolver failure is reported on stderr only.
int lease_apply(int ifindex, const DhcpLease *previous, const DhcpLease &lease,
                const char *resolv_path);

// Takes the lease's default route and address off ifindex; 1 when both are gone.
int lease_remove(int ifindex, const DhcpLease &lease);

// Replaces the contents of path with text unless it holds exactly that
// already; written in place, since the file may be a bind mount. 1 done.
int write_resolv_conf(const char *path, const std::string &text);
