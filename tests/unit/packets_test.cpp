// SPDX-License-Identifier: GPL-2.0-or-later
// EAPOL Start/Logoff and the EAP responses, byte by byte.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "auth/fillmd5.h"
#include "auth/md5.h"
#include "auth/packets.h"

namespace {

using Bytes = std::vector<uint8_t>;

const uint8_t kMac[6] = {0x00, 0x16, 0x3e, 0xaa, 0xbb, 0xcc};
// Not the worker's usual header, so a copy is told apart from a rebuild.
const uint8_t kEth[14] = {0x01, 0x80, 0xc2, 0x00, 0x00, 0x03, 0x00, 0x16,
                          0x3e, 0xaa, 0xbb, 0xcc, 0x88, 0x8e};

Bytes slice(const uint8_t *p, int from, int to) { return Bytes(p + from, p + to); }

// A request of exactly len bytes on the heap, so over-reads are caught.
std::unique_ptr<uint8_t[]> request(int len, uint8_t code, uint8_t id, uint8_t type)
{
    std::unique_ptr<uint8_t[]> r(new uint8_t[len]);
    for (int i = 0; i < len; i++)
        r[i] = static_cast<uint8_t>(0xa0 + i);
    r[15] = 0;
    r[18] = code;
    r[19] = id;
    r[22] = type;
    return r;
}

// MD5 over id || password || challenge with the client's own MD5 (the
// responder uses libgcrypt, so the two check each other).
Bytes chap(uint8_t id, const std::string &password, const uint8_t *challenge)
{
    Bytes msg{id};
    msg.insert(msg.end(), password.begin(), password.end());
    msg.insert(msg.end(), challenge, challenge + 16);
    MD5Context ctx;
    MD5Init(&ctx);
    MD5Update(&ctx, msg.data(), static_cast<unsigned>(msg.size()));
    Bytes d(16);
    MD5Final(d.data(), &ctx);
    return d;
}

TEST(EapolFrames, StartAndLogoffAreEighteenBytes)
{
    uint8_t buf[EAPOL_FRAME_BUFSIZE];
    const Bytes head = {0x01, 0x80, 0xc2, 0x00, 0x00, 0x03, 0x00, 0x16, 0x3e,
                        0xaa, 0xbb, 0xcc, 0x88, 0x8e, 0x01};
    ASSERT_EQ(build_start_pkt(buf, kMac), 18);
    Bytes want = head;
    want.insert(want.end(), {0x01, 0x00, 0x00});
    EXPECT_EQ(slice(buf, 0, 18), want);

    ASSERT_EQ(build_logoff_pkt(buf, kMac), 18);
    want = head;
    want.insert(want.end(), {0x02, 0x00, 0x00});
    EXPECT_EQ(slice(buf, 0, 18), want);
}

TEST(EapolFrames, IdentityResponseLayoutFor50ByteAccount)
{
    const std::string account(50, 'u');
    const uint8_t extra[4] = {0xde, 0xad, 0xbe, 0xef};
    auto req = request(23, REQUEST, 0x37, IDENTITY);
    uint8_t buf[EAPOL_FRAME_BUFSIZE];
    ASSERT_EQ(build_response_identity(buf, req.get(), kEth, extra, account.c_str()), 79);

    EXPECT_EQ(slice(buf, 0, 14), Bytes(kEth, kEth + 14));
    EXPECT_EQ(slice(buf, 14, 29),
              (Bytes{1, 0, 0, 61, 2, 0x37, 0, 61, 1, 0x15, 0x04, 0xde, 0xad, 0xbe, 0xef}));
    EXPECT_EQ(std::string(buf + 29, buf + 79), account);
}

TEST(EapolFrames, IdentityEchoesIdentifierAndAnswersAvailableAsIdentity)
{
    const uint8_t zero[4] = {};
    uint8_t buf[EAPOL_FRAME_BUFSIZE];
    auto req = request(23, REQUEST, 0xff, AVAILABLE);
    ASSERT_EQ(build_response_identity(buf, req.get(), kEth, zero, "a"), 30);
    EXPECT_EQ(slice(buf, 14, 30),
              (Bytes{1, 0, 0, 12, 2, 0xff, 0, 12, 1, 0x15, 0x04, 0, 0, 0, 0, 'a'}));
}

TEST(EapolFrames, IdentityLongestAccountFillsTheBuffer)
{
    const uint8_t zero[4] = {};
    uint8_t buf[EAPOL_FRAME_BUFSIZE];
    auto req = request(23, REQUEST, 1, IDENTITY);
    EXPECT_EQ(build_response_identity(buf, req.get(), kEth, zero, std::string(99, 'x').c_str()),
              128);
    EXPECT_EQ(buf[16], 0);
    EXPECT_EQ(buf[17], 110);
}

TEST(EapolFrames, Md5ResponseLayoutFor50ByteAccount)
{
    const std::string account(50, 'n');
    auto req = request(40, REQUEST, 0x42, MD5);
    req[23] = 16;
    uint8_t buf[EAPOL_FRAME_BUFSIZE];
    ASSERT_EQ(build_response_md5(buf, req.get(), kEth, account.c_str(), "secret99"), 90);

    EXPECT_EQ(slice(buf, 0, 14), Bytes(kEth, kEth + 14));
    EXPECT_EQ(slice(buf, 14, 24), (Bytes{1, 0, 0, 72, 2, 0x42, 0, 72, 4, 16}));
    EXPECT_EQ(slice(buf, 24, 40), chap(0x42, "secret99", req.get() + 24));
    EXPECT_EQ(std::string(buf + 40, buf + 90), account);
}

TEST(EapolFrames, Md5ChallengeTakenFromFixedOffsetWhateverTheSizeByte)
{
    auto req16 = request(40, REQUEST, 0xff, MD5);
    req16[23] = 16;
    auto req5 = request(40, REQUEST, 0xff, MD5);
    req5[23] = 5;
    uint8_t a[EAPOL_FRAME_BUFSIZE], b[EAPOL_FRAME_BUFSIZE];
    ASSERT_EQ(build_response_md5(a, req16.get(), kEth, "acc", "pw1234"), 43);
    ASSERT_EQ(build_response_md5(b, req5.get(), kEth, "acc", "pw1234"), 43);
    EXPECT_EQ(slice(a, 0, 43), slice(b, 0, 43));
    EXPECT_EQ(a[19], 0xff);
    EXPECT_EQ(a[23], 16);
    EXPECT_EQ(slice(a, 24, 40), chap(0xff, "pw1234", req16.get() + 24));
}

TEST(FillMd5, MessageIsIdentifierPasswordChallenge)
{
    const uint8_t zero[16] = {};
    uint8_t out[16];
    FillMD5Area(out, 1, "abc", zero);
    // MD5 of the 20 bytes 01 'a' 'b' 'c' and sixteen 00.
    const Bytes known = {0x8a, 0xdd, 0x1f, 0x05, 0x28, 0xc0, 0xf2, 0x5c,
                         0xee, 0x12, 0x95, 0x22, 0x1e, 0x43, 0xcc, 0xab};
    EXPECT_EQ(Bytes(out, out + 16), known);

    uint8_t challenge[16];
    for (int i = 0; i < 16; i++)
        challenge[i] = static_cast<uint8_t>(0xf0 - i);
    const std::vector<std::string> passwords = {"", "abcdef", "password1234567890ab",
                                                std::string(111, 'z')};
    for (const std::string &pw : passwords) {
        FillMD5Area(out, 0xff, pw.c_str(), challenge);
        EXPECT_EQ(Bytes(out, out + 16), chap(0xff, pw, challenge)) << pw.size();
    }
}

using EapolFramesDeathTest = ::testing::Test;

TEST(EapolFramesDeathTest, RespondersStopOnRequestsTheWorkerNeverPasses)
{
    const uint8_t zero[4] = {};
    uint8_t buf[EAPOL_FRAME_BUFSIZE];
    auto success = request(40, SUCCESS, 1, IDENTITY);
    EXPECT_DEATH(build_response_identity(buf, success.get(), kEth, zero, "a"),
                 "check failed: \\(EAP_Code\\) request\\[18\\] == REQUEST");
    EXPECT_DEATH(build_response_md5(buf, success.get(), kEth, "a", "pw"),
                 "check failed: \\(EAP_Code\\) request\\[18\\] == REQUEST");

    auto md5 = request(40, REQUEST, 1, MD5);
    EXPECT_DEATH(build_response_identity(buf, md5.get(), kEth, zero, "a"),
                 "check failed: \\(EAP_Type\\) request\\[22\\] == IDENTITY \\|\\| "
                 "\\(EAP_Type\\) request\\[22\\] == AVAILABLE");
    auto ident = request(40, REQUEST, 1, IDENTITY);
    EXPECT_DEATH(build_response_md5(buf, ident.get(), kEth, "a", "pw"),
                 "check failed: \\(EAP_Type\\) request\\[22\\] == MD5");
    auto odd = request(40, REQUEST, 1, 0x84);
    EXPECT_DEATH(build_response_md5(buf, odd.get(), kEth, "a", "pw"), "== MD5");
}

TEST(EapolFramesDeathTest, OversizedFieldsStopInsteadOfOverrunningTheFrame)
{
    const uint8_t zero[4] = {};
    uint8_t buf[EAPOL_FRAME_BUFSIZE];
    auto ident = request(23, REQUEST, 1, IDENTITY);
    EXPECT_DEATH(build_response_identity(buf, ident.get(), kEth, zero,
                                         std::string(100, 'x').c_str()),
                 "check failed: i <= sizeof \\(response\\)");

    auto md5 = request(40, REQUEST, 1, MD5);
    EXPECT_EQ(build_response_md5(buf, md5.get(), kEth, std::string(88, 'x').c_str(), "pw"), 128);
    EXPECT_DEATH(build_response_md5(buf, md5.get(), kEth, std::string(89, 'x').c_str(), "pw"),
                 "check failed: i <= sizeof \\(response\\)");

    const uint8_t challenge[16] = {};
    uint8_t out[16];
    EXPECT_DEATH(FillMD5Area(out, 1, std::string(112, 'p').c_str(), challenge),
                 "check failed: sizeof\\(msgbuf\\) >= msglen");
}

}  // namespace
