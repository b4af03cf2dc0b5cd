// SPDX-License-Identifier: GPL-2.0-or-later
#include "auth/filters.h"

#include <cstdio>

void format_filter_before(char *out, size_t out_size, const uint8_t local_mac[6])
{
    std::snprintf(out, out_size,
                  "(ether proto 0x888e) and (ether dst host %02x:%02x:%02x:%02x:%02x:%02x)",
                  local_mac[0], local_mac[1], local_mac[2], local_mac[3], local_mac[4],
                  local_mac[5]);
}

void format_filter_after(char *out, size_t out_size, const uint8_t server_mac[6],
                         const uint8_t local_mac[6])
{
    // No blank before the middle "and": the filter language does not need one.
    std::snprintf(out, out_size,
                  "(ether proto 0x888e) and (ether src host %02x:%02x:%02x:%02x:%02x:%02x)"
                  "and (ether dst host %02x:%02x:%02x:%02x:%02x:%02x)",
                  server_mac[0], server_mac[1], server_mac[2], server_mac[3], server_mac[4],
                  server_mac[5], local_mac[0], local_mac[1], local_mac[2], local_mac[3],
                  local_mac[4], local_mac[5]);
}
