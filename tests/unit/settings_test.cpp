// SPDX-License-Identifier: GPL-2.0-or-later
// The settings file: first run, loading rules, stored accounts and the
// password scrambling.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/records.h"
#include "config/ini.h"
#include "config/settings.h"
#include "support/scratch.h"

namespace {

std::string scrambled(const std::string &clear)
{
    std::vector<char> buf(clear.begin(), clear.end());
    buf.push_back('\0');
    encrypt(buf.data());
    return buf.data();
}

std::string unscrambled(const std::string &stored)
{
    std::vector<char> buf(stored.begin(), stored.end());
    buf.push_back('\0');
    decrypt(buf.data());
    return buf.data();
}

TEST(Scramble, PublishedExamples)
{
    EXPECT_EQ("CDE", scrambled("abc"));
    EXPECT_EQ("bdf", scrambled("123"));
    EXPECT_EQ("abc", unscrambled("CDE"));
    EXPECT_EQ("123", unscrambled("bdf"));
    // Characters whose stored form the file reader cuts or skips.
    EXPECT_EQ("#", scrambled("A"));
    EXPECT_EQ(";", scrambled("Y"));
    EXPECT_EQ(":", scrambled("X"));
    EXPECT_EQ("=", scrambled("["));
    EXPECT_EQ(" ", scrambled(">"));
}

TEST(Scramble, RoundTripsForLettersDigitsAndColonToTilde)
{
    std::string all;
    for (char c = '0'; c <= '9'; c++)
        all += c;
    for (char c = ':'; c <= '~'; c++)
        all += c;
    for (size_t start = 0; start < all.size(); start++) {
        std::string pw = all.substr(start, 20);
        EXPECT_EQ(pw, unscrambled(scrambled(pw))) << pw;
    }
}

TEST(Scramble, SignedBytesAndPositions)
{
    // Bytes 0x80..0xff count as negative: they take the "+49+i" branch.
    EXPECT_EQ("\xb1", scrambled("\x80"));
    EXPECT_EQ("0", scrambled("\xff"));
    // 0x81 at position 1: -127 + 49 + 1 = -77, stored as 0xb3.
    EXPECT_EQ("C\xb3", scrambled("a\x81"));
    // 0xff at position 1: -1 + 49 + 1 = 49.
    EXPECT_EQ("b1", scrambled("1\xff"));
    // Stored bytes at or below 96, negative ones too, take "+30" back.
    EXPECT_EQ("\x9e", unscrambled("\x80"));
    // A blank comes back only where b + i >= 48.
    EXPECT_NE(" ", unscrambled(scrambled(" ")));
    std::string at16 = std::string(16, 'a') + " ";
    EXPECT_EQ(at16, unscrambled(scrambled(at16)));
}

TEST(Scramble, AByteTurnedZeroEndsTheText)
{
    // 0xcf at position 0: -49 + 49 + 0 = 0.
    char text[] = "\xcf" "abc";
    encrypt(text);
    EXPECT_EQ('\0', text[0]);
    EXPECT_EQ(std::string("abc"), std::string(text + 1));  // never reached
    char back[] = "\xe2" "xyz";  // -30 + 30 = 0
    decrypt(back);
    EXPECT_EQ('\0', back[0]);
    EXPECT_EQ(std::string("xyz"), std::string(back + 1));
}

class SettingsFile : public SettingsFolderTest {
protected:
    void TearDown() override
    {
        free_lists(s_);
        SettingsFolderTest::TearDown();
    }

