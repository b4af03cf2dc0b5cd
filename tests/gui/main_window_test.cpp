// SPDX-License-Identifier: GPL-2.0-or-later
// The main window as built from the settings, its log-on paths, the About box
// and the way it ends the client.
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "gui_harness.h"
#include "ui/main_window.h"
#include "ui/msg_dialog.h"

namespace {

GList *names(std::initializer_list<const char *> items)
{
    GList *list = nullptr;
    for (const char *item : items)
        list = g_list_append(list, g_strdup(item));
    return list;
}

// A window built from stored values; the records live for the process.
AppContext &built_window(bool device_found, int auto_logon)
{
    gui_init();
    auto *app = new GuiApp;
    app->widgets = main_widgets_initial();
    ClientSettings &s = app->settings;
    s.users = names({"alice", "bob"});
    s.devices = names({"eth9", "lab0"});
    copy_field(s.last_user, "bob");
    copy_field(s.last_password, "secret12");
    copy_field(s.last_device, "lab0");
    s.device_found = device_found;
    s.auto_logon = auto_logon;
    build_main_window(&app->ctx);
    return app->ctx;
}

struct Pos {
    int x, y;
};

Pos position(GtkWidget *w)
{
    Pos p{-1, -1};
    GtkWidget *parent = gtk_widget_get_parent(w);
    if (GTK_IS_FIXED(parent))
        gtk_container_child_get(GTK_CONTAINER(parent), w, "x", &p.x, "y", &p.y, nullptr);
    return p;
}

const char *entry_text(GtkWidget *combo_or_entry)
{
    GtkWidget *entry = GTK_IS_COMBO(combo_or_entry) ? GTK_COMBO(combo_or_entry)->entry : combo_or_entry;
    return gtk_entry_get_text(GTK_ENTRY(entry));
}

bool active(GtkWidget *toggle)
{
    return gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(toggle));
}

}  // namespace

TEST(MainWindow, IsBuiltHiddenFromTheStoredValues)
{
    AppContext &ctx = built_window(true, 0);
    MainWidgets &w = *ctx.widgets;
    EXPECT_FALSE(gtk_widget_get_visible(w.window));
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(w.window)), "Corvix认证客户端");
    EXPECT_FALSE(gtk_window_get_resizable(GTK_WINDOW(w.window)));
    EXPECT_EQ(w.device_list, ctx.settings->devices);
    EXPECT_EQ(w.account_list, ctx.settings->users);

    struct Expect {
        GtkWidget *widget;
        int x, y;
    } places[] = {
        {w.account_label, 30, 80},  {w.account_combo, 60, 75},   {w.password_label, 30, 110},
        {w.password_entry, 60, 106}, {w.device_label, 30, 140},  {w.device_combo, 60, 135},
        {w.exit_button, 250, 170},   {w.logon_button, 25, 170},  {w.config_button, 100, 170},
        {w.about_button, 175, 170},  {w.remember_check, 250, 97}, {w.auto_logon_check, 250, 117},
        {gtk_widget_get_parent(w.lock_image), 220, 106}, {w.event_box, 0, 200},
    };
    for (const Expect &e : places) {
        Pos p = position(e.widget);
        EXPECT_EQ(p.x, e.x) << G_OBJECT_TYPE_NAME(e.widget) << " at y " << e.y;
        EXPECT_EQ(p.y, e.y) << G_OBJECT_TYPE_NAME(e.widget) << " at x " << e.x;
    }
    gint fw = 0, fh = 0;
    gtk_widget_get_size_request(w.event_box, &fw, &fh);
    EXPECT_EQ(fw, 334);
    EXPECT_EQ(fh, 20);
    gtk_widget_get_size_request(w.logon_button, &fw, &fh);
    EXPECT_EQ(fw, 60);
    EXPECT_EQ(fh, 20);

    EXPECT_STREQ(entry_text(w.account_combo), "bob");
    EXPECT_EQ(gtk_entry_get_max_length(GTK_ENTRY(GTK_COMBO(w.account_combo)->entry)), 50);
    EXPECT_STREQ(entry_text(w.password_entry), "secret12");
    EXPECT_EQ(gtk_entry_get_max_length(GTK_ENTRY(w.password_entry)), 20);
    EXPECT_FALSE(gtk_entry_get_visibility(GTK_ENTRY(w.password_entry)));
    EXPECT_STREQ(entry_text(w.device_combo), "lab0");
    EXPECT_FALSE(gtk_editable_get_editable(GTK_EDITABLE(GTK_COMBO(w.device_combo)->entry)));
    // A stored password ticks the box, which ran its handler.
    EXPECT_TRUE(active(w.remember_check));
    EXPECT_EQ(ctx.settings->remember_password, 1);
    EXPECT_FALSE(active(w.auto_logon_check));
    EXPECT_EQ(gtk_window_get_focus(GTK_WINDOW(w.window)), w.logon_button);
}

