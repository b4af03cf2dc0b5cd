// SPDX-License-Identifier: GPL-2.0-or-later
#include "config/ini.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sched.h>
#include <set>
#include <random>
#include <sstream>
#include <string>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "app/startup.h"

namespace {

struct IniCloser {
    void operator()(IniFile *ini) const { ini_close(ini); }
};
using Store = std::unique_ptr<IniFile, IniCloser>;

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void write_file(const std::string &path, const std::string &text)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::set<std::string> list_dir(const std::string &dir)
{
    std::set<std::string> names;
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *e = readdir(d)) {
            if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
                names.insert(e->d_name);
        }
        closedir(d);
    }
    return names;
}

std::string get(IniFile *ini, const char *address)
{
    char out[256];
    return ini_get(ini, address, out, sizeof out);
}

// "section/key=value" for every entry, in list order, and a check of the list's ends and count.
std::vector<std::string> entries(const IniFile *ini)
{
    std::vector<std::string> out;
    const IniEntry *last = nullptr;
    for (const IniEntry *e = ini->first_entry; e; e = e->next) {
        out.push_back(std::string(e->section) + "/" + e->key + "=" + e->value);
        last = e;
    }
    EXPECT_EQ(last, ini->last_entry);
    EXPECT_EQ(static_cast<int32_t>(out.size()), ini->entry_count);
    return out;
}

class IniTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/ini_test.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        path = dir + "/Corvix.conf";
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    Store open_text(const std::string &text)
    {
        write_file(path, text);
        return Store(ini_open(path.c_str()));
    }

    std::string dir;
    std::string path;
};

TEST_F(IniTest, EntriesBeforeAnyHeaderBelongToGeneral)
{
    Store ini = open_text("a = 1\n[OPTION]\nUSER = 3\n");
    ASSERT_TRUE(ini);
    EXPECT_EQ(entries(ini.get()), (std::vector<std::string>{"General/a=1", "OPTION/USER=3"}));
    EXPECT_EQ(get(ini.get(), "a"), "1");
    EXPECT_EQ(get(ini.get(), "General@a"), "1");
    EXPECT_EQ(get(ini.get(), "USER"), "");  // the default section is General here
    EXPECT_EQ(get(ini.get(), "OPTION@USER"), "3");
}

TEST_F(IniTest, AddressWithoutSectionMeansFirstSectionAndCaseMatters)
{
    Store ini = open_text("[OPTION]\nUSER = 3\n");
    ASSERT_TRUE(ini);
    IniEntry *e = list_search(ini.get(), "OPTION@USER");
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(list_search(ini.get(), "USER"), e);
    EXPECT_EQ(list_search(ini.get(), "@USER"), e);
    EXPECT_EQ(list_search(ini.get(), "option@USER"), nullptr);
    EXPECT_EQ(list_search(ini.get(), "OPTION@user"), nullptr);
    EXPECT_EQ(list_search(ini.get(), "OPTION@USER "), nullptr);
    EXPECT_EQ(ini_set(ini.get(), "option@USER", "9"), 0);
    EXPECT_EQ(get(ini.get(), "USER"), "3");
}

TEST_F(IniTest, SeparatorsCommentsAndTrailingBlanks)
{
    Store ini = open_text("[S]\n"
                          "a=3\n  b = 3\n\tc: 3\nd 3\ne := 3\n"
                          "f = v # note\ng = v;note\nh = v\t\ni = a b  \n"
                          "# j = 1\n;k = 1\n\n   \n\r\n  # l = 1\n"
                          "m=a b  \nn :  #x; \no = :=x\np =  \tq\n");
    ASSERT_TRUE(ini);
    // A comment is a whole line: in the written form "key = value" everything
    // after " = " is the value; other forms skip separators and trailing blanks.
    EXPECT_EQ(entries(ini.get()),
              (std::vector<std::string>{"S/a=3", "S/b=3", "S/c=3", "S/d=3", "S/e=3",
                                        "S/f=v # note", "S/g=v;note", "S/h=v\t", "S/i=a b  ",
                                        "S/;k=1", "S/m=a b", "S/n=#x;", "S/o=:=x", "S/p= \tq"}));
}

TEST_F(IniTest, LastLineWithoutBreakAndCrLf)
{
    Store ini = open_text("[S]\r\na = 1\r\n\r\nb = 2");
    ASSERT_TRUE(ini);
    EXPECT_EQ(entries(ini.get()), (std::vector<std::string>{"S/a=1", "S/b=2"}));
}

