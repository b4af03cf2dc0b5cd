// SPDX-License-Identifier: GPL-2.0-or-later
// The engine's answers to the window's requests, over a real socket pair and
// a settings file of the test's own: refusals in the Parts' words, nothing at
// all for what no window sends, and the settings-file requests.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "app/engine.h"
#include "app/ipc.h"
#include "config/settings.h"
#include "support/sandbox.h"
#include "support/scratch.h"
#include "support/message_text.h"

namespace {

class Engine : public SettingsFolderTest {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(SettingsFolderTest::SetUp());
        char scrambled[21] = "secret12";
        encrypt(scrambled);
        std::ofstream(path_) << "[OPTION]\nUSER = 2\nAutoLogon = 0\nUrl = \nLassUserName = bob\n"
                             << "username1 = alice\npassword1 = " << scrambled
                             << "\nusername2 = bob\npassword2 = \n";
        ASSERT_TRUE(ipc_socketpair(fds_));
        engine_setup(fds_[1], &settings_, 1000);
    }
    void TearDown() override
    {
        close(fds_[0]);
        close(fds_[1]);
        SettingsFolderTest::TearDown();
    }

    void handle(const IpcRecord &r)
    {
        EXPECT_TRUE(engine_handle(fds_[1], reinterpret_cast<const uint8_t *>(&r), sizeof r));
    }
    // Every message the engine has sent so far.
    std::vector<IpcRecord> answers()
    {
        std::vector<IpcRecord> out;
        IpcRecord r;
        while (recv(fds_[0], &r, sizeof r, MSG_DONTWAIT | MSG_PEEK) > 0) {
            EXPECT_EQ(RecvResult::Record, ipc_recv(fds_[0], r));
            out.push_back(r);
        }
        return out;
    }
    std::string file() { return file_text(path_); }

    int fds_[2] = {-1, -1};
    ClientSettings settings_{};
};

IpcRecord logon(const char *account, const char *password, const char *device)
{
    IpcRecord r = ipc_record(REQ_LOGON);
    ipc_set_text(r, 0, account);
    ipc_set_text(r, 1, password);
    ipc_set_text(r, 2, device);
    return r;
}

TEST_F(Engine, WhatNoWindowSendsGetsNoAnswer)
{
    IpcRecord good = ipc_record(REQ_DISCONNECT);
    std::vector<uint8_t> bytes(reinterpret_cast<uint8_t *>(&good),
                               reinterpret_cast<uint8_t *>(&good) + sizeof good);
    std::vector<std::vector<uint8_t>> bad = {
        {},
        std::vector<uint8_t>(bytes.begin(), bytes.end() - 1),
        std::vector<uint8_t>(sizeof(IpcRecord), 0xff),
    };
    IpcRecord message = ipc_record(MSG_SHOW_DIALOG);  // the engine's own kind, sent back
    bad.emplace_back(reinterpret_cast<uint8_t *>(&message),
                     reinterpret_cast<uint8_t *>(&message) + sizeof message);
    IpcRecord open_text = ipc_record(REQ_ACCOUNT_PASSWORD);
    std::memset(open_text.text[0], 'a', IPC_TEXT_SIZE);  // no terminator
    bad.emplace_back(reinterpret_cast<uint8_t *>(&open_text),
                     reinterpret_cast<uint8_t *>(&open_text) + sizeof open_text);
    for (const std::vector<uint8_t> &b : bad)
        EXPECT_TRUE(engine_handle(fds_[1], b.data(), b.size()));
    IpcRecord flag = ipc_record(REQ_SET_AUTO_LOGON);
    flag.num[0] = 2;
    handle(flag);
    EXPECT_TRUE(answers().empty());
    EXPECT_EQ(STATUS_IDLE, status.load());
    EXPECT_EQ(std::string::npos, file().find("AutoLogon = 2"));
}

