// SPDX-License-Identifier: GPL-2.0-or-later
// The tray icon: its pictures, its menu (only while online), its activation
// and the menu's hide, disconnect and exit items.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "gui_harness.h"
#include "support/engine_fixture.h"
#include "support/fake_dhcp.h"
#include "support/pixels.h"
#include "ui/images.h"
#include "ui/msg_dialog.h"
#include "ui/tray.h"
#include <images.h>

namespace {

bool icon_shows(GtkStatusIcon *icon, const guint8 *picture)
{
    GdkPixbuf *expected = pixbuf_from_inline(picture);
    bool same = same_pixels(gtk_status_icon_get_pixbuf(icon), expected);
    g_object_unref(expected);
    return same;
}

// The tray menu is the only GtkMenu among the toplevels' children.
GtkWidget *tray_menu()
{
    GtkWidget *menu = nullptr;
    GList *windows = gtk_window_list_toplevels();
    for (GList *l = windows; l; l = l->next) {
        GtkWidget *child = gtk_bin_get_child(GTK_BIN(l->data));
        if (child && GTK_IS_MENU(child))
            menu = child;
    }
    g_list_free(windows);
    return menu;
}

GtkWidget *menu_row(GtkWidget *menu, guint index)
{
    GList *items = gtk_container_get_children(GTK_CONTAINER(menu));
    auto *item = static_cast<GtkWidget *>(g_list_nth_data(items, index));
    g_list_free(items);
    return item;
}

std::string menu_row_label(GtkWidget *item)
{
    GtkWidget *box = gtk_bin_get_child(GTK_BIN(item));
    GList *parts = gtk_container_get_children(GTK_CONTAINER(box));
    std::string text;
    if (g_list_length(parts) == 2 && GTK_IS_IMAGE(parts->data) && GTK_IS_LABEL(parts->next->data))
        text = gtk_label_get_text(GTK_LABEL(parts->next->data));
    g_list_free(parts);
    return text;
}

GtkWidget *wait_dialog(ClientSettings &s)
{
    GtkWidget *dialog = nullptr;
    wait_for([&] {
        dialog = mutex.load() ? nullptr : s.msg_dialog;
        return dialog != nullptr;
    });
    return dialog;
}

// The icon, up and online, with its progress window open.
void bring_up_online_with_window(GuiApp &app)
{
    status = STATUS_ONLINE;
    show_tray_icon(&app.ctx);
    ASSERT_TRUE(wait_for([&] { return app.settings.tray_icon != nullptr; }));
    update_info_in_dialog(&app.ctx, "认证成功！");
    on_main([&] { g_signal_emit_by_name(app.settings.tray_icon, "activate"); });
    ASSERT_NE(wait_dialog(app.settings), nullptr);
}

}  // namespace

TEST(Tray, WorkerShowsOneIconThatSwitchesPictureAndHideRemovesIt)
{
    GuiApp &app = gui_app();
    ClientSettings &s = app.settings;
    run_script([&] {
        show_tray_icon(&app.ctx);
        show_tray_icon(&app.ctx);
        ASSERT_TRUE(wait_for([&] { return s.tray_icon != nullptr; }));
        GtkStatusIcon *first = on_main([&] { return static_cast<GtkStatusIcon *>(g_object_ref(s.tray_icon)); });
        on_main([&] {
            EXPECT_TRUE(icon_shows(first, traybegin_inline));
            EXPECT_TRUE(gtk_status_icon_get_visible(first));
            gchar *tip = gtk_status_icon_get_tooltip_text(first);
            EXPECT_STREQ(tip, "Corvix认证客户端");
            g_free(tip);
        });
        update_tray_icon(&app.ctx);
        on_main([&] {
            EXPECT_EQ(s.tray_icon, first) << "a second request built a second icon";
            EXPECT_TRUE(icon_shows(first, tray_inline));
            hide_tray_icon(&app.ctx);
            EXPECT_EQ(s.tray_icon, nullptr);
            EXPECT_FALSE(gtk_status_icon_get_visible(first));
        });
        update_tray_icon(&app.ctx);  // no icon: nothing to do
        show_tray_icon(&app.ctx);
        ASSERT_TRUE(wait_for([&] { return s.tray_icon != nullptr; }));
        on_main([&] {
            EXPECT_NE(s.tray_icon, first);
            EXPECT_TRUE(icon_shows(s.tray_icon, traybegin_inline));
            EXPECT_FALSE(gtk_status_icon_get_visible(first));
            g_object_unref(first);
        });
    });
}