TEST_F(IniTest, EmptyOrCommentOnlyFileGivesEmptyStoreMissingGivesNull)
{
    Store ini = open_text("# nothing\n\n   \n");
    ASSERT_TRUE(ini);
    EXPECT_EQ(ini->first_entry, nullptr);
    EXPECT_EQ(ini->entry_count, 0);
    EXPECT_EQ(list_search(ini.get(), "x"), nullptr);
    EXPECT_EQ(ini_open((dir + "/missing").c_str()), nullptr);
    EXPECT_EQ(ini_open(dir.c_str()), nullptr);  // a directory reads with an error
}

TEST_F(IniTest, DuplicateKeysFirstWinsAndBothAreWritten)
{
    Store ini = open_text("[S]\nk = 1\nk = 2\n");
    ASSERT_TRUE(ini);
    EXPECT_EQ(get(ini.get(), "S@k"), "1");
    EXPECT_EQ(ini_set(ini.get(), "S@k", "7"), 1);
    ASSERT_EQ(ini_save(ini.get()), 1);
    EXPECT_EQ(read_file(path), "[S]\nk = 7\nk = 2\n");
}

TEST_F(IniTest, SplitSectionKeepsTwoHeadersAndAppendGoesToFirstRun)
{
    Store ini = open_text("[A]\na = 1\n[B]\nb = 1\n[A]\nc = 1\n");
    ASSERT_TRUE(ini);
    EXPECT_EQ(list_search(ini.get(), "A@"), ini->first_entry);
    EXPECT_EQ(ini_append(ini.get(), "A@d", "2"), 1);
    EXPECT_STREQ(list_search(ini.get(), "A@")->key, "d");
    EXPECT_EQ(ini_append(ini.get(), "C@e", "3"), 1);  // new section: at the end
    EXPECT_EQ(ini->last_entry, list_search(ini.get(), "C@e"));
    ASSERT_EQ(ini_save(ini.get()), 1);
    EXPECT_EQ(read_file(path),
              "[A]\na = 1\nd = 2\n[B]\nb = 1\n[A]\nc = 1\n[C]\ne = 3\n");
}

TEST_F(IniTest, AppendAndSetRefusals)
{
    Store ini = open_text("[OPTION]\nUSER = 3\n");
    ASSERT_TRUE(ini);
    EXPECT_EQ(ini_append(ini.get(), "OPTION@USER", "9"), 0);
    EXPECT_EQ(ini_append(ini.get(), "USER", "9"), 0);
    EXPECT_EQ(get(ini.get(), "USER"), "3");
    EXPECT_EQ(ini_append(ini.get(), "OPTION@", "9"), 0);
    EXPECT_EQ(ini_append(ini.get(), "@", "9"), 0);
    EXPECT_EQ(ini_append(ini.get(), "", "9"), 0);
    EXPECT_EQ(ini_set(ini.get(), "OPTION@Missing", "9"), 0);
    EXPECT_EQ(ini_set_int(ini.get(), "Missing", 9), 0);
    // A line break in a key would write extra entries into the file.
    EXPECT_EQ(ini_append(ini.get(), "OPTION@a\nb", "1"), 0);
    // Names that would read back as something else once saved.
    for (const char *address : {"OPTION@USER = 99 #", "OPTION@k:v", "OPTION@a\tb", "OPTION@#k",
                                "OPTION@[k", "A]B@k", "A B@k"})
        EXPECT_EQ(ini_append(ini.get(), address, "1"), 0) << address;
    EXPECT_EQ(entries(ini.get()), (std::vector<std::string>{"OPTION/USER=3"}));
}

TEST_F(IniTest, LineBreaksInValuesAreEscapedAndForgeNoLines)
{
    Store ini = open_text("[OPTION]\nUSER = 3\n");
    ASSERT_TRUE(ini);
    ASSERT_EQ(ini_append(ini.get(), "OPTION@name", "x\nUSER = 99"), 1);
    ASSERT_EQ(ini_set(ini.get(), "OPTION@USER", "1\r\n[EVIL]%0A\r"), 1);
    ASSERT_EQ(ini_save(ini.get()), 1);
    EXPECT_EQ(read_file(path),
              "[OPTION]\nUSER =% 1%0D%0A[EVIL]%250A%0D\nname =% x%0AUSER = 99\n");
    Store again(ini_open(path.c_str()));
    ASSERT_TRUE(again);
    EXPECT_EQ(entries(again.get()),
              (std::vector<std::string>{"OPTION/USER=1\r\n[EVIL]%0A\r", "OPTION/name=x\nUSER = 99"}));
    // Escapes are read only in that form; a '%' that starts none stands for itself.
    Store hand = open_text("[S]\na =% %41%zz%4%00%0a\nb = %41\n");
    ASSERT_TRUE(hand);
    EXPECT_EQ(entries(hand.get()), (std::vector<std::string>{"S/a=A%zz%4%00\n", "S/b=%41"}));
}

