// SPDX-License-Identifier: GPL-2.0-or-later
// The settings dialog driven as a user drives it, on the real main window,
// with the settings file on its real path: every test process first takes a
// private mount namespace with overlays over /usr/share and /etc/xdg and a
// throwaway /home, so nothing reaches the machine's own folders.
#include <cctype>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pwd.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "config/ini.h"
#include "ui/account_handlers.h"
#include "config/settings.h"
#include "app/shell.h"
#include "gui_harness.h"
#include "support/attack.h"
#include "support/sandbox.h"
#include "support/scratch.h"
#include "ui/config_dialog.h"
#include "ui/msg_dialog.h"
#include "ui/tray.h"

namespace {

const char kConf[] = "/usr/share/Corvix2/Corvix.conf";
const char AUTOSTART_ENTRY[] = "/etc/xdg/autostart/Corvix.desktop";
const uid_t kNobody = 65534;

// The first-run file as the client writes it.
const char kFirstRunFile[] =
    "[OPTION]\nUSER = 0\nAutoStart = 0\nAutoLogon = 0\nUseCorvixDhcp = 1\nTimeoutReconnect = 0\n"
    "Timeout = 800\nOpenUrl = 0\nUrl = \nPrivateAuth = 0\nLassUserName = \nLassPassWord = \n"
    "LassDeviceName = \n";

std::string scratch_dir;
// The login name the dialog runs for: whose section and autostart entry a save writes.
std::string dialog_login;

void leave_scratch()
{
    (void)umount2(scratch_dir.c_str(), MNT_DETACH);
    (void)rmdir(scratch_dir.c_str());
}

bool write_file(const std::string &path, const std::string &text, mode_t mode = 0644)
{
    std::ofstream out(path, std::ios::trunc);
    out << text;
    out.close();
    return out.good() && chmod(path.c_str(), mode) == 0;
}

bool exists(const std::string &path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// Must run before GTK and before any thread: a private mount namespace with
// the installed layout, the autostart folder and /home all private.
void isolate_folders()
{
    ASSERT_EQ(geteuid(), 0u) << "the settings dialog tests need root (mount namespaces)";
    ASSERT_EQ(unshare(CLONE_NEWNS), 0) << std::strerror(errno);
    ASSERT_EQ(mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0);
    char dir[] = "/tmp/corvix-cfg-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    scratch_dir = dir;
    std::atexit(leave_scratch);
    ASSERT_EQ(mount("tmpfs", dir, "tmpfs", 0, "mode=0755"), 0);
    ASSERT_EQ(private_desktop_layout(scratch_dir), "");
    ASSERT_EQ(mount("tmpfs", "/home", "tmpfs", 0, "mode=0755"), 0);
    // A user with a home of their own (under the scratch folder) for the
    // user's own autostart entry; a failed step ends the test process.
    ChildChecks c;
    (void)attack_user_add(c, scratch_dir);
}

class ConfigDialog : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NO_FATAL_FAILURE(isolate_folders()); }
};

// The GUI app with the settings file on its real path, holding the first-run text.
GuiApp &config_app(const char *login_name)
{
    GuiApp &app = gui_app();
    settings_path = kConf;
    EXPECT_TRUE(write_file(kConf, kFirstRunFile, 0644));
    ClientSettings &s = app.settings;
    s.open_url = 0;
    copy_field(s.url, "http://old.example/");
    s.use_own_dhcp = 1;
    s.timeout_reconnect = 0;
    s.timeout = 800;
    s.auto_start = 0;
    s.private_auth = 0;
    copy_field(s.login_name, login_name);
    dialog_login = login_name;
    status = STATUS_IDLE;
    gtk_widget_show_all(app.widgets.window);
    return app;
}

// Root's saves are the machine-wide [OPTION]; anyone else's their own section.
std::string section_of(const std::string &login)
{
    UserIds ids;
    if (!user_ids(login.c_str(), &ids) || ids.uid == 0)
        return "OPTION";
    return user_section(ids.uid);
}

