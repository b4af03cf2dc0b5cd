// SPDX-License-Identifier: GPL-2.0-or-later
// The status message dialog: requests from the main thread and from workers,
// the creation-pending marker, the three windows and their buttons.
#include <cstring>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "gui_harness.h"
#include "support/engine_fixture.h"
#include "support/netns.h"
#include "ui/msg_dialog.h"
#include "ui/tray.h"

namespace {

const char kEmptyAccount[] = "帐号不能为空！";
const int kRight = 260, kLeft = 10;

// From the script thread: the shown dialog, once it is up and no creation is pending.
GtkWidget *wait_dialog(ClientSettings &s)
{
    GtkWidget *dialog = nullptr;
    wait_for([&] {
        dialog = mutex.load() ? nullptr : s.msg_dialog;
        return dialog && gtk_widget_get_visible(dialog);
    });
    return dialog;
}

// From the script thread: waits until the worker's "empty account" notice is up.
bool wait_worker_notice(ClientSettings &s, int timeout_ms)
{
    return wait_for([&] { return s.msg_dialog && !mutex.load() && std::strcmp(s.msg_text, kEmptyAccount) == 0; },
                    timeout_ms);
}

void close_all(AppContext &ctx)
{
    on_main([&] { destroy_msg_dialog(&ctx); });
}

std::string window_title(GtkWidget *w)
{
    const char *t = gtk_window_get_title(GTK_WINDOW(w));
    return t ? t : "";
}

}  // namespace

TEST(MsgDialog, TwoQuickRequestsOnTheMainThreadLeaveOnlyTheSecondWindow)
{
    GuiApp &app = gui_app();
    MappedDialogs mapped;
    run_script([&] {
        on_main([&] {
            show_msg_dialog(&app.ctx, "第一", "one", 1, 1);
            show_msg_dialog(&app.ctx, "第二", "two", 1, 0);
        });
        ASSERT_NE(wait_dialog(app.settings), nullptr);
        on_main([&] {
            auto shown = visible_dialogs();
            ASSERT_EQ(shown.size(), 1u);
            EXPECT_EQ(shown[0], app.settings.msg_dialog);
            EXPECT_EQ(window_title(shown[0]), "第二");
            EXPECT_EQ(label_text(app.settings.msg_label), "two");
            // The first request was dropped before it was ever built.
            EXPECT_EQ(mapped.entries.size(), 1u);
        });
        close_all(app.ctx);
    });
    EXPECT_TRUE(visible_dialogs().empty());
}

TEST(MsgDialog, TwoQuickRequestsFromAWorkerLeaveOnlyTheSecondWindow)
{
    GuiApp &app = gui_app();
    MappedDialogs mapped;
    run_script([&] {
        // This thread is a worker: the second request waits for the first window.
        show_msg_dialog(&app.ctx, "第一", "one", 1, 1);
        show_msg_dialog(&app.ctx, "第二", "two", 1, 1);
        ASSERT_NE(wait_dialog(app.settings), nullptr);
        on_main([&] {
            auto shown = visible_dialogs();
            ASSERT_EQ(shown.size(), 1u);
            EXPECT_EQ(window_title(shown[0]), "第二");
            ASSERT_EQ(mapped.entries.size(), 2u);
            EXPECT_TRUE(mapped.entries[0].destroyed);
            EXPECT_EQ(mapped.entries[1].dialog, app.settings.msg_dialog);
        });
        close_all(app.ctx);
    });
}

// Holds the main loop inside one main-thread step with a creation pending:
// main-thread calls must return at once, a worker's call must keep waiting.
class PendingCreation : public ::testing::Test {
protected:
    void hold_pending_and_start(const std::function<void()> &worker_call)
    {
        on_main([&] {
            show_msg_dialog(&app.ctx, "提示", "first", 1, 1);
            gint64 start = g_get_monotonic_time();
            update_info_in_dialog(&app.ctx, "main");
            EXPECT_LT(g_get_monotonic_time() - start, 50000) << "the main thread waited for the marker";
            EXPECT_EQ(app.settings.msg_dialog, nullptr);
            EXPECT_NE(mutex.load(), nullptr);
            EXPECT_STREQ(app.settings.msg_text, "main");
            worker = std::thread([this, worker_call] {
                worker_call();
                returned = true;
            });
            // The window cannot be built while this step holds the loop.
            g_usleep(350000);
            EXPECT_FALSE(returned.load()) << "the worker went on while the window was pending";
        });
    }
    void TearDown() override
    {
        if (worker.joinable())
            worker.join();
    }
    GuiApp &app = gui_app();
    std::thread worker;
    std::atomic<bool> returned{false};
};

