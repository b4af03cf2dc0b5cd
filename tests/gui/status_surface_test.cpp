// SPDX-License-Identifier: GPL-2.0-or-later
// The status surface: the client's own small window where no notification
// area hosts the tray icon, and its going when a tray takes the icon.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "gui_harness.h"
#include "app/window_half.h"
#include "support/engine_fixture.h"
#include "support/fake_dhcp.h"
#include "support/pixels.h"
#include "ui/images.h"
#include "ui/msg_dialog.h"
#include "ui/status_surface.h"
#include "ui/tray.h"
#include <images.h>

namespace {

bool surface_mapped()
{
    GtkWidget *w = surface_widgets().window;
    return w && gtk_widget_get_mapped(w);
}

// The picture left of the text: the first image in the click area.
bool surface_shows(const guint8 *picture)
{
    GtkWidget *inner = gtk_bin_get_child(GTK_BIN(surface_widgets().click_area));
    GList *children = gtk_container_get_children(GTK_CONTAINER(inner));
    GdkPixbuf *shown = nullptr;
    for (GList *l = children; l && !shown; l = l->next)
        if (GTK_IS_IMAGE(l->data))
            shown = gtk_image_get_pixbuf(GTK_IMAGE(l->data));
    g_list_free(children);
    GdkPixbuf *expected = pixbuf_from_inline(picture);
    bool same = same_pixels(shown, expected);
    g_object_unref(expected);
    return same;
}

void press_click_area()
{
    GdkEvent *event = gdk_event_new(GDK_BUTTON_PRESS);
    GtkWidget *area = surface_widgets().click_area;
    event->button.window = static_cast<GdkWindow *>(g_object_ref(gtk_widget_get_window(area)));
    event->button.button = 1;
    gtk_widget_event(area, event);
    gdk_event_free(event);
}

// The icon up in its logging-on state with this progress text.
void start_logging_on(GuiApp &app, const char *text)
{
    status = STATUS_AUTHENTICATING;
    update_info_in_dialog(&app.ctx, text);
    show_tray_icon(&app.ctx);
    ASSERT_TRUE(wait_for([&] { return app.settings.tray_icon != nullptr; }));
}

void go_online(GuiApp &app)
{
    status = STATUS_ONLINE;
    update_info_in_dialog(&app.ctx, "认证成功！");
    update_tray_icon(&app.ctx);
}

}  // namespace

TEST(StatusSurface, WithoutATrayItFollowsTheLogOnAndItsClickOpensTheProgressWindow)
{
    GuiApp &app = gui_app();
    ClientSettings &s = app.settings;
    MappedDialogs mapped;
    run_script([&] {
        start_logging_on(app, "正在认证……");
        ASSERT_TRUE(wait_for(surface_mapped)) << "no tray, and no surface either";
        on_main([&] {
            EXPECT_EQ(label_text(surface_widgets().label), "正在认证……");
            EXPECT_TRUE(surface_shows(traybegin_inline));
            EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(surface_widgets().window)), "Corvix认证客户端");
            // Whole on the screen, even with no window manager to place it.
            GdkWindow *w = gtk_widget_get_window(surface_widgets().window);
            int x = -1, y = -1, width = 0, height = 0;
            gdk_window_get_origin(w, &x, &y);
            gdk_drawable_get_size(GDK_DRAWABLE(w), &width, &height);
            GdkScreen *screen = gdk_drawable_get_screen(GDK_DRAWABLE(w));
            EXPECT_TRUE(x >= 0 && y >= 0 && x + width <= gdk_screen_get_width(screen) &&
                        y + height <= gdk_screen_get_height(screen))
                << x << "," << y << " " << width << "x" << height;
        });
        go_online(app);
        on_main([&] {
            EXPECT_TRUE(surface_mapped());
            EXPECT_EQ(label_text(surface_widgets().label), "认证成功！");
            EXPECT_TRUE(surface_shows(tray_inline));
            press_click_area();
        });
        ASSERT_TRUE(wait_for([&] { return message_shown(s, "认证成功！"); }));
        on_main([&] {
            EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(s.msg_dialog)), "提示");
            EXPECT_EQ(s.msg_kind, 0);
            // A second click raises the open window instead of a second one.
            press_click_area();
        });
        g_usleep(200000);
        on_main([&] {
            EXPECT_EQ(mapped.entries.size(), 1u);
            destroy_msg_dialog(&app.ctx);
            // Hide leaves the client online, and the surface with it.
            EXPECT_TRUE(surface_mapped());
            // Its close box minimises it: it is the only way back to the client.
            send_delete_event(surface_widgets().window);
            EXPECT_NE(surface_widgets().window, nullptr);
            hide_tray_icon(&app.ctx);
            EXPECT_EQ(surface_widgets().window, nullptr) << "the icon went, the surface stayed";
        });
    });
}

