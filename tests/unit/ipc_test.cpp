// SPDX-License-Identifier: GPL-2.0-or-later
// The records between the window and the engine, and the engine's checks of
// every request it receives.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/engine_request.h"
#include "app/ipc.h"
#include "app/records.h"

namespace {

std::vector<uint8_t> bytes_of(const IpcRecord &r)
{
    const auto *p = reinterpret_cast<const uint8_t *>(&r);
    return std::vector<uint8_t>(p, p + sizeof r);
}

IpcRecord logon(const char *account, const char *password, const char *device)
{
    IpcRecord r = ipc_record(REQ_LOGON);
    EXPECT_TRUE(ipc_set_text(r, 0, account));
    EXPECT_TRUE(ipc_set_text(r, 1, password));
    EXPECT_TRUE(ipc_set_text(r, 2, device));
    return r;
}

IpcRecord save(const char *url, const char *timeout = "800")
{
    IpcRecord r = ipc_record(REQ_SAVE_SETTINGS);
    r.num[OPT_USE_OWN_DHCP] = 1;
    r.num[OPT_OPEN_URL] = 1;
    EXPECT_TRUE(ipc_set_text(r, 0, url));
    EXPECT_TRUE(ipc_set_text(r, 1, timeout));
    return r;
}

Verdict verdict_of(const IpcRecord &r, uid_t uid = 1000)
{
    std::vector<uint8_t> b = bytes_of(r);
    EngineRequest out;
    return parse_request(b.data(), b.size(), uid, false, out);
}

struct SocketPair {
    int fd[2] = {-1, -1};
    SocketPair() { EXPECT_TRUE(ipc_socketpair(fd)); }
    ~SocketPair()
    {
        for (int f : fd)
            if (f >= 0)
                close(f);
    }
};

TEST(IpcCodec, RecordRoundTripsThroughTheSocketPair)
{
    SocketPair sp;
    IpcRecord sent = ipc_record(MSG_SHOW_DIALOG);
    ASSERT_TRUE(ipc_set_text(sent, 0, "认证失败"));
    ASSERT_TRUE(ipc_set_text(sent, 1, "等待服务器响应超时，可能是你没有插好网线\n\n或者选了无线网卡！"));
    sent.num[0] = 1;
    ASSERT_TRUE(ipc_send(sp.fd[0], sent));
    IpcRecord got;
    ASSERT_EQ(RecvResult::Record, ipc_recv(sp.fd[1], got));
    EXPECT_EQ(bytes_of(sent), bytes_of(got));
    EXPECT_NE(0, FD_CLOEXEC & fcntl(sp.fd[0], F_GETFD));
}

TEST(IpcCodec, OversizedShortAndEmptyDatagramsAreDroppedWhole)
{
    SocketPair sp;
    std::vector<uint8_t> big(sizeof(IpcRecord) + 100, 0);
    IpcRecord r = ipc_record(REQ_EXIT);
    std::memcpy(big.data(), &r, sizeof r);  // a valid record followed by more bytes
    ASSERT_EQ(static_cast<ssize_t>(big.size()), send(sp.fd[0], big.data(), big.size(), 0));
    ASSERT_EQ(10, send(sp.fd[0], big.data(), 10, 0));
    ASSERT_TRUE(ipc_send(sp.fd[0], r));
    IpcRecord got;
    EXPECT_EQ(RecvResult::Invalid, ipc_recv(sp.fd[1], got));
    EXPECT_EQ(RecvResult::Invalid, ipc_recv(sp.fd[1], got));
    // The stream stays in step: the next datagram is the record.
    ASSERT_EQ(RecvResult::Record, ipc_recv(sp.fd[1], got));
    EXPECT_EQ(REQ_EXIT, got.kind);
    close(sp.fd[0]);
    sp.fd[0] = -1;
    EXPECT_EQ(RecvResult::Closed, ipc_recv(sp.fd[1], got));
}

TEST(IpcCodec, OnlyCanonicalRecordsDecode)
{
    const IpcRecord good = logon("student", "secret1", "eth0");
    IpcRecord out;
    std::vector<uint8_t> b = bytes_of(good);
    ASSERT_TRUE(ipc_decode(b.data(), b.size(), out));
    struct Case {
        const char *what;
        void (*spoil)(IpcRecord &);
    } cases[] = {
        {"wrong magic", [](IpcRecord &r) { r.magic ^= 1; }},
        {"reserved set", [](IpcRecord &r) { r.reserved = 1; }},
        {"unknown kind", [](IpcRecord &r) { r.kind = 99; }},
        {"kind zero", [](IpcRecord &r) { r.kind = 0; }},
        {"text without end", [](IpcRecord &r) { std::memset(r.text[2], 'A', IPC_TEXT_SIZE); }},
        {"bytes after the end", [](IpcRecord &r) { r.text[0][100] = 'x'; }},
    };
    for (const Case &c : cases) {
        IpcRecord r = good;
        c.spoil(r);
        std::vector<uint8_t> rb = bytes_of(r);
        EXPECT_FALSE(ipc_decode(rb.data(), rb.size(), out)) << c.what;
    }
    EXPECT_FALSE(ipc_decode(b.data(), b.size() - 1, out));
    EXPECT_FALSE(ipc_decode(nullptr, 0, out));
    IpcRecord r = ipc_record(REQ_LOGON);
    EXPECT_FALSE(ipc_set_text(r, 0, std::string(IPC_TEXT_SIZE, 'a').c_str()));
    EXPECT_STREQ("", r.text[0]);
}

TEST(EngineRequest, LogonLimits)
{
    const std::string a50(50, 'a'), p20(20, 'p');
    struct Row {
        std::string account, password, device;
        Verdict want;
    } rows[] = {
        {"a", "123456", "eth0", Verdict::Accepted},
        {a50, p20, "enp0s31f6", Verdict::Accepted},
        {"", "123456", "eth0", Verdict::AccountBad},
        {a50 + "a", "123456", "eth0", Verdict::AccountBad},
        {"stu\ndent", "123456", "eth0", Verdict::AccountBad},
        {"a", "12345", "eth0", Verdict::PasswordBad},
        {"a", p20 + "p", "eth0", Verdict::PasswordBad},
        {"a", "12345\r6", "eth0", Verdict::PasswordBad},
        {"a", "123456", "", Verdict::DeviceBad},
        {"a", "123456", "0123456789abcdef", Verdict::DeviceBad},
        {"a", "123456", "..", Verdict::DeviceBad},
        {"a", "123456", "eth0;reboot", Verdict::Accepted},  // a name, never a command
        {"a", "123456", "eth 0", Verdict::DeviceBad},
        {"a", "123456", "../eth0", Verdict::DeviceBad},
        {"a", "123456", "eth0:1", Verdict::DeviceBad},
    };
    for (const Row &row : rows) {
        IpcRecord r = logon(row.account.c_str(), row.password.c_str(), row.device.c_str());
        EXPECT_EQ(static_cast<int>(row.want), static_cast<int>(verdict_of(r)))
            << row.account << " / " << row.password << " / " << row.device;
    }
    IpcRecord r = logon("a", "123456", "eth0");
    r.num[0] = 2;
    EXPECT_EQ(Verdict::BadNumber, verdict_of(r));
}

TEST(EngineRequest, ProgramLineOnlyFromRoot)
{
    struct Row {
        const char *url;
        uid_t uid;
        Verdict want;
    } rows[] = {
        {"", 1000, Verdict::Accepted},
        {"http://portal.example/login", 1000, Verdict::Accepted},
        {"https://portal.example/?a=1&b=2", 1000, Verdict::Accepted},
        {"http://x/';id;'", 1000, Verdict::Accepted},  // a page: handed on quoted
        {"/usr/bin/xterm", 1000, Verdict::ProgramLineRefused},
        {"HTTP://portal.example", 1000, Verdict::ProgramLineRefused},
        {"ftp://x", 1000, Verdict::ProgramLineRefused},
        {"/usr/bin/xterm", 0, Verdict::Accepted},
    };
    for (const Row &row : rows)
        EXPECT_EQ(static_cast<int>(row.want), static_cast<int>(verdict_of(save(row.url), row.uid)))
            << row.url << " as " << row.uid;
    // With the post-login box cleared, the text is not stored and may be anything.
    IpcRecord off = save("/usr/bin/xterm");
    off.num[OPT_OPEN_URL] = 0;
    EXPECT_EQ(Verdict::Accepted, verdict_of(off));
    EXPECT_EQ(Verdict::BadNumber, verdict_of(save(std::string(URL_MAX_BYTES + 1, 'h').c_str())));
    EXPECT_EQ(Verdict::BadNumber, verdict_of(save("", "8\n0")));
    IpcRecord r = save("");
    r.num[OPT_PRIVATE_AUTH] = -1;
    EXPECT_EQ(Verdict::BadNumber, verdict_of(r));
}

TEST(EngineRequest, KindsDirectionAndOrder)
{
    EngineRequest out;
    IpcRecord r = ipc_record(MSG_STATUS);  // a message kind is no request
    EXPECT_EQ(Verdict::Malformed, verdict_of(r));
    r = ipc_record(REQ_EXIT);
    EXPECT_EQ(Verdict::Accepted, verdict_of(r));
    EXPECT_EQ(Verdict::OutOfOrder, check_request(r, 1000, true, out));
    r = ipc_record(REQ_DELETE_ACCOUNT);
    ASSERT_TRUE(ipc_set_text(r, 0, std::string(51, 'a').c_str()));
    EXPECT_EQ(Verdict::AccountBad, verdict_of(r));
    r = ipc_record(REQ_ACCOUNT_PASSWORD);
    ASSERT_TRUE(ipc_set_text(r, 0, "student"));
    ASSERT_EQ(Verdict::Accepted, check_request(r, 1000, false, out));
    EXPECT_EQ("student", out.account);
    r = ipc_record(REQ_SET_AUTO_LOGON);
    r.num[0] = 7;
    EXPECT_EQ(Verdict::BadNumber, verdict_of(r));
}

// Texts travel as ids with their arguments; the window renders what the
// worker would have said, and a number that names no text is not shown.
TEST(IpcCodec, TextsTravelAsIdsAndRenderAsTheWorkerSaidThem)
{
    const uint8_t code[4] = {'3', '0', '3', ':'};
    const uint8_t odd_code[4] = {0x00, 0xff, '3', ':'};
    struct Row {
        TextId title;
        UserText text;
        const char *shown;
    };
    const Row rows[] = {
        {T_TITLE_AUTH_FAILED, server_failure_text(code), "密码错误！"},
        {T_TITLE_AUTH_FAILED, server_failure_text(odd_code), "该错误不存在提示信息！"},
        {T_NONE, reconnect_text(12), "等待超时，自动进行第 12 次认证！"},
        {T_TITLE_DROPPED, user_text(T_LINK_TIMEOUT), "等待服务器响应超时（key）！"},
    };
    for (const Row &row : rows) {
        IpcRecord r = ipc_record(MSG_SHOW_DIALOG);
        ipc_set_user_text(r, row.title, row.text);
        IpcRecord back;
        ASSERT_TRUE(ipc_decode(reinterpret_cast<const uint8_t *>(&r), sizeof r, back));
        TextId title;
        UserText text;
        ASSERT_TRUE(ipc_user_text(back, title, text));
        EXPECT_EQ(row.title, title);
        EXPECT_EQ(row.shown, render_text(text));
        EXPECT_LT(render_text(text).size(), sizeof(ClientSettings{}.msg_text));
    }
    for (int32_t bad : {-1, static_cast<int32_t>(TEXT_COUNT), 1 << 30}) {
        IpcRecord r = ipc_record(MSG_SHOW_DIALOG);
        r.num[IPC_TEXT_ID] = bad;
        TextId title;
        UserText text;
        EXPECT_FALSE(ipc_user_text(r, title, text)) << bad;
        r = ipc_record(MSG_SHOW_DIALOG);
        r.num[IPC_TITLE_ID] = bad;
        EXPECT_FALSE(ipc_user_text(r, title, text)) << bad;
    }
}

}  // namespace
