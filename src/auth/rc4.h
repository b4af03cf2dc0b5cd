// SPDX-License-Identifier: GPL-2.0-or-later
// The RC4 stream cipher; the caller owns the state, nothing is allocated.
#pragma once

struct rc4_state {
    int x;       // first generator index, 0..255
    int y;       // second generator index, 0..255
    int m[256];  // permutation of 0..255
};

// Key schedule: the key repeated over 256 bytes. A length of 0 or less acts
// as a key of zero bytes and reads nothing.
void rc4_setup(rc4_state *s, const unsigned char *key, int length);
// XORs the next length keystream bytes into data in place; length <= 0 does nothing.
void rc4_crypt(rc4_state *s, unsigned char *data, int length);
