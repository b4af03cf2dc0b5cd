// SPDX-License-Identifier: GPL-2.0-or-later
// The window's half against a stand-in engine on the other end of the socket
// pair: the window's actions become requests, the engine's messages are
// applied on the main loop, and the engine's end is reported.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "app/ipc.h"
#include "ui/account_handlers.h"
#include "app/startup.h"
#include "app/window_half.h"
#include "gui_harness.h"
#include "ui/msg_dialog.h"
#include "ui/tray.h"
#include "support/message_text.h"

namespace {

// The next request the window sent, within a second.
bool next_request(int fd, IpcRecord &r)
{
    struct pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, 1000) == 1 && ipc_recv(fd, r) == RecvResult::Record;
}

void set_entry(GtkWidget *widget, const char *text)
{
    if (GTK_IS_COMBO(widget))
        widget = GTK_COMBO(widget)->entry;
    gtk_entry_set_text(GTK_ENTRY(widget), text);
}

std::string entry(GtkWidget *widget)
{
    return gtk_entry_get_text(GTK_ENTRY(widget));
}

TEST(WindowHalf, ActionsBecomeRequestsAndMessagesReachTheWidgets)
{
    GuiApp &app = gui_app();
    int fds[2];
    ASSERT_TRUE(ipc_socketpair(fds));
    window_attach(fds[0]);
    status = STATUS_IDLE;
    app.settings.remember_password = 1;
    run_script([&] {
        on_main([&] {
            set_entry(app.widgets.account_combo, "alice");
            set_entry(app.widgets.password_entry, "secret12");
            set_entry(app.widgets.device_combo, "eth7");
            on_logon_button_clicked(nullptr, &app.ctx);
        });
        // Typing the account asks for its stored password; the click logs on.
        IpcRecord r;
        ASSERT_TRUE(next_request(fds[1], r));
        EXPECT_EQ(REQ_ACCOUNT_PASSWORD, r.kind);
        EXPECT_STREQ("alice", r.text[0]);
        ASSERT_TRUE(next_request(fds[1], r));
        EXPECT_EQ(REQ_LOGON, r.kind);
        EXPECT_STREQ("alice", r.text[0]);
        EXPECT_STREQ("secret12", r.text[1]);
        EXPECT_STREQ("eth7", r.text[2]);
        EXPECT_EQ(1, r.num[0]);
        EXPECT_EQ(0, r.num[2]) << "a typed password is sent as typed";

        // The engine's reports, applied on the main loop.
        IpcRecord m = ipc_record(MSG_STATUS);
        m.num[0] = STATUS_ONLINE;
        ASSERT_TRUE(ipc_send(fds[1], m));
        m = ipc_record(MSG_STATUS);
        m.num[0] = 99;  // no run state: ignored
        ASSERT_TRUE(ipc_send(fds[1], m));
        m = ipc_record(MSG_ACCOUNT_PASSWORD);
        ipc_set_text(m, 0, "zed");  // an answer for an account no longer shown
        m.num[0] = 1;
        m.num[1] = 0;
        ASSERT_TRUE(ipc_send(fds[1], m));
        ipc_set_text(m, 0, "alice");
        m.num[1] = 1;  // a password is stored: the engine keeps it
        ASSERT_TRUE(ipc_send(fds[1], m));
        EXPECT_TRUE(wait_for([&] {
            return entry(app.widgets.password_entry) == STORED_PASSWORD_PLACEHOLDER;
        }));
        EXPECT_EQ(STATUS_ONLINE, status.load());

        // The placeholder left alone asks for the stored password; any edit
        // sends what the entry then holds.
        const struct {
            const char *typed;  // null: the placeholder untouched
            const char *sent;
            int use_stored;
        } clicks[] = {{nullptr, "", 1}, {"********", "********", 0}};
        for (const auto &click : clicks) {
            on_main([&] {
                if (click.typed) {  // erased and typed again
                    set_entry(app.widgets.password_entry, "");
                    set_entry(app.widgets.password_entry, click.typed);
                }
                status = STATUS_IDLE;
                on_logon_button_clicked(nullptr, &app.ctx);
            });
            ASSERT_TRUE(next_request(fds[1], r));
            EXPECT_EQ(REQ_LOGON, r.kind);
            EXPECT_STREQ(click.sent, r.text[1]);
            EXPECT_EQ(click.use_stored, r.num[2]);
        }

        // Disconnect from the tray, then exit: each its own request.
        status = STATUS_ONLINE;
        on_main([&] { on_menu_item_disconnect_clicked(nullptr, &app.ctx); });
        ASSERT_TRUE(next_request(fds[1], r));
        EXPECT_EQ(REQ_DISCONNECT, r.kind);
        ASSERT_TRUE(next_request(fds[1], r));
        EXPECT_EQ(REQ_STOP_DHCP, r.kind);

        m = ipc_record(MSG_SHOW_DIALOG);
        const uint8_t wrong_password[4] = {'3', '0', '3', ':'};
        ipc_set_user_text(m, T_TITLE_AUTH_FAILED, server_failure_text(wrong_password));
        m.num[0] = 1;
        ASSERT_TRUE(ipc_send(fds[1], m));
        EXPECT_TRUE(wait_for([&] { return message_shown(app.settings, "密码错误！"); }));
        EXPECT_EQ(0, app.settings.msg_buttons);

        // The engine's end, unasked for: the error window whose OK ends the client.
        close(fds[1]);
        EXPECT_TRUE(wait_for([&] { return message_shown(app.settings, "Corvix认证服务已意外退出！"); }));
        EXPECT_EQ(STATUS_ERROR, status.load());
        EXPECT_FALSE(on_main([&] { return main_window_visible(app.ctx); }));
        on_main([&] { destroy_msg_dialog(&app.ctx); });
    });
    close(fds[0]);
}

}  // namespace
