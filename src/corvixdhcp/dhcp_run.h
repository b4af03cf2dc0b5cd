// SPDX-License-Identifier: GPL-2.0-or-later
// CorvixDHCP's command line and its two lives: the foreground, which
// obtains and applies a lease, and the background renewer it leaves behind.
#pragma once

// The interface named by exactly "-e IFNAME" (a valid interface name);
// null for any other command line.
const char *dhcp_parse_command_line(int argc, char **argv);

// Obtains a lease on ifname and puts it on the interface, leaving a renewer
// in the background. Returns the foreground's exit status: 0 once the
// address is on the interface, 1 when it gave up or failed.
int dhcp_run(const char *ifname);