TEST_F(IniTest, AppendUsesDefaultSectionAndKeepsKeyAtSigns)
{
    Store empty(ini_create(path.c_str()));
    ASSERT_TRUE(empty);
    EXPECT_EQ(ini_append(empty.get(), "k", "1"), 1);
    EXPECT_EQ(ini_append(empty.get(), "@m", "2"), 1);
    EXPECT_EQ(ini_append(empty.get(), "S@a@b", "3"), 1);
    EXPECT_EQ(get(empty.get(), "S@a@b"), "3");
    EXPECT_EQ(entries(empty.get()),
              (std::vector<std::string>{"General/k=1", "General/m=2", "S/a@b=3"}));
}

TEST_F(IniTest, LimitsAreRefusedNotCut)
{
    Store ini = open_text("[S]\nk = 1\n");
    ASSERT_TRUE(ini);
    std::string key61(61, 'x');  // "S@" + 61 = 63 bytes
    EXPECT_EQ(ini_append(ini.get(), ("S@" + key61).c_str(), "v"), 1);
    EXPECT_EQ(get(ini.get(), ("S@" + key61).c_str()), "v");
    std::string too_long = "S@" + key61 + "y";
    EXPECT_EQ(ini_append(ini.get(), too_long.c_str(), "v"), 0);
    EXPECT_EQ(list_search(ini.get(), too_long.c_str()), nullptr);
    // The completed address counts too: "S@" is added to a 62-byte key.
    EXPECT_EQ(ini_append(ini.get(), std::string(62, 'z').c_str(), "v"), 0);
    // key + " = " + value + "\n" may take 127 bytes, no more.
    EXPECT_EQ(ini_set(ini.get(), "S@k", std::string(122, 'v').c_str()), 1);
    EXPECT_EQ(ini_set(ini.get(), "S@k", std::string(123, 'w').c_str()), 0);
    EXPECT_EQ(get(ini.get(), "S@k"), std::string(122, 'v'));
    EXPECT_EQ(ini_append(ini.get(), "S@kk", std::string(122, 'v').c_str()), 0);
}

TEST_F(IniTest, GetStaysInsideTheBuffer)
{
    Store ini = open_text("[S]\nk = abcdef\n");
    ASSERT_TRUE(ini);
    char out[8];
    memset(out, '#', sizeof out);
    EXPECT_STREQ(ini_get(ini.get(), "S@k", out, 4), "abc");
    EXPECT_EQ(out[4], '#');
    EXPECT_EQ(ini_get(ini.get(), "S@k", out, 0), out);
    EXPECT_EQ(out[0], 'a');  // size 0: nothing written
    EXPECT_STREQ(ini_get(ini.get(), "S@none", out, sizeof out), "");
}

TEST_F(IniTest, IntegersReadAndWritten)
{
    Store ini = open_text("[S]\na =  42abc\nb = -7\nc = +5\nd = abc\ne = 99999999999\n"
                          "f = -99999999999\ng = 2147483647\n");
    ASSERT_TRUE(ini);
    EXPECT_EQ(ini_get_int(ini.get(), "S@a"), 42);
    EXPECT_EQ(ini_get_int(ini.get(), "S@b"), -7);
    EXPECT_EQ(ini_get_int(ini.get(), "S@c"), 5);
    EXPECT_EQ(ini_get_int(ini.get(), "S@d"), 0);
    EXPECT_EQ(ini_get_int(ini.get(), "S@e"), INT_MAX);
    EXPECT_EQ(ini_get_int(ini.get(), "S@f"), INT_MIN);
    EXPECT_EQ(ini_get_int(ini.get(), "S@g"), INT_MAX);
    EXPECT_EQ(ini_get_int(ini.get(), "S@none"), 0);
    EXPECT_EQ(ini_set_int(ini.get(), "S@a", INT_MIN), 1);
    EXPECT_EQ(get(ini.get(), "S@a"), "-2147483648");
    EXPECT_EQ(ini_append_int(ini.get(), "S@h", 800), 1);
    EXPECT_EQ(ini_get_int(ini.get(), "S@h"), 800);
}