TEST(Tray, RightClickOpensTheMenuOnlyWhileOnline)
{
    GuiApp &app = gui_app();
    ClientSettings &s = app.settings;
    run_script([&] {
        show_tray_icon(&app.ctx);
        ASSERT_TRUE(wait_for([&] { return s.tray_icon != nullptr; }));
        for (int state : {STATUS_AUTHENTICATING, STATUS_GETTING_IP, STATUS_FAILED, STATUS_IDLE}) {
            status = state;
            on_main([&] {
                g_signal_emit_by_name(s.tray_icon, "popup-menu", 3u, 0u);
                ASSERT_NE(tray_menu(), nullptr);
                EXPECT_FALSE(gtk_widget_get_visible(tray_menu())) << "status " << state;
            });
        }
        status = STATUS_ONLINE;
        on_main([&] { g_signal_emit_by_name(s.tray_icon, "popup-menu", 3u, 0u); });
        EXPECT_TRUE(wait_for([] { return gtk_widget_get_visible(tray_menu()); }));
        on_main([&] {
            GtkWidget *menu = tray_menu();
            EXPECT_EQ(g_list_length(GTK_MENU_SHELL(menu)->children), 4u);
            EXPECT_EQ(menu_row_label(menu_row(menu, 0)), "已认证成功！（隐藏）");
            EXPECT_TRUE(GTK_IS_SEPARATOR_MENU_ITEM(menu_row(menu, 1)));
            EXPECT_EQ(menu_row_label(menu_row(menu, 2)), "断开");
            EXPECT_EQ(menu_row_label(menu_row(menu, 3)), "退出");
            for (guint i = 0; i < 4; ++i)
                EXPECT_TRUE(gtk_widget_get_visible(menu_row(menu, i)));
            gtk_menu_popdown(GTK_MENU(menu));
        });
    });
}

TEST(Tray, TwoActivationsOpenOneProgressWindowWithTheLatestText)
{
    GuiApp &app = gui_app();
    ClientSettings &s = app.settings;
    MappedDialogs mapped;
    run_script([&] {
        show_tray_icon(&app.ctx);
        ASSERT_TRUE(wait_for([&] { return s.tray_icon != nullptr; }));
        update_info_in_dialog(&app.ctx, "认证成功！");
        on_main([&] {
            g_signal_emit_by_name(s.tray_icon, "activate");
            g_signal_emit_by_name(s.tray_icon, "activate");
        });
        GtkWidget *dialog = wait_dialog(s);
        ASSERT_NE(dialog, nullptr);
        on_main([&] {
            EXPECT_EQ(mapped.entries.size(), 1u);
            EXPECT_EQ(visible_dialogs().size(), 1u);
            EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(dialog)), "提示");
            EXPECT_EQ(label_text(s.msg_label), "认证成功！");
            EXPECT_EQ(s.msg_kind, 0);
            EXPECT_EQ(s.msg_buttons, 0);
        });
        on_main([&] { destroy_msg_dialog(&app.ctx); });
    });
}

TEST(Tray, ActivationWhileADialogIsOpenRaisesThatDialog)
{
    GuiApp &app = gui_app();
    ClientSettings &s = app.settings;
    MappedDialogs mapped;
    run_script([&] {
        show_tray_icon(&app.ctx);
        ASSERT_TRUE(wait_for([&] { return s.tray_icon != nullptr; }));
        show_msg_dialog(&app.ctx, "认证失败", "密码错误！", 1, 0);
        GtkWidget *dialog = wait_dialog(s);
        ASSERT_NE(dialog, nullptr);
        // Another window takes the focus away from the dialog (without a
        // window manager, presenting a mapped window raises and focuses it).
        GtkWidget *other = on_main([] {
            GtkWidget *w = gtk_window_new(GTK_WINDOW_TOPLEVEL);
            gtk_widget_show(w);
            return w;
        });
        ASSERT_TRUE(wait_for([&] { return gtk_widget_get_mapped(other); }));
        on_main([&] { gtk_window_present(GTK_WINDOW(other)); });
        ASSERT_TRUE(wait_for([&] { return gtk_window_is_active(GTK_WINDOW(other)); }));
        on_main([&] {
            EXPECT_FALSE(gtk_window_is_active(GTK_WINDOW(dialog)));
            g_signal_emit_by_name(s.tray_icon, "activate");
        });
        EXPECT_TRUE(wait_for([&] { return gtk_window_is_active(GTK_WINDOW(dialog)); }));
        on_main([&] {
            EXPECT_EQ(mapped.entries.size(), 1u) << "activation opened a second window";
            EXPECT_EQ(s.msg_dialog, dialog);
            EXPECT_EQ(s.msg_kind, 1) << "activation rewrote the open window's kind";
            gtk_widget_destroy(other);
            destroy_msg_dialog(&app.ctx);
        });
    });
}

