// SPDX-License-Identifier: GPL-2.0-or-later
// MD5 against the RFC 1321 test suite, whole and fed in pieces.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "auth/md5.h"

namespace {

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

std::string md5_hex(const std::string &text)
{
    MD5Context ctx;
    MD5Init(&ctx);
    MD5Update(&ctx, reinterpret_cast<const unsigned char *>(text.data()),
              static_cast<unsigned int>(text.size()));
    unsigned char digest[16];
    MD5Final(digest, &ctx);
    return hex(digest, 16);
}

// Feeds data in pieces of the given sizes, cycling through them.
std::string md5_pieces(const std::vector<unsigned char> &data, const std::vector<unsigned> &sizes)
{
    MD5Context ctx;
    MD5Init(&ctx);
    size_t pos = 0;
    for (size_t k = 0; pos < data.size(); k++) {
        unsigned n = sizes[k % sizes.size()];
        if (n > data.size() - pos)
            n = static_cast<unsigned>(data.size() - pos);
        MD5Update(&ctx, data.data() + pos, n);
        pos += n;
    }
    unsigned char digest[16];
    MD5Final(digest, &ctx);
    return hex(digest, 16);
}

TEST(Md5, Rfc1321Suite)
{
    EXPECT_EQ(md5_hex(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(md5_hex("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(md5_hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(md5_hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(md5_hex("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(md5_hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    EXPECT_EQ(md5_hex("1234567890123456789012345678901234567890"
                      "1234567890123456789012345678901234567890"),
              "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(Md5, PiecewiseFeedingEqualsWholeAtEveryBlockBoundary)
{
    // Lengths around the 56-byte padding limit and the 64-byte block.
    for (size_t total : {0u, 1u, 55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 128u, 1000u}) {
        std::vector<unsigned char> data(total);
        for (size_t i = 0; i < total; i++)
            data[i] = static_cast<unsigned char>(i * 7 + 3);
        const std::string whole = md5_pieces(data, {static_cast<unsigned>(total)});
        for (const auto &sizes : std::vector<std::vector<unsigned>>{
                 {1}, {0, 1}, {55}, {56}, {63}, {64}, {65}, {3, 0, 61, 64, 65}, {127, 1}})
            EXPECT_EQ(md5_pieces(data, sizes), whole) << "total " << total << " first piece "
                                                      << sizes[0];
    }
}

TEST(Md5, MillionAsFedInOddPiecesMatchesKnownDigest)
{
    // One million 'a' crosses many blocks and exercises the 32-bit count words.
    std::vector<unsigned char> data(1000000, 'a');
    EXPECT_EQ(md5_pieces(data, {999, 64, 1, 4096}), "7707d6ae4e027c70eea2a935c2296f21");
}

TEST(Md5, FinalWipesTheWholeContext)
{
    MD5Context ctx;
    MD5Init(&ctx);
    const unsigned char text[] = "secret key material, more than one block long, so the buffer "
                                 "holds a tail after the transform";
    MD5Update(&ctx, text, sizeof text - 1);
    unsigned char digest[16];
    MD5Final(digest, &ctx);
    const unsigned char *raw = reinterpret_cast<const unsigned char *>(&ctx);
    for (size_t i = 0; i < sizeof ctx; i++)
        ASSERT_EQ(raw[i], 0) << "byte " << i;
}

TEST(Md5, EncodeIsLittleEndianAndCopyFillHonourLength)
{
    const uint32_t words[2] = {0x01020304u, 0xa0b0c0d0u};
    unsigned char out[8];
    Encode(out, words, 8);
    EXPECT_EQ(hex(out, 8), "04030201d0c0b0a0");

    unsigned char buf[4] = {9, 9, 9, 9};
    MD5_memset(buf, 0x41, 0);
    MD5_memcpy(buf, out, 0);
    EXPECT_EQ(hex(buf, 4), "09090909");
    MD5_memset(buf, 0x141, 2);  // only the low byte is stored
    MD5_memcpy(buf + 2, out, 2);
    EXPECT_EQ(hex(buf, 4), "41410403");
}

TEST(Md5, TransformOfPaddedEmptyBlockGivesEmptyDigest)
{
    // "" padded by hand: 0x80, zeros, a bit count of 0.
    unsigned char block[64] = {0x80};
    uint32_t state[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
    MD5Transform(state, block);
    unsigned char digest[16];
    Encode(digest, state, 16);
    EXPECT_EQ(hex(digest, 16), "d41d8cd98f00b204e9800998ecf8427e");
}

}  // namespace