TEST(StatusSurface, ItsDisconnectLogsOffStopsDhcpClientsAndBringsBackTheMainWindow)
{
    ASSERT_TRUE(in_private_pid_namespace()) << "disconnect runs killall: run this test in a private PID namespace "
                                               "(unshare --pid --fork --mount-proc), as ctest does";
    GuiApp &app = gui_app();
    FakeDhcpClients dhcp;
    ASSERT_EQ(dhcp.pids.size(), 2u);
    run_script([&] {
        start_logging_on(app, "正在认证……");
        go_online(app);
        ASSERT_TRUE(wait_for([] { return surface_mapped() && label_text(surface_widgets().label) == "认证成功！"; }));
        on_main([&] {
            click(surface_widgets().disconnect);
            EXPECT_EQ(surface_widgets().window, nullptr);
            EXPECT_EQ(app.settings.tray_icon, nullptr);
            EXPECT_TRUE(main_window_visible(app.ctx));
            EXPECT_EQ(status.load(), STATUS_LOGOFF);
        });
        EXPECT_TRUE(dhcp.all_terminated(5000));
        EXPECT_TRUE(wait_for([] {
            return request_kinds_seen() == std::vector<uint16_t>{REQ_DISCONNECT, REQ_STOP_DHCP};
        }));
        // The log-off worker ran: with an empty account box it says so and stops.
        EXPECT_TRUE(wait_for([&] { return message_shown(app.settings, "帐号不能为空！"); }));
        on_main([&] { destroy_msg_dialog(&app.ctx); });
    });
}

namespace {

[[noreturn]] void exit_from_the_surface()
{
    GuiApp &app = gui_app();
    run_script([&] {
        start_logging_on(app, "正在认证……");
        go_online(app);
        if (!wait_for(surface_mapped))
            _exit(3);
        on_main([&] {
            click(surface_widgets().exit);
            if (surface_widgets().window || app.settings.tray_icon || main_window_visible(app.ctx))
                _exit(4);
        });
        // The engine's end after the exit request ends this process.
        g_usleep(10 * G_USEC_PER_SEC);
        _exit(5);
    });
    _exit(6);
}

}  // namespace

TEST(StatusSurface, ItsExitEndsTheClientWithStatusZeroAndStopsTheDhcpClients)
{
    ASSERT_TRUE(in_private_pid_namespace()) << "exit runs killall: run this test in a private PID namespace";
    FakeDhcpClients dhcp;
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(exit_from_the_surface(), ::testing::ExitedWithCode(0), "");
    EXPECT_TRUE(dhcp.all_terminated(5000));
}

TEST(StatusSurface, NotShownWhileATrayHoldsTheIcon)
{
    GuiApp &app = gui_app();
    run_script([&] {
        ASSERT_TRUE(on_main([] { return start_tray_host(); }));
        start_logging_on(app, "正在认证……");
        ASSERT_TRUE(wait_for([&] { return gtk_status_icon_is_embedded(app.settings.tray_icon); }));
        go_online(app);
        // Past the second after which an unembedded icon would bring it up.
        g_usleep(1500000);
        on_main([&] {
            EXPECT_EQ(surface_widgets().window, nullptr);
            hide_tray_icon(&app.ctx);
        });
    });
}

TEST(StatusSurface, GoesWhenATrayAppearsLater)
{
    GuiApp &app = gui_app();
    run_script([&] {
        start_logging_on(app, "正在认证……");
        go_online(app);
        ASSERT_TRUE(wait_for(surface_mapped));
        ASSERT_TRUE(on_main([] { return start_tray_host(); }));
        EXPECT_TRUE(wait_for([&] { return gtk_status_icon_is_embedded(app.settings.tray_icon); }));
        EXPECT_TRUE(wait_for([] { return surface_widgets().window == nullptr; }));
        on_main([&] { hide_tray_icon(&app.ctx); });
    });
}

namespace {

// The window half ends abruptly with no log-on running (as a crash ends it).
[[noreturn]] void window_ends_while_idle()
{
    gui_app();
    run_script([&] {
        status = STATUS_IDLE;
        // The engine has started and answers: the settings save round trip is
        // too heavy here, a request with no answer is enough to be sure it reads.
        request_stop_dhcp();
        g_usleep(300000);
        _exit(0);
    });
    _exit(6);
}

}  // namespace

// The window's end stops the DHCP clients even when no log-on runs, so no
// client keeps renewing an address nobody can log off any more.
TEST(WindowEnd, EngineStopsTheDhcpClientsWhenTheWindowEndsWithNoLogOnRunning)
{
    ASSERT_TRUE(in_private_pid_namespace()) << "the engine runs killall: run this test in a private PID namespace";
    FakeDhcpClients dhcp;
    ASSERT_EQ(dhcp.pids.size(), 2u);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(window_ends_while_idle(), ::testing::ExitedWithCode(0), "");
    EXPECT_TRUE(dhcp.all_terminated(5000));
}