// The desktop-login entry a save by login writes.
std::string autostart_entry_of(const std::string &login)
{
    if (section_of(login) == "OPTION")
        return AUTOSTART_ENTRY;
    struct passwd *pw = getpwnam(login.c_str());
    return std::string(pw ? pw->pw_dir : "/nonexistent") + "/.config/autostart/Corvix.desktop";
}

std::string file_options(const std::string &section = section_of(dialog_login))
{
    IniFile *ini = ini_open(kConf);
    if (!ini)
        return "unreadable";
    std::string out;
    for (const char *key : {"OpenUrl", "Url", "UseCorvixDhcp", "TimeoutReconnect", "Timeout",
                            "AutoStart", "PrivateAuth"}) {
        char value[128];
        ini_get(ini, (section + "@" + key).c_str(), value, sizeof value);
        out += std::string(out.empty() ? "" : " ") + key + "=" + value;
    }
    ini_close(ini);
    return out;
}

std::string memory_options(const ClientSettings &s)
{
    std::ostringstream o;
    o << "open_url=" << s.open_url << " url=" << s.url << " use_own_dhcp=" << s.use_own_dhcp
      << " timeout_reconnect=" << s.timeout_reconnect << " timeout=" << s.timeout
      << " auto_start=" << s.auto_start << " private_auth=" << s.private_auth;
    return o.str();
}

mode_t file_mode(const char *path)
{
    struct stat st{};
    return stat(path, &st) == 0 ? (st.st_mode & 07777) : 0;
}

// Main thread: the message dialog is the error kind with one button.
void expect_error_dialog(const ClientSettings &s)
{
    EXPECT_STREQ(s.msg_title, "错误");
    EXPECT_EQ(s.msg_kind, 1);
    EXPECT_EQ(s.msg_buttons, 1);
}

gboolean click_idle(gpointer button)
{
    gtk_button_clicked(GTK_BUTTON(button));
    return G_SOURCE_REMOVE;
}

// From the script thread: clicks the settings button as a user does (its
// handler runs the dialog modally, so it is queued, not waited for), and
// waits for the dialog to be on screen.
ConfigWidgets *open_dialog(GuiApp &app)
{
    g_idle_add(click_idle, app.widgets.config_button);
    ConfigWidgets *w = nullptr;
    bool shown = wait_for([&] {
        w = running_config_dialog();
        return w && w->dialog && gtk_widget_get_visible(w->dialog);
    });
    EXPECT_TRUE(shown) << "the settings dialog did not open";
    return shown ? w : nullptr;
}

bool dialog_gone()
{
    return running_config_dialog() == nullptr;
}

void collect_buttons(GtkWidget *widget, gpointer out)
{
    if (GTK_IS_BUTTON(widget) && !GTK_IS_TOGGLE_BUTTON(widget))
        static_cast<std::vector<GtkWidget *> *>(out)->push_back(widget);
    else if (GTK_IS_CONTAINER(widget))
        gtk_container_forall(GTK_CONTAINER(widget), collect_buttons, out);
}

// The button at x in the dialog's button bar: save 260, cancel 10.
GtkWidget *bar_button(const ConfigWidgets *w, int x)
{
    std::vector<GtkWidget *> buttons;
    collect_buttons(w->dialog, &buttons);
    for (GtkWidget *b : buttons) {
        gint bx = -1;
        gtk_container_child_get(GTK_CONTAINER(gtk_widget_get_parent(b)), b, "x", &bx, nullptr);
        if (bx == x)
            return b;
    }
    return nullptr;
}

const int kSave = 260, kCancel = 10;

bool ticked(GtkWidget *check)
{
    return gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(check));
}

// A user's click on a check box toggles it.
void set_box(GtkWidget *check, bool on)
{
    if (ticked(check) != on)
        gtk_button_clicked(GTK_BUTTON(check));
}

void type(GtkWidget *entry, const std::string &text)
{
    gtk_entry_set_text(GTK_ENTRY(entry), text.c_str());
}

enum class End { Save, Cancel, Close };

// Ends the dialog the way the row says, and waits for it to be gone.
void end_dialog(ConfigWidgets *w, End end)
{
    on_main([&] {
        if (end == End::Close)
            send_delete_event(w->dialog);
        else
            gtk_button_clicked(GTK_BUTTON(bar_button(w, end == End::Save ? kSave : kCancel)));
    });
    EXPECT_TRUE(wait_for(dialog_gone));
}

