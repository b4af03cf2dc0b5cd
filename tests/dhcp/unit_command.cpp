// SPDX-License-Identifier: GPL-2.0-or-later
// The command line, checked in the function and on the real executable.
#include <gtest/gtest.h>

#include <string>
#include <sys/wait.h>
#include <vector>

#include "dhcp_run.h"

namespace {

const char *parse(std::vector<const char *> args)
{
    args.insert(args.begin(), "CorvixDHCP");
    return dhcp_parse_command_line(int(args.size()), const_cast<char **>(args.data()));
}

TEST(CommandLine, OnlyDashEAndAnInterfaceName)
{
    EXPECT_STREQ(parse({"-e", "eth0"}), "eth0");
    EXPECT_STREQ(parse({"-e", "enp0s31f6"}), "enp0s31f6");
    EXPECT_STREQ(parse({"-e", "abcdefghijklmno"}), "abcdefghijklmno"); // 15, the most
    EXPECT_EQ(parse({}), nullptr);
    EXPECT_EQ(parse({"-e"}), nullptr);
    EXPECT_EQ(parse({"eth0"}), nullptr);
    EXPECT_EQ(parse({"-i", "eth0"}), nullptr);
    EXPECT_EQ(parse({"-e", "eth0", "-d"}), nullptr);
    EXPECT_EQ(parse({"-e", ""}), nullptr);
    EXPECT_EQ(parse({"-e", "abcdefghijklmnop"}), nullptr);
    EXPECT_EQ(parse({"-e", "../eth0"}), nullptr);
    EXPECT_EQ(parse({"-e", "eth0:1"}), nullptr);
    EXPECT_EQ(parse({"-e", "eth 0"}), nullptr);
    EXPECT_EQ(parse({"-e", ".."}), nullptr);
    EXPECT_EQ(parse({"-ee", "eth0"}), nullptr);
}

struct Outcome {
    int status;
    std::string err;
};

Outcome run(const std::string &args)
{
    std::string cmd = std::string(CORVIXDHCP_EXE) + " " + args + " 2>&1 >/dev/null";
    FILE *p = popen(cmd.c_str(), "r");
    Outcome o{-1, ""};
    if (!p)
        return o;
    char buf[256];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        o.err.append(buf, n);
    int st = pclose(p);
    o.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return o;
}

TEST(CommandLine, ProgramPrintsUsageAndExitsWithTwo)
{
    for (const char *args : {"", "-e", "-h", "-e eth0 extra", "-x eth0", "-e abcdefghijklmnopq"}) {
        Outcome o = run(args);
        EXPECT_EQ(o.status, 2) << args;
        EXPECT_EQ(o.err, "usage: CorvixDHCP -e IFNAME\n") << args;
    }
}

TEST(CommandLine, UnknownInterfaceIsAFailureNotAUsageError)
{
    Outcome o = run("-e nosuchif0");
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find("nosuchif0"), std::string::npos);
}

} // namespace
