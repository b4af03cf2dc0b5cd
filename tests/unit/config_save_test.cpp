// SPDX-License-Identifier: GPL-2.0-or-later
// The settings dialog's rules that need no window: reading the time-out,
// bounding the page entry's text, who counts as root, whose section a save
// writes, and a save that cannot be written.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/records.h"
#include "config/config_save.h"
#include "config/ini.h"
#include "config/settings.h"
#include "support/sandbox.h"
#include "support/scratch.h"

namespace {

TEST(ConfigSave, TimeoutTextTable)
{
    struct Row {
        const char *text;
        int seconds;
    };
    const Row rows[] = {
        {"", 800},     {"7", 800},       {"8", 8},         {"3600", 3600}, {"9999", 3600},
        {"-5", 800},   {"12ab", 12},     {"  42", 42},     {"+9", 9},      {"abc", 800},
        {"3601", 3600}, {"99999999999999999999", 3600},    {"-99999999999999999999", 800},
    };
    for (const Row &r : rows)
        EXPECT_EQ(timeout_from_text(r.text), r.seconds) << "[" << r.text << "]";
    EXPECT_EQ(timeout_from_text(nullptr), 800);
}

TEST(ConfigSave, UrlIsCutToTheFieldAtACharacterBoundary)
{
    const size_t field = sizeof(ClientSettings{}.url) - 1;
    ASSERT_EQ(field, 91u);
    std::string ascii(100, 'a');
    EXPECT_EQ(url_field_text(ascii), std::string(91, 'a'));
    EXPECT_EQ(url_field_text(std::string(91, 'b')), std::string(91, 'b'));

    // Three-byte characters: 7 + 3 * 28 = 91 bytes fit, the 29th does not.
    std::string wide;
    for (int i = 0; i < 40; i++)
        wide += "网";
    std::string cut = url_field_text("http://" + wide);
    EXPECT_EQ(cut, "http://" + wide.substr(0, 3 * 28));
    // One byte less room: the character that would straddle the end goes whole.
    cut = url_field_text("http:/" + std::string("x") + "/" + wide);
    EXPECT_EQ(cut.size(), 8u + 3 * 27);
    EXPECT_TRUE(g_utf8_validate(cut.c_str(), -1, nullptr));
    // Four-byte characters at every offset: always whole characters, never more than 91 bytes.
    for (int lead = 0; lead < 4; lead++) {
        std::string text(static_cast<size_t>(lead), 'p');
        for (int i = 0; i < 30; i++)
            text += "\xF0\x9F\x98\x80";
        std::string c = url_field_text(text);
        EXPECT_LE(c.size(), 91u);
        EXPECT_GE(c.size(), 88u);
        EXPECT_TRUE(g_utf8_validate(c.c_str(), -1, nullptr)) << lead;
    }
    // A line break would end the value in the file: the text stops there.
    EXPECT_EQ(url_field_text("http://a/\nrm -rf /"), "http://a/");
    EXPECT_EQ(url_field_text("http://a/\r\n"), "http://a/");
}

TEST(ConfigSave, OnlyRootIsRoot)
{
    EXPECT_TRUE(login_is_root("root"));
    EXPECT_FALSE(login_is_root("nobody"));
    EXPECT_FALSE(login_is_root(""));
    EXPECT_FALSE(login_is_root(nullptr));
    EXPECT_FALSE(login_is_root("no-such-user-corvix"));
}

// The machine-wide defaults root stored, with one stored account.
const char kDefaults[] =
    "[OPTION]\nUSER = 1\nAutoStart = 0\nAutoLogon = 0\nUseCorvixDhcp = 1\n"
    "TimeoutReconnect = 0\nTimeout = 800\nOpenUrl = 1\nUrl = /usr/local/bin/portal\n"
    "PrivateAuth = 0\nLassUserName = alice\nLassPassWord = \nLassDeviceName = eth0\n"
    "username1 = alice\npassword1 = \n";

ConfigChoice page_choice(const char *url)
{
    ConfigChoice c;
    c.open_url = true;
    c.url = url;
    c.use_own_dhcp = false;
    c.timeout_reconnect = true;
    c.timeout = "45";
    c.auto_start = true;
    c.private_auth = true;
    return c;
}

class SaveSections : public SettingsFolderTest {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(SettingsFolderTest::SetUp());
        std::ofstream(path_) << kDefaults;
    }
    // The options as a client started by uid loads them.
    ClientSettings view(uid_t uid)
    {
        ClientSettings s{};
        get_ini_message(&s, uid);
        g_list_free_full(s.users, g_free);
        g_list_free_full(s.devices, g_free);
        s.users = s.devices = nullptr;
        return s;
    }
    std::string value(const std::string &address)
    {
        IniFile *ini = ini_open(path_.c_str());
        char out[128] = "";
        if (ini)
            ini_get(ini, address.c_str(), out, sizeof out);
        ini_close(ini);
        return out;
    }
    std::string option_lines()
    {
        std::string text = file_text(path_);
        size_t other = text.find("\n[", 1);
        return other == std::string::npos ? text : text.substr(0, other + 1);
    }
};

