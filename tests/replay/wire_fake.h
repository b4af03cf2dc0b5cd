// SPDX-License-Identifier: GPL-2.0-or-later
// The replay tier's wire: frames handed to wire_send are recorded, not sent.
#pragma once

#include <cstdint>
#include <vector>

using Bytes = std::vector<uint8_t>;

// Every frame sent since the last clear, in order.
extern std::vector<Bytes> sent_frames;
