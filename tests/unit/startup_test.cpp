// SPDX-License-Identifier: GPL-2.0-or-later
// What the root process keeps from its caller and the start-up messages.
#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/environment.h"
#include "app/records.h"
#include "app/texts.h"
#include "app/startup.h"

namespace {

using Env = std::vector<std::string>;

bool has(const Env &env, const std::string &entry)
{
    return std::find(env.begin(), env.end(), entry) != env.end();
}

bool has_name(const Env &env, const std::string &name)
{
    return std::any_of(env.begin(), env.end(), [&](const std::string &e) {
        return e.compare(0, name.size() + 1, name + "=") == 0;
    });
}

std::vector<std::string> args(std::vector<const char *> argv)
{
    argv.push_back(nullptr);
    return gtk_safe_args(static_cast<int>(argv.size()) - 1, argv.data());
}

TEST(ReducedEnvironment, KeepsDisplayXauthorityAndLocaleOnly)
{
    Env in = {"DISPLAY=:0", "XAUTHORITY=/home/u/.Xauthority", "LANG=zh_CN.UTF-8",
              "LANGUAGE=zh_CN:en", "LC_ALL=C", "LC_MESSAGES=zh_CN.GB18030",
              "HOME=/home/u", "PATH=/home/u/bin:/usr/bin", "LD_PRELOAD=/tmp/x.so",
              "GTK_MODULES=evil", "GTK2_RC_FILES=/tmp/rc", "GTK_PATH=/tmp",
              "XDG_CONFIG_HOME=/tmp", "DBUS_SESSION_BUS_ADDRESS=unix:path=/x",
              "GDK_PIXBUF_MODULE_FILE=/tmp/l", "IFS=x", "SHELL=/bin/evil"};
    Env out = reduced_environment(in, "/home/u");
    Env want = {"DISPLAY=:0", "XAUTHORITY=/home/u/.Xauthority", "LANG=zh_CN.UTF-8",
                "LANGUAGE=zh_CN:en", "LC_ALL=C", "LC_MESSAGES=zh_CN.GB18030",
                "PATH=/usr/sbin:/usr/bin:/sbin:/bin", "DBUS_SESSION_BUS_ADDRESS="};
    EXPECT_EQ(want, out);
}

TEST(ReducedEnvironment, MissingXauthorityPointsAtTheRealUsersFile)
{
    Env out = reduced_environment({"DISPLAY=:1"}, "/home/alice");
    EXPECT_TRUE(has(out, "XAUTHORITY=/home/alice/.Xauthority"));
    // No usable home: no guess at all.
    EXPECT_FALSE(has_name(reduced_environment({"DISPLAY=:1"}, ""), "XAUTHORITY"));
    EXPECT_FALSE(has_name(reduced_environment({"DISPLAY=:1"}, "relative"), "XAUTHORITY"));
}

TEST(ReducedEnvironment, RefusesValuesThatCouldNameOtherFiles)
{
    Env out = reduced_environment(
        {"LANG=../../tmp/x", "LANGUAGE=/tmp/po", "LC_CTYPE=.hidden", "LC_NUMERIC=",
         "LC_TIME=a b", "DISPLAY=:0;rm", "XAUTHORITY=relative/file"},
        "");
    EXPECT_EQ((Env{"PATH=/usr/sbin:/usr/bin:/sbin:/bin", "DBUS_SESSION_BUS_ADDRESS="}), out);
    std::string long_lang = "LANG=" + std::string(65, 'a');
    EXPECT_FALSE(has_name(reduced_environment({long_lang}, ""), "LANG"));
    EXPECT_TRUE(has_name(reduced_environment({"LANG=" + std::string(64, 'a')}, ""), "LANG"));
}

TEST(ReducedEnvironment, FirstOfDuplicatesRulesAndMalformedEntriesGo)
{
    // getenv sees the first entry, so a bad first one must not let a second through.
    Env out = reduced_environment({"LANG=../x", "LANG=C", "=x", "noequals", "DISPLAY=:0",
                                   "DISPLAY=:9"},
                                  "");
    EXPECT_FALSE(has_name(out, "LANG"));
    EXPECT_TRUE(has(out, "DISPLAY=:0"));
    EXPECT_FALSE(has(out, "DISPLAY=:9"));
    // An emptied XAUTHORITY (unreadable for the caller) falls back to the user's own.
    out = reduced_environment({"XAUTHORITY=", "XAUTHORITY=/root/.Xauthority"}, "/home/b");
    EXPECT_TRUE(has(out, "XAUTHORITY=/home/b/.Xauthority"));
    EXPECT_FALSE(has(out, "XAUTHORITY=/root/.Xauthority"));
}

// What the window takes back once it runs as the user: the desktop's own
// settings, bounded, the first of a name; nothing the root process refuses.
TEST(DesktopEnvironment, KeepsTheUsersGtkAndDesktopSettingsOnly)
{
    Env in = {"GTK_MODULES=gail:atk-bridge", "HOME=/home/u", "GTK_PATH=/a\nb", "GTK_PATH=/b",
              "XDG_DATA_HOME=/" + std::string(4095, 'x'), "GTK_IM_MODULE=fcitx", "GTK_IM_MODULE=xim",
              "DISPLAY=:0", "LANG=C", "PATH=/home/u/bin", "LD_PRELOAD=/tmp/x.so", "=gail", "GTK_RC_FILES"};
    EXPECT_EQ((Env{"GTK_MODULES=gail:atk-bridge", "HOME=/home/u", "GTK_IM_MODULE=fcitx"}), desktop_environment(in));
}

// The process' own environment after reduce_environment(), checked in a
// child so the test runner keeps its own.
TEST(ReduceEnvironment, ReplacesTheProcessEnvironment)
{
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        clearenv();
        setenv("LD_PRELOAD", "/tmp/x.so", 1);
        setenv("HOME", "/tmp/evil", 1);
        setenv("GTK_MODULES", "evil", 1);
        setenv("PATH", "/tmp/evil", 1);
        setenv("DISPLAY", ":7", 1);
        setenv("LANG", "C.UTF-8", 1);
        setenv("XAUTHORITY", "/nonexistent/corvix/Xauthority", 1);
        char home[] = "/tmp/corvix-home-XXXXXX";
        if (!mkdtemp(home))
            _exit(2);
        std::string home_auth = std::string(home) + "/.Xauthority";
        FILE *f = std::fopen(home_auth.c_str(), "w");
        if (!f || std::fclose(f) != 0)
            _exit(3);
        reduce_environment_for(home);
        unlink(home_auth.c_str());
        rmdir(home);
        int bad = 0;
        bad |= getenv("LD_PRELOAD") || getenv("HOME") || getenv("GTK_MODULES");
        bad |= std::string(getenv("PATH") ? getenv("PATH") : "") != "/usr/sbin:/usr/bin:/sbin:/bin";
        bad |= std::string(getenv("DISPLAY") ? getenv("DISPLAY") : "") != ":7";
        bad |= std::string(getenv("LANG") ? getenv("LANG") : "") != "C.UTF-8";
        const char *dbus = getenv("DBUS_SESSION_BUS_ADDRESS");
        bad |= !dbus || *dbus;
        // An XAUTHORITY the caller cannot read gives way to the user's own.
        bad |= std::string(getenv("XAUTHORITY") ? getenv("XAUTHORITY") : "") != home_auth;
        // A fallback that is not there (or not readable) is no XAUTHORITY at all.
        setenv("XAUTHORITY", "/nonexistent/corvix/Xauthority", 1);
        reduce_environment_for(home);
        bad |= getenv("XAUTHORITY") != nullptr;
        _exit(bad);
    }
    int st = 0;
    ASSERT_EQ(pid, waitpid(pid, &st, 0));
    ASSERT_TRUE(WIFEXITED(st));
    EXPECT_EQ(0, WEXITSTATUS(st));
}

