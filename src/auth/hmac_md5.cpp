// SPDX-License-Identifier: GPL-2.0-or-later
// HMAC-MD5 after the sample code of RFC 2104, section 2.
#include "auth/hmac_md5.h"

#include "auth/md5.h"

namespace {

constexpr int HMAC_BLOCK = 64;

// MD5(pad || data): the inner and the outer hash share this shape.
void md5_pad_then(const unsigned char pad[HMAC_BLOCK], const unsigned char *data,
                  unsigned int len, unsigned char out[16])
{
    MD5Context context;
    MD5Init(&context);
    MD5Update(&context, pad, HMAC_BLOCK);
    MD5Update(&context, data, len);
    MD5Final(out, &context);
}

}  // namespace

void hmac_md5(const unsigned char *text, int text_len, const unsigned char *key, int key_len,
              unsigned char digest[16])
{
    if (text_len < 0)
        text_len = 0;
    if (key_len < 0)
        key_len = 0;

    // A key longer than a block is replaced by its digest.
    unsigned char tk[16];
    if (key_len > HMAC_BLOCK) {
        MD5Context context;
        MD5Init(&context);
        MD5Update(&context, key, static_cast<unsigned int>(key_len));
        MD5Final(tk, &context);
        key = tk;
        key_len = 16;
    }

    unsigned char k_ipad[HMAC_BLOCK] = {};
    unsigned char k_opad[HMAC_BLOCK] = {};
    MD5_memcpy(k_ipad, key, static_cast<unsigned int>(key_len));
    MD5_memcpy(k_opad, key, static_cast<unsigned int>(key_len));
    for (int i = 0; i < HMAC_BLOCK; i++) {
        k_ipad[i] ^= 0x36;
        k_opad[i] ^= 0x5c;
    }

    unsigned char inner[16];
    md5_pad_then(k_ipad, text, static_cast<unsigned int>(text_len), inner);
    md5_pad_then(k_opad, inner, 16, digest);

    MD5_memset(k_ipad, 0, sizeof k_ipad);
    MD5_memset(k_opad, 0, sizeof k_opad);
    MD5_memset(tk, 0, sizeof tk);
}
