// SPDX-License-Identifier: GPL-2.0-or-later
// The worker's decisions over received frames, row by row, with the captured
// length cut just before and just at each byte that a decision reads.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <vector>

#include "app/records.h"
#include "auth/auth.h"
#include "app/texts.h"
#include "auth/dispatch.h"

namespace {

// An EAPOL frame of len bytes with the EAPOL type, EAP code and EAP type set.
std::vector<uint8_t> frame(int len, uint8_t eapol_type, uint8_t code, uint8_t type = 0)
{
    std::vector<uint8_t> f(static_cast<size_t>(len), 0xaa);
    auto put = [&](int at, uint8_t v) {
        if (at < len)
            f[static_cast<size_t>(at)] = v;
    };
    put(12, 0x88);
    put(13, 0x8e);
    put(15, eapol_type);
    put(18, code);
    put(22, type);
    return f;
}

struct ExchangeRow {
    const char *what;
    int len;
    uint8_t eapol_type, code, type;
    int run_status;
    ExchangeAction expected;
};

const ExchangeRow kExchangeRows[] = {
    {"too short for the EAP code", 18, 0, 1, 1, STATUS_AUTHENTICATING, ExchangeAction::Ignore},
    {"key frame, 46 bytes", 46, 3, 1, 0, STATUS_ONLINE, ExchangeAction::AnswerKey},
    {"key frame, 45 bytes", 45, 3, 1, 0, STATUS_ONLINE, ExchangeAction::Ignore},
    // The key row matches first: a short key frame never falls through to Identity.
    {"short key frame with type 1", 30, 3, 1, 1, STATUS_ONLINE, ExchangeAction::Ignore},
    {"key frame while authenticating", 60, 3, 1, 4, STATUS_AUTHENTICATING,
     ExchangeAction::AnswerKey},
    {"identity, 23 bytes", 23, 0, 1, 1, STATUS_AUTHENTICATING, ExchangeAction::AnswerIdentity},
    {"identity, 22 bytes", 22, 0, 1, 1, STATUS_AUTHENTICATING, ExchangeAction::Ignore},
    {"identity while online", 60, 0, 1, 1, STATUS_ONLINE, ExchangeAction::AnswerIdentity},
    {"md5, 40 bytes", 40, 0, 1, 4, STATUS_AUTHENTICATING, ExchangeAction::AnswerMd5},
    {"md5, 39 bytes", 39, 0, 1, 4, STATUS_AUTHENTICATING, ExchangeAction::Ignore},
    {"md5 while online", 60, 0, 1, 4, STATUS_ONLINE, ExchangeAction::AnswerMd5},
    {"notification request", 60, 0, 1, 2, STATUS_AUTHENTICATING, ExchangeAction::Ignore},
    {"available request", 60, 0, 1, 20, STATUS_AUTHENTICATING, ExchangeAction::Ignore},
    {"failure, 19 bytes", 19, 0, 4, 0, STATUS_AUTHENTICATING, ExchangeAction::Failure},
    {"failure while online", 60, 0, 4, 0, STATUS_ONLINE, ExchangeAction::Failure},
    {"success while authenticating", 19, 0, 3, 0, STATUS_AUTHENTICATING,
     ExchangeAction::Success},
    {"success while online", 60, 0, 3, 0, STATUS_ONLINE, ExchangeAction::Ignore},
    {"success while getting the address", 60, 0, 3, 0, STATUS_GETTING_IP,
     ExchangeAction::Ignore},
    {"success while logging off", 60, 0, 3, 0, STATUS_LOGOFF, ExchangeAction::Ignore},
    {"response (our own code)", 60, 0, 2, 1, STATUS_AUTHENTICATING, ExchangeAction::Ignore},
    {"unknown code", 60, 0, 9, 1, STATUS_AUTHENTICATING, ExchangeAction::Ignore},
};

TEST(Dispatch, ExchangeTableRowByRow)
{
    for (const ExchangeRow &row : kExchangeRows) {
        std::vector<uint8_t> f = frame(row.len, row.eapol_type, row.code, row.type);
        EXPECT_EQ(dispatch_exchange(f.data(), row.len, row.run_status), row.expected) << row.what;
    }
}

TEST(Dispatch, NeverReadsPastTheCapturedLength)
{
    // Each prefix of a full frame lives in a buffer of exactly its length, so
    // AddressSanitizer stops any read past it.
    const std::vector<std::vector<uint8_t>> fulls = {
        frame(64, 3, 1, 1), frame(64, 0, 1, 1), frame(64, 0, 1, 4), frame(64, 0, 4, 0),
        frame(64, 0, 3, 0)};
    for (const auto &full : fulls) {
        for (int len = 0; len <= 64; ++len) {
            std::vector<uint8_t> cut(full.begin(), full.begin() + len);
            const uint8_t *p = len ? cut.data() : nullptr;
            (void)dispatch_exchange(p, len, STATUS_AUTHENTICATING);
            (void)dispatch_start_wait(p, len);
            (void)is_identity_request(p, len);
            uint8_t code[4];
            read_failure_code(p, len, code);
        }
    }
}

TEST(Dispatch, StartWait)
{
    EXPECT_EQ(dispatch_start_wait(nullptr, 0), StartWaitAction::NoAnswer);
    auto req = frame(19, 0, 1);
    EXPECT_EQ(dispatch_start_wait(req.data(), 19), StartWaitAction::Request);
    EXPECT_EQ(dispatch_start_wait(req.data(), 18), StartWaitAction::NoAnswer);
    // Byte 15 is not examined here: a key frame ends the wait as a request.
    auto key = frame(60, 3, 1);
    EXPECT_EQ(dispatch_start_wait(key.data(), 60), StartWaitAction::Request);
    auto fail = frame(22, 0, 4);
    EXPECT_EQ(dispatch_start_wait(fail.data(), 22), StartWaitAction::Failure);
    auto success = frame(60, 0, 3);
    EXPECT_EQ(dispatch_start_wait(success.data(), 60), StartWaitAction::NoAnswer);
}

TEST(Dispatch, FirstRequestAnsweredOnlyWhenIdentity)
{
    auto id = frame(23, 0, 1, 1);
    EXPECT_TRUE(is_identity_request(id.data(), 23));
    EXPECT_FALSE(is_identity_request(id.data(), 22));
    auto md5 = frame(60, 0, 1, 4);
    EXPECT_FALSE(is_identity_request(md5.data(), 60));
    auto available = frame(60, 0, 1, 20);
    EXPECT_FALSE(is_identity_request(available.data(), 60));
}

TEST(Dispatch, FailureCodeOnlyFromLongEnoughFrames)
{
    auto f = frame(34, 0, 4);
    std::memcpy(f.data() + 30, "303:", 4);
    uint8_t code[4];
    read_failure_code(f.data(), 34, code);
    EXPECT_EQ(std::memcmp(code, "303:", 4), 0);
    // hostapd's 22-byte Failure and anything shorter than 34 give the default message.
    read_failure_code(f.data(), 33, code);
    EXPECT_EQ(std::string(failure_message(code)), "该错误不存在提示信息！");
    read_failure_code(nullptr, 0, code);
    EXPECT_EQ(std::string(failure_message(code)), "该错误不存在提示信息！");
}

TEST(Dispatch, AnswerPasswordWithAndWithoutPrivateSuffix)
{
    char plain[30], with_suffix[30], other[30];
    build_answer_password(plain, "secret1", 0);
    EXPECT_STREQ(plain, "secret1");
    build_answer_password(with_suffix, "secret1", 1);
    ASSERT_EQ(std::strlen(with_suffix), 7u + 9u);
    EXPECT_EQ(std::string(with_suffix, 7), "secret1");
    const char *suffix = with_suffix + 7;
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(std::islower(static_cast<unsigned char>(suffix[i]))) << suffix;
    for (int i = 3; i < 9; ++i)
        EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(suffix[i]))) << suffix;
    // The longest password still gets the whole suffix.
    build_answer_password(other, "abcdefghijklmnopqrst", 1);
    EXPECT_EQ(std::string(other), std::string("abcdefghijklmnopqrst") + suffix);
}

}  // namespace
