// SPDX-License-Identifier: GPL-2.0-or-later
// The command lines of address acquisition and the post-login action, checked
// by letting /bin/sh parse them with the programs replaced by argument printers;
// the post-login page, opened without a shell by an opener found on PATH.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>
#include <sys/stat.h>
#include <unistd.h>

#include "app/shell.h"
#include "app/window_half.h"
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

// PATH holds only a folder with an opener that writes "[arg]..." to out;
// put back at the end of the scope.
struct OpenerOnPath {
    std::string dir, out, saved_path;
    explicit OpenerOnPath(const char *program)
    {
        char d[] = "/tmp/corvix-opener-XXXXXX";
        dir = mkdtemp(d) ? d : "/nonexistent";
        out = dir + "/args";
        if (program) {
            std::string stub = dir + "/" + program;
            FILE *f = std::fopen(stub.c_str(), "w");
            if (f) {
                std::fprintf(f, "#!/bin/sh\nfor a; do printf '[%%s]' \"$a\"; done >'%s.tmp'\nmv '%s.tmp' '%s'\n",
                             out.c_str(), out.c_str(), out.c_str());
                std::fclose(f);
            }
            chmod(stub.c_str(), 0755);
        }
        const char *path = getenv("PATH");
        saved_path = path ? path : "";
        setenv("PATH", (dir + ":/bin:/usr/bin").c_str(), 1);
    }
    ~OpenerOnPath()
    {
        setenv("PATH", saved_path.c_str(), 1);
        (void)std::system(("rm -rf '" + dir + "'").c_str());
    }
    std::string wait_args() const
    {
        for (int i = 0; i < 200; ++i) {
            FILE *f = std::fopen(out.c_str(), "r");
            if (f) {
                char buf[512] = {};
                size_t n = std::fread(buf, 1, sizeof buf - 1, f);
                std::fclose(f);
                return std::string(buf, n);
            }
            usleep(10000);
        }
        return "<the opener did not run>";
    }
};

TEST(PostLogin, PageOpenerIsXdgOpenOrElseGnomeOpen)
{
    const std::string url = "http://p/x?a=1&b=2";
    {
        OpenerOnPath path("xdg-open");
        EXPECT_EQ(page_opener_argv(url), (std::vector<std::string>{"xdg-open", url}));
    }
    OpenerOnPath path("gnome-open");
    EXPECT_EQ(page_opener_argv(url), (std::vector<std::string>{"gnome-open", url}));
}

TEST(PostLogin, QuoteInUrlIsOneArgumentAndRunsNothing)
{
    OpenerOnPath path("xdg-open");
    std::string url = "http://p/" + hostile() + " $(touch " + marker() + ")";
    ASSERT_TRUE(open_page(url));
    EXPECT_EQ(path.wait_args(), "[" + url + "]");
    struct stat st;
    EXPECT_NE(stat(marker().c_str(), &st), 0);
}

TEST(PostLogin, OnlyAWebPageIsOpened)
{
    OpenerOnPath path("xdg-open");
    for (const char *line : {"", "id -u", "file:///etc/passwd", "-h"})
        EXPECT_FALSE(open_page(line)) << line;
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