TEST_F(PendingCreation, WorkerUpdateWaitsForTheWindowThenChangesIt)
{
    MappedDialogs mapped;
    run_script([&] {
        hold_pending_and_start([&] { update_info_in_dialog(&app.ctx, "worker"); });
        ASSERT_TRUE(wait_for([&] { return returned.load(); }));
        on_main([&] {
            ASSERT_EQ(mapped.entries.size(), 1u);
            EXPECT_EQ(mapped.entries[0].dialog, app.settings.msg_dialog);
            EXPECT_EQ(label_text(app.settings.msg_label), "worker");
            EXPECT_STREQ(app.settings.msg_text, "worker");
        });
        close_all(app.ctx);
    });
}

TEST_F(PendingCreation, WorkerDestroyWaitsForTheWindowThenDestroysThatWindow)
{
    MappedDialogs mapped;
    run_script([&] {
        hold_pending_and_start([&] { destroy_msg_dialog(&app.ctx); });
        ASSERT_TRUE(wait_for([&] { return returned.load(); }));
        on_main([&] {
            ASSERT_EQ(mapped.entries.size(), 1u);
            EXPECT_TRUE(mapped.entries[0].destroyed);
            EXPECT_EQ(app.settings.msg_dialog, nullptr);
            EXPECT_TRUE(visible_dialogs().empty());
        });
    });
}

TEST(MsgDialog, MainThreadDestroyDropsAPendingWindowAtOnce)
{
    GuiApp &app = gui_app();
    MappedDialogs mapped;
    run_script([&] {
        on_main([&] {
            show_msg_dialog(&app.ctx, "错误", "pending", 1, 1);
            gint64 start = g_get_monotonic_time();
            destroy_msg_dialog(&app.ctx);
            EXPECT_LT(g_get_monotonic_time() - start, 50000);
            EXPECT_EQ(mutex.load(), nullptr);
        });
        on_main([] {});  // the queued creation has had its turn by now
        on_main([&] {
            EXPECT_TRUE(mapped.entries.empty());
            EXPECT_EQ(app.settings.msg_dialog, nullptr);
        });
    });
}

TEST(MsgDialog, UpdateWithoutAWindowChangesOnlyTheTextWhichTheTrayWindowThenShows)
{
    GuiApp &app = gui_app();
    ClientSettings &s = app.settings;
    MappedDialogs mapped;
    status = STATUS_ONLINE;
    s.msg_kind = 1;
    s.msg_buttons = 0;
    copy_field(s.msg_title, "认证失败");
    run_script([&] {
        update_info_in_dialog(&app.ctx, "认证成功！");
        on_main([&] {
            EXPECT_STREQ(s.msg_text, "认证成功！");
            EXPECT_STREQ(s.msg_title, "认证失败");
            EXPECT_EQ(s.msg_kind, 1);
            EXPECT_EQ(s.msg_buttons, 0);
            EXPECT_EQ(status.load(), STATUS_ONLINE);
            EXPECT_EQ(s.msg_dialog, nullptr);
            EXPECT_EQ(mutex.load(), nullptr);
            EXPECT_TRUE(mapped.entries.empty());
            on_tray_icon_activated(nullptr, &app.ctx);
        });
        GtkWidget *dialog = wait_dialog(s);
        ASSERT_NE(dialog, nullptr);
        on_main([&] {
            EXPECT_EQ(window_title(dialog), "提示");
            EXPECT_EQ(label_text(s.msg_label), "认证成功！");
            EXPECT_NE(dialog_button_at(s, kLeft), nullptr);  // the progress window's Disconnect
        });
        close_all(app.ctx);
    });
}

