// SPDX-License-Identifier: GPL-2.0-or-later
// The settings file as the main window's boxes use it: recalling a stored
// password, the two check boxes, forgetting an account, and what a log-on stores.
#include <unistd.h>

#include <cstring>
#include <random>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gdk/gdkkeysyms.h>
#include <gtest/gtest.h>

#include "config/ini.h"
#include "ui/account_handlers.h"
#include "config/settings.h"
#include "gui_harness.h"
#include "support/engine_fixture.h"
#include "ui/msg_dialog.h"

namespace {

void write_settings(const std::string &text)
{
    std::ofstream(settings_path) << text;
}

std::string read_settings()
{
    std::ifstream in(settings_path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string scrambled(const char *clear)
{
    char buf[64];
    g_strlcpy(buf, clear, sizeof buf);
    encrypt(buf);
    return buf;
}

GtkEntry *account_entry(GuiApp &app)
{
    return GTK_ENTRY(GTK_COMBO(app.widgets.account_combo)->entry);
}

std::string text_of(GtkEntry *entry)
{
    return gtk_entry_get_text(entry);
}

bool ticked(GtkWidget *check)
{
    return gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(check));
}

void tick(GtkWidget *check, bool on)
{
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(check), on);
}

// Main window boxes back to a known state, the engine's answers to that
// applied, then the file the test starts from. The file is the engine's to
// read and write; the test looks at it after each answer (pump_engine).
GuiApp &fresh_app()
{
    GuiApp &app = gui_app();
    status = STATUS_IDLE;
    tick(app.widgets.auto_logon_check, false);
    tick(app.widgets.remember_check, false);
    gtk_entry_set_text(account_entry(app), "");
    gtk_entry_set_text(GTK_ENTRY(app.widgets.password_entry), "");
    EXPECT_TRUE(pump_engine());
    write_settings("[OPTION]\nUSER = 0\nAutoLogon = 0\n");
    return app;
}

void type_account(GuiApp &app, const char *account)
{
    gtk_entry_set_text(account_entry(app), account);
    EXPECT_TRUE(pump_engine());
}

std::vector<std::string> names(GList *list)
{
    std::vector<std::string> out;
    for (GList *l = list; l; l = l->next)
        out.push_back(static_cast<const char *>(l->data));
    return out;
}

bool dialog_says(const ClientSettings &s, const char *text)
{
    return s.msg_dialog && !mutex.load() && gtk_widget_get_visible(s.msg_dialog) &&
           std::strcmp(s.msg_text, text) == 0;
}

gboolean press(GuiApp &app, guint button)
{
    GdkEventButton event{};
    event.type = GDK_BUTTON_PRESS;
    event.button = button;
    return on_lock_clicked(app.widgets.event_box, &event, &app.ctx);
}

// A key on the focused lock.
gboolean key(GuiApp &app, guint keyval)
{
    GdkEventKey event{};
    event.type = GDK_KEY_PRESS;
    event.keyval = keyval;
    return on_lock_key(gtk_widget_get_parent(app.widgets.lock_image), &event, &app.ctx);
}

TEST(SettingsGui, TypingAnAccountRecallsItsPassword)
{
    GuiApp &app = fresh_app();
    write_settings("[OPTION]\nUSER = 2\nusername1 = alice\npassword1 = " + scrambled("abc123") +
                   "\nusername2 = bob\npassword2 = \n");
    GtkEntry *password = GTK_ENTRY(app.widgets.password_entry);
    type_account(app, "alice");
    EXPECT_EQ(STORED_PASSWORD_PLACEHOLDER, text_of(password)) << "the password stays in the engine";
    EXPECT_EQ(1, app.settings.last_password_stored);
    EXPECT_TRUE(ticked(app.widgets.remember_check));
    EXPECT_STREQ("alice", app.settings.last_user);
    EXPECT_EQ(1, app.settings.remember_password);

    // While typing, no stored account matches: the box empties, the tick stays.
    type_account(app, "ali");
    EXPECT_EQ("", text_of(password));
    EXPECT_EQ(0, app.settings.last_password_stored);
    EXPECT_TRUE(ticked(app.widgets.remember_check));
    EXPECT_STREQ("ali", app.settings.last_user);

    // A stored account without a password unticks the box.
    type_account(app, "bob");
    EXPECT_EQ("", text_of(password));
    EXPECT_FALSE(ticked(app.widgets.remember_check));
    EXPECT_EQ(0, app.settings.remember_password);
}

TEST(SettingsGui, AutomaticLogonNeedsARememberedPassword)
{
    GuiApp &app = fresh_app();
    tick(app.widgets.auto_logon_check, true);
    EXPECT_TRUE(pump_engine());
    EXPECT_EQ(1, app.settings.auto_logon);
    EXPECT_TRUE(ticked(app.widgets.remember_check));
    EXPECT_EQ("[OPTION]\nUSER = 0\nAutoLogon = 1\n", read_settings());

    tick(app.widgets.remember_check, false);  // comes back at once
    EXPECT_TRUE(ticked(app.widgets.remember_check));
    EXPECT_EQ(1, app.settings.remember_password);

    tick(app.widgets.auto_logon_check, false);
    EXPECT_TRUE(pump_engine());
    EXPECT_EQ(0, app.settings.auto_logon);
    EXPECT_EQ("[OPTION]\nUSER = 0\nAutoLogon = 0\n", read_settings());
    tick(app.widgets.remember_check, false);
    EXPECT_FALSE(ticked(app.widgets.remember_check));
    EXPECT_EQ(0, app.settings.remember_password);
}

TEST(SettingsGui, UnreadableFileIsReportedByTheCheckBoxAndTheLock)
{
    GuiApp &app = fresh_app();
    // The engine's file goes missing while the client runs.
    const std::string before = read_settings();
    const std::string away = std::string(settings_path) + ".away";
    run_script([&] {
        on_main([&] {
            ASSERT_EQ(rename(settings_path, away.c_str()), 0);
            gtk_widget_show_all(app.widgets.window);
            tick(app.widgets.auto_logon_check, true);
        });
        EXPECT_TRUE(wait_for([&] {
            return dialog_says(app.settings, "读取配置文件失败，当前设置不能被保存！");
        }));
        EXPECT_STREQ("错误", app.settings.msg_title);
        EXPECT_FALSE(on_main([&] { return main_window_visible(app.ctx); }));
        EXPECT_NE(0, access(settings_path, F_OK)) << "nothing saved";
        on_main([&] { destroy_msg_dialog(&app.ctx); });

        on_main([&] { press(app, 1); });
        EXPECT_TRUE(wait_for([&] { return dialog_says(app.settings, "读取配置文件失败！"); }));
        on_main([&] {
            destroy_msg_dialog(&app.ctx);
            ASSERT_EQ(rename(away.c_str(), settings_path), 0);
        });
        EXPECT_EQ(before, read_settings());
    });
}

TEST(SettingsGui, ForgettingAnAccountRenumbersTheRest)
{
    GuiApp &app = fresh_app();
    const std::string before =
        "[OPTION]\nUSER = 4\nLassUserName = a2\nLassPassWord = xx\nusername1 = a1\n"
        "password1 = p1\nusername2 = a2\npassword2 = p2\nusername3 = a3\npassword3 = p3\n"
        "username4 = a4\npassword4 = p4\n";
    write_settings(before);
    type_account(app, "a2");
    EXPECT_FALSE(press(app, 3));
    EXPECT_TRUE(pump_engine());
    EXPECT_EQ(before, read_settings()) << "only button 1 acts";
    EXPECT_EQ("a2", text_of(account_entry(app)));

    press(app, 1);
    EXPECT_TRUE(pump_engine());
    EXPECT_EQ("[OPTION]\nUSER = 3\nLassUserName = \nLassPassWord = \nusername1 = a1\n"
              "password1 = p1\nusername2 = a3\npassword2 = p3\nusername3 = a4\n"
              "password3 = p4\n",
              read_settings());
    EXPECT_EQ("", text_of(account_entry(app)));
    EXPECT_EQ("", text_of(GTK_ENTRY(app.widgets.password_entry)));
    EXPECT_EQ((std::vector<std::string>{"a4", "a3", "a1"}), names(app.widgets.account_list));
    GList *items = gtk_container_get_children(GTK_CONTAINER(GTK_COMBO(app.widgets.account_combo)->list));
    EXPECT_EQ(3u, g_list_length(items));
    g_list_free(items);

    // An account that is not stored only empties both boxes.
    std::string after = read_settings();
    type_account(app, "zz");
    gtk_entry_set_text(GTK_ENTRY(app.widgets.password_entry), "typed");
    press(app, 1);
    EXPECT_TRUE(pump_engine());
    EXPECT_EQ(after, read_settings());
    EXPECT_EQ("", text_of(account_entry(app)));
    EXPECT_EQ("", text_of(GTK_ENTRY(app.widgets.password_entry)));
}

// From the keyboard this time: Enter on the lock is its click, other keys are not.
TEST(SettingsGui, ForgettingTheLastAccountEmptiesTheDropDown)
{
    GuiApp &app = fresh_app();
    const std::string before = "[OPTION]\nUSER = 1\nLassUserName = a1\nLassPassWord = \n"
                               "username1 = a1\npassword1 = \n";
    write_settings(before);
    type_account(app, "a1");
    EXPECT_FALSE(key(app, GDK_a));
    EXPECT_TRUE(pump_engine());
    EXPECT_EQ(before, read_settings());
    EXPECT_TRUE(key(app, GDK_Return));
    EXPECT_TRUE(pump_engine());
    EXPECT_EQ("[OPTION]\nUSER = 0\nLassUserName = \nLassPassWord = \n", read_settings());
    EXPECT_EQ(nullptr, app.widgets.account_list);
    GList *items = gtk_container_get_children(GTK_CONTAINER(GTK_COMBO(app.widgets.account_combo)->list));
    EXPECT_EQ(0u, g_list_length(items));
    g_list_free(items);
}

TEST(SettingsGui, LogonFromAWorkerStoresThePasswordItIsHanded)
{
    GuiApp &app = fresh_app();
    write_settings("[OPTION]\nUSER = 0\nAutoLogon = 0\nLassUserName = \nLassPassWord = \n"
                   "LassDeviceName = \n");
    run_script([&] {
        // The entry no longer matters: the worker hands over what was typed.
        on_main([&] { gtk_entry_set_text(GTK_ENTRY(app.widgets.password_entry), "other123"); });
        app.settings.remember_password = 1;
        app.settings.auto_logon = 1;
        // This thread plays the worker.
        set_msg("alice", "secret12", "eth0", &app.ctx);
        EXPECT_EQ("[OPTION]\nUSER = 1\nAutoLogon = 1\nLassUserName = alice\nLassPassWord = " +
                      scrambled("secret12") + "\nLassDeviceName = eth0\nusername1 = alice\n"
                      "password1 = " + scrambled("secret12") + "\nowner1 = 0\n",
                  read_settings());

        // Remember-password off blanks the stored password; the account stays.
        app.settings.remember_password = 0;
        app.settings.auto_logon = 0;
        set_msg("alice", "secret12", "eth1", &app.ctx);
        EXPECT_EQ("[OPTION]\nUSER = 1\nAutoLogon = 0\nLassUserName = alice\nLassPassWord = \n"
                  "LassDeviceName = eth1\nusername1 = alice\npassword1 = \nowner1 = 0\n",
                  read_settings());
    });
}

std::string stored(const std::string &address)
{
    IniFile *ini = ini_open(settings_path);
    char value[256] = "";
    if (ini)
        ini_get(ini, address.c_str(), value, sizeof value);
    ini_close(ini);
    return value;
}

// Text a user can type: printable ASCII (with '#', ';', blanks, '=' and ':'
// anywhere) and a few Chinese and accented characters.
std::string typed_text(std::mt19937 &rng, size_t min_bytes, size_t max_bytes)
{
    static const char *const wide[] = {"学", "生", "é", "ü"};
    size_t len = min_bytes + rng() % (max_bytes - min_bytes + 1);
    std::string out;
    while (out.size() < len) {
        if (rng() % 8 == 0) {
            std::string w = wide[rng() % 4];
            if (out.size() + w.size() <= max_bytes)
                out += w;
        } else {
            out += static_cast<char>(0x20 + rng() % 95);
        }
    }
    return out;
}

// Every account and password a user types is stored and read back exactly:
// the stored lines hold what was written, a second log-on finds the account
// again, and recalling it shows that a password is stored, which is the one typed.
TEST(SettingsGui, TypedAccountsAndPasswordsRoundTripThroughTheFile)
{
    GuiApp &app = fresh_app();
    write_settings("[OPTION]\nUSER = 0\nAutoLogon = 0\nLassUserName = \nLassPassWord = \n"
                   "LassDeviceName = \n");
    std::mt19937 rng(7);
    std::vector<std::pair<std::string, std::string>> cases = {
        {"stu#dent", "pAsswordY1"}, {" ;lead and trail ", "X[>a b>"}, {"a=b:c", "#;AY ok>"}};
    while (cases.size() < 80) {
        std::string password = typed_text(rng, 6, 20);
        if (scrambled(password.c_str()).size() == password.size())  // no byte scrambled to 0
            cases.emplace_back(typed_text(rng, 1, 50), password);
    }
    run_script([&] {
        app.settings.remember_password = 1;
        int count = 0;
        for (const auto &[account, password] : cases) {
            set_msg(account.c_str(), password.c_str(), "eth0", &app.ctx);
            set_msg(account.c_str(), password.c_str(), "eth0", &app.ctx);  // the same account again: no copy
            count++;
            std::string n = std::to_string(count);
            ASSERT_EQ(stored("OPTION@USER"), n) << account;
            EXPECT_EQ(stored("OPTION@username" + n), account);
            EXPECT_EQ(stored("OPTION@password" + n), scrambled(password.c_str())) << password;
            EXPECT_EQ(stored("OPTION@LassUserName"), account);
            EXPECT_EQ(stored("OPTION@LassPassWord"), scrambled(password.c_str()));
        }
        for (const auto &[account, password] : cases) {
            const size_t answers = messages_of_kind(MSG_ACCOUNT_PASSWORD);
            on_main([&] {
                gtk_entry_set_text(GTK_ENTRY(app.widgets.password_entry), "");
                gtk_entry_set_text(account_entry(app), account.c_str());
            });
            ASSERT_TRUE(wait_for([&] { return messages_of_kind(MSG_ACCOUNT_PASSWORD) > answers; }))
                << account;
            char unscrambled[64];
            g_strlcpy(unscrambled, scrambled(password.c_str()).c_str(), sizeof unscrambled);
            decrypt(unscrambled);
            // The scrambling itself gives back only some bytes; what it gives is recalled.
            bool recalled = g_utf8_validate(unscrambled, -1, nullptr);
            std::string shown;
            on_main([&] { shown = text_of(GTK_ENTRY(app.widgets.password_entry)); });
            EXPECT_EQ(shown, recalled ? STORED_PASSWORD_PLACEHOLDER : "") << account;
            char clear[21] = "";
            EXPECT_EQ(1, stored_password(account.c_str(), 0, clear)) << account;
            EXPECT_STREQ(clear, recalled ? unscrambled : "") << account;
        }
    });
    // Every stored account is listed at the next start.
    ClientSettings loaded{};
    get_ini_message(&loaded);
    EXPECT_EQ(g_list_length(loaded.users), cases.size());
    app.settings.remember_password = 0;
}

}  // namespace