struct Start {
    int open_url;
    const char *url;
    int timeout_reconnect;
    int timeout;
};

// What the user does in the dialog; null texts are left alone, -1 boxes too.
struct Choice {
    int open_url;
    const char *url;
    int own_dhcp;
    int reconnect;
    const char *timeout;
    int auto_start;
    int private_auth;
};

struct SaveRow {
    const char *name;
    const char *login;
    Start start;
    Choice choice;
    End end;
    const char *file;    // file_options() afterwards; null: the file is left as it was
    const char *memory;  // memory_options() afterwards
};

const Start kPlain{0, "http://old.example/", 0, 800};

const SaveRow kRows[] = {
    {"unchanged save writes the shown state", "nobody", kPlain, {-1, nullptr, -1, -1, nullptr, -1, -1}, End::Save,
     "OpenUrl=0 Url= UseCorvixDhcp=1 TimeoutReconnect=0 Timeout=800 AutoStart=0 PrivateAuth=0",
     "open_url=0 url=http://old.example/ use_own_dhcp=1 timeout_reconnect=0 timeout=800 auto_start=0 private_auth=0"},
    {"every box ticked", "cvxattack", kPlain, {1, "http://portal.example/", 0, 1, "8", 1, 1}, End::Save,
     "OpenUrl=1 Url=http://portal.example/ UseCorvixDhcp=0 TimeoutReconnect=1 Timeout=8 AutoStart=1 PrivateAuth=1",
     "open_url=1 url=http://portal.example/ use_own_dhcp=0 timeout_reconnect=1 timeout=8 auto_start=1 private_auth=1"},
    {"time-out above the maximum", "nobody", kPlain, {-1, nullptr, -1, 1, "9999", -1, -1}, End::Save,
     "OpenUrl=0 Url= UseCorvixDhcp=1 TimeoutReconnect=1 Timeout=3600 AutoStart=0 PrivateAuth=0",
     "open_url=0 url=http://old.example/ use_own_dhcp=1 timeout_reconnect=1 timeout=3600 auto_start=0 private_auth=0"},
    {"time-out text with letters", "nobody", kPlain, {-1, nullptr, -1, 1, "12ab", -1, -1}, End::Save,
     "OpenUrl=0 Url= UseCorvixDhcp=1 TimeoutReconnect=1 Timeout=12 AutoStart=0 PrivateAuth=0",
     "open_url=0 url=http://old.example/ use_own_dhcp=1 timeout_reconnect=1 timeout=12 auto_start=0 private_auth=0"},
    {"cleared post-login box keeps the url in memory", "nobody", {1, "http://portal/", 0, 800},
     {0, nullptr, -1, -1, nullptr, -1, -1}, End::Save,
     "OpenUrl=0 Url= UseCorvixDhcp=1 TimeoutReconnect=0 Timeout=800 AutoStart=0 PrivateAuth=0",
     "open_url=0 url=http://portal/ use_own_dhcp=1 timeout_reconnect=0 timeout=800 auto_start=0 private_auth=0"},
    {"cleared re-authentication box stores 800", "nobody", {0, "http://old.example/", 1, 60},
     {-1, nullptr, -1, 0, "30", -1, -1}, End::Save,
     "OpenUrl=0 Url= UseCorvixDhcp=1 TimeoutReconnect=0 Timeout=800 AutoStart=0 PrivateAuth=0",
     "open_url=0 url=http://old.example/ use_own_dhcp=1 timeout_reconnect=0 timeout=800 auto_start=0 private_auth=0"},
    {"root stores a program line", "root", kPlain, {1, "/usr/bin/portal-login --quiet", -1, -1, nullptr, -1, -1},
     End::Save,
     "OpenUrl=1 Url=/usr/bin/portal-login --quiet UseCorvixDhcp=1 TimeoutReconnect=0 Timeout=800 AutoStart=0 PrivateAuth=0",
     "open_url=1 url=/usr/bin/portal-login --quiet use_own_dhcp=1 timeout_reconnect=0 timeout=800 auto_start=0 private_auth=0"},
    {"a secure page is free for every user", "nobody", kPlain, {1, "https://portal/", -1, -1, nullptr, -1, -1},
     End::Save,
     "OpenUrl=1 Url=https://portal/ UseCorvixDhcp=1 TimeoutReconnect=0 Timeout=800 AutoStart=0 PrivateAuth=0",
     "open_url=1 url=https://portal/ use_own_dhcp=1 timeout_reconnect=0 timeout=800 auto_start=0 private_auth=0"},
    {"the program line already held stays for any user", "nobody", {1, "/usr/bin/portal-login", 0, 800},
     {-1, nullptr, 0, -1, nullptr, -1, -1}, End::Save,
     // Kept, not copied: a user's section holds no program line, root's [OPTION] keeps it.
     "OpenUrl=1 Url= UseCorvixDhcp=0 TimeoutReconnect=0 Timeout=800 AutoStart=0 PrivateAuth=0",
     "open_url=1 url=/usr/bin/portal-login use_own_dhcp=0 timeout_reconnect=0 timeout=800 auto_start=0 private_auth=0"},
    {"cancel changes nothing", "nobody", kPlain, {1, "http://portal.example/", 0, 1, "8", 1, 1}, End::Cancel, nullptr,
     "open_url=0 url=http://old.example/ use_own_dhcp=1 timeout_reconnect=0 timeout=800 auto_start=0 private_auth=0"},
    {"closing the window changes nothing", "nobody", kPlain, {1, "http://portal.example/", 0, 1, "8", 1, 1},
     End::Close, nullptr,
     "open_url=0 url=http://old.example/ use_own_dhcp=1 timeout_reconnect=0 timeout=800 auto_start=0 private_auth=0"},
};

