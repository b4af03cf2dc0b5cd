// SPDX-License-Identifier: GPL-2.0-or-later
// The start-up decision, the start-up error messages and the log-on button,
// against the real main window, dialog and worker.
#include <unistd.h>

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "app/startup.h"
#include "gui_harness.h"
#include "ui/msg_dialog.h"

namespace {

// What a worker started with the harness' empty account says first.
const char kWorkerNotice[] = "帐号不能为空！";

bool dialog_says(const ClientSettings &s, const char *text)
{
    return s.msg_dialog && !mutex.load() && gtk_widget_get_visible(s.msg_dialog) &&
           std::strcmp(s.msg_text, text) == 0;
}

void close_dialog(AppContext &ctx)
{
    on_main([&] { destroy_msg_dialog(&ctx); });
}

void reset(GuiApp &app)
{
    status = STATUS_IDLE;
    app.settings.auto_logon = 0;
    gtk_widget_hide(app.widgets.window);
}

TEST(StartupGui, ErrorStatesShowTheirMessageAndOthersResetToIdle)
{
    GuiApp &app = gui_app();
    reset(app);
    run_script([&] {
        struct Row {
            int in, out;
            const char *title, *text;
        } rows[] = {
            {7, 5, "错误", "列举网卡失败！"},
            {8, 8, "错误", "没有找到可用网卡，请确保启用了网卡！"},
            {9, 5, "错误", "运行Corvix需要root权限！"},
            {10, 5, "温馨提示", "Corvix认证客户端已运行！"},
        };
        for (const Row &r : rows) {
            on_main([&] {
                status = r.in;
                main_error_handle(&app.ctx);
                EXPECT_EQ(r.out, status.load()) << "set before the dialog is requested";
            });
            ASSERT_TRUE(wait_for([&] { return dialog_says(app.settings, r.text); })) << r.in;
            EXPECT_STREQ(r.title, app.settings.msg_title);
            EXPECT_EQ(1, app.settings.msg_kind);
            EXPECT_EQ(1, app.settings.msg_buttons);
            EXPECT_EQ(r.out, status.load());
            close_dialog(app.ctx);
        }
        for (int s : {0, 1, 3, 4, 5, 6}) {
            on_main([&] {
                status = s;
                main_error_handle(&app.ctx);
                EXPECT_EQ(STATUS_IDLE, status.load()) << s;
                EXPECT_EQ(nullptr, app.settings.msg_dialog);
                EXPECT_FALSE(mutex.load()) << "no message for " << s;
            });
        }
    });
}

TEST(StartupGui, DecisionShowsTheWindowOrStartsTheLogon)
{
    GuiApp &app = gui_app();
    reset(app);
    run_script([&] {
        on_main([&] { startup_decision(&app.ctx); });
        EXPECT_TRUE(on_main([&] { return main_window_visible(app.ctx); }));
        EXPECT_EQ(nullptr, app.settings.msg_dialog);

        // Automatic log-on: no window, a worker at once. A hand-edited value
        // other than 1 counts as on, never as neither.
        for (int auto_logon : {1, 5}) {
            on_main([&] {
                reset(app);
                app.settings.auto_logon = auto_logon;
                startup_decision(&app.ctx);
            });
            EXPECT_TRUE(wait_for([&] { return dialog_says(app.settings, kWorkerNotice); }))
                << auto_logon;
            EXPECT_FALSE(on_main([&] { return main_window_visible(app.ctx); }));
            close_dialog(app.ctx);
        }
    });
}

TEST(StartupGui, DecisionReportsAStartupProblemInsteadOfLoggingOn)
{
    GuiApp &app = gui_app();
    reset(app);
    run_script([&] {
        on_main([&] {
            app.settings.auto_logon = 1;
            status = STATUS_ALREADY_RUNNING;
            startup_decision(&app.ctx);
        });
        EXPECT_TRUE(wait_for([&] { return dialog_says(app.settings, "Corvix认证客户端已运行！"); }));
        EXPECT_EQ(STATUS_ERROR, status.load());
        EXPECT_FALSE(on_main([&] { return main_window_visible(app.ctx); }));
        close_dialog(app.ctx);

        // A caller whose real user is not root hears about that, whatever the state said.
        on_main([&] {
            ASSERT_EQ(0, setresuid(65534, 0, 0));
            status = STATUS_ALREADY_RUNNING;
            startup_decision(&app.ctx);
            ASSERT_EQ(0, setresuid(0, 0, 0));
        });
        EXPECT_TRUE(wait_for([&] { return dialog_says(app.settings, "运行Corvix需要root权限！"); }));
        EXPECT_EQ(STATUS_ERROR, status.load());
        close_dialog(app.ctx);
    });
}

TEST(StartupGui, UnreadableSettingsFileIsReportedAndOkShowsTheWindow)
{
    GuiApp &app = gui_app();
    reset(app);
    run_script([&] {
        on_main([&] {
            app.settings.settings_unreadable = 1;
            startup_decision(&app.ctx);
        });
        EXPECT_TRUE(wait_for([&] { return dialog_says(app.settings, "读取配置文件失败！"); }));
        EXPECT_STREQ("错误", app.settings.msg_title);
        EXPECT_EQ(STATUS_IDLE, status.load());
        EXPECT_FALSE(on_main([&] { return main_window_visible(app.ctx); }));
        on_main([&] { on_button_ok_clicked(nullptr, &app.ctx); });
        EXPECT_TRUE(on_main([&] { return main_window_visible(app.ctx); }));
        on_main([&] { app.settings.settings_unreadable = 0; });
    });
}

TEST(StartupGui, LogonClickResetsAFailedStateAndStartsAWorker)
{
    GuiApp &app = gui_app();
    reset(app);
    run_script([&] {
        on_main([&] {
            gtk_widget_show_all(app.widgets.window);
            status = STATUS_FAILED;
            on_logon_button_clicked(app.widgets.logon_button, &app.ctx);
            EXPECT_FALSE(main_window_visible(app.ctx));
        });
        EXPECT_TRUE(wait_for([&] { return dialog_says(app.settings, kWorkerNotice); }));
        close_dialog(app.ctx);
    });
}

TEST(StartupGui, LogonClickWithoutAnInterfaceOnlyRepeatsTheMessage)
{
    GuiApp &app = gui_app();
    reset(app);
    run_script([&] {
        const char no_nic[] = "没有找到可用网卡，请确保启用了网卡！";
        on_main([&] {
            gtk_widget_show_all(app.widgets.window);
            status = STATUS_NO_NIC;
            on_logon_button_clicked(app.widgets.logon_button, &app.ctx);
            EXPECT_FALSE(main_window_visible(app.ctx));
        });
        EXPECT_TRUE(wait_for([&] { return dialog_says(app.settings, no_nic); }));
        // A worker, had one started, would replace the message within this time.
        EXPECT_FALSE(wait_for([&] { return !dialog_says(app.settings, no_nic); }, 700));
        EXPECT_EQ(STATUS_NO_NIC, status.load());
        close_dialog(app.ctx);
    });
}

}  // namespace
