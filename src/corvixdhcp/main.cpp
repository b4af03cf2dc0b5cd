// SPDX-License-Identifier: GPL-2.0-or-later
// CorvixDHCP: obtains an IPv4 address for one interface and keeps it.
#include <cstdio>

#include "dhcp_run.h"

int main(int argc, char **argv)
{
    const char *ifname = dhcp_parse_command_line(argc, argv);
    if (!ifname) {
        std::fputs("usage: CorvixDHCP -e IFNAME\n", stderr);
        return 2;
    }
    return dhcp_run(ifname);
}