struct LayoutCase {
    const char *name;
    int kind, buttons;
    bool has_left;
    int focus_x;
};

class DialogLayout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(DialogLayout, ButtonsFocusAndWindow)
{
    const LayoutCase c = GetParam();
    GuiApp &app = gui_app();
    run_script([&] {
        show_msg_dialog(&app.ctx, "提示", "text", c.kind, c.buttons);
        GtkWidget *dialog = wait_dialog(app.settings);
        ASSERT_NE(dialog, nullptr);
        on_main([&] {
            EXPECT_NE(dialog_button_at(app.settings, kRight), nullptr);
            EXPECT_EQ(dialog_button_at(app.settings, kLeft) != nullptr, c.has_left);
            EXPECT_EQ(gtk_window_get_focus(GTK_WINDOW(dialog)), dialog_button_at(app.settings, c.focus_x));
            EXPECT_FALSE(gtk_window_get_resizable(GTK_WINDOW(dialog)));
            GtkWidget *parent = gtk_widget_get_parent(app.settings.msg_label);
            gint x = 0, y = 0;
            gtk_container_child_get(GTK_CONTAINER(parent), app.settings.msg_label, "x", &x, "y", &y, nullptr);
            EXPECT_EQ(x, 70);
            EXPECT_EQ(y, 30);
        });
        close_all(app.ctx);
    });
}

INSTANTIATE_TEST_SUITE_P(Windows, DialogLayout,
                         ::testing::Values(LayoutCase{"Progress", 0, 0, true, kRight},
                                           LayoutCase{"Failure", 1, 0, true, kLeft},
                                           LayoutCase{"Notice", 1, 1, false, kRight}),
                         [](const ::testing::TestParamInfo<LayoutCase> &p) { return std::string(p.param.name); });

TEST(MsgDialog, LongestTextIsShownWholeOnThreeLines)
{
    const char *text = "等待服务器响应超时，可能是你没有插好网线\n\n或者选了无线网卡！";
    ASSERT_EQ(std::strlen(text), 89u);
    GuiApp &app = gui_app();
    run_script([&] {
        show_msg_dialog(&app.ctx, "认证失败", text, 1, 0);
        ASSERT_NE(wait_dialog(app.settings), nullptr);
        on_main([&] {
            EXPECT_STREQ(app.settings.msg_text, text);
            EXPECT_EQ(label_text(app.settings.msg_label), text);
            PangoLayout *layout = gtk_label_get_layout(GTK_LABEL(app.settings.msg_label));
            EXPECT_EQ(pango_layout_get_line_count(layout), 3);
            // Whole also on screen: within the panel right of the icon, above the button bar.
            int width = 0, height = 0;
            pango_layout_get_pixel_size(layout, &width, &height);
            EXPECT_LE(70 + width, 330);
            EXPECT_LE(30 + height, 90);
        });
        close_all(app.ctx);
    });
}

TEST(MsgDialog, OverlongTextIsCutAtACharacterBoundaryAndStillShown)
{
    // 30 three-byte characters: 90 bytes, one more than the field keeps.
    std::string text;
    for (int i = 0; i < 30; ++i)
        text += "网";
    GuiApp &app = gui_app();
    run_script([&] {
        show_msg_dialog(&app.ctx, "一二三四五六七", text.c_str(), 1, 1);
        ASSERT_NE(wait_dialog(app.settings), nullptr);
        on_main([&] {
            EXPECT_EQ(std::string(app.settings.msg_text), text.substr(0, 87));
            EXPECT_EQ(std::string(app.settings.msg_title), "一二三四五六");
            EXPECT_EQ(label_text(app.settings.msg_label), text.substr(0, 87));
        });
        close_all(app.ctx);
    });
}

// What each button does to the run state, the main window, the tray icon and the worker.
struct ButtonCase {
    const char *name;
    int kind, buttons, status_before, x;
    int status_after;
    bool main_shown, icon_kept, worker_started;
};

class DialogButton : public ::testing::TestWithParam<ButtonCase> {};