TEST_F(Engine, LogonOutsideTheLimitsIsRefusedInTheWorkersWords)
{
    struct Row {
        IpcRecord request;
        const char *title, *text;
        int status_after;
    } rows[] = {
        {logon("", "secret12", "eth0"), "温馨提示", "帐号不能为空！", STATUS_IDLE},
        {logon(std::string(51, 'a').c_str(), "secret12", "eth0"), "温馨提示", "帐号不能为空！",
         STATUS_IDLE},
        {logon("alice", "12345", "eth0"), "温馨提示", "密码长度为6-20位！", STATUS_IDLE},
        {logon("alice", "secret12", "../../x"), "错误", "没有找到该网卡，可能已经被停用！",
         STATUS_ERROR},
    };
    for (const Row &row : rows) {
        status = STATUS_IDLE;
        handle(row.request);
        std::vector<IpcRecord> got = answers();
        ASSERT_FALSE(got.empty()) << row.text;
        const IpcRecord &dialog = got.back();
        EXPECT_EQ(MSG_SHOW_DIALOG, dialog.kind);
        EXPECT_EQ(row.title, message_title(dialog));
        EXPECT_EQ(row.text, message_text(dialog));
        EXPECT_EQ(1, dialog.num[0]);
        EXPECT_EQ(1, dialog.num[1]);
        EXPECT_EQ(row.status_after, status.load()) << row.text;
    }
}

TEST_F(Engine, ProgramLineFromAUserIsNotStored)
{
    std::string before = file();
    IpcRecord r = ipc_record(REQ_SAVE_SETTINGS);
    r.num[OPT_OPEN_URL] = 1;
    ipc_set_text(r, 0, "/bin/sh -c id");
    ipc_set_text(r, 1, "800");
    handle(r);
    std::vector<IpcRecord> got = answers();
    ASSERT_EQ(1u, got.size());
    EXPECT_EQ(MSG_SETTINGS_SAVED, got[0].kind);
    EXPECT_EQ(SAVE_PROGRAM_REFUSED, got[0].num[0]);
    EXPECT_EQ(before, file());

}

TEST_F(Engine, StoredPasswordLookupAndAccountDeletion)
{
    IpcRecord ask = ipc_record(REQ_ACCOUNT_PASSWORD);
    ipc_set_text(ask, 0, "alice");
    handle(ask);
    ipc_set_text(ask, 0, "carol");
    handle(ask);
    std::vector<IpcRecord> got = answers();
    ASSERT_EQ(2u, got.size());
    EXPECT_STREQ("alice", got[0].text[0]);
    EXPECT_STREQ("secret12", got[0].text[1]);
    EXPECT_EQ(1, got[0].num[0]);
    EXPECT_EQ(0, got[1].num[0]);
    EXPECT_STREQ("", got[1].text[1]);

    IpcRecord del = ipc_record(REQ_DELETE_ACCOUNT);
    ipc_set_text(del, 0, "bob");
    handle(del);
    got = answers();
    ASSERT_EQ(3u, got.size());
    EXPECT_EQ(MSG_ACCOUNTS_RESET, got[0].kind);
    EXPECT_EQ(MSG_ACCOUNT_NAME, got[1].kind);
    EXPECT_STREQ("alice", got[1].text[0]);
    EXPECT_EQ(MSG_ACCOUNTS_DONE, got[2].kind);
    std::string text = file();
    EXPECT_EQ(std::string::npos, text.find("bob")) << text;
    EXPECT_NE(std::string::npos, text.find("USER = 1")) << text;

    unlink(path_.c_str());
    handle(del);
    got = answers();
    ASSERT_EQ(1u, got.size());
    EXPECT_EQ("读取配置文件失败！", message_text(got[0]));
    EXPECT_EQ(1, got[0].num[2]);  // the main window is hidden first
}

int stops = 0;
void count_stop()
{
    stops++;
}

// The window's stop request after its disconnect runs the killall lines once;
// in any other state it runs nothing, so no other interface's client is stopped.
TEST_F(Engine, StopDhcpRunsTheKillallLinesOnlyAfterADisconnect)
{
    stops = 0;
    engine_set_stop_clients(count_stop);
    for (int s : {STATUS_IDLE, STATUS_ONLINE, STATUS_AUTHENTICATING, STATUS_GETTING_IP,
                  STATUS_FAILED, STATUS_LOGOFF}) {
        status = s;
        handle(ipc_record(REQ_STOP_DHCP));
    }
    EXPECT_EQ(0, stops);

    handle(ipc_record(REQ_DISCONNECT));
    // With no log-on before it, the Logoff worker only reports and ends.
    struct pollfd p{fds_[0], POLLIN, 0};
    ASSERT_EQ(1, poll(&p, 1, 5000));
    handle(ipc_record(REQ_STOP_DHCP));
    EXPECT_EQ(1, stops);
    handle(ipc_record(REQ_STOP_DHCP));
    EXPECT_EQ(1, stops) << "one disconnect, one stop";
    status = STATUS_IDLE;
}

}  // namespace
