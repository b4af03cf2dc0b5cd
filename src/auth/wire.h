// SPDX-License-Identifier: GPL-2.0-or-later
// The one place where frames leave the client. Tests may link a recording
// fake in place of wire.cpp.
#pragma once

#include <pcap/pcap.h>

// Hands len bytes to the capture library for sending; 1 when accepted, else 0.
int wire_send(pcap_t *handle, const unsigned char *frame, int len);