void apply_choice(ConfigWidgets *w, const Choice &c)
{
    on_main([&] {
        if (c.open_url >= 0)
            set_box(w->open_url_check, c.open_url == 1);
        if (c.url)
            type(w->url_entry, c.url);
        if (c.own_dhcp >= 0)
            set_box(w->own_dhcp_check, c.own_dhcp == 1);
        if (c.reconnect >= 0)
            set_box(w->reconnect_check, c.reconnect == 1);
        if (c.timeout)
            type(w->timeout_entry, c.timeout);
        if (c.auto_start >= 0)
            set_box(w->auto_start_check, c.auto_start == 1);
        if (c.private_auth >= 0)
            set_box(w->private_auth_check, c.private_auth == 1);
    });
}

// Test names and failure messages show the row by its name.
void PrintTo(const SaveRow &row, std::ostream *os)
{
    *os << row.name;
}

// One row per process: the engine starts with the row's settings, as the
// client starts with what its file holds, and decides by the row's user.
class ConfigSaving : public ConfigDialog, public ::testing::WithParamInterface<SaveRow> {};

TEST_P(ConfigSaving, SavingRulesOverTheRealStore)
{
    const SaveRow &row = GetParam();
    GuiApp &app = config_app(row.login);
    ClientSettings &s = app.settings;
    s.open_url = row.start.open_url;
    copy_field(s.url, row.start.url);
    s.timeout_reconnect = row.start.timeout_reconnect;
    s.timeout = row.start.timeout;
    (void)unlink(AUTOSTART_ENTRY);
    const std::string entry = autostart_entry_of(row.login);
    (void)unlink(entry.c_str());
    run_script([&] {
        const std::string before = file_text(kConf);
        const std::string defaults = file_options("OPTION");
        ConfigWidgets *w = open_dialog(app);
        ASSERT_NE(w, nullptr);
        apply_choice(w, row.choice);
        end_dialog(w, row.end);
        EXPECT_TRUE(wait_for([&] { return main_window_visible(app.ctx); }));
        if (row.file) {
            EXPECT_EQ(file_options(), row.file);
            EXPECT_EQ(file_mode(kConf), 0600u) << "saved with the passwords' mode";
            if (section_of(row.login) != "OPTION") {
                EXPECT_EQ(file_options("OPTION"), defaults) << "a user's save leaves root's defaults";
            }
            // The autostart entry follows the saved option, before the save's answer.
            bool on = std::string(row.file).find("AutoStart=1") != std::string::npos;
            EXPECT_EQ(exists(entry), on) << entry;
            struct stat st{};
            if (on && entry != AUTOSTART_ENTRY && lstat(entry.c_str(), &st) == 0) {
                EXPECT_NE(st.st_uid, 0u) << "the user's entry is the user's";
            }
            EXPECT_FALSE(on && entry != AUTOSTART_ENTRY && exists(AUTOSTART_ENTRY));
        } else {
            EXPECT_EQ(file_text(kConf), before);
            EXPECT_EQ(file_mode(kConf), 0644u);
            g_usleep(100000);
            EXPECT_FALSE(exists(AUTOSTART_ENTRY));
        }
        EXPECT_EQ(on_main([&] { return memory_options(app.settings); }), row.memory);
    });
}

