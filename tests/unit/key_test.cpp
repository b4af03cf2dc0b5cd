// SPDX-License-Identifier: GPL-2.0-or-later
// Key frames, checked byte by byte with libgcrypt's HMAC-MD5 and ARCFOUR as
// independent references (never the client's own MD5, HMAC or RC4).
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <gcrypt.h>
#include <memory>
#include <vector>

#include "auth/key.h"
#include "auth/key_values.h"

namespace {

using Bytes = std::vector<uint8_t>;

const uint8_t kMac[6] = {0x02, 0x00, 0x5e, 0x10, 0x20, 0x30};
const uint8_t kGroup[6] = {0x01, 0x80, 0xc2, 0x00, 0x00, 0x03};

Bytes gcrypt_hmac(const uint8_t *msg, size_t len, uint8_t key)
{
    (void)gcry_check_version(nullptr);
    gcry_md_hd_t h;
    EXPECT_EQ(gcry_md_open(&h, GCRY_MD_MD5, GCRY_MD_FLAG_HMAC), 0u);
    EXPECT_EQ(gcry_md_setkey(h, &key, 1), 0u);
    gcry_md_write(h, msg, len);
    const uint8_t *d = gcry_md_read(h, GCRY_MD_MD5);
    Bytes out(d, d + 16);
    gcry_md_close(h);
    return out;
}

Bytes gcrypt_arcfour(const uint8_t key[20], const uint8_t *plain, size_t len)
{
    (void)gcry_check_version(nullptr);
    gcry_cipher_hd_t h;
    EXPECT_EQ(gcry_cipher_open(&h, GCRY_CIPHER_ARCFOUR, GCRY_CIPHER_MODE_STREAM, 0), 0u);
    EXPECT_EQ(gcry_cipher_setkey(h, key, 20), 0u);
    Bytes out(len);
    EXPECT_EQ(gcry_cipher_encrypt(h, out.data(), len, plain, len), 0u);
    gcry_cipher_close(h);
    return out;
}

// An authenticator's key frame with recognisable field values.
Bytes key_frame(uint8_t seed)
{
    Bytes f(64, 0);
    const uint8_t server[6] = {0x00, 0x1a, 0xa9, 0x01, 0x02, 0x03};
    std::memcpy(f.data(), kMac, 6);
    std::memcpy(f.data() + 6, server, 6);
    f[12] = 0x88, f[13] = 0x8e, f[14] = 1, f[15] = 3, f[16] = 0, f[17] = 46, f[18] = 1;
    for (int i = 21; i <= 45; i++)
        f[i] = static_cast<uint8_t>(seed + i * 11);
    for (size_t i = 46; i < f.size(); i++)
        f[i] = 0xee;  // signature and key the answers must not read
    return f;
}

Bytes slice(const uint8_t *p, int from, int to) { return Bytes(p + from, p + to); }

// Checks one answer: headers, copied fields, RC4 Key field, HMAC signature.
void expect_answer(const uint8_t *buf, int len, const Bytes &rx, const uint8_t *plain,
                   int key_len)
{
    ASSERT_EQ(len, 62 + key_len);
    EXPECT_EQ(slice(buf, 0, 6), Bytes(kGroup, kGroup + 6));
    EXPECT_EQ(slice(buf, 6, 12), Bytes(kMac, kMac + 6));
    EXPECT_EQ(slice(buf, 12, 21), (Bytes{0x88, 0x8e, 1, 3, 0, uint8_t(44 + key_len), 1, 0,
                                         uint8_t(key_len)}));
    EXPECT_EQ(slice(buf, 21, 46), slice(rx.data(), 21, 46));

    uint8_t rc4_key[20];
    std::memcpy(rc4_key, rx.data() + 29, 16);
    std::memcpy(rc4_key + 16, rx.data() + 41, 4);
    EXPECT_EQ(slice(buf, 62, len), gcrypt_arcfour(rc4_key, plain, key_len));

    Bytes unsigned_copy(buf, buf + len);
    std::fill(unsigned_copy.begin() + 46, unsigned_copy.begin() + 62, 0);
    EXPECT_EQ(slice(buf, 46, 62), gcrypt_hmac(unsigned_copy.data() + 14, len - 14, rx[45]));
    for (int i = len; i < KEY_FRAME_BUFSIZE; i++)
        EXPECT_EQ(buf[i], 0) << "byte " << i << " past the frame";
}

TEST(KeyFrames, AnswersCarryTheFrameFieldsEncryptedKeyAndSignature)
{
    const Bytes rx = key_frame(0x40);
    uint8_t buf[KEY_FRAME_BUFSIZE];
    std::memset(buf, 0xcc, sizeof buf);  // the builder must clear what it does not write
    expect_answer(buf, build_packet_key1(buf, rx.data(), kMac), rx, answer_key_payload, 16);
    std::memset(buf, 0xcc, sizeof buf);
    expect_answer(buf, build_packet_key2(buf, rx.data(), kMac), rx, short_key_payload, 4);
}

TEST(KeyFrames, BothAnswersUseTheSameKeystream)
{
    const Bytes rx = key_frame(0x99);
    uint8_t a[KEY_FRAME_BUFSIZE], b[KEY_FRAME_BUFSIZE];
    build_packet_key1(a, rx.data(), kMac);
    build_packet_key2(b, rx.data(), kMac);
    for (int i = 0; i < 4; i++)
        EXPECT_EQ(b[62 + i] ^ short_key_payload[i], a[62 + i] ^ answer_key_payload[i]) << i;
}

TEST(KeyFrames, DifferentFramesDifferentAnswersSameIvSameKeyField)
{
    const Bytes rx1 = key_frame(0x01), rx2 = key_frame(0x02);
    uint8_t a[KEY_FRAME_BUFSIZE], b[KEY_FRAME_BUFSIZE];
    build_packet_key1(a, rx1.data(), kMac);
    build_packet_key1(b, rx2.data(), kMac);
    EXPECT_NE(slice(a, 21, 29), slice(b, 21, 29));
    EXPECT_NE(slice(a, 62, 78), slice(b, 62, 78));

    // Same IV, other replay counter and index: equal Key fields, other signatures.
    Bytes rx3 = rx1;
    rx3[21] ^= 0x55;
    rx3[45] ^= 0x0f;
    build_packet_key1(b, rx3.data(), kMac);
    EXPECT_EQ(slice(a, 62, 78), slice(b, 62, 78));
    EXPECT_NE(slice(a, 46, 62), slice(b, 46, 62));
}

TEST(KeyFrames, SignatureFollowsEveryCopiedByteButNotTheEthernetHeader)
{
    const Bytes rx = key_frame(0x10);
    uint8_t base[KEY_FRAME_BUFSIZE], other[KEY_FRAME_BUFSIZE];
    build_packet_key2(base, rx.data(), kMac);
    for (int i = 21; i <= 45; i++) {
        Bytes changed = rx;
        changed[i] ^= 0x01;
        build_packet_key2(other, changed.data(), kMac);
        EXPECT_NE(slice(base, 46, 62), slice(other, 46, 62)) << "received byte " << i;
    }
    // The signature covers the EAPOL packet only, so the source address is outside it.
    const uint8_t mac2[6] = {0x02, 0, 0, 0, 0, 1};
    build_packet_key2(other, rx.data(), mac2);
    EXPECT_EQ(slice(base, 46, 62), slice(other, 46, 62));
}

TEST(KeyFrames, ReadsOnlyTheFirst46BytesAndWritesOnlyItsBuffer)
{
    // Exact-size heap blocks: the sanitizer build reports any access beyond them.
    const Bytes rx = key_frame(0x33);
    std::unique_ptr<uint8_t[]> shortest(new uint8_t[KEY_FRAME_MIN_LEN]);
    std::memcpy(shortest.get(), rx.data(), KEY_FRAME_MIN_LEN);
    std::unique_ptr<uint8_t[]> out(new uint8_t[KEY_FRAME_BUFSIZE]);
    EXPECT_EQ(build_packet_key1(out.get(), shortest.get(), kMac), 78);
    EXPECT_EQ(build_packet_key2(out.get(), shortest.get(), kMac), 66);
    EXPECT_EQ(build_packet_key(out.get(), kMac, 1700000000), 76);
}

// The four random bytes as the C library's generator gives them for a seed.
Bytes expected_random(time_t seconds)
{
    std::srand(static_cast<unsigned>(seconds));
    Bytes r;
    for (int i = 0; i < 4; i++) {
        float f = static_cast<float>(std::rand()) / 8388608.0f;
        r.push_back(static_cast<uint8_t>(static_cast<int>(f)));
    }
    return r;
}

TEST(KeyFrames, PostSuccessFrameLayoutAndTruncatedSignature)
{
    const time_t now = 1712345678;
    uint8_t buf[KEY_FRAME_BUFSIZE];
    std::memset(buf, 0xcc, sizeof buf);
    ASSERT_EQ(build_packet_key(buf, kMac, now), 76);

    EXPECT_EQ(slice(buf, 0, 6), Bytes(kGroup, kGroup + 6));
    EXPECT_EQ(slice(buf, 6, 12), Bytes(kMac, kMac + 6));
    EXPECT_EQ(slice(buf, 12, 21), (Bytes{0x88, 0x8e, 1, 3, 0, 58, 1, 0, 14}));
    const SuccessKeyBlock &s = success_key_block;
    EXPECT_EQ(slice(buf, 21, 29), Bytes(s.replay_counter, s.replay_counter + 8));
    EXPECT_EQ(slice(buf, 29, 45), Bytes(s.key_iv, s.key_iv + 16));
    EXPECT_EQ(buf[45], s.key_index);
    EXPECT_EQ(slice(buf, 62, 66), Bytes(s.key_head, s.key_head + 4));
    EXPECT_EQ(slice(buf, 68, 74), Bytes(s.key_tail, s.key_tail + 6));
    const Bytes r = expected_random(now);
    EXPECT_EQ((Bytes{buf[66], buf[67], buf[74], buf[75]}), r);
    EXPECT_EQ(buf[76], 0);
    EXPECT_EQ(buf[77], 0);

    // HMAC over 64 bytes: the 62-byte EAPOL packet and two zero bytes.
    Bytes signed_part(buf + 14, buf + 78);
    std::fill(signed_part.begin() + 32, signed_part.begin() + 48, 0);
    const Bytes digest = gcrypt_hmac(signed_part.data(), 64, s.key_index);
    EXPECT_EQ(slice(buf, 46, 60), Bytes(digest.begin(), digest.begin() + 14));
    EXPECT_EQ(buf[60], 0);
    EXPECT_EQ(buf[61], 0);
}

TEST(KeyFrames, SameSecondSameBytesOtherSecondsOtherRandomBytes)
{
    uint8_t a[KEY_FRAME_BUFSIZE], b[KEY_FRAME_BUFSIZE];
    build_packet_key(a, kMac, 1000);
    std::srand(42);  // the builder reseeds, whatever happened in between
    (void)std::rand();
    build_packet_key(b, kMac, 1000);
    EXPECT_EQ(slice(a, 0, KEY_FRAME_BUFSIZE), slice(b, 0, KEY_FRAME_BUFSIZE));

    int differing = 0;
    for (time_t t = 1001; t < 1011; t++) {
        build_packet_key(b, kMac, t);
        differing += slice(a, 66, 76) != slice(b, 66, 76);
    }
    EXPECT_GE(differing, 9);
}

TEST(KeyFrames, RefusedSendsReportZero)
{
    // A dead handle cannot send: the senders say so instead of claiming success.
    std::unique_ptr<pcap_t, void (*)(pcap_t *)> dead(pcap_open_dead(DLT_EN10MB, 65536),
                                                     pcap_close);
    ASSERT_NE(dead, nullptr);
    const Bytes rx = key_frame(0x21);
    EXPECT_EQ(send_packet_key1(dead.get(), rx.data(), kMac), 0);
    EXPECT_EQ(send_packet_key2(dead.get(), rx.data(), kMac), 0);
    EXPECT_EQ(send_packet_key(dead.get(), rx.data(), kMac), 0);
}

}  // namespace