TEST_F(IniTest, MalformedLinesStayWithinTheirLine)
{
    std::string line126 = "k = " + std::string(122, 'v');
    // 127 characters whose tail would read as an entry if the line were split.
    std::string line127 = "x = " + std::string(113, 'v') + "  y = evil";
    ASSERT_EQ(line127.size(), 127u);
    Store ini = open_text("[S]\n" + line126 + "\n" + line127 + "\n" +
                          "bare\n= 5\n: 6\n[T\nt = 1\n[" + std::string(64, 'L') +
                          "]\nlost = 1\n[U]\nnul = a" + std::string(1, '\0') + "b = c\n");
    ASSERT_TRUE(ini);
    EXPECT_EQ(entries(ini.get()),
              (std::vector<std::string>{"S/k=" + std::string(122, 'v'), "S/bare=", "T/t=1",
                                        "U/nul=a"}));
    // Entries that could not be written back are dropped too: too wide for one
    // line, a CR inside a key or a section name.
    Store cr = open_text("[S]\nLas\r \nk = 1\n[A\rB]\nx = 1\n");
    ASSERT_TRUE(cr);
    EXPECT_EQ(entries(cr.get()), (std::vector<std::string>{"S/k=1"}));
    EXPECT_EQ(ini_save(cr.get()), 1);
    Store wide = open_text("k=" + std::string(123, 'v') + "\nok=1\n");
    ASSERT_TRUE(wide);
    EXPECT_EQ(entries(wide.get()), (std::vector<std::string>{"General/ok=1"}));
}

TEST_F(IniTest, RemoveKeepsListEndsRight)
{
    Store ini = open_text("[S]\na = 1\nb = 2\nc = 3\n");
    ASSERT_TRUE(ini);
    EXPECT_EQ(ini_remove(ini.get(), "S@x"), 0);
    EXPECT_EQ(ini_remove(ini.get(), "S@a"), 1);  // first
    ASSERT_EQ(ini_save(ini.get()), 1);
    EXPECT_EQ(read_file(path), "[S]\nb = 2\nc = 3\n");
    EXPECT_EQ(ini_remove(ini.get(), "S@c"), 1);  // last
    EXPECT_EQ(ini->last_entry, ini->first_entry);
    EXPECT_EQ(ini_append(ini.get(), "N@z", "9"), 1);
    EXPECT_EQ(entries(ini.get()), (std::vector<std::string>{"S/b=2", "N/z=9"}));
    EXPECT_EQ(ini_remove(ini.get(), "S@b"), 1);
    EXPECT_EQ(ini_remove(ini.get(), "N@z"), 1);  // the only one
    EXPECT_EQ(ini->first_entry, nullptr);
    EXPECT_EQ(ini->last_entry, nullptr);
    EXPECT_EQ(ini->entry_count, 0);
    EXPECT_EQ(ini_append(ini.get(), "k", "1"), 1);  // empty again: General
    EXPECT_EQ(entries(ini.get()), (std::vector<std::string>{"General/k=1"}));
}

TEST_F(IniTest, EmptiedStoreIsNotSaved)
{
    const std::string before = "# keep\n[S]\na = 1\n";
    Store ini = open_text(before);
    ASSERT_TRUE(ini);
    ASSERT_EQ(ini_remove(ini.get(), "S@a"), 1);
    EXPECT_EQ(ini_save(ini.get()), 0);
    EXPECT_EQ(read_file(path), before);
}