TEST_P(DialogButton, Effect)
{
    const ButtonCase c = GetParam();
    GuiApp &app = gui_app();
    ClientSettings &s = app.settings;
    status = c.status_before;
    run_script([&] {
        show_tray_icon(&app.ctx);
        ASSERT_TRUE(wait_for([&] { return s.tray_icon != nullptr; }));
        if (c.kind == 0)
            on_main([&] { on_tray_icon_activated(s.tray_icon, &app.ctx); });
        else
            show_msg_dialog(&app.ctx, "认证失败", "text", c.kind, c.buttons);
        ASSERT_NE(wait_dialog(s), nullptr);
        on_main([&] {
            ASSERT_EQ(s.msg_kind, c.kind);
            click(dialog_button_at(s, c.x));
            EXPECT_EQ(status.load(), c.status_after);
            EXPECT_EQ(main_window_visible(app.ctx), c.main_shown);
            EXPECT_EQ(s.tray_icon != nullptr, c.icon_kept);
        });
        // A worker started here finds the account box empty and says so.
        EXPECT_EQ(wait_worker_notice(s, c.worker_started ? 5000 : 500), c.worker_started);
        on_main([&] { EXPECT_EQ(status.load(), c.status_after); });
        close_all(app.ctx);
    });
}

INSTANTIATE_TEST_SUITE_P(
    Buttons, DialogButton,
    ::testing::Values(
        ButtonCase{"ProgressHide", 0, 0, STATUS_ONLINE, kRight, STATUS_ONLINE, false, true, false},
        ButtonCase{"ProgressDisconnect", 0, 0, STATUS_ONLINE, kLeft, STATUS_LOGOFF, true, false, true},
        ButtonCase{"FailureReauthenticate", 1, 0, STATUS_FAILED, kRight, STATUS_IDLE, false, false, true},
        ButtonCase{"FailureReturn", 1, 0, STATUS_FAILED, kLeft, STATUS_IDLE, true, false, false},
        ButtonCase{"NoticeOk", 1, 1, STATUS_NO_NIC, kRight, STATUS_NO_NIC, true, false, false}),
    [](const ::testing::TestParamInfo<ButtonCase> &p) { return std::string(p.param.name); });

TEST(MsgDialog, ReauthenticateKeepsTheWindowHiddenAndTheNewWorkerBringsBackTheIcon)
{
    ASSERT_TRUE(in_private_pid_namespace()) << "the worker runs killall: run this test in a private PID namespace "
                                               "(unshare --pid --fork --mount-proc), as ctest does";
    GuiApp &app = gui_app();
    ClientSettings &s = app.settings;
    // The worker lists interfaces: it sees only this namespace's, never the machine's.
    const uint8_t mac_a[6] = {0x02, 0xc1, 0, 0, 0, 1}, mac_b[6] = {0x02, 0xc1, 0, 0, 0, 2};
    TestNetns net("gui", mac_a, mac_b);
    NetnsEntered inside(net);
    status = STATUS_FAILED;
    run_script([&] {
        on_main([&] { gtk_entry_set_text(GTK_ENTRY(GTK_COMBO(app.widgets.account_combo)->entry), "user1"); });
        // The engine's answer for the typed account (none stored) empties the
        // password box: the password is typed after it, as a user would.
        ASSERT_TRUE(wait_for([] { return messages_of_kind(MSG_ACCOUNT_PASSWORD) == 1; }));
        on_main([&] {
            gtk_entry_set_text(GTK_ENTRY(app.widgets.password_entry), "secret12");
            gtk_entry_set_text(GTK_ENTRY(GTK_COMBO(app.widgets.device_combo)->entry), "gone0");
        });
        show_tray_icon(&app.ctx);
        ASSERT_TRUE(wait_for([&] { return s.tray_icon != nullptr; }));
        GtkStatusIcon *old_icon = on_main([&] { return static_cast<GtkStatusIcon *>(g_object_ref(s.tray_icon)); });
        show_msg_dialog(&app.ctx, "认证失败", "密码错误！", 1, 0);
        ASSERT_NE(wait_dialog(s), nullptr);
        on_main([&] {
            click(dialog_button_at(s, kRight));
            EXPECT_EQ(s.tray_icon, nullptr);
            EXPECT_FALSE(gtk_status_icon_get_visible(old_icon));
        });
        // The fresh worker brings up a new icon, then finds no such interface.
        EXPECT_TRUE(wait_for([&] { return s.tray_icon != nullptr && s.tray_icon != old_icon; }));
        EXPECT_TRUE(wait_for([&] {
            return s.msg_dialog && !mutex.load() && std::strcmp(s.msg_text, "没有找到该网卡，可能已经被停用！") == 0;
        }));
        on_main([&] {
            EXPECT_FALSE(main_window_visible(app.ctx));
            // One fresh log-on, asked for by the button.
            EXPECT_EQ(request_kinds_seen(), (std::vector<uint16_t>{REQ_ACCOUNT_PASSWORD, REQ_LOGON}));
            EXPECT_EQ(status.load(), STATUS_ERROR);
            g_object_unref(old_icon);
        });
        close_all(app.ctx);
    });
}

