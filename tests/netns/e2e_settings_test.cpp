// SPDX-License-Identifier: GPL-2.0-or-later
// The settings dialog end to end: options chosen in the dialog, saved, and
// used by the next log-on against the lab's authenticator, which wants the
// private form and sends nothing after its success; then the autostart entry.
// The real main window and the real dialog, driven by their buttons.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "app/records.h"
#include "netns/e2e_support.h"
#include "support/sandbox.h"
#include "support/scratch.h"
#include "ui/config_dialog.h"
#include "ui/main_window.h"
#include "ui/tray.h"

namespace {

const char AUTOSTART_ENTRY[] = "/etc/xdg/autostart/Corvix.desktop";

bool status_is(int want) { return status.load() == want; }

bool exists(const char *path)
{
    struct stat st;
    return lstat(path, &st) == 0;
}

// Private copies of /usr/share and /etc/xdg: the installed desktop entry and
// the autostart folder exist here and nowhere else.
void install_layout(std::string &scratch)
{
    char dir[] = "/tmp/corvix-e2e-cfg-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    scratch = dir;
    ASSERT_EQ(mount("tmpfs", dir, "tmpfs", 0, "mode=0755"), 0);
    ASSERT_EQ(private_desktop_layout(scratch), "");
}

// The client's real main window, holding the account, password and interface.
void build_real_window(E2eClient *c, const Lab &lab)
{
    ClientSettings &s = c->settings;
    // What the first run leaves: the dialog is what changes it.
    s.use_own_dhcp = 1;
    s.timeout = 800;
    s.timeout_reconnect = 0;
    s.private_auth = 0;
    copy_field(s.last_user, "e2euser");
    copy_field(s.last_password, "labpass1");
    copy_field(s.last_device, lab.client_if.c_str());
    s.device_found = 0;
    for (GList *l = s.devices; l; l = l->next)
        s.device_found |= lab.client_if == static_cast<const char *>(l->data);
    c->widgets = main_widgets_initial();
    build_main_window(&c->ctx);
}

gboolean click_idle(gpointer button)
{
    gtk_button_clicked(GTK_BUTTON(button));
    return G_SOURCE_REMOVE;
}

void collect_buttons(GtkWidget *widget, gpointer out)
{
    if (GTK_IS_BUTTON(widget) && !GTK_IS_TOGGLE_BUTTON(widget))
        static_cast<std::vector<GtkWidget *> *>(out)->push_back(widget);
    else if (GTK_IS_CONTAINER(widget))
        gtk_container_forall(GTK_CONTAINER(widget), collect_buttons, out);
}

GtkWidget *save_button(const ConfigWidgets *w)
{
    std::vector<GtkWidget *> buttons;
    collect_buttons(w->dialog, &buttons);
    for (GtkWidget *b : buttons) {
        gint x = -1;
        gtk_container_child_get(GTK_CONTAINER(gtk_widget_get_parent(b)), b, "x", &x, nullptr);
        if (x == 260)
            return b;
    }
    return nullptr;
}

void set_box(GtkWidget *check, bool on)
{
    if (gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(check)) != on)
        gtk_button_clicked(GTK_BUTTON(check));
}

// Opens the dialog from the settings button, lets change() set its controls,
// and saves; true when the dialog came and went and the main window is back.
bool change_settings(E2eClient *c, const std::function<void(ConfigWidgets *)> &change)
{
    e2e_on_main([c] { g_idle_add(click_idle, c->widgets.config_button); });
    ConfigWidgets *w = nullptr;
    if (!e2e_wait([&] {
            e2e_on_main([&] { w = running_config_dialog(); });
            return w != nullptr;
        }, 5000))
        return false;
    e2e_on_main([&] {
        EXPECT_FALSE(GTK_WIDGET_VISIBLE(c->widgets.window));
        change(w);
        gtk_button_clicked(GTK_BUTTON(save_button(w)));
    });
    return e2e_wait([&] {
        bool gone = false;
        e2e_on_main([&] { gone = running_config_dialog() == nullptr; });
        return gone && e2e_main_window_visible(c);
    }, 5000);
}

