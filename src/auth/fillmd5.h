// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>

// EAP-MD5 answer: MD5(identifier, password, challenge), as CHAP computes it.
void FillMD5Area(uint8_t out[16], uint8_t id, const char *password, const uint8_t challenge[16]);