// The close box: like Hide on the progress window, like the way back on the others.
struct CloseCase {
    const char *name;
    int kind, buttons, status_before;
    bool main_shown, icon_kept;
};

class DialogCloseBox : public ::testing::TestWithParam<CloseCase> {};

TEST_P(DialogCloseBox, Effect)
{
    const CloseCase c = GetParam();
    GuiApp &app = gui_app();
    ClientSettings &s = app.settings;
    status = c.status_before;
    run_script([&] {
        show_tray_icon(&app.ctx);
        ASSERT_TRUE(wait_for([&] { return s.tray_icon != nullptr; }));
        if (c.kind == 0)
            on_main([&] { on_tray_icon_activated(s.tray_icon, &app.ctx); });
        else
            show_msg_dialog(&app.ctx, "错误", "text", c.kind, c.buttons);
        GtkWidget *dialog = wait_dialog(s);
        ASSERT_NE(dialog, nullptr);
        on_main([&] { send_delete_event(dialog); });
        on_main([&] {
            EXPECT_EQ(s.msg_dialog, nullptr);
            EXPECT_TRUE(visible_dialogs().empty());
            EXPECT_EQ(is_msg_dlg_delete_event, 0);
            EXPECT_EQ(status.load(), c.status_before);
            EXPECT_EQ(main_window_visible(app.ctx), c.main_shown);
            EXPECT_EQ(s.tray_icon != nullptr, c.icon_kept);
        });
    });
}

INSTANTIATE_TEST_SUITE_P(
    CloseBox, DialogCloseBox,
    ::testing::Values(CloseCase{"Progress", 0, 0, STATUS_AUTHENTICATING, false, true},
                      CloseCase{"Failure", 1, 0, STATUS_FAILED, true, false},
                      CloseCase{"Notice", 1, 1, STATUS_NO_NIC, true, false}),
    [](const ::testing::TestParamInfo<CloseCase> &p) { return std::string(p.param.name); });

namespace {

// While STATUS_ERROR, acknowledging the dialog in either way ends the client.
void acknowledge_error_dialog(bool close_box)
{
    GuiApp &app = gui_app();
    status = STATUS_ERROR;
    run_script([&] {
        show_msg_dialog(&app.ctx, "温馨提示", "Corvix认证客户端已运行！", 1, 1);
        GtkWidget *dialog = wait_dialog(app.settings);
        ASSERT_NE(dialog, nullptr);
        on_main([&] {
            if (close_box)
                send_delete_event(dialog);
            else
                click(dialog_button_at(app.settings, kRight));
        });
    });
}

}  // namespace

TEST(MsgDialogDeathTest, OkWhileErrorEndsTheProcessWithStatusZero)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(acknowledge_error_dialog(false), ::testing::ExitedWithCode(0), "");
}

TEST(MsgDialogDeathTest, CloseBoxWhileErrorEndsTheProcessWithStatusZero)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(acknowledge_error_dialog(true), ::testing::ExitedWithCode(0), "");
}