TEST(Tray, MenuHideClosesTheProgressWindowAndStaysOnline)
{
    GuiApp &app = gui_app();
    ClientSettings &s = app.settings;
    run_script([&] {
        bring_up_online_with_window(app);
        on_main([&] { gtk_menu_item_activate(GTK_MENU_ITEM(menu_row(tray_menu(), 0))); });
        on_main([&] {
            EXPECT_EQ(s.msg_dialog, nullptr);
            EXPECT_TRUE(visible_dialogs().empty());
            EXPECT_EQ(status.load(), STATUS_ONLINE);
            EXPECT_NE(s.tray_icon, nullptr);
            EXPECT_FALSE(main_window_visible(app.ctx));
        });
    });
}

TEST(Tray, MenuDisconnectLogsOffStopsDhcpClientsAndBringsBackTheWindow)
{
    ASSERT_TRUE(in_private_pid_namespace()) << "the menu runs killall: run this test in a private PID namespace "
                                               "(unshare --pid --fork --mount-proc), as ctest does";
    GuiApp &app = gui_app();
    ClientSettings &s = app.settings;
    FakeDhcpClients dhcp;
    ASSERT_EQ(dhcp.pids.size(), 2u);
    run_script([&] {
        bring_up_online_with_window(app);
        on_main([&] {
            gtk_menu_item_activate(GTK_MENU_ITEM(menu_row(tray_menu(), 2)));
            EXPECT_EQ(s.tray_icon, nullptr);
            EXPECT_TRUE(main_window_visible(app.ctx));
        });
        EXPECT_TRUE(dhcp.all_terminated(5000));
        // The log-off worker ran: with an empty account box it says so and stops.
        EXPECT_TRUE(wait_for([&] { return s.msg_dialog && std::strcmp(s.msg_text, "帐号不能为空！") == 0; }));
        // A disconnect, not an exit: no worker was retired for good.
        EXPECT_EQ(request_kinds_seen(), (std::vector<uint16_t>{REQ_DISCONNECT, REQ_STOP_DHCP}));
        on_main([&] {
            EXPECT_EQ(status.load(), STATUS_LOGOFF);
            destroy_msg_dialog(&app.ctx);
        });
    });
}

namespace {

// In a process of its own: the window ends when the engine it asked to exit
// has ended. With no log-on to end, the engine ends at once.
[[noreturn]] void exit_from_the_menu()
{
    GuiApp &app = gui_app();
    ClientSettings &s = app.settings;
    run_script([&] {
        bring_up_online_with_window(app);
        on_main([&] {
            gtk_menu_item_activate(GTK_MENU_ITEM(menu_row(tray_menu(), 3)));
            // Checked before the loop can see the engine's end.
            if (s.tray_icon != nullptr || main_window_visible(app.ctx) || status.load() != STATUS_LOGOFF)
                _exit(4);
        });
        // Everything after the exit request is the engine's: the end of this process.
        g_usleep(10 * G_USEC_PER_SEC);
        _exit(5);
    });
    _exit(6);
}

}  // namespace

TEST(Tray, MenuExitRetiresWorkersHidesEverythingAndLeavesTheEndToTheLogoffWorker)
{
    ASSERT_TRUE(in_private_pid_namespace()) << "the menu runs killall: run this test in a private PID namespace "
                                               "(unshare --pid --fork --mount-proc), as ctest does";
    FakeDhcpClients dhcp;
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(exit_from_the_menu(), ::testing::ExitedWithCode(0), "");
    // The engine stopped the DHCP clients before it ended.
    EXPECT_TRUE(dhcp.all_terminated(5000));
}