    void write(const std::string &text)
    {
        std::ofstream(path_) << text;
    }
    std::string read() const
    {
        std::ifstream in(path_);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    // Loads a file made of the OPTION header and these lines.
    void load(const std::string &lines)
    {
        write("[OPTION]\n" + lines);
        get_ini_message(&s_);
    }
    static std::vector<std::string> names(GList *list)
    {
        std::vector<std::string> out;
        for (GList *l = list; l; l = l->next)
            out.push_back(static_cast<const char *>(l->data));
        return out;
    }
    static void free_lists(ClientSettings &s)
    {
        g_list_free_full(s.users, g_free);
        g_list_free_full(s.devices, g_free);
        s.users = s.devices = nullptr;
    }

    ClientSettings s_{};
};

const char kFirstRunFile[] =
    "[OPTION]\nUSER = 0\nAutoStart = 0\nAutoLogon = 0\nUseCorvixDhcp = 1\n"
    "TimeoutReconnect = 0\nTimeout = 800\nOpenUrl = 0\nUrl = \nPrivateAuth = 0\n"
    "LassUserName = \nLassPassWord = \nLassDeviceName = \n";

TEST_F(SettingsFile, FirstRunWritesTheTwelveKeysAndUsesTheirValues)
{
    get_ini_message(&s_);
    EXPECT_EQ(kFirstRunFile, read());
    struct stat st;
    ASSERT_EQ(0, stat(path_.c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 07777) << "scrambled passwords are root's alone";
    EXPECT_EQ(1, s_.use_own_dhcp);
    EXPECT_EQ(800, s_.timeout);
    EXPECT_EQ(nullptr, s_.users);
    EXPECT_EQ(0, s_.auto_logon);
    EXPECT_EQ(0, s_.timeout_reconnect);
    EXPECT_STREQ("", s_.last_device);

    // The second run reads the same values back from the file.
    ClientSettings again{};
    get_ini_message(&again);
    EXPECT_EQ(1, again.use_own_dhcp);
    EXPECT_EQ(800, again.timeout);
    free_lists(again);
    EXPECT_EQ(kFirstRunFile, read());
}

TEST_F(SettingsFile, UnwritableFolderStillGivesUsableValues)
{
    path_ = dir_ + "/missing/Corvix.conf";
    settings_path = path_.c_str();
    get_ini_message(&s_);
    EXPECT_EQ(800, s_.timeout) << "a read time-out of 0 would wait forever";
    EXPECT_EQ(1, s_.use_own_dhcp);
    EXPECT_NE(0, access((dir_ + "/missing").c_str(), F_OK));
}

TEST_F(SettingsFile, TimeoutIsUsedOnlyWithReconnectAndWithin8To3600)
{
    struct Row {
        const char *reconnect, *timeout;
        int want;
    } rows[] = {{"0", "100", 800}, {"1", "7", 800},    {"1", "8", 8},
                {"1", "3600", 3600}, {"1", "3601", 800}, {"1", "-5", 800},
                {"1", "abc", 800}, {"0", "8", 800},     {"1", "42", 42}};
    for (const Row &r : rows) {
        ClientSettings s{};
        write(std::string("[OPTION]\nTimeoutReconnect = ") + r.reconnect +
              "\nTimeout = " + r.timeout + "\n");
        get_ini_message(&s);
        EXPECT_EQ(r.want, s.timeout) << r.reconnect << " " << r.timeout;
        free_lists(s);
    }
}

TEST_F(SettingsFile, OptionsAndAccountsLoad)
{
    load("USER = 3\nAutoStart = 1\nAutoLogon = 1\nUseCorvixDhcp = 0\nTimeoutReconnect = 1\n"
         "Timeout = 30\nOpenUrl = 1\nUrl = http://portal/\nPrivateAuth = 1\n"
         "LassUserName = bob\nLassPassWord = " + scrambled("secret12") + "\n"
         "LassDeviceName = eth9\nusername1 = alice\npassword1 = \nusername2 = bob\n"
         "password2 = x\nusername3 = carol\npassword3 = y\n");
    EXPECT_EQ((std::vector<std::string>{"carol", "bob", "alice"}), names(s_.users));
    EXPECT_EQ(1, s_.auto_start);
    EXPECT_EQ(1, s_.auto_logon);
    EXPECT_EQ(0, s_.use_own_dhcp);
    EXPECT_EQ(1, s_.timeout_reconnect);
    EXPECT_EQ(30, s_.timeout);
    EXPECT_EQ(1, s_.open_url);
    EXPECT_STREQ("http://portal/", s_.url);
    EXPECT_EQ(1, s_.private_auth);
    EXPECT_STREQ("bob", s_.last_user);
    EXPECT_STREQ("", s_.last_password) << "passwords stay in the engine";
    EXPECT_EQ(1, s_.last_password_stored);
    EXPECT_STREQ("eth9", s_.last_device);
}

// A user's own section over the machine-wide [OPTION]: each row is what the
// user's section holds and what a client started by uid reads.
TEST_F(SettingsFile, AUsersOwnValuesAreReadOverTheDefaults)
{
    const std::string defaults =
        "[OPTION]\nAutoStart = 1\nUseCorvixDhcp = 1\nTimeoutReconnect = 1\nTimeout = 30\n"
        "OpenUrl = 1\nUrl = /usr/local/bin/portal\nPrivateAuth = 0\n";
    struct Row {
        uid_t uid;
        const char *own;  // the lines of [UID1000]
        int auto_start, own_dhcp, reconnect, timeout, open_url, private_auth;
        const char *url;
    } rows[] = {
        {1000, "", 1, 1, 1, 30, 1, 0, "/usr/local/bin/portal"},
        {1000, "AutoStart = 0\nUseCorvixDhcp = 0\nPrivateAuth = 1\n", 0, 0, 1, 30, 1, 1,
         "/usr/local/bin/portal"},
        {1000, "OpenUrl = 1\nUrl = https://my.example/\n", 1, 1, 1, 30, 1, 0, "https://my.example/"},
        // A program line runs as root: only root's [OPTION] can hold one.
        {1000, "Url = /home/u/evil\n", 1, 1, 1, 30, 1, 0, "/usr/local/bin/portal"},
        {1000, "OpenUrl = 0\nUrl = \n", 1, 1, 1, 30, 0, 0, "/usr/local/bin/portal"},
        {1000, "Timeout = 99\n", 1, 1, 1, 99, 1, 0, "/usr/local/bin/portal"},
        {1000, "TimeoutReconnect = 0\nTimeout = 99\n", 1, 1, 0, 800, 1, 0, "/usr/local/bin/portal"},
        {1000, "Timeout = 5\n", 1, 1, 1, 800, 1, 0, "/usr/local/bin/portal"},
        // Another user, and root, see the defaults alone.
        {1001, "AutoStart = 0\nTimeout = 99\nUrl = http://x.example/\n", 1, 1, 1, 30, 1, 0,
         "/usr/local/bin/portal"},
        {0, "AutoStart = 0\nTimeout = 99\nUrl = http://x.example/\n", 1, 1, 1, 30, 1, 0,
         "/usr/local/bin/portal"},
    };
    for (const Row &r : rows) {
        write(defaults + "[UID1000]\n" + r.own);
        ClientSettings s{};
        get_ini_message(&s, r.uid);
        SCOPED_TRACE(std::to_string(r.uid) + ": " + r.own);
        EXPECT_EQ(r.auto_start, s.auto_start);
        EXPECT_EQ(r.own_dhcp, s.use_own_dhcp);
        EXPECT_EQ(r.reconnect, s.timeout_reconnect);
        EXPECT_EQ(r.timeout, s.timeout);
        EXPECT_EQ(r.open_url, s.open_url);
        EXPECT_EQ(r.private_auth, s.private_auth);
        EXPECT_STREQ(r.url, s.url);
        free_lists(s);
    }
    EXPECT_EQ("UID1000", user_section(1000));
}

TEST_F(SettingsFile, AccountValuesAreReadOnlyWithStoredAccounts)
{
    load("USER = 0\nAutoLogon = 1\nLassUserName = bob\nLassPassWord = CDE\n"
         "LassDeviceName = eth9\n");
    EXPECT_EQ(0, s_.auto_logon);
    EXPECT_STREQ("", s_.last_user);
    EXPECT_STREQ("", s_.last_password);
    EXPECT_STREQ("eth9", s_.last_device);
}

TEST_F(SettingsFile, HandEditedCountsNeverInventAccounts)
{
    load("USER = -2\nAutoLogon = 1\nusername1 = a\npassword1 = \n");
    EXPECT_EQ(nullptr, s_.users);
    EXPECT_EQ(0, s_.auto_logon) << "a negative count is no account";
    free_lists(s_);

    load("USER = 5\nAutoLogon = 7\nusername1 = a\npassword1 = \nusername4 = d\n");
    EXPECT_EQ((std::vector<std::string>{"d", "a"}), names(s_.users));
    EXPECT_EQ(1, s_.auto_logon) << "any non-zero flag is on";
}

TEST_F(SettingsFile, TextsThatDoNotFitTheirFieldsAreNotCut)
{
    std::string url91(91, 'u'), url92(92, 'u');
    load("Url = " + url91 + "\nLassDeviceName = " + std::string(60, 'd') + "\n");
    EXPECT_EQ(url91, s_.url);
    EXPECT_STREQ("", s_.last_device);
    load("Url = " + url92 + "\nLassDeviceName = " + std::string(59, 'd') + "\n");
    EXPECT_STREQ("", s_.url) << "a cut command line would run something else";
    EXPECT_EQ(std::string(59, 'd'), s_.last_device);
    // A stored password longer than the entry admits is not recalled.
    load("USER = 1\nusername1 = a\npassword1 = " + scrambled(std::string(21, 'p')) + "\n");
    char clear[21] = "x";
    EXPECT_EQ(1, stored_password("a", 0, clear));
    EXPECT_STREQ("", clear);
}

TEST_F(SettingsFile, Utf8AccountNamesListedInAUtf8Locale)
{
    ASSERT_NE(nullptr, std::setlocale(LC_ALL, "C.UTF-8"));
    load("USER = 2\nusername1 = 张三\npassword1 = \nusername2 = li\npassword2 = \n");
    std::setlocale(LC_ALL, "C");
    EXPECT_EQ((std::vector<std::string>{"li", "张三"}), names(s_.users));
}

class StoreAfterLogon : public SettingsFile {
protected:
    void SetUp() override
    {
        SettingsFile::SetUp();
        ClientSettings first{};
        get_ini_message(&first);  // the first-run file
        free_lists(first);
        ctx_.settings = &s_;
    }
    AppContext ctx_{nullptr, nullptr};
};

TEST_F(StoreAfterLogon, NewAccountsAppendAndKnownOnesKeepTheirNumber)
{
    s_.auto_logon = 1;
    set_msg("alice", "ignored", "eth0", &ctx_);
    set_msg("bob", "ignored", "eth1", &ctx_);
    set_msg("alice", "ignored", "eth2", &ctx_);
    EXPECT_EQ(
        "[OPTION]\nUSER = 2\nAutoStart = 0\nAutoLogon = 1\nUseCorvixDhcp = 1\n"
        "TimeoutReconnect = 0\nTimeout = 800\nOpenUrl = 0\nUrl = \nPrivateAuth = 0\n"
        "LassUserName = alice\nLassPassWord = \nLassDeviceName = eth2\n"
        "username1 = alice\npassword1 = \nowner1 = 0\nusername2 = bob\npassword2 = \n"
        "owner2 = 0\n",
        read());
}

TEST_F(StoreAfterLogon, LineBreaksAreStoredWithoutForgingLines)
{
    set_msg("eve\nUrl = /tmp/x", "p", "eth0\r\nOpenUrl = 1", &ctx_);
    IniFile *ini = ini_open(path_.c_str());
    ASSERT_NE(nullptr, ini);
    char value[128];
    EXPECT_STREQ("eve\nUrl = /tmp/x", ini_get(ini, "OPTION@LassUserName", value, sizeof value));
    EXPECT_STREQ("eve\nUrl = /tmp/x", ini_get(ini, "OPTION@username1", value, sizeof value));
    EXPECT_STREQ("eth0\r\nOpenUrl = 1", ini_get(ini, "OPTION@LassDeviceName", value, sizeof value));
    EXPECT_STREQ("", ini_get(ini, "OPTION@Url", value, sizeof value));
    EXPECT_EQ(0, ini_get_int(ini, "OPTION@OpenUrl"));
    EXPECT_EQ(15, ini->entry_count);  // the twelve options and one account with its owner
    ini_close(ini);
}

TEST_F(StoreAfterLogon, NegativeCountStartsAtOne)
{
    write("[OPTION]\nUSER = -4\nLassUserName = \nLassPassWord = \nLassDeviceName = \n"
          "AutoLogon = 0\n");
    set_msg("zed", "p", "eth0", &ctx_);
    EXPECT_EQ("[OPTION]\nUSER = 1\nLassUserName = zed\nLassPassWord = \n"
              "LassDeviceName = eth0\nAutoLogon = 0\nusername1 = zed\npassword1 = \n"
              "owner1 = 0\n",
              read());
}

// What each user finds at their next start after the log-ons below.
TEST_F(StoreAfterLogon, EachUsersLogOnsAreTheirsAndClaimOnlyUnownedAccounts)
{
    write("[OPTION]\nUSER = 1\nAutoLogon = 1\nLassUserName = root-acct\nLassPassWord = \n"
          "LassDeviceName = eth0\nusername1 = alice\npassword1 = " + scrambled("old-pass") + "\n");
    s_.remember_password = 1;
    s_.auto_logon = 1;
    s_.real_uid = 1000;
    ASSERT_EQ(1, set_msg("alice", "new-pass", "eth1", &ctx_));
    s_.real_uid = 1001;
    s_.auto_logon = 0;
    ASSERT_EQ(1, set_msg("alice", "his-pass", "eth2", &ctx_));
    struct Row {
        uid_t uid;
        std::vector<std::string> users;
        const char *last_user, *last_device;
        int stored, auto_logon;
        const char *password;  // what the engine would use for alice
    } rows[] = {
        {1000, {"alice"}, "alice", "eth1", 1, 1, "new-pass"},
        {1001, {"alice"}, "alice", "eth2", 1, 0, "his-pass"},
        {1002, {}, "", "eth0", 0, 0, ""},
        {0, {"alice"}, "root-acct", "eth0", 0, 1, "new-pass"},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.uid);
        ClientSettings s{};
        get_ini_message(&s, r.uid);
        EXPECT_EQ(r.users, names(s.users));
        EXPECT_STREQ(r.last_user, s.last_user);
        EXPECT_STREQ(r.last_device, s.last_device);
        EXPECT_EQ(r.stored, s.last_password_stored);
        EXPECT_EQ(r.auto_logon, s.auto_logon);
        EXPECT_STREQ("", s.last_password);
        char clear[21] = "";
        (void)stored_password("alice", r.uid, clear);
        EXPECT_STREQ(r.password, clear);
        free_lists(s);
    }
    std::string text = read();
    EXPECT_NE(std::string::npos, text.find("owner1 = 1000\n")) << text;
    EXPECT_NE(std::string::npos, text.find("owner2 = 1001\n")) << text;
    EXPECT_EQ(1, store_auto_logon(0, 1000));
    EXPECT_NE(std::string::npos, read().find("[UID1000]\nAutoLogon = 0\n")) << read();
    EXPECT_NE(std::string::npos, read().find("[OPTION]\nUSER = 2\nAutoLogon = 1\n")) << read();
}

TEST_F(StoreAfterLogon, MissingFileIsReportedAndNothingCreated)
{
    ASSERT_EQ(0, unlink(path_.c_str()));
    testing::internal::CaptureStdout();
    set_msg("alice", "p", "eth0", &ctx_);
    EXPECT_EQ("open config file error!\n", testing::internal::GetCapturedStdout());
    EXPECT_NE(0, access(path_.c_str(), F_OK));
}

}  // namespace