TEST(GtkSafeArgs, PassesOnlyTheDisplay)
{
    EXPECT_EQ((std::vector<std::string>{"Corvix"}),
              args({"/tmp/whatever", "--gtk-module=/tmp/evil.so", "--gtk-module", "x",
                    "--g-fatal-warnings", "--gdk-debug=all", "--sync", "--name=x"}));
    EXPECT_EQ((std::vector<std::string>{"Corvix", "--display=:3"}),
              args({"Corvix", "--gtk-module=x", "--display", ":3", "--display=:4"}));
    EXPECT_EQ((std::vector<std::string>{"Corvix", "--display=host:0.0"}),
              args({"Corvix", "--display=host:0.0"}));
    // A display value that is no display name is dropped, as is anything after "--".
    EXPECT_EQ((std::vector<std::string>{"Corvix"}), args({"Corvix", "--display=:0 x"}));
    EXPECT_EQ((std::vector<std::string>{"Corvix"}), args({"Corvix", "--", "--display=:0"}));
    EXPECT_EQ((std::vector<std::string>{"Corvix"}), args({"Corvix", "--display"}));
}

TEST(GtkSafeArgs, EmptyCommandLine)
{
    EXPECT_EQ((std::vector<std::string>{"Corvix"}), gtk_safe_args(0, nullptr));
    const char *only_null[] = {nullptr};
    EXPECT_EQ((std::vector<std::string>{"Corvix"}), gtk_safe_args(0, only_null));
}

TEST(StartupMessage, TableOfStatesAndTexts)
{
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
        const StartupMessage *m = startup_message(r.in);
        ASSERT_NE(nullptr, m) << r.in;
        EXPECT_EQ(r.out, m->status_out);
        EXPECT_STREQ(r.title, text_of(m->title));
        EXPECT_STREQ(r.text, text_of(m->text));
        EXPECT_LT(std::strlen(text_of(m->text)), sizeof(ClientSettings{}.msg_text));
        EXPECT_LT(std::strlen(text_of(m->title)), sizeof(ClientSettings{}.msg_title));
    }
    for (int s : {0, 1, 2, 3, 4, 5, 6, 11, -1})
        EXPECT_EQ(nullptr, startup_message(s)) << s;
}

}  // namespace
