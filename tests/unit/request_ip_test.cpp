// SPDX-License-Identifier: GPL-2.0-or-later
// The command lines of address acquisition and the post-login action, checked
// by letting /bin/sh parse them with the programs replaced by argument printers.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "app/shell.h"
#include "dhcp/request_ip.h"

namespace {

const std::string kDiscard = ">/dev/null 2>/dev/null";
// Would create marker() if a quote in a value ended the quoting.
std::string marker() { return "/tmp/corvix-quote-" + std::to_string(getpid()); }
std::string hostile() { return "x'; touch " + marker() + "; echo '"; }

// Output of /bin/sh -c script.
std::string sh_output(const std::string &script)
{
    FILE *p = popen(("/bin/sh -c " + shell_quote(script)).c_str(), "r");
    if (!p)
        return "<popen failed>";
    std::string out;
    char buf[256];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    pclose(p);
    return out;
}

// The arguments that sh passes to program when it runs line, as "[a][b]...":
// program is found first in a folder where it is an argument printer.
std::string argv_of(const std::string &program, const std::string &line)
{
    char dir[] = "/tmp/corvix-stub-XXXXXX";
    if (!mkdtemp(dir))
        return "<mkdtemp failed>";
    std::string stub = std::string(dir) + "/" + program;
    FILE *f = std::fopen(stub.c_str(), "w");
    if (!f)
        return "<stub not written>";
    std::fputs("#!/bin/sh\nfor a; do printf '[%s]' \"$a\"; done\n", f);
    std::fclose(f);
    chmod(stub.c_str(), 0755);
    std::string out = sh_output("PATH=" + std::string(dir) + ":$PATH; " + line);
    unlink(stub.c_str());
    rmdir(dir);
    return out;
}

AddressSettings settings(int own, int open_url, const std::string &url)
{
    return AddressSettings{own, open_url, url, "user1"};
}

TEST(AddressCommand, CompanionProgramWinsEvenWithDhclient)
{
    AddressCommand c = choose_address_command(settings(1, 1, "run-me"), "eth0", true);
    EXPECT_EQ(c.line, "/usr/share/Corvix2/CorvixDHCP -e 'eth0'" + kDiscard);
    EXPECT_FALSE(c.url_used);
}

TEST(AddressCommand, DhclientRunsByTheProbedPath)
{
    AddressCommand c = choose_address_command(settings(0, 1, "run-me"), "eth0", true);
    EXPECT_EQ(c.line, "/sbin/dhclient 'eth0'" + kDiscard);
    EXPECT_FALSE(c.url_used);
}

TEST(AddressCommand, ProgramLineFromUrlOnlyWithoutDhclient)
{
    AddressCommand c = choose_address_command(settings(0, 1, "udhcpc -i eth0"), "eth0", false);
    EXPECT_EQ(c.line, "udhcpc -i eth0");
    EXPECT_TRUE(c.url_used);
    // An upper-case HTTP:// is a program line; https:// is a page and never
    // runs as the (root) address command.
    EXPECT_TRUE(choose_address_command(settings(0, 1, "HTTP://a"), "eth0", false).url_used);
    EXPECT_EQ(choose_address_command(settings(0, 1, "https://a"), "eth0", false).line, "");
}

TEST(AddressCommand, NoneWithoutAnyWayToGetAnAddress)
{
    EXPECT_EQ(choose_address_command(settings(0, 1, "http://portal/"), "eth0", false).line, "");
    EXPECT_EQ(choose_address_command(settings(0, 1, ""), "eth0", false).line, "");
    EXPECT_EQ(choose_address_command(settings(0, 0, "udhcpc"), "eth0", false).line, "");
}

TEST(AddressCommand, InterfaceNameCannotEscapeItsQuoting)
{
    std::string dev = "e'0;id";
    std::string own = choose_address_command(settings(1, 0, ""), dev, false).line;
    std::string dh = choose_address_command(settings(0, 0, ""), dev, true).line;
    for (const std::string &prefix : {std::string("/usr/share/Corvix2/CorvixDHCP -e "),
                                      std::string("/sbin/dhclient ")}) {
        const std::string &line = prefix[1] == 'u' ? own : dh;
        ASSERT_EQ(line.compare(0, prefix.size(), prefix), 0) << line;
        ASSERT_EQ(line.compare(line.size() - kDiscard.size(), kDiscard.size(), kDiscard), 0);
        std::string arg = line.substr(prefix.size(), line.size() - prefix.size() - kDiscard.size());
        EXPECT_EQ(argv_of("p", "p " + arg), "[" + dev + "]");
    }
}

TEST(PostLogin, WebPageTest)
{
    EXPECT_TRUE(is_web_page("http://portal/"));
    EXPECT_TRUE(is_web_page("http://"));
    EXPECT_FALSE(is_web_page("http:/"));
    EXPECT_TRUE(is_web_page("https://portal/"));
    EXPECT_FALSE(is_web_page("https:/portal/"));
    EXPECT_FALSE(is_web_page("HTTP://portal/"));
    EXPECT_FALSE(is_web_page(""));
}

TEST(PostLogin, PageOpensAsTheUserOnDisplayZero)
{
    std::string line = page_command("user1", "http://p/x?a=1&b=2");
    EXPECT_EQ(argv_of("su", line), "[-l][user1][-c][DISPLAY=:0 gnome-open 'http://p/x?a=1&b=2']");
    std::string inner = "DISPLAY=:0 gnome-open 'http://p/x?a=1&b=2'";
    EXPECT_EQ(argv_of("gnome-open", inner), "[http://p/x?a=1&b=2]");
}

TEST(PostLogin, QuoteInUrlRunsNothing)
{
    std::string url = "http://p/" + hostile();
    std::string line = page_command("user1", url);
    std::string args = argv_of("su", line);
    // Exactly four arguments; the fourth, run by the user's shell, opens the url whole.
    ASSERT_EQ(args.rfind("[-l][user1][-c][DISPLAY=:0 gnome-open ", 0), 0u) << args;
    std::string inner = args.substr(std::string("[-l][user1][-c][").size());
    inner.pop_back();
    EXPECT_EQ(argv_of("gnome-open", inner), "[" + url + "]");
    struct stat st;
    EXPECT_NE(stat(marker().c_str(), &st), 0);
}

TEST(PostLogin, ProgramLineRunsAsTheUserThroughSu)
{
    std::string line = program_line_command("user1", "firefox " + hostile());
    EXPECT_EQ(argv_of("su", line), "[-s][/bin/sh][-c][firefox " + hostile() + "][--][user1]");
    std::string odd_user = program_line_command("a'b", "true");
    EXPECT_EQ(argv_of("su", odd_user), "[-s][/bin/sh][-c][true][--][a'b]");
}

TEST(AddressCheck, OnlyARealAddressCounts)
{
    const uint8_t bad[][4] = {{169, 254, 3, 7}, {169, 1, 2, 3}, {0, 0, 0, 0}, {255, 255, 255, 255}};
    for (const auto &ip : bad)
        EXPECT_FALSE(address_obtained(ip)) << int(ip[0]) << "." << int(ip[1]);
    const uint8_t good[][4] = {{10, 20, 30, 40}, {168, 254, 1, 1}, {0, 0, 0, 1}, {255, 255, 255, 254}};
    for (const auto &ip : good)
        EXPECT_TRUE(address_obtained(ip)) << int(ip[0]) << "." << int(ip[3]);
}

}  // namespace