std::string row_name(const ::testing::TestParamInfo<SaveRow> &info)
{
    std::string name;
    for (const char *p = info.param.name; *p; p++)
        name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Rows, ConfigSaving, ::testing::ValuesIn(kRows), row_name);

bool sensitive(GtkWidget *w)
{
    return gtk_widget_is_sensitive(w);
}

void centre(GtkWidget *window, int *x, int *y)
{
    int px = 0, py = 0, w = 0, h = 0;
    gdk_window_get_origin(window->window, &px, &py);
    gdk_drawable_get_size(window->window, &w, &h);
    *x = px + w / 2;
    *y = py + h / 2;
}

TEST_F(ConfigDialog, OpensFromTheSettingsButtonInPlaceOfTheMainWindow)
{
    GuiApp &app = config_app("nobody");
    run_script([&] {
        // A desktop with a notification area: the client's tray icon embeds in it.
        ASSERT_TRUE(on_main([] { return start_tray_host(); }));
        on_main([&] { show_tray_icon(&app.ctx); });
        EXPECT_TRUE(wait_for([&] {
            return app.settings.tray_icon && gtk_status_icon_is_embedded(app.settings.tray_icon);
        }));
        on_main([&] { hide_tray_icon(&app.ctx); });
        int main_x = 0, main_y = 0;
        EXPECT_TRUE(wait_for([&] { return main_window_visible(app.ctx) && app.widgets.window->window; }));
        g_usleep(200000);
        on_main([&] { centre(app.widgets.window, &main_x, &main_y); });
        for (End end : {End::Save, End::Cancel, End::Close}) {
            ConfigWidgets *w = open_dialog(app);
            ASSERT_NE(w, nullptr);
            on_main([&] {
                EXPECT_FALSE(main_window_visible(app.ctx));
                int x = 0, y = 0;
                centre(w->dialog, &x, &y);
                EXPECT_NEAR(x, main_x, 4);
                EXPECT_NEAR(y, main_y, 4);
                EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(w->dialog)), "设置");
                // Nothing ticked at start: both entries greyed out, with their defaults.
                EXPECT_FALSE(sensitive(w->url_entry));
                EXPECT_FALSE(sensitive(w->timeout_entry));
                EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(w->timeout_entry)), "800");
                EXPECT_EQ(std::string(gtk_entry_get_text(GTK_ENTRY(w->url_entry))).rfind("http://", 0), 0u);
                set_box(w->open_url_check, true);
                EXPECT_TRUE(sensitive(w->url_entry));
                set_box(w->reconnect_check, true);
                EXPECT_TRUE(sensitive(w->timeout_entry));
                set_box(w->open_url_check, false);
                EXPECT_FALSE(sensitive(w->url_entry));
                set_box(w->reconnect_check, false);
                EXPECT_FALSE(sensitive(w->timeout_entry));
                // The autostart folder exists here, so its box can be used.
                EXPECT_TRUE(sensitive(w->auto_start_check));
            });
            end_dialog(w, end);
            EXPECT_TRUE(wait_for([&] { return main_window_visible(app.ctx); })) << int(end);
        }
    });
}