TEST(E2eSettings, SavedOptionsTakeEffectAtTheNextLogOnAndAutostartFollows)
{
    e2e_isolate_process();
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    std::string scratch;
    install_layout(scratch);
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    Lab lab;
    LabGuard guard{lab};
    LabOptions opt;
    opt.auth = "sim";
    opt.sim_args = "--private";
    ASSERT_TRUE(lab_up(lab, opt)) << lab.error;
    E2eClient *c = e2e_client(lab, "e2euser", "labpass1");
    ASSERT_NE(c, nullptr);
    build_real_window(c, lab);
    ASSERT_TRUE(c->settings.device_found) << "the lab's interface is not in the list";
    // Started by root: the saves are the machine-wide options and entry (a
    // user's own section and entry are the engine save and dialog tests').
    copy_field(c->settings.login_name, "root");

    e2e_drive([&] {
        e2e_on_main([c] { show_main_window_widgets(&c->ctx); });
        ASSERT_TRUE(change_settings(c, [](ConfigWidgets *w) {
            set_box(w->private_auth_check, true);
            set_box(w->reconnect_check, true);
            gtk_entry_set_text(GTK_ENTRY(w->timeout_entry), "8");
            set_box(w->own_dhcp_check, false);
        }));
        std::string conf = e2e_settings_text(c);
        for (const char *line : {"PrivateAuth = 1\n", "TimeoutReconnect = 1\n", "Timeout = 8\n",
                                 "UseCorvixDhcp = 0\n"})
            EXPECT_NE(conf.find(line), std::string::npos) << line << conf;

        // Log on with the window's own button, as the user would.
        e2e_on_main([c] { gtk_button_clicked(GTK_BUTTON(c->widgets.logon_button)); });
        ASSERT_TRUE(e2e_wait([] { return status_is(STATUS_ONLINE); }, 30000))
            << "status " << status << ", text " << e2e_msg_text(c);
        double online = e2e_now_ms();
        EXPECT_GE(lab_wait_event(lab, "MD5 OK", 1000), 0) << "the private digest was not taken";
        EXPECT_EQ(e2e_count_events(lab, "MD5 BAD"), 0);
        EXPECT_EQ(e2e_dhcp_runs(c), 1) << "dhclient, not the companion program";
        EXPECT_FALSE(e2e_main_window_visible(c));

        // The authenticator is silent after its success: after the saved
        // 8 s the client starts a second attempt and stays online.
        ASSERT_TRUE(e2e_wait([c] { return e2e_msg_text(c) == "等待超时，自动进行第 2 次认证！"; }, 15000))
            << e2e_msg_text(c) << " status " << status;
        double notice = e2e_now_ms() - online;
        EXPECT_GE(notice, 7000);
        EXPECT_LE(notice, 10500);
        EXPECT_TRUE(status_is(STATUS_ONLINE)) << status;
        // The new Start is answered and the private digest taken again.
        EXPECT_TRUE(e2e_wait([&] { return e2e_count_events(lab, "MD5 OK") >= 2; }, 4000));
        EXPECT_TRUE(status_is(STATUS_ONLINE)) << status;
        EXPECT_EQ(e2e_dhcp_runs(c), 1);

        // Back to the window through the tray menu, then the start-up box.
        e2e_on_main([c] { on_menu_item_disconnect_clicked(nullptr, &c->ctx); });
        ASSERT_TRUE(e2e_wait([c] { return e2e_main_window_visible(c); }, 5000));
        ASSERT_TRUE(e2e_wait([] { return status_is(STATUS_IDLE); }, 5000)) << status;
        ASSERT_TRUE(change_settings(c, [](ConfigWidgets *w) { set_box(w->auto_start_check, true); }));
        EXPECT_TRUE(e2e_wait([] { return exists(AUTOSTART_ENTRY); }, 3000));
        EXPECT_EQ(lab_read_file(AUTOSTART_ENTRY), lab_read_file("/usr/share/Corvix2/Corvix.desktop"));
        EXPECT_NE(e2e_settings_text(c).find("AutoStart = 1\n"), std::string::npos);
        ASSERT_TRUE(change_settings(c, [](ConfigWidgets *w) { set_box(w->auto_start_check, false); }));
        EXPECT_TRUE(e2e_wait([] { return !exists(AUTOSTART_ENTRY); }, 3000));
        EXPECT_NE(e2e_settings_text(c).find("AutoStart = 0\n"), std::string::npos);
    });
    (void)umount2(scratch.c_str(), MNT_DETACH);
    (void)rmdir(scratch.c_str());
}

}  // namespace
