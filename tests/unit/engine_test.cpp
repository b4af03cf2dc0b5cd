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

// Accounts of an older version (alice, no owner), of the window's user 1000
// (bob) and of user 1001 (carol, dave).
class StoredAccounts : public Engine {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(Engine::SetUp());
        std::ofstream(path_) << "[OPTION]\nUSER = 4\nAutoLogon = 0\nLassUserName = \n"
                             << "LassPassWord = \nusername1 = alice\npassword1 = " << scrambled("alice-pw")
                             << "\nusername2 = bob\npassword2 = " << scrambled("bob-pass")
                             << "\nowner2 = 1000\nusername3 = carol\npassword3 = "
                             << scrambled("carol-pw") << "\nowner3 = 1001\nusername4 = dave\n"
                             << "password4 = \nowner4 = 1001\n";
    }
    static std::string scrambled(const char *clear)
    {
        char text[21];
        copy_field(text, clear);
        encrypt(text);
        return text;
    }
    void as_user(uid_t uid) { engine_setup(fds_[1], &settings_, uid); }
    // What the engine answers uid's request of kind about account.
    std::vector<IpcRecord> ask(uid_t uid, uint16_t kind, const char *account)
    {
        as_user(uid);
        IpcRecord r = ipc_record(kind);
        ipc_set_text(r, 0, account);
        handle(r);
        return answers();
    }
};

bool holds(const IpcRecord &r, const char *secret)
{
    return memmem(&r, sizeof r, secret, std::strlen(secret)) != nullptr;
}

TEST_F(StoredAccounts, AUserLearnsOnlyWhetherTheirOwnAccountHasAPassword)
{
    struct Row {
        uid_t uid;
        const char *account;
        int found, stored;
    } rows[] = {
        {1000, "bob", 1, 1},   {1000, "alice", 0, 0}, {1000, "carol", 0, 0},
        {1001, "dave", 1, 0},  {0, "alice", 1, 1},    {0, "carol", 1, 1},
        {0, "nobody", 0, 0},
    };
    for (const Row &row : rows) {
        std::vector<IpcRecord> got = ask(row.uid, REQ_ACCOUNT_PASSWORD, row.account);
        ASSERT_EQ(1u, got.size()) << row.account;
        EXPECT_STREQ(row.account, got[0].text[0]);
        EXPECT_EQ(row.found, got[0].num[0]) << row.uid << " " << row.account;
        EXPECT_EQ(row.stored, got[0].num[1]) << row.uid << " " << row.account;
        for (const char *secret : {"alice-pw", "bob-pass", "carol-pw"})
            EXPECT_FALSE(holds(got[0], secret)) << row.account;
    }
}

TEST_F(StoredAccounts, OnlyTheOwnerOrRootDeletesAndTheListShowsTheirsAlone)
{
    struct Row {
        uid_t uid;
        const char *account;
        std::vector<std::string> names;  // the list sent back; none when refused
        bool removed;
    } rows[] = {
        {1000, "carol", {}, false},
        {1000, "alice", {}, false},
        {1001, "carol", {"dave"}, true},
        {0, "alice", {"dave", "bob"}, true},
    };
    for (const Row &row : rows) {
        std::vector<IpcRecord> got = ask(row.uid, REQ_DELETE_ACCOUNT, row.account);
        std::vector<std::string> names;
        for (const IpcRecord &r : got) {
            if (r.kind == MSG_ACCOUNT_NAME)
                names.push_back(r.text[0]);
        }
        EXPECT_EQ(row.removed ? row.names.size() + 2 : 0u, got.size()) << row.account;
        EXPECT_EQ(row.names, names) << row.account;
        EXPECT_EQ(!row.removed, file().find(" = " + std::string(row.account) + "\n") !=
                                    std::string::npos)
            << row.uid << " " << row.account << "\n" << file();
    }
    // The accounts after the removed ones kept their owners with them.
    for (const char *line : {"username1 = bob\n", "owner1 = 1000\n", "username2 = dave\n",
                             "owner2 = 1001\n", "USER = 2\n"})
        EXPECT_NE(std::string::npos, file().find(line)) << line << file();
    EXPECT_EQ(std::string::npos, file().find("owner3")) << file();

    unlink(path_.c_str());
    std::vector<IpcRecord> got = ask(0, REQ_DELETE_ACCOUNT, "bob");
    ASSERT_EQ(1u, got.size());
    EXPECT_EQ("读取配置文件失败！", message_text(got[0]));
    EXPECT_EQ(1, got[0].num[2]);  // the main window is hidden first
}

TEST_F(StoredAccounts, AStoredPasswordServesOnlyItsOwner)
{
    as_user(1000);
    IpcRecord r = logon("carol", "", "eth0");
    r.num[2] = 1;
    handle(r);
    std::vector<IpcRecord> got = answers();
    ASSERT_EQ(1u, got.size());
    EXPECT_EQ("密码长度为6-20位！", message_text(got[0]));
    EXPECT_EQ(STATUS_IDLE, status.load()) << "no attempt was started";

    // A password beside the request to use the stored one is no request of the window's.
    r = logon("bob", "guessed1", "eth0");
    r.num[2] = 1;
    handle(r);
    EXPECT_TRUE(answers().empty());
    EXPECT_EQ(STATUS_IDLE, status.load());
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