TEST_F(ConfigDialog, TicksFromTheSettingsMakeTheirEntriesEditable)
{
    GuiApp &app = config_app("nobody");
    app.settings.open_url = 1;
    copy_field(app.settings.url, "http://portal/");
    app.settings.timeout_reconnect = 1;
    app.settings.timeout = 60;
    app.settings.auto_start = 1;
    app.settings.private_auth = 1;
    ASSERT_EQ(rmdir("/etc/xdg/autostart"), 0);
    run_script([&] {
        ConfigWidgets *w = open_dialog(app);
        ASSERT_NE(w, nullptr);
        on_main([&] {
            EXPECT_TRUE(ticked(w->open_url_check) && sensitive(w->url_entry));
            EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(w->url_entry)), "http://portal/");
            EXPECT_TRUE(ticked(w->reconnect_check) && sensitive(w->timeout_entry));
            EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(w->timeout_entry)), "60");
            EXPECT_TRUE(ticked(w->private_auth_check));
            EXPECT_TRUE(ticked(w->own_dhcp_check));
            // Without the autostart folder the box stays greyed out and unticked.
            EXPECT_FALSE(sensitive(w->auto_start_check));
            EXPECT_FALSE(ticked(w->auto_start_check));
            EXPECT_FALSE(sensitive(w->launcher_check)) << "nobody has no desktop folder";
        });
        end_dialog(w, End::Save);
        EXPECT_NE(file_options().find("AutoStart=0"), std::string::npos) << file_options();
        EXPECT_EQ(on_main([&] { return app.settings.auto_start; }), 0);
    });
}

TEST_F(ConfigDialog, UnreadableFileIsReportedAndNothingChanges)
{
    GuiApp &app = config_app("nobody");
    run_script([&] {
        ConfigWidgets *w = open_dialog(app);
        ASSERT_NE(w, nullptr);
        on_main([&] {
            set_box(w->private_auth_check, true);
            set_box(w->reconnect_check, true);
            ASSERT_EQ(unlink(kConf), 0);
        });
        on_main([&] { gtk_button_clicked(GTK_BUTTON(bar_button(w, kSave))); });
        EXPECT_TRUE(wait_for(dialog_gone));
        EXPECT_TRUE(wait_for([&] { return message_shown(app.settings, "读取配置文件失败，设置不能被保存！"); }));
        on_main([&] {
            expect_error_dialog(app.settings);
            EXPECT_FALSE(main_window_visible(app.ctx));
            EXPECT_EQ(app.settings.private_auth, 0);
            EXPECT_EQ(app.settings.timeout_reconnect, 0);
            EXPECT_EQ(visible_dialogs().size(), 1u) << "the settings dialog is gone";
            on_button_ok_clicked(nullptr, &app.ctx);
        });
        EXPECT_TRUE(wait_for([&] { return main_window_visible(app.ctx); }));
        EXPECT_FALSE(exists(kConf)) << "nothing was written";
    });
}

// A save that cannot be completed: the message says what failed, the main
// window comes back through its OK, and only what was stored is applied.
// One row per process, as the engine serves one user.
struct FailedSaveRow {
    const char *name;
    const char *login;
    bool (*break_it)();
    const char *message;
    int private_auth_after;  // 1: the options were stored and applied
};

bool settings_folder_read_only()
{
    return mount("/usr/share/Corvix2", "/usr/share/Corvix2", nullptr, MS_BIND, nullptr) == 0 &&
           mount(nullptr, "/usr/share/Corvix2", nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) == 0;
}

bool installed_entry_gone()
{
    return unlink("/usr/share/Corvix2/Corvix.desktop") == 0;
}

const FailedSaveRow kFailedSaves[] = {
    {"settings_folder_read_only", "nobody", settings_folder_read_only,
     "配置文件写入失败，设置未被保存！", 0},
    {"no_desktop_entry_to_copy", "root", installed_entry_gone, "设置已保存，但开机自动运行未能设置！", 1},
};

void PrintTo(const FailedSaveRow &row, std::ostream *os)
{
    *os << row.name;
}

class FailedSave : public ConfigDialog, public ::testing::WithParamInterface<FailedSaveRow> {};

