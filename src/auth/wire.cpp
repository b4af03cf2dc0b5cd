// SPDX-License-Identifier: GPL-2.0-or-later
#include "auth/wire.h"

int wire_send(pcap_t *handle, const unsigned char *frame, int len)
{
    return pcap_sendpacket(handle, frame, len) == 0 ? 1 : 0;
}