TEST_F(SaveSections, AUsersSaveLandsInTheirSectionOnly)
{
    ClientSettings s = view(1000);
    ASSERT_EQ(ConfigSave::Saved, save_config(page_choice("http://portal.example/"), &s, 1000));
    EXPECT_EQ(kDefaults, option_lines()) << "[OPTION] is root's";
    EXPECT_EQ("http://portal.example/", value("UID1000@Url"));
    EXPECT_EQ("45", value("UID1000@Timeout"));

    ClientSettings mine = view(1000);
    EXPECT_STREQ("http://portal.example/", mine.url);
    EXPECT_EQ(1, mine.timeout_reconnect);
    EXPECT_EQ(45, mine.timeout);
    EXPECT_EQ(0, mine.use_own_dhcp);
    EXPECT_EQ(1, mine.auto_start);
    EXPECT_EQ(1, mine.private_auth);
    EXPECT_STREQ("eth0", mine.last_device) << "the rest of the file still read";
    for (uid_t other : {uid_t(0), uid_t(1001)}) {
        ClientSettings o = view(other);
        EXPECT_STREQ("/usr/local/bin/portal", o.url) << other;
        EXPECT_EQ(800, o.timeout) << other;
        EXPECT_EQ(1, o.use_own_dhcp) << other;
        EXPECT_EQ(0, o.auto_start) << other;
        EXPECT_EQ(0, o.private_auth) << other;
    }
    // A second save replaces the user's values instead of adding keys.
    ConfigChoice off = page_choice("");
    off.open_url = false;
    ASSERT_EQ(ConfigSave::Saved, save_config(off, &mine, 1000));
    EXPECT_EQ("0", value("UID1000@OpenUrl"));
    std::string text = file_text(path_);
    EXPECT_EQ(text.find("[UID1000]"), text.rfind("[UID1000]"));
    EXPECT_EQ(kDefaults, option_lines());
}

TEST_F(SaveSections, RootsSaveWritesTheMachineWideDefaults)
{
    ClientSettings s = view(0);
    ASSERT_EQ(ConfigSave::Saved, save_config(page_choice("/opt/new-portal"), &s, 0));
    EXPECT_EQ("/opt/new-portal", value("OPTION@Url"));
    EXPECT_EQ("45", value("OPTION@Timeout"));
    EXPECT_EQ(std::string::npos, file_text(path_).find("[UID")) << file_text(path_);
    EXPECT_STREQ("/opt/new-portal", view(1000).url) << "a user without own values sees root's";
}

TEST_F(SaveSections, AUserKeepsRootsProgramLineWithoutCopyingIt)
{
    ClientSettings s = view(1000);
    ASSERT_EQ(ConfigSave::Saved, save_config(page_choice("/usr/local/bin/portal"), &s, 1000));
    EXPECT_EQ("", value("UID1000@Url")) << "no program line in a user's section";
    EXPECT_STREQ("/usr/local/bin/portal", view(1000).url);
    EXPECT_EQ(ConfigSave::ProgramRefused, save_config(page_choice("/usr/bin/xterm"), &s, 1000));
    EXPECT_EQ("", value("UID1000@Url"));
}

// Each save of the settings file in a child whose file size limit is a few
// bytes (SIGXFSZ ignored, as the client does): the save must say it failed
// and the file must stay whole.
TEST_F(SaveSections, ASaveThatCannotBeWrittenSaysSoAndLeavesTheFileWhole)
{
    struct Row {
        const char *what;
        std::function<bool()> failed;
    };
    const std::vector<Row> rows = {
        {"settings of a user",
         [] {
             ClientSettings s{};
             ConfigSave r = save_config(page_choice("http://a.example/"), &s, 1000);
             return r == ConfigSave::WriteFailed && s.open_url == 0 && s.timeout == 0;
         }},
        {"settings of root",
         [] {
             ClientSettings s{};
             return save_config(page_choice("http://a.example/"), &s, 0) == ConfigSave::WriteFailed;
         }},
        {"log-on values",
         [] {
             ClientSettings s{};
             AppContext ctx{nullptr, &s};
             return set_msg("bob", "secret12", "eth1", &ctx) == 0;
         }},
        {"auto log-on", [] { return store_auto_logon(1, 0) == -1; }},
        {"account removal",
         [] {
             std::vector<std::string> names;
             return delete_stored_account("alice", 0, names) == -2 && names.empty();
         }},
    };
    for (const Row &row : rows) {
        std::string report = run_in_child(0, [&](ChildChecks &c) {
            struct rlimit small{16, 16};
            c.setup(signal(SIGXFSZ, SIG_IGN) != SIG_ERR && setrlimit(RLIMIT_FSIZE, &small) == 0,
                    "file size limit");
            c.expect(row.failed(), "reported as failed");
        });
        EXPECT_EQ("", report) << row.what;
        EXPECT_EQ(kDefaults, file_text(path_)) << row.what;
        EXPECT_EQ(0, std::system(("test \"$(ls -A " + dir_ + ")\" = Corvix.conf").c_str()))
            << row.what << ": no temporary file left";
    }
}

}  // namespace
