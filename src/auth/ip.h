// SPDX-License-Identifier: GPL-2.0-or-later
// Hardware and IPv4 address of a network interface, one ioctl each.
#pragma once

#include <cstdint>

// Fills out with the interface's hardware address; 0 when the interface is gone.
int GetMacFromDevice(uint8_t out[6], const char *name);
// Fills out with the interface's IPv4 address; ff ff ff ff when it has none.
void GetIpFromDevice(uint8_t out[4], const char *name);
