// SPDX-License-Identifier: GPL-2.0-or-later
// Addresses, the default route and the MTU of one interface, set over
// rtnetlink. Each call opens its own socket and waits for the kernel's answer.
// Addresses are IPv4 in host byte order; results are 1 done, 0 not done.
#pragma once

#include <cstdint>

// Adds addr/prefix with broadcast brd (0 for none), or updates it in place.
int nl_set_address(int ifindex, uint32_t addr, int prefix, uint32_t brd);

// Removes addr/prefix; an address that is not there counts as removed.
int nl_del_address(int ifindex, uint32_t addr, int prefix);

// Adds a default route through gateway; onlink when the gateway lies outside
// our prefix. An identical route already there counts as added.
int nl_add_default_route(int ifindex, uint32_t gateway, bool onlink);

// Removes our default route through gateway; a missing one counts as removed.
int nl_del_default_route(int ifindex, uint32_t gateway);

// Sets the link's MTU.
int nl_set_mtu(int ifindex, uint16_t mtu);
