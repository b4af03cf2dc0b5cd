// SPDX-License-Identifier: GPL-2.0-or-later
// Linked before the core library, so this wire_send replaces the real one.
#include "replay/wire_fake.h"

#include "auth/wire.h"

std::vector<Bytes> sent_frames;

int wire_send(pcap_t *, const unsigned char *frame, int len)
{
    sent_frames.emplace_back(frame, frame + len);
    return 1;
}