TEST_F(IniTest, CreateTruncatesAndFirstRunFileRoundTrips)
{
    write_file(path, "old = 1\n");
    Store ini(ini_create(path.c_str()));
    ASSERT_TRUE(ini);
    EXPECT_EQ(read_file(path), "");
    EXPECT_EQ(ini_create((dir + "/no/such/dir").c_str()), nullptr);
    const char *ints[] = {"USER", "AutoStart", "AutoLogon", "UseCorvixDhcp", "TimeoutReconnect"};
    for (const char *k : ints)
        ASSERT_EQ(ini_append_int(ini.get(), (std::string("OPTION@") + k).c_str(), 0), 1);
    ASSERT_EQ(ini_append(ini.get(), "OPTION@Url", ""), 1);
    ASSERT_EQ(ini_append(ini.get(), "OPTION@LassPassWord", "bdf\t:x"), 1);
    ASSERT_EQ(ini_append(ini.get(), "Other@k", "v v"), 1);
    ASSERT_EQ(ini_save(ini.get()), 1);
    const std::string saved = read_file(path);
    EXPECT_EQ(saved, "[OPTION]\nUSER = 0\nAutoStart = 0\nAutoLogon = 0\nUseCorvixDhcp = 0\n"
                     "TimeoutReconnect = 0\nUrl = \nLassPassWord = bdf\t:x\n[Other]\nk = v v\n");
    Store again(ini_open(path.c_str()));
    ASSERT_TRUE(again);
    EXPECT_EQ(entries(again.get()), entries(ini.get()));
    ASSERT_EQ(ini_save(again.get()), 1);
    EXPECT_EQ(read_file(path), saved);
}

TEST_F(IniTest, SaveReplacesTheFileKeepingModeAndLeavesNoTemporary)
{
    Store ini = open_text("[S]\na = 1\n");
    ASSERT_TRUE(ini);
    ASSERT_EQ(chmod(path.c_str(), 0600), 0);
    ASSERT_EQ(ini_set(ini.get(), "S@a", "2"), 1);
    ASSERT_EQ(ini_save(ini.get()), 1);
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(read_file(path), "[S]\na = 2\n");
    EXPECT_EQ(list_dir(dir), std::set<std::string>{"Corvix.conf"});
}

TEST_F(IniTest, LinksAreNeitherReadNorWrittenThrough)
{
    const std::string link = dir + "/link.conf";
    write_file(path, "[S]\na = 1\n");
    ASSERT_EQ(symlink(path.c_str(), link.c_str()), 0);
    int error = 0;
    EXPECT_EQ(ini_load(link.c_str(), &error), nullptr);
    EXPECT_EQ(error, ELOOP);
    EXPECT_EQ(ini_create(link.c_str()), nullptr);
    // A store bound to the link's name (however it came to be) saves nothing.
    Store ini(ini_open(path.c_str()));
    ASSERT_TRUE(ini);
    free(ini->file_path);
    ini->file_path = strdup(link.c_str());
    EXPECT_EQ(ini_save(ini.get()), 0);
    struct stat st;
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(read_file(path), "[S]\na = 1\n");
    EXPECT_EQ(list_dir(dir), (std::set<std::string>{"Corvix.conf", "link.conf"}));
}

// ------------------------------------------------ what is read back

// Every byte a value can hold, alone and at the start, inside and at the end
// of a value, reads back exactly as it was stored.
TEST_F(IniTest, EveryByteOfAValueReadsBackExactly)
{
    Store ini(ini_create(path.c_str()));
    ASSERT_TRUE(ini);
    std::vector<std::string> want;
    for (int b = 1; b < 256; b++) {
        const std::string c(1, static_cast<char>(b));
        const std::string values[] = {c, c + "x", "x" + c + "x", "x" + c, c + c + c};
        for (size_t v = 0; v < 5; v++) {
            std::string key = "k" + std::to_string(b) + "_" + std::to_string(v);
            ASSERT_EQ(ini_append(ini.get(), ("S@" + key).c_str(), values[v].c_str()), 1) << b;
            want.push_back("S/" + key + "=" + values[v]);
        }
    }
    ASSERT_EQ(ini_save(ini.get()), 1);
    Store again(ini_open(path.c_str()));
    ASSERT_TRUE(again);
    EXPECT_EQ(entries(again.get()), want);
}

// Random values of random bytes (1..255) up to the longest a line can carry.
TEST_F(IniTest, RandomValuesRoundTripThroughTheFile)
{
    std::mt19937 rng(20261207);
    for (int round = 0; round < 40; round++) {
        Store ini(ini_create(path.c_str()));
        ASSERT_TRUE(ini);
        std::vector<std::string> want;
        for (int n = 0; n < 30; n++) {
            std::string value(rng() % 40, 'x');
            for (char &c : value)
                c = static_cast<char>(1 + rng() % 255);
            std::string key = "key" + std::to_string(n);
            ASSERT_EQ(ini_append(ini.get(), ("OPTION@" + key).c_str(), value.c_str()), 1);
            want.push_back("OPTION/" + key + "=" + value);
        }
        ASSERT_EQ(ini_save(ini.get()), 1);
        Store again(ini_open(path.c_str()));
        ASSERT_TRUE(again);
        ASSERT_EQ(entries(again.get()), want) << "round " << round;
    }
}

