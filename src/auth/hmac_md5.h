// SPDX-License-Identifier: GPL-2.0-or-later
// HMAC-MD5 (RFC 2104) over the MD5 of md5.h; no allocation.
#pragma once

// digest = HMAC-MD5(key, text). Message first, key second, output last;
// a negative length counts as 0.
void hmac_md5(const unsigned char *text, int text_len, const unsigned char *key, int key_len,
              unsigned char digest[16]);