TEST_P(FailedSave, IsReportedAsFailed)
{
    const FailedSaveRow &row = GetParam();
    GuiApp &app = config_app(row.login);
    run_script([&] {
        const std::string before = file_text(kConf);
        ConfigWidgets *w = open_dialog(app);
        ASSERT_NE(w, nullptr);
        on_main([&] {
            set_box(w->private_auth_check, true);
            set_box(w->auto_start_check, true);
        });
        ASSERT_TRUE(row.break_it());
        on_main([&] { gtk_button_clicked(GTK_BUTTON(bar_button(w, kSave))); });
        EXPECT_TRUE(wait_for(dialog_gone));
        EXPECT_TRUE(wait_for([&] { return message_shown(app.settings, row.message); }));
        // For a look at the message: CORVIX_SHOT_DIR=<folder> keeps the screen there.
        if (const char *shot = std::getenv("CORVIX_SHOT_DIR")) {
            g_usleep(300000);
            std::string cmd = std::string("import -window root '") + shot + "/" + row.name + ".png'";
            EXPECT_EQ(std::system(cmd.c_str()), 0);
        }
        on_main([&] {
            expect_error_dialog(app.settings);
            EXPECT_FALSE(main_window_visible(app.ctx));
            EXPECT_EQ(app.settings.private_auth, row.private_auth_after);
            on_button_ok_clicked(nullptr, &app.ctx);
        });
        EXPECT_TRUE(wait_for([&] { return main_window_visible(app.ctx); }));
        if (!row.private_auth_after) {
            EXPECT_EQ(file_text(kConf), before) << "the file stays whole";
        }
        EXPECT_FALSE(exists(AUTOSTART_ENTRY));
    });
}

std::string failed_save_name(const ::testing::TestParamInfo<FailedSaveRow> &p)
{
    return p.param.name;
}

INSTANTIATE_TEST_SUITE_P(Rows, FailedSave, ::testing::ValuesIn(kFailedSaves), failed_save_name);

// --- The launcher and the program-line rule, with nobody's throwaway home.

const char kHome[] = "/home/nobody";

void make_owned_dir(const std::string &path)
{
    ASSERT_EQ(mkdir(path.c_str(), 0755), 0) << path;
    ASSERT_EQ(chown(path.c_str(), kNobody, kNobody), 0);
}

// A folder only root may write, on the namespace's own tmpfs.
std::string root_only()
{
    return scratch_dir + "/root-only";
}

void reset_home(const std::vector<std::string> &folders)
{
    ASSERT_EQ(std::system(("rm -rf /home/nobody " + root_only()).c_str()), 0);
    make_owned_dir(kHome);
    for (const std::string &f : folders)
        make_owned_dir(std::string(kHome) + "/" + f);
}

bool launcher_offered(GuiApp &app)
{
    ConfigWidgets *w = open_dialog(app);
    if (!w)
        return false;
    bool offered = on_main([&] { return sensitive(w->launcher_check) && !ticked(w->launcher_check); });
    end_dialog(w, End::Cancel);
    return offered;
}

TEST_F(ConfigDialog, LauncherIsOfferedOnlyWhereNoneIsYet)
{
    GuiApp &app = config_app("nobody");
    struct Case {
        const char *name;
        std::vector<std::string> folders;
        const char *existing;  // a launcher already there
        bool offered;
    };
    const Case cases[] = {
        {"neither folder exists", {}, nullptr, false},
        {"Desktop only", {"Desktop"}, nullptr, true},
        {"桌面 only", {"桌面"}, nullptr, true},
        {"launcher in 桌面", {"桌面", "Desktop"}, "桌面/Corvix.desktop", false},
        {"launcher in Desktop", {"桌面", "Desktop"}, "Desktop/Corvix.desktop", false},
    };
    run_script([&] {
        for (const Case &c : cases) {
            SCOPED_TRACE(c.name);
            reset_home(c.folders);
            if (c.existing) {
                ASSERT_TRUE(write_file(std::string(kHome) + "/" + c.existing, "old\n"));
            }
            EXPECT_EQ(launcher_offered(app), c.offered);
        }
    });
}

