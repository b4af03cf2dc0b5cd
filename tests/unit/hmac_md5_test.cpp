// SPDX-License-Identifier: GPL-2.0-or-later
// HMAC-MD5 against RFC 2104 / RFC 2202 and against libgcrypt's HMAC.
#include <gtest/gtest.h>

#include <gcrypt.h>
#include <string>
#include <vector>

#include "auth/hmac_md5.h"
#include "auth/md5.h"

namespace {

using Bytes = std::vector<unsigned char>;

std::string hex(const unsigned char *p, size_t n)
{
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; i++) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}

Bytes text(const std::string &s) { return Bytes(s.begin(), s.end()); }

std::string ours(const Bytes &msg, const Bytes &key)
{
    unsigned char digest[16];
    hmac_md5(msg.data(), static_cast<int>(msg.size()), key.data(), static_cast<int>(key.size()),
             digest);
    return hex(digest, 16);
}

// Independent reference: libgcrypt's HMAC-MD5.
std::string gcrypt_hmac(const Bytes &msg, const Bytes &key)
{
    (void)gcry_check_version(nullptr);
    gcry_md_hd_t h;
    EXPECT_EQ(gcry_md_open(&h, GCRY_MD_MD5, GCRY_MD_FLAG_HMAC), 0u);
    EXPECT_EQ(gcry_md_setkey(h, key.data(), key.size()), 0u);
    gcry_md_write(h, msg.data(), msg.size());
    std::string out = hex(gcry_md_read(h, GCRY_MD_MD5), 16);
    gcry_md_close(h);
    return out;
}

TEST(HmacMd5, Rfc2104AndRfc2202Vectors)
{
    EXPECT_EQ(ours(text("Hi There"), Bytes(16, 0x0b)), "9294727a3638bb1c13f48ef8158bfc9d");
    EXPECT_EQ(ours(text("what do ya want for nothing?"), text("Jefe")),
              "750c783e6ab0b503eaa86e310a5db738");
    EXPECT_EQ(ours(Bytes(50, 0xdd), Bytes(16, 0xaa)), "56be34521d144c88dbb8c733f0e8b3f6");
    Bytes key25;
    for (unsigned char c = 1; c <= 25; c++)
        key25.push_back(c);
    EXPECT_EQ(ours(Bytes(50, 0xcd), key25), "697eaf0aca3a3aea3a75164746ffaa79");
    EXPECT_EQ(ours(text("Test With Truncation"), Bytes(16, 0x0c)),
              "56461ef2342edc00f9bab995690efd4c");
    EXPECT_EQ(ours(text("Test Using Larger Than Block-Size Key - Hash Key First"),
                   Bytes(80, 0xaa)),
              "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd");
    EXPECT_EQ(ours(text("Test Using Larger Than Block-Size Key and Larger"
                        " Than One Block-Size Data"),
                   Bytes(80, 0xaa)),
              "6f630fad67cda0ee1fb1f562db3aa53e");
}

TEST(HmacMd5, KeyLongerThanABlockActsAsItsDigest)
{
    Bytes key65(65);
    for (size_t i = 0; i < key65.size(); i++)
        key65[i] = static_cast<unsigned char>(0x30 + i);
    MD5Context ctx;
    MD5Init(&ctx);
    MD5Update(&ctx, key65.data(), 65);
    Bytes hashed(16);
    MD5Final(hashed.data(), &ctx);

    const Bytes msg = text("key frame body");
    EXPECT_EQ(ours(msg, key65), ours(msg, hashed));
    EXPECT_EQ(ours(msg, key65), gcrypt_hmac(msg, key65));
}

TEST(HmacMd5, KeyOfExactlyOneBlockIsUsedAsIs)
{
    Bytes key64(64);
    for (size_t i = 0; i < key64.size(); i++)
        key64[i] = static_cast<unsigned char>(0x80 + i);
    MD5Context ctx;
    MD5Init(&ctx);
    MD5Update(&ctx, key64.data(), 64);
    Bytes hashed(16);
    MD5Final(hashed.data(), &ctx);

    const Bytes msg = text("key frame body");
    EXPECT_EQ(ours(msg, key64), gcrypt_hmac(msg, key64));
    EXPECT_NE(ours(msg, key64), ours(msg, hashed));
}

TEST(HmacMd5, OneByteKeysOverFrameSizedTextsMatchLibgcrypt)
{
    // The key frames sign 52 or 64 bytes under a one-byte key.
    for (int k : {0x00, 0x01, 0x7f, 0xff})
        for (size_t len : {0u, 1u, 52u, 64u, 65u, 200u}) {
            Bytes msg(len);
            for (size_t i = 0; i < len; i++)
                msg[i] = static_cast<unsigned char>(i ^ k);
            const Bytes key(1, static_cast<unsigned char>(k));
            EXPECT_EQ(ours(msg, key), gcrypt_hmac(msg, key)) << "key " << k << " len " << len;
        }
}

TEST(HmacMd5, NegativeLengthsCountAsEmpty)
{
    const unsigned char data[4] = {1, 2, 3, 4};
    unsigned char a[16], b[16];
    hmac_md5(data, -5, data, -1, a);
    hmac_md5(data, 0, data, 0, b);
    EXPECT_EQ(hex(a, 16), hex(b, 16));
    EXPECT_EQ(hex(b, 16), gcrypt_hmac(Bytes(), Bytes()));
}

}  // namespace
