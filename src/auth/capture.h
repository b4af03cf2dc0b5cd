// SPDX-License-Identifier: GPL-2.0-or-later
// The worker's capture handle: opening an interface, installing a filter and
// waiting for one frame. Reading is kept apart from opening so that a handle
// from pcap_open_offline feeds the same loop.
#pragma once

#include <cstdint>
#include <pcap/pcap.h>

// A live handle on device that hands over each frame as soon as it arrives; null on failure.
pcap_t *capture_open(const char *device, char errbuf[PCAP_ERRBUF_SIZE]);
// Compiles text (optimised, netmask 0xff) and installs it; 1 when both steps worked.
int capture_set_filter(pcap_t *handle, const char *text);
// Takes one frame the handle holds, without waiting: 1 with *frame and
// *caplen set (valid until the next read), 0 when none is there yet, -1 on a
// read error or at the end of a recording.
int capture_next(pcap_t *handle, const uint8_t **frame, int *caplen);
// Waits at most timeout_ms (0: without limit) for one frame: 1 with *frame and
// *caplen set (valid until the next read), 0 on time-out, read error or end of file.
int capture_read(pcap_t *handle, int timeout_ms, const uint8_t **frame, int *caplen);