struct stat stat_of(const std::string &path)
{
    struct stat st{};
    (void)lstat(path.c_str(), &st);
    return st;
}

TEST_F(ConfigDialog, LauncherIsCopiedWithTheUsersRightsOnly)
{
    GuiApp &app = config_app("nobody");
    run_script([&] {
        // Both folders: the launcher lands in each, the user's own file.
        reset_home({"桌面", "Desktop"});
        ConfigWidgets *w = open_dialog(app);
        ASSERT_NE(w, nullptr);
        on_main([&] { set_box(w->launcher_check, true); });
        end_dialog(w, End::Save);
        for (const char *f : {"/home/nobody/桌面/Corvix.desktop", "/home/nobody/Desktop/Corvix.desktop"}) {
            EXPECT_EQ(file_text(f), kDesktopEntryText) << f;
            EXPECT_EQ(stat_of(f).st_uid, kNobody) << f;
        }
        EXPECT_EQ(file_options().find("Launcher"), std::string::npos);

        // A link planted after the dialog opened: the copy runs as the user,
        // so a root-owned target stays as it was, and a dangling link into a
        // folder only root may write creates nothing there.
        reset_home({"Desktop", "桌面"});
        const std::string target = root_only() + "/target", made = root_only() + "/made-by-link";
        ASSERT_EQ(mkdir(root_only().c_str(), 0755), 0);
        ASSERT_TRUE(write_file(target, "root's own\n", 0644));
        w = open_dialog(app);
        ASSERT_NE(w, nullptr);
        on_main([&] { set_box(w->launcher_check, true); });
        ASSERT_EQ(symlink(target.c_str(), "/home/nobody/Desktop/Corvix.desktop"), 0);
        ASSERT_EQ(symlink(made.c_str(), "/home/nobody/桌面/Corvix.desktop"), 0);
        end_dialog(w, End::Save);
        EXPECT_EQ(file_text(target), "root's own\n");
        EXPECT_EQ(stat_of(target).st_uid, 0u);
        EXPECT_FALSE(exists(made));
        EXPECT_TRUE(S_ISLNK(stat_of("/home/nobody/Desktop/Corvix.desktop").st_mode));
    });
}

TEST_F(ConfigDialog, ProgramLineFromAnOrdinaryUserIsRefused)
{
    GuiApp &app = config_app("nobody");
    run_script([&] {
        const std::string before = file_text(kConf);
        const std::string memory = on_main([&] { return memory_options(app.settings); });
        ConfigWidgets *w = open_dialog(app);
        ASSERT_NE(w, nullptr);
        on_main([&] {
            set_box(w->open_url_check, true);
            type(w->url_entry, "touch /root-owned-by-settings");
            set_box(w->private_auth_check, true);
            gtk_button_clicked(GTK_BUTTON(bar_button(w, kSave)));
        });
        EXPECT_TRUE(wait_for([&] { return message_shown(app.settings); }));
        on_main([&] {
            EXPECT_STREQ(app.settings.msg_text, "只有管理员才能设置在认证后运行的程序！");
            expect_error_dialog(app.settings);
            EXPECT_EQ(running_config_dialog(), w) << "the dialog stays open";
            EXPECT_EQ(memory_options(app.settings), memory);
            // OK brings back what was there before: the settings dialog, not the main window.
            on_button_ok_clicked(nullptr, &app.ctx);
        });
        g_usleep(100000);
        on_main([&] {
            EXPECT_FALSE(main_window_visible(app.ctx));
            EXPECT_TRUE(gtk_widget_get_visible(w->dialog));
        });
        EXPECT_EQ(file_text(kConf), before);
        // A web page instead is saved at once.
        on_main([&] { type(w->url_entry, "http://portal/"); });
        end_dialog(w, End::Save);
        EXPECT_TRUE(wait_for([&] { return main_window_visible(app.ctx); }));
        EXPECT_EQ(file_options(),
                  "OpenUrl=1 Url=http://portal/ UseCorvixDhcp=1 TimeoutReconnect=0 Timeout=800 "
                  "AutoStart=0 PrivateAuth=1");
    });
}

}  // namespace