TEST_F(IniTest, ReadFailuresSayWhy)
{
    struct Case {
        std::string path;
        int error;
    } cases[] = {
        {dir + "/missing", ENOENT},
        {dir, EISDIR},
        {dir + "/link", ELOOP},
        {dir + "/big", EFBIG},
        {dir + "/missing/x", ENOENT},
    };
    write_file(path, "[S]\na = 1\n");
    ASSERT_EQ(symlink(path.c_str(), (dir + "/link").c_str()), 0);
    write_file(dir + "/big", std::string((1 << 20) + 1, '#'));
    for (const Case &c : cases) {
        int error = 0;
        EXPECT_EQ(ini_load(c.path.c_str(), &error), nullptr) << c.path;
        EXPECT_EQ(error, c.error) << c.path;
    }
    int error = -1;
    Store ini(ini_load(path.c_str(), &error));
    EXPECT_TRUE(ini);
    EXPECT_EQ(error, 0);
}

// ------------------------------------------------ modes, owners, leftovers

mode_t mode_of(const std::string &file)
{
    struct stat st{};
    return stat(file.c_str(), &st) == 0 ? (st.st_mode & 07777) : 07777;
}

TEST_F(IniTest, NewFilesAre0600WhateverTheUmaskAndASaveNeverWidens)
{
    mode_t old_umask = umask(0);
    Store ini(ini_create(path.c_str()));
    ASSERT_TRUE(ini);
    EXPECT_EQ(mode_of(path), 0600u);
    ASSERT_EQ(ini_append(ini.get(), "S@k", "v"), 1);
    struct {
        mode_t before, after;
    } rows[] = {{0666, 0600}, {0644, 0600}, {0600, 0600}, {0400, 0400}, {0200, 0200}, {0, 0}};
    for (const auto &r : rows) {
        ASSERT_EQ(chmod(path.c_str(), r.before), 0);
        ASSERT_EQ(ini_save(ini.get()), 1);
        EXPECT_EQ(mode_of(path), r.after) << std::oct << r.before;
    }
    // Emptying an existing file keeps its (narrow) mode.
    ASSERT_EQ(chmod(path.c_str(), 0400), 0);
    Store again(ini_create(path.c_str()));
    EXPECT_TRUE(again);
    EXPECT_EQ(mode_of(path), 0400u);
    umask(old_umask);
}

TEST_F(IniTest, SaveRemovesLeftoverTemporariesButNotOneInUse)
{
    for (const char *name : {"Corvix.conf.a1B2c3", "Corvix.conf.ZZZZZZ", "Corvix.conf.bak",
                             "Corvix.conf.a1B2c", "Corvix.conf.a1B2c3d", "Other.conf.a1B2c3",
                             "Corvix.conf.in_use"})
        write_file(dir + "/" + name, "old");
    // A save in progress elsewhere holds the lock on its temporary file.
    write_file(dir + "/Corvix.conf.Busy01", "writing");
    int busy = open((dir + "/Corvix.conf.Busy01").c_str(), O_RDONLY);
    ASSERT_GE(busy, 0);
    ASSERT_EQ(flock(busy, LOCK_EX), 0);
    ASSERT_EQ(mkdir((dir + "/Corvix.conf.Dir123").c_str(), 0700), 0);

    Store ini = open_text("[S]\na = 1\n");
    ASSERT_TRUE(ini);
    ASSERT_EQ(ini_save(ini.get()), 1);
    EXPECT_EQ(list_dir(dir),
              (std::set<std::string>{"Corvix.conf", "Corvix.conf.bak", "Corvix.conf.a1B2c",
                                     "Corvix.conf.a1B2c3d", "Other.conf.a1B2c3",
                                     "Corvix.conf.in_use", "Corvix.conf.Busy01",
                                     "Corvix.conf.Dir123"}));
    close(busy);
}