TEST(MainWindow, MissingLastInterfaceShowsTheFirstOfTheList)
{
    AppContext &ctx = built_window(false, 0);
    EXPECT_STREQ(entry_text(ctx.widgets->device_combo), "eth9");
}

TEST(MainWindow, AutoLogonTicksBothBoxes)
{
    AppContext &ctx = built_window(true, 1);
    EXPECT_TRUE(active(ctx.widgets->auto_logon_check));
    EXPECT_TRUE(active(ctx.widgets->remember_check));
    EXPECT_EQ(ctx.settings->auto_logon, 1);
}

TEST(MainWindow, EnterInTheAccountOrPasswordEntryStartsALogOn)
{
    GuiApp &app = gui_app();  // empty account box
    GtkCombo *combo = GTK_COMBO(app.widgets.account_combo);
    run_script([&] {
        for (GtkWidget *entry : {combo->entry, app.widgets.password_entry}) {
            on_main([&] {
                gtk_widget_show_all(app.widgets.window);
                gtk_widget_activate(entry);
                EXPECT_FALSE(main_window_visible(app.ctx));
                EXPECT_FALSE(gtk_widget_get_visible(combo->popwin)) << "Enter popped the account list";
            });
            // The worker started by Enter reads the empty account box and says so.
            EXPECT_TRUE(wait_for([&] { return message_shown(app.settings, "帐号不能为空！"); }));
            on_main([&] { destroy_msg_dialog(&app.ctx); });
        }
    });
}

TEST(MainWindow, TabGoesInReadingOrder)
{
    MainWidgets &w = gui_app().widgets;
    const std::vector<GtkWidget *> reading{
        GTK_COMBO(w.account_combo)->entry, w.password_entry, GTK_COMBO(w.device_combo)->entry,
        w.remember_check, w.auto_logon_check, w.logon_button, w.config_button, w.about_button, w.exit_button,
        gtk_widget_get_parent(w.lock_image)};
    std::vector<GtkWidget *> seen{reading.front()};
    run_script([&] {
        on_main([&] { gtk_widget_show_all(w.window); });
        ASSERT_TRUE(wait_for([&] { return gtk_widget_get_mapped(w.exit_button) != FALSE; }));
        on_main([&] {
            gtk_widget_grab_focus(reading.front());
            while (seen.size() < reading.size()) {
                g_signal_emit_by_name(w.window, "move-focus", GTK_DIR_TAB_FORWARD);  // what Tab does
                seen.push_back(gtk_window_get_focus(GTK_WINDOW(w.window)));
            }
        });
    });
    EXPECT_EQ(seen, reading);
}

TEST(MainWindow, AboutBoxHidesTheMainWindowUntilItIsClosed)
{
    GuiApp &app = gui_app();
    run_script([&] {
        on_main([&] {
            gtk_widget_show_all(app.widgets.window);
            // Runs the About box modally; this step returns once it has been opened.
            g_idle_add(
                [](gpointer w) -> gboolean {
                    gtk_button_clicked(GTK_BUTTON(static_cast<MainWidgets *>(w)->about_button));
                    return FALSE;
                },
                &app.widgets);
        });
        GtkWidget *about = nullptr;
        ASSERT_TRUE(wait_for([&] {
            for (GtkWidget *d : visible_dialogs())
                if (GTK_IS_ABOUT_DIALOG(d))
                    about = d;
            return about != nullptr;
        }));
        on_main([&] {
            EXPECT_FALSE(main_window_visible(app.ctx));
            EXPECT_STREQ(gtk_about_dialog_get_version(GTK_ABOUT_DIALOG(about)), "2.0");
            EXPECT_STREQ(gtk_about_dialog_get_program_name(GTK_ABOUT_DIALOG(about)), "Corvix认证客户端");
            gtk_dialog_response(GTK_DIALOG(about), GTK_RESPONSE_CANCEL);
        });
        EXPECT_TRUE(wait_for([&] { return main_window_visible(app.ctx) && visible_dialogs().empty(); }));
    });
}

TEST(MainWindowDeathTest, ExitButtonEndsTheClientWithStatusZero)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            GuiApp &app = gui_app();
            click(app.widgets.exit_button);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(MainWindowDeathTest, DestroyingTheWindowEndsTheClientWithStatusZero)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(gtk_widget_destroy(gui_app().widgets.window), ::testing::ExitedWithCode(0), "");
}
