// SPDX-License-Identifier: GPL-2.0-or-later
// The two capture filter texts of the worker.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t FILTER_TEXT_SIZE = 100;

// Before success: EAPOL frames addressed to our own hardware address.
void format_filter_before(char *out, size_t out_size, const uint8_t local_mac[6]);
// After success: EAPOL frames from the authenticator to us.
void format_filter_after(char *out, size_t out_size, const uint8_t server_mac[6],
                         const uint8_t local_mac[6]);
