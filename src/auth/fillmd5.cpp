// SPDX-License-Identifier: GPL-2.0-or-later
#include "auth/fillmd5.h"

#include <cstring>
#include <gcrypt.h>

#include "app/check.h"

namespace {

// libgcrypt must be initialised once before its first use, from any thread.
// Secure memory is not used: it would only warn, and under set-user-ID it
// could change the process' privileges.
void gcrypt_init_once()
{
    static const bool done = [] {
        (void)gcry_check_version(nullptr);
        gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
        return true;
    }();
    (void)done;
}

}  // namespace

void FillMD5Area(uint8_t out[16], uint8_t id, const char *password, const uint8_t challenge[16])
{
    uint8_t msgbuf[128];
    const size_t passlen = std::strlen(password);
    const size_t msglen = 1 + passlen + 16;
    CHECK(sizeof(msgbuf) >= msglen);

    // RFC 1994: MD5 over identifier, secret, challenge.
    msgbuf[0] = id;
    std::memcpy(msgbuf + 1, password, passlen);
    std::memcpy(msgbuf + 1 + passlen, challenge, 16);

    gcrypt_init_once();
    gcry_md_hash_buffer(GCRY_MD_MD5, out, msgbuf, msglen);
}
