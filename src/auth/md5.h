// SPDX-License-Identifier: GPL-2.0-or-later
// MD5 message digest, laid out as the RFC 1321 reference code. The caller
// owns every context; nothing here allocates or keeps state.
#pragma once

#include <cstdint>

struct MD5Context {
    uint32_t state[4];      // chaining values A, B, C, D
    uint32_t count[2];      // bits fed so far, modulo 2^64, low word first
    unsigned char buffer[64];  // input not yet transformed
};

// Starts a digest: count zero, state the four initial words.
void MD5Init(MD5Context *context);
// Feeds inputLen bytes; may be called any number of times.
void MD5Update(MD5Context *context, const unsigned char *input, unsigned int inputLen);
// Pads, writes the 16-byte digest and then zeroes the whole context.
void MD5Final(unsigned char digest[16], MD5Context *context);
// One compression of a 64-byte block into state.
void MD5Transform(uint32_t state[4], const unsigned char block[64]);
// Writes len/4 words as little-endian bytes; len is a multiple of 4.
void Encode(unsigned char *output, const uint32_t *input, unsigned int len);
// Byte-by-byte copy; len 0 does nothing.
void MD5_memcpy(unsigned char *output, const unsigned char *input, unsigned int len);
// Byte-by-byte fill; len 0 does nothing.
void MD5_memset(unsigned char *output, int value, unsigned int len);
