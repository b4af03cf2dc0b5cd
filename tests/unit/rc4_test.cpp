// SPDX-License-Identifier: GPL-2.0-or-later
// RC4 against the keystream vectors of RFC 6229, section 2.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "auth/rc4.h"

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

struct Row {
    int offset;
    const char *bytes;  // 16 keystream bytes at offset
};

struct Vector {
    std::vector<unsigned char> key;
    std::vector<Row> rows;
};

std::vector<unsigned char> counting_key(int n)
{
    std::vector<unsigned char> key;
    for (int i = 1; i <= n; i++)
        key.push_back(static_cast<unsigned char>(i));
    return key;
}

const std::vector<Vector> &vectors()
{
    static const std::vector<Vector> v = {
        {counting_key(5),
         {{0, "b2396305f03dc027ccc3524a0a1118a8"},
          {16, "6982944f18fc82d589c403a47a0d0919"},
          {240, "28cb1132c96ce286421dcaadb8b69eae"},
          {256, "1cfcf62b03eddb641d77dfcf7f8d8c93"},
          {1008, "45129048e6a0ed0b56b490338f078da5"},
          {1520, "3294f744d8f9790507e70f62e5bbceea"},
          {1536, "d8729db41882259bee4f825325f5a130"},
          {3072, "ec0e11c479dc329dc8da7968fe965681"},
          {4080, "068326a2118416d21f9d04b2cd1ca050"},
          {4096, "ff25b58995996707e51fbdf08b34d875"}}},
        {counting_key(16),
         {{0, "9ac7cc9a609d1ef7b2932899cde41b97"},
          {16, "5248c4959014126a6e8a84f11d1a9e1c"},
          {752, "c5ecf88de897fd57fed301701b82a259"},
          {1536, "ffa0b514647ec04f6306b892ae661181"},
          {2048, "8a44126411eaa78bd51e8d87a8879bf5"},
          {4096, "a36a4c301ae8ac13610ccbc12256cacc"}}},
        {counting_key(32),
         {{0, "eaa6bd25880bf93d3f5d1e4ca2611d91"},
          {496, "91cb93c787964e10d9527d999c6f936b"},
          {1536, "3e34135c79db010200767651cf263073"},
          {4096, "f3e4c0a2e02d1d01f7f0a74618af2b48"}}},
        {{0x83, 0x32, 0x22, 0x77, 0x2a},
         {{0, "80ad97bdc973df8a2e879e92a497efda"},
          {1536, "6251d87fd4aaae9a7e4ad5c217d3f300"},
          {4096, "bf42c3018c2f7c66bfde524975768115"}}},
    };
    return v;
}

// Keystream = encryption of zero bytes.
std::vector<unsigned char> keystream(const std::vector<unsigned char> &key, size_t n)
{
    rc4_state s;
    rc4_setup(&s, key.data(), static_cast<int>(key.size()));
    std::vector<unsigned char> out(n, 0);
    rc4_crypt(&s, out.data(), static_cast<int>(n));
    return out;
}

TEST(Rc4, Rfc6229KeystreamAtEarlyAndLateOffsets)
{
    for (const Vector &v : vectors()) {
        const std::vector<unsigned char> ks = keystream(v.key, 4112);
        for (const Row &r : v.rows)
            EXPECT_EQ(hex(ks.data() + r.offset, 16), r.bytes)
                << "key " << hex(v.key.data(), v.key.size()) << " offset " << r.offset;
    }
}

TEST(Rc4, KeystreamContinuesAcrossCalls)
{
    // Reaching offset 4096 in uneven steps must give the same bytes as one call.
    for (const Vector &v : vectors()) {
        rc4_state s;
        rc4_setup(&s, v.key.data(), static_cast<int>(v.key.size()));
        std::vector<unsigned char> out(4112, 0);
        int pos = 0;
        for (int step : {1, 15, 0, -3, 240, 1280, 7, 2553, 16}) {
            rc4_crypt(&s, out.data() + pos, step);  // 0 and negative leave the stream alone
            pos += step > 0 ? step : 0;
        }
        ASSERT_EQ(pos, 4112);
        EXPECT_EQ(out, keystream(v.key, 4112)) << "key " << hex(v.key.data(), v.key.size());
    }
}

TEST(Rc4, SameKeySameStreamAndDecryptionInverts)
{
    const std::vector<unsigned char> key = counting_key(20);
    EXPECT_EQ(keystream(key, 300), keystream(key, 300));

    std::vector<unsigned char> data(100);
    for (size_t i = 0; i < data.size(); i++)
        data[i] = static_cast<unsigned char>(i * 13);
    std::vector<unsigned char> copy = data;
    rc4_state s;
    rc4_setup(&s, key.data(), 20);
    rc4_crypt(&s, copy.data(), 100);
    EXPECT_NE(copy, data);
    rc4_setup(&s, key.data(), 20);
    rc4_crypt(&s, copy.data(), 100);
    EXPECT_EQ(copy, data);
}

TEST(Rc4, StateIsAPermutationWithIndicesInRange)
{
    rc4_state s;
    const std::vector<unsigned char> key = {0xff, 0xfe, 0x00, 0x80};
    rc4_setup(&s, key.data(), 4);
    std::vector<unsigned char> buf(777);
    rc4_crypt(&s, buf.data(), 777);
    std::vector<int> seen(256, 0);
    for (int v : s.m) {
        ASSERT_GE(v, 0);
        ASSERT_LE(v, 255);
        seen[v]++;
    }
    EXPECT_EQ(seen, std::vector<int>(256, 1));
    EXPECT_EQ(s.x, 777 % 256);
    EXPECT_GE(s.y, 0);
    EXPECT_LE(s.y, 255);
}

TEST(Rc4, EmptyKeyReadsNothingAndActsAsZeroKey)
{
    const std::vector<unsigned char> zero = {0};
    rc4_state a, b;
    rc4_setup(&a, nullptr, 0);
    rc4_setup(&b, zero.data(), 1);
    unsigned char x[32] = {}, y[32] = {};
    rc4_crypt(&a, x, 32);
    rc4_crypt(&b, y, 32);
    EXPECT_EQ(hex(x, 32), hex(y, 32));
}

}  // namespace
