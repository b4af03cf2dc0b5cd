// SPDX-License-Identifier: GPL-2.0-or-later
// Log-on, failure, link time-outs and log-off against hostapd in the lab: the
// window asks a real engine over its socket, as users run the client; the
// GTK main loop under Xvfb and the system's dhclient.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <pwd.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/records.h"
#include "app/startup.h"
#include "app/window_half.h"
#include "config/settings.h"
#include "netns/e2e_support.h"
#include "support/sandbox.h"
#include "ui/account_handlers.h"
#include "ui/main_window.h"
#include "ui/msg_dialog.h"
#include "ui/tray.h"

namespace {

constexpr uint8_t EAPOL_LOGOFF = 2;
const char kNoMessage[] = "该错误不存在提示信息！";

bool status_is(int want) { return status.load() == want; }

// Brings the lab up with hostapd and a client; the test fails loudly otherwise.
E2eClient *lab_client(Lab &lab, const std::string &password, const LabOptions &opt = {})
{
    if (!e2e_lab_up(lab, opt))
        return nullptr;
    return e2e_client(lab, "e2euser", password);
}

bool go_online(E2eClient *c)
{
    e2e_start_worker(c);
    return e2e_wait([] { return status_is(STATUS_ONLINE); }, 30000);
}

// The failure dialog a worker raised: error icon with Re-authenticate and Return.
void expect_failure_dialog(E2eClient *c, const std::string &title, const std::string &text)
{
    EXPECT_TRUE(e2e_wait([c] { return e2e_dialog_shown(c); }, 5000));
    EXPECT_EQ(e2e_msg_title(c), title);
    EXPECT_EQ(e2e_msg_text(c), text);
    int kind = -1, buttons = -1;
    e2e_on_main([&] {
        kind = c->settings.msg_kind;
        buttons = c->settings.msg_buttons;
    });
    EXPECT_EQ(kind, 1);
    EXPECT_EQ(buttons, 0);
}

TEST(E2eLogon, ReachesOnlineWithAnAddressAndStoresTheAccount)
{
    Lab lab;
    LabGuard guard{lab};
    E2eClient *c = lab_client(lab, "labpass1");
    ASSERT_NE(c, nullptr);
    e2e_drive([&] {
        ASSERT_TRUE(go_online(c)) << "status " << status << ", text " << e2e_msg_text(c);
        EXPECT_EQ(e2e_msg_text(c), "认证成功！");
        EXPECT_EQ(e2e_client_address(lab).rfind("10.77.0.", 0), 0u) << e2e_client_address(lab);
        EXPECT_EQ(e2e_dhcp_runs(c), 1);
        EXPECT_TRUE(e2e_tray_shown(c));
        std::string conf = e2e_settings_text(c);
        EXPECT_NE(conf.find("LassUserName = e2euser"), std::string::npos) << conf;
        EXPECT_NE(conf.find("LassDeviceName = labc0"), std::string::npos) << conf;
    });
}

TEST(E2eLogon, PostLoginProgramRunsAsTheUserWhoStartedTheClient)
{
    Lab lab;
    LabGuard guard{lab};
    E2eClient *c = lab_client(lab, "labpass1");
    ASSERT_NE(c, nullptr);
    std::string out = c->dir + "/post-login";
    ASSERT_EQ(chmod(c->dir.c_str(), 0777), 0);
    c->settings.open_url = 1;
    copy_field(c->settings.url, ("id -u >" + out).c_str());
    e2e_drive([&] {
        ASSERT_TRUE(go_online(c));
        // "nobody" started the client: the program line must not run as root.
        EXPECT_TRUE(e2e_wait([&] { return !lab_read_file(out).empty(); }, 5000));
        EXPECT_EQ(lab_read_file(out), "65534\n");
    });
}

// A stand-in xdg-open over the real one (an overlay on /usr/bin in the test's
// mount namespace) records its arguments, its uid, its DISPLAY and a mark
// that only the window's environment holds.
TEST(E2eLogon, PostLoginPageOpensFromTheWindowOnItsDisplay)
{
    Lab lab;
    LabGuard guard{lab};
    E2eClient *c = lab_client(lab, "labpass1");
    ASSERT_NE(c, nullptr);
    std::string scratch = c->dir + "/overlay", out = c->dir + "/opened";
    ASSERT_EQ(mkdir(scratch.c_str(), 0755), 0);
    ASSERT_EQ(mount("tmpfs", scratch.c_str(), "tmpfs", 0, "mode=0755"), 0);
    ASSERT_TRUE(mount_overlay("/usr/bin", scratch));
    std::string stub = "#!/bin/sh\n{ echo $#; for a; do echo \"$a\"; done; id -u; echo \"$DISPLAY\";"
                       " echo \"$CVG_WINDOW_MARK\"; } >" + out + ".tmp && mv " + out + ".tmp " + out + "\n";
    FILE *f = std::fopen("/usr/bin/xdg-open", "w");
    ASSERT_NE(f, nullptr);
    std::fputs(stub.c_str(), f);
    std::fclose(f);
    ASSERT_EQ(chmod("/usr/bin/xdg-open", 0755), 0);
    setenv("CVG_WINDOW_MARK", "window", 1);  // after the engine was forked
    const std::string page = "http://portal.lab/welcome?a=1&b=x y";
    c->settings.open_url = 1;
    copy_field(c->settings.url, page.c_str());
    const char *display = getenv("DISPLAY");
    e2e_drive([&] {
        ASSERT_TRUE(go_online(c));
        EXPECT_TRUE(e2e_wait([&] { return !lab_read_file(out).empty(); }, 5000));
        EXPECT_EQ(lab_read_file(out), "1\n" + page + "\n" + std::to_string(getuid()) + "\n" +
                                          (display ? display : "") + "\nwindow\n");
    });
    unsetenv("CVG_WINDOW_MARK");
}

TEST(E2eLogon, WrongPasswordShowsTheFailureAndReturnBringsBackTheWindow)
{
    Lab lab;
    LabGuard guard{lab};
    E2eClient *c = lab_client(lab, "wrongpass");
    ASSERT_NE(c, nullptr);
    e2e_drive([&] {
        e2e_start_worker(c);
        ASSERT_TRUE(e2e_wait([] { return status_is(STATUS_FAILED); }, 15000)) << status;
        // hostapd's Failure is 22 bytes: too short for a failure code.
        expect_failure_dialog(c, "认证失败", kNoMessage);
        EXPECT_EQ(e2e_dhcp_runs(c), 0);
        e2e_on_main([c] { on_button_cancel_clicked(nullptr, &c->ctx); });
        EXPECT_TRUE(status_is(STATUS_IDLE));
        EXPECT_TRUE(e2e_main_window_visible(c));
        EXPECT_FALSE(e2e_tray_shown(c));
        EXPECT_FALSE(e2e_dialog_shown(c));
    });
}

TEST(E2eLogon, ReauthenticateAfterAFailureStartsAFreshWorker)
{
    Lab lab;
    LabGuard guard{lab};
    E2eClient *c = lab_client(lab, "wrongpass");
    ASSERT_NE(c, nullptr);
    e2e_drive([&] {
        e2e_start_worker(c);
        ASSERT_TRUE(e2e_wait([] { return status_is(STATUS_FAILED); }, 15000));
        e2e_set_password(c, "labpass1");
        g_usleep(6 * G_USEC_PER_SEC);  // hostapd ignores Start for about 5 s after a Failure
        e2e_on_main([c] { on_button_ok_clicked(nullptr, &c->ctx); });
        EXPECT_TRUE(e2e_wait([] { return status_is(STATUS_ONLINE); }, 30000)) << status;
        EXPECT_FALSE(e2e_main_window_visible(c));
        EXPECT_TRUE(e2e_tray_shown(c));
    });
}

TEST(E2eLogon, LinkTimeoutWithReconnectOffDropsTheConnection)
{
    Lab lab;
    LabGuard guard{lab};
    E2eClient *c = lab_client(lab, "labpass1");
    ASSERT_NE(c, nullptr);
    c->settings.timeout = 3;
    e2e_drive([&] {
        ASSERT_TRUE(go_online(c));
        double online = e2e_now_ms();
        // hostapd sends nothing after EAP-MD5 success: the link times out.
        ASSERT_TRUE(e2e_wait([] { return status_is(STATUS_FAILED); }, 8000));
        EXPECT_GE(e2e_now_ms() - online, 2500);
        expect_failure_dialog(c, "掉线", "等待服务器响应超时（key）！");
    });
}

TEST(E2eLogon, LinkTimeoutWithReconnectOnStaysOnlineWithoutNewDhcp)
{
    Lab lab;
    LabGuard guard{lab};
    E2eClient *c = lab_client(lab, "labpass1");
    ASSERT_NE(c, nullptr);
    c->settings.timeout = 4;
    c->settings.timeout_reconnect = 1;
    e2e_drive([&] {
        ASSERT_TRUE(go_online(c));
        EXPECT_TRUE(e2e_wait([c] { return e2e_msg_text(c) == "等待超时，自动进行第 2 次认证！"; },
                             8000))
            << e2e_msg_text(c);
        // hostapd answers the new Start; its Success is ignored while online,
        // and the next silence gives the third attempt.
        EXPECT_TRUE(e2e_wait([c] { return e2e_msg_text(c) == "等待超时，自动进行第 3 次认证！"; },
                             8000))
            << e2e_msg_text(c) << " status " << status;
        EXPECT_TRUE(status_is(STATUS_ONLINE)) << status;
        EXPECT_EQ(e2e_dhcp_runs(c), 1);
        EXPECT_FALSE(e2e_dialog_shown(c));
    });
}

TEST(E2eLogon, DisconnectSendsLogoffEndsIdleAndRetiresTheOnlineWorker)
{
    Lab lab;
    LabGuard guard{lab};
    E2eClient *c = lab_client(lab, "labpass1");
    ASSERT_NE(c, nullptr);
    c->settings.timeout = 3;
    pcap_t *auth = e2e_auth_capture(lab);
    ASSERT_NE(auth, nullptr);
    e2e_drive([&] {
        ASSERT_TRUE(go_online(c));
        e2e_on_main([c] { on_menu_item_disconnect_clicked(nullptr, &c->ctx); });
        EXPECT_TRUE(e2e_wait_client_frame(lab, auth, EAPOL_LOGOFF, 5000));
        EXPECT_TRUE(e2e_wait([] { return status_is(STATUS_IDLE); }, 5000)) << status;
        EXPECT_TRUE(e2e_main_window_visible(c));
        EXPECT_FALSE(e2e_tray_shown(c));
        // The online worker's next read time-out is a checkpoint: it ends
        // there instead of reporting "掉线".
        g_usleep(4 * G_USEC_PER_SEC);
        EXPECT_TRUE(status_is(STATUS_IDLE)) << status;
        EXPECT_FALSE(e2e_dialog_shown(c)) << e2e_msg_text(c);
    });
    pcap_close(auth);
}

// The client runs in a child process: exit must end that process with 0.
[[noreturn]] void exit_scenario(Lab &lab, const std::string &marker)
{
    E2eClient *c = e2e_client(lab, "e2euser", "labpass1");
    if (!c || ::testing::Test::HasFailure())
        _exit(3);
    e2e_drive([&] {
        if (!go_online(c))
            _exit(4);
        std::FILE *f = std::fopen(marker.c_str(), "w");
        if (f)
            std::fclose(f);
        e2e_on_main([c] { on_menu_item_exit_clicked(nullptr, &c->ctx); });
        g_usleep(20 * G_USEC_PER_SEC);
        _exit(5);  // the Logoff worker should have ended the process long ago
    });
    _exit(6);
}

TEST(E2eLogon, ExitSendsLogoffAndEndsTheProcessWithZero)
{
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "ThreadSanitizer starts a thread of its own in every forked child, "
                    "and a mount namespace of its own needs a single-threaded process";
#endif
    Lab lab;
    LabGuard guard{lab};
    ASSERT_TRUE(lab_up(lab, LabOptions{})) << lab.error;
    pcap_t *auth = e2e_auth_capture(lab);
    ASSERT_NE(auth, nullptr);
    std::string marker = "/tmp/corvix-e2e-exit-" + std::to_string(getpid()) + lab.name;
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        e2e_isolate_process();
        exit_scenario(lab, marker);
    }
    int st = 0;
    bool ended = e2e_wait([&] { return waitpid(child, &st, WNOHANG) == child; }, 60000);
    if (!ended) {
        kill(child, SIGKILL);
        waitpid(child, &st, 0);
    }
    ASSERT_TRUE(ended) << "the client did not end";
    EXPECT_EQ(access(marker.c_str(), F_OK), 0) << "the client never went online";
    unlink(marker.c_str());
    ASSERT_TRUE(WIFEXITED(st)) << "ended by signal " << (WIFSIGNALED(st) ? WTERMSIG(st) : 0);
    EXPECT_EQ(WEXITSTATUS(st), 0);
    EXPECT_TRUE(e2e_wait_client_frame(lab, auth, EAPOL_LOGOFF, 1000));
    pcap_close(auth);
}

