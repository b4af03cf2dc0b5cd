// SPDX-License-Identifier: GPL-2.0-or-later
// The start checks of a log-on and the worker's interface errors, asked of a
// real engine by the window, with the real dialog on the GTK main loop, inside
// a private network namespace (no authenticator needed).
#include <gtest/gtest.h>

#include <string>

#include "app/records.h"
#include "netns/e2e_support.h"
#include "support/engine_fixture.h"
#include "ui/msg_dialog.h"
#include "support/netns.h"

namespace {

const uint8_t kA[6] = {0x02, 0xd0, 0x00, 0x00, 0x00, 0x01};
const uint8_t kB[6] = {0x02, 0xd0, 0x00, 0x00, 0x00, 0x02};

struct Shown {
    std::string title, text;
    int kind, buttons;
};

// Sets the entries, starts one worker and returns the dialog it raised.
Shown run_worker(E2eClient *c, const std::string &account, const std::string &password,
                 const std::string &device)
{
    e2e_on_main([&] {
        gtk_entry_set_text(GTK_ENTRY(GTK_COMBO(c->widgets.account_combo)->entry), account.c_str());
        gtk_entry_set_text(GTK_ENTRY(c->widgets.password_entry), password.c_str());
        gtk_entry_set_text(GTK_ENTRY(GTK_COMBO(c->widgets.device_combo)->entry), device.c_str());
        destroy_msg_dialog(&c->ctx);
    });
    e2e_start_worker(c);
    EXPECT_TRUE(e2e_wait([c] { return e2e_dialog_shown(c); }, 5000));
    Shown s;
    e2e_on_main([&] {
        s = {c->settings.msg_title, c->settings.msg_text, c->settings.msg_kind,
             c->settings.msg_buttons};
    });
    return s;
}

class E2eStartChecks : public ::testing::Test {
  protected:
    void SetUp() override
    {
        e2e_isolate_process();
        ASSERT_FALSE(HasFatalFailure());
        net = std::make_unique<TestNetns>("chk", kA, kB);
        client = e2e_client_offline("e2euser", "labpass1", net->end_a);
        ASSERT_NE(client, nullptr);
        inside = std::make_unique<NetnsEntered>(*net);
    }
    void TearDown() override
    {
        inside.reset();
        net.reset();
    }
    std::unique_ptr<TestNetns> net;
    std::unique_ptr<NetnsEntered> inside;
    E2eClient *client = nullptr;
};

// What reached the window from workers that began an attempt: the icon and
// every run-state change are theirs.
size_t worker_reports()
{
    return messages_of_kind(MSG_TRAY) + messages_of_kind(MSG_STATUS);
}

TEST_F(E2eStartChecks, AccountAndPasswordAreCheckedBeforeAGenerationIsTaken)
{
    E2eClient *c = client;
    e2e_drive([&] {
        const size_t before = worker_reports();
        const std::string long_account(51, 'a');
        for (const std::string &account : {std::string(), long_account}) {
            Shown s = run_worker(c, account, "labpass1", "x");
            EXPECT_EQ(s.title, "温馨提示");
            EXPECT_EQ(s.text, "帐号不能为空！") << account.size();
            EXPECT_EQ(s.kind, 1);
            EXPECT_EQ(s.buttons, 1);
        }
        for (const std::string &password : {std::string("12345"), std::string(21, 'p')}) {
            Shown s = run_worker(c, "e2euser", password, "x");
            EXPECT_EQ(s.text, "密码长度为6-20位！") << password.size();
        }
        EXPECT_EQ(worker_reports(), before) << "a refused log-on starts no worker";
        EXPECT_EQ(status, STATUS_IDLE);
        EXPECT_FALSE(e2e_tray_shown(c));
        // The longest account and password pass: the worker goes on to the interface.
        Shown s = run_worker(c, std::string(50, 'a'), std::string(20, 'p'), "nosuch0");
        EXPECT_EQ(s.title, "错误");
        EXPECT_EQ(s.text, "没有找到该网卡，可能已经被停用！");
        EXPECT_GT(worker_reports(), before) << "this one started a worker";
        EXPECT_EQ(status, STATUS_ERROR);
        s = run_worker(c, "e2euser", "123456", "nosuch0");
        EXPECT_EQ(s.text, "没有找到该网卡，可能已经被停用！");
    });
}

TEST_F(E2eStartChecks, InterfaceWithoutHardwareAddressIsReportedAndTheClientGoesOn)
{
    E2eClient *c = client;
    c->settings.timeout = 1;  // the engine runs with the settings it started with
    e2e_drive([&] {
        // "any" is listed and opens, but has no hardware address, like an
        // adapter unplugged between the list and the address request.
        Shown s = run_worker(c, "e2euser", "labpass1", "any");
        EXPECT_EQ(s.title, "错误");
        EXPECT_EQ(s.text, "不能打开网卡，可能是网卡不支持LibPcap！");
        EXPECT_EQ(s.buttons, 1);
        EXPECT_EQ(status, STATUS_ERROR);
        // And the real interface still works afterwards: the worker reaches its Start wait.
        status = STATUS_IDLE;
        s = run_worker(c, "e2euser", "labpass1", net->end_a);
        EXPECT_EQ(s.title, "认证失败");
        EXPECT_EQ(status, STATUS_FAILED);
    });
}

}  // namespace
