// SPDX-License-Identifier: GPL-2.0-or-later
// What the set-user-ID start hands the engine, whatever the user who starts
// it prepared: root's own resource limits, and the single-instance lock that
// no user process can take or fake. The installed client, run by an ordinary
// local user on their own display.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "app/instance_lock.h"
#include "app/privilege.h"
#include "support/attack.h"
#include "support/sandbox.h"
#include "support/scratch.h"

namespace {

const char kClient[] = "/usr/share/Corvix2/Corvix";

// One row of /proc/PID/limits as the kernel prints it: soft and hard value.
using LimitRows = std::vector<std::string>;

LimitRows limits_of(pid_t pid)
{
    LimitRows rows;
    std::istringstream in(file_text("/proc/" + std::to_string(pid) + "/limits"));
    std::string line;
    std::getline(in, line);  // the heading
    // The kernel prints "%-25s %-20s %-20s %-10s": name, soft, hard, units.
    while (std::getline(in, line) && line.size() > 47) {
        std::istringstream values(line.substr(26));
        std::string soft, hard;
        values >> soft >> hard;
        rows.push_back(soft + " " + hard);
    }
    return rows;
}

std::string limit_text(rlim_t v)
{
    return v == RLIM_INFINITY ? "unlimited" : std::to_string(v);
}

LimitRows rows_of(const ResourceLimits &l)
{
    LimitRows rows;
    for (const struct rlimit &one : l.of)
        rows.push_back(limit_text(one.rlim_cur) + " " + limit_text(one.rlim_max));
    return rows;
}

std::string joined(const LimitRows &rows)
{
    std::string out;
    for (size_t i = 0; i < rows.size(); i++)
        out += std::to_string(i) + ": " + rows[i] + "; ";
    return out;
}

// The engine beside the window, once the window has dropped to the user.
pid_t wait_engine(pid_t window, const AttackUser &u)
{
    std::string dropped = "Uid:\t" + std::to_string(u.uid);
    for (int i = 0; i < 300; i++) {
        pid_t engine = child_of(window);
        if (engine > 0 && file_text("/proc/" + std::to_string(window) + "/status").find(dropped) !=
                              std::string::npos)
            return engine;
        usleep(50 * 1000);
    }
    return -1;
}

// Every visible window of the display: id, process and name, for reports.
std::string windows_text(const UserDisplay &d)
{
    std::string out;
    std::istringstream ids(user_xdo(d, {"search", "--onlyvisible", "--name", "."}));
    for (std::string id; ids >> id;)
        out += id + " pid " + user_xdo(d, {"getwindowpid", id}) + " " + user_xdo(d, {"getwindowname", id});
    return out;
}

// Whether a process other than this one holds the instance lock now.
bool lock_is_held()
{
    std::string path = std::string(RUNTIME_DIR) + "/" + INSTANCE_LOCK_NAME;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool held = flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    close(fd);
    return held;
}

class RootStart : public ScratchTest {
protected:
    void SetUp() override
    {
        ASSERT_EQ(0u, geteuid()) << "needs root for namespaces and the test user";
        ASSERT_EQ(0, access(CORVIX_BINARY_DIR "/Corvix", X_OK)) << "build the Corvix target";
        ScratchTest::SetUp();
    }
    // fn with the client installed set-user-ID root, the test user and their
    // display, in mount and network namespaces of the test's own.
    std::string with_user_display(
        const std::function<void(ChildChecks &, const AttackUser &, const UserDisplay &,
                                 const std::vector<std::string> &env)> &fn)
    {
        std::string scratch = dir_;
        return run_in_child(CLONE_NEWNS | CLONE_NEWNET, [&](ChildChecks &c) {
            c.setup(mount("tmpfs", scratch.c_str(), "tmpfs", 0, "mode=0755") == 0, "tmpfs scratch");
            install_client(c, scratch);
            // An interface to offer, so that the start has nothing else to report.
            c.setup(std::system("ip link add cvh0 type veth peer name cvh1") == 0, "a veth pair");
            AttackUser u = attack_user_add(c, scratch);
            UserDisplay d = user_display_up(c, u, "Net/DoubleClickTime 400\n");
            fn(c, u, d, {"DISPLAY=" + d.display, "HOME=" + u.home, "LANG=C.UTF-8", "PATH=/usr/bin:/bin",
                         "ASAN_OPTIONS=detect_leaks=0"});
            user_display_down(d);
        });
    }
};

// The soft values of rows, the ones that limit.
LimitRows soft_of(const LimitRows &rows)
{
    LimitRows out;
    for (const std::string &row : rows)
        out.push_back(row.substr(0, row.find(' ')));
    return out;
}

// What the caller sets with prlimit: soft limits only (root may always raise
// them), or hard ones too (raising those takes CAP_SYS_RESOURCE). The process
// limit counts every process of the user's id on the machine, other tests'
// too, so it is one that no test comes near.
struct CallerLimits {
    const char *name;
    std::vector<std::string> args;
    bool hard;
};

void PrintTo(const CallerLimits &p, std::ostream *os) { *os << p.name; }

class RootStartLimits : public RootStart, public ::testing::WithParamInterface<CallerLimits> {};

TEST_P(RootStartLimits, EngineRunsWithRootsLimitsAndTheWindowWithTheCallers)
{
    const CallerLimits &p = GetParam();
    EXPECT_EQ("", with_user_display([&](ChildChecks &c, const AttackUser &u, const UserDisplay &d,
                                        const std::vector<std::string> &env) {
        std::vector<std::string> argv{"/usr/bin/prlimit"};
        argv.insert(argv.end(), p.args.begin(), p.args.end());
        argv.push_back(kClient);
        pid_t window = spawn_as(u, argv, env);
        pid_t engine = wait_engine(window, u);
        c.expect(engine > 0, "the client split in two");
        if (engine <= 0) {
            stop_group(window);
            return;  // the display must still come down, or it keeps the report open
        }
        LimitRows engine_rows = limits_of(engine), window_rows = limits_of(window);
        std::string engine_ids = file_text("/proc/" + std::to_string(engine) + "/status");
        bool error_shown = !user_find_window(d, "错误", window, p.hard ? 5000 : 0).empty();

        // Everything the caller had: this process' limits with prlimit's changes.
        ResourceLimits caller = current_limits();
        for (int r : {RLIMIT_FSIZE, RLIMIT_NOFILE, RLIMIT_NPROC}) {
            rlim_t v = r == RLIMIT_FSIZE ? 39 : r == RLIMIT_NOFILE ? 8 : 4000;
            caller.of[r] = {v, p.hard ? v : caller.of[r].rlim_max};
        }
        c.expect(window_rows == rows_of(caller),
                 "window: " + joined(window_rows) + " caller's: " + joined(rows_of(caller)));
        if (p.hard && !has_sys_resource()) {
            // Root's limits are out of reach here: nothing runs as root under the caller's.
            std::string user = "Uid:\t" + std::to_string(u.uid) + "\t" + std::to_string(u.uid);
            c.expect(engine_ids.find(user) != std::string::npos, "the engine gave up root: " + engine_ids);
            c.expect(engine_rows == rows_of(caller), "engine: " + joined(engine_rows));
            c.expect(error_shown, "the window reports that root is missing");
        } else {
            c.expect(engine_ids.find("Uid:\t0\t0\t0\t0") != std::string::npos, "engine is root");
            c.expect(soft_of(engine_rows) == soft_of(rows_of(root_default_limits())),
                     "engine: " + joined(engine_rows) + " root's: " + joined(rows_of(root_default_limits())));
            c.expect(!error_shown, "no error at the start");
        }
        stop_group(window);
        kill(engine, SIGKILL);
    }));
}

INSTANTIATE_TEST_SUITE_P(
    Prlimit, RootStartLimits,
    ::testing::Values(CallerLimits{"SoftOnly", {"--fsize=39:", "--nofile=8:", "--nproc=4000:"}, false},
                      CallerLimits{"Hard", {"--fsize=39", "--nofile=8", "--nproc=4000"}, true}),
    [](const ::testing::TestParamInfo<CallerLimits> &i) { return std::string(i.param.name); });

TEST_F(RootStart, NoUserProgramNamedCorvixBlocksAStartAndNoOtherNameStartsASecond)
{
    std::string scratch = dir_;
    EXPECT_EQ("", with_user_display([&](ChildChecks &c, const AttackUser &u, const UserDisplay &d,
                                        const std::vector<std::string> &env) {
        // Another set-user-ID program under the client's name, waiting for a
        // password that never comes: root's, named Corvix, for as long as the user likes.
        std::string fake = u.home + "/Corvix", second = u.home + "/cvx2";
        c.setup(symlink("/usr/bin/passwd", fake.c_str()) == 0 && symlink(kClient, second.c_str()) == 0,
                "links in the user's home");
        int never[2];
        c.setup(pipe2(never, O_CLOEXEC) == 0, "a password that never comes");
        pid_t blocker = spawn_as(u, {"/bin/sh", "-c", "exec \"$HOME/Corvix\" <&9 2>/dev/null"}, env, never[0]);
        usleep(300 * 1000);
        std::string proc = "/proc/" + std::to_string(blocker);
        bool blocking = file_text(proc + "/comm") == "Corvix\n" &&
                        file_text(proc + "/status").find("Uid:\t" + std::to_string(u.uid) + "\t0\t") !=
                            std::string::npos;
        c.expect(blocking, "passwd runs as root under the name Corvix: " + file_text(proc + "/comm"));
        if (!blocking) {
            stop_group(blocker);
            return;  // the display must still come down, or it keeps the report open
        }

        pid_t first = spawn_as(u, {kClient}, env);
        pid_t engine = wait_engine(first, u);
        c.expect(engine > 0, "the client started");
        c.expect(!user_find_window(d, "Corvix认证客户端", first, 10000).empty(),
                 "its main window is shown: " + windows_text(d));
        c.expect(user_find_window(d, "温馨提示", first, 0).empty(), "no reminder of another instance");
        c.expect(lock_is_held(), "the engine holds the instance lock");

        // The client under another name, while the first runs: refused.
        pid_t other = spawn_as(u, {second}, env);
        std::string reminder = user_find_window(d, "温馨提示", other, 10000);
        c.expect(!reminder.empty(), "the second start shows the reminder");
        c.expect(user_find_window(d, "Corvix认证客户端", other, 0).empty(),
                 "the second start shows no main window");
        // Its OK button (focused) ends it as the refusal always did.
        std::istringstream at(user_xdo(d, {"getwindowgeometry", "--shell", reminder}));
        int x = 0, y = 0, w = 0, h = 0;
        for (std::string line; std::getline(at, line);) {
            int *v = line[0] == 'X' ? &x : line[0] == 'Y' ? &y : line[0] == 'W' ? &w : line[0] == 'H' ? &h : nullptr;
            if (v && line.find('=') != std::string::npos)
                *v = std::atoi(line.c_str() + line.find('=') + 1);
        }
        user_xdo(d, {"mousemove", std::to_string(x + w / 2), std::to_string(y + h / 2), "key", "Return"});
        int st = -1;
        for (int i = 0; i < 100 && waitpid(other, &st, WNOHANG) != other; i++)
            usleep(50 * 1000);
        c.expect(WIFEXITED(st) && WEXITSTATUS(st) == 0, "the refused start ended with 0: " + std::to_string(st));
        c.expect(lock_is_held(), "the first engine still holds the lock");

        stop_group(other);
        stop_group(first);
        kill(engine, SIGKILL);
        c.expect(file_text("/proc/" + std::to_string(blocker) + "/comm") == "Corvix\n",
                 "the fake Corvix ran throughout");
        stop_group(blocker);
        close(never[1]);
        close(never[0]);
        for (int i = 0; i < 100 && lock_is_held(); i++)
            usleep(50 * 1000);
        c.expect(!lock_is_held(), "the lock is free once the engine has gone");
    }));
}

}  // namespace