// A password whose scrambled form holds '#' and ';' ('A' and 'Y'), stored by a
// log-on with automatic log-on on, logs on by itself at the next start: the
// settings file gives back exactly what was stored.
TEST(E2eLogon, RememberedPasswordWithHashAndSemicolonLogsOnAtTheNextStart)
{
    const std::string password = "pAsswordY1";
    Lab lab;
    LabGuard guard{lab};
    LabOptions opt;
    opt.auth = "sim";  // checks every digest against this password
    opt.password = password;
    E2eClient *c = lab_client(lab, password, opt);
    ASSERT_NE(c, nullptr);
    c->settings.auto_logon = 1;
    // The engine runs for the window's user: the account is stored as theirs.
    const struct passwd *pw = getpwnam("nobody");
    ASSERT_NE(pw, nullptr);
    const uid_t user = pw->pw_uid;
    c->settings.real_uid = user;
    e2e_drive([&] {
        // What the worker stores on EAP-Success, from the entries it logged on with.
        set_msg("e2euser", password.c_str(), lab.client_if.c_str(), &c->ctx);
        std::string conf = e2e_settings_text(c);
        EXPECT_NE(conf.find("LassPassWord = R#UUYQTF;k\n"), std::string::npos) << conf;

        // The next start: the loader, the main window built from what it
        // loaded, and the start-up decision. Never freed: the worker keeps them.
        auto *next = new AppContext{new MainWidgets(main_widgets_initial()), new ClientSettings{}};
        e2e_on_main([&] {
            get_ini_message(next->settings, user);
            next->settings->use_own_dhcp = 0;
            next->settings->timeout = 8;
            copy_field(next->settings->login_name, "nobody");
            build_main_window(next);
            set_window_context(next);  // the engine's reports now reach this window
        });
        EXPECT_STREQ(next->settings->last_password, "") << "the window never holds it";
        EXPECT_EQ(next->settings->last_password_stored, 1);
        EXPECT_EQ(next->settings->auto_logon, 1);
        std::string typed;
        e2e_on_main([&] {
            typed = gtk_entry_get_text(GTK_ENTRY(next->widgets->password_entry));
            startup_decision(next);
        });
        EXPECT_EQ(typed, STORED_PASSWORD_PLACEHOLDER);
        // The simulator checked the digest over the stored password, which
        // only the engine read.
        EXPECT_TRUE(e2e_wait([&] { return e2e_count_events(lab, "MD5 OK") == 1; }, 30000))
            << "digests accepted: " << e2e_count_events(lab, "MD5 OK");
        EXPECT_TRUE(e2e_wait([] { return status_is(STATUS_ONLINE); }, 30000)) << status;
        std::string events;
        for (const LabEvent &e : lab_sim_events(lab))
            events += e.text + "\n";
        EXPECT_EQ(e2e_count_events(lab, "MD5 BAD"), 0) << events;
        bool window_shown = true;
        e2e_on_main([&] {
            window_shown = gtk_widget_get_visible(next->widgets->window);
            destroy_msg_dialog(next);
            hide_tray_icon(next);
        });
        EXPECT_FALSE(window_shown) << "automatic log-on keeps the window hidden";
    });
}

}  // namespace