// Under a file-size limit the save fails and cleans up instead of the
// process dying half-way through it (which left an empty temporary file).
TEST_F(IniTest, FileSizeLimitFailsTheSaveAndLeavesNothingBehind)
{
    write_file(path, "[S]\na = 1\n");
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        set_process_defaults();
        struct rlimit limit = {64, 64};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
            _exit(10);
        Store ini(ini_open(path.c_str()));
        if (!ini)
            _exit(11);
        for (int i = 0; i < 20; i++)
            (void)ini_append(ini.get(), ("S@k" + std::to_string(i)).c_str(), "0123456789");
        _exit(ini_save(ini.get()) == 0 ? 0 : 12);
    }
    int st = 0;
    ASSERT_EQ(waitpid(pid, &st, 0), pid);
    ASSERT_TRUE(WIFEXITED(st)) << "killed by signal " << WTERMSIG(st);
    EXPECT_EQ(WEXITSTATUS(st), 0);
    EXPECT_EQ(read_file(path), "[S]\na = 1\n");
    EXPECT_EQ(list_dir(dir), std::set<std::string>{"Corvix.conf"});
}

TEST_F(IniTest, SaveIntoMissingDirectoryFails)
{
    Store ini(ini_create(path.c_str()));
    ASSERT_TRUE(ini);
    ASSERT_EQ(ini_append(ini.get(), "k", "1"), 1);
    free(ini->file_path);
    ini->file_path = strdup((dir + "/gone/Corvix.conf").c_str());
    EXPECT_EQ(ini_save(ini.get()), 0);
}

// ------------------------------------------------ saves that fail half-way

const char *const kOldText = "[OPTION]\nUSER = 1\n";

// A store of about 30 KB, more than the 16 KB file system below can hold.
int save_big_store(const std::string &file)
{
    Store ini(ini_create(file.c_str()));
    if (!ini)
        return 20;
    for (int i = 0; i < 300; i++) {
        std::string address = "OPTION@key" + std::to_string(i);
        if (ini_append(ini.get(), address.c_str(), std::string(90, 'v').c_str()) != 1)
            return 21;
    }
    write_file(file, kOldText);  // ini_create emptied it
    return ini_save(ini.get());
}

// Runs body(dir) in a child with a private mount namespace and a 16 KB tmpfs at
// dir; the child's exit status is body's result, or 100+ when setup failed.
int run_on_small_tmpfs(const std::string &dir, int (*body)(const std::string &))
{
    pid_t pid = fork();
    if (pid == 0) {
        if (unshare(CLONE_NEWNS) != 0)
            _exit(101);
        if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            _exit(102);
        if (mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=16k") != 0)
            _exit(103);
        _exit(body(dir));
    }
    int status = -1;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return 199;
    return WEXITSTATUS(status);
}

int full_disk_body(const std::string &dir)
{
    const std::string file = dir + "/Corvix.conf";
    int saved = save_big_store(file);
    if (saved != 0)
        return saved;
    if (read_file(file) != kOldText)
        return 2;
    if (list_dir(dir) != std::set<std::string>{"Corvix.conf"})
        return 3;  // the temporary file was left behind
    return 0;
}

int read_only_body(const std::string &dir)
{
    const std::string file = dir + "/Corvix.conf";
    write_file(file, kOldText);
    Store ini(ini_open(file.c_str()));
    if (!ini || ini_set(ini.get(), "OPTION@USER", "2") != 1)
        return 30;
    if (mount("tmpfs", dir.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, "size=16k") != 0)
        return 104;
    if (ini_save(ini.get()) != 0)
        return 1;
    return read_file(file) == kOldText ? 0 : 2;
}

void expect_intact_after_failed_save(const std::string &dir, int (*body)(const std::string &))
{
    ASSERT_EQ(geteuid(), 0u) << "this test mounts a tmpfs in a private mount namespace: run as root";
    int rc = run_on_small_tmpfs(dir, body);
    ASSERT_LT(rc, 100) << "could not set up the private mount namespace and tmpfs (code " << rc
                       << ")";
    EXPECT_NE(rc, 1) << "ini_save reported success";
    EXPECT_NE(rc, 2) << "the old file was changed";
    EXPECT_NE(rc, 3) << "a temporary file was left behind";
    EXPECT_EQ(rc, 0);
}

TEST_F(IniTest, SaveOntoFullFilesystemKeepsOldFile)
{
    expect_intact_after_failed_save(dir, full_disk_body);
}

TEST_F(IniTest, SaveIntoReadOnlyDirectoryKeepsOldFile)
{
    expect_intact_after_failed_save(dir, read_only_body);
}

} // namespace
