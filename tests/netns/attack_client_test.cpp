// SPDX-License-Identifier: GPL-2.0-or-later
// The installed set-user-ID client against an ordinary local user who runs
// their own X settings manager: whatever GTK loads through it must run with
// the user's ids, never root's.
#include <gtest/gtest.h>

#include <sched.h>
#include <sys/mount.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <dirent.h>
#include <signal.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/attack.h"
#include "support/sandbox.h"
#include "support/scratch.h"

namespace {

// The value of one line ("Uid", "CapEff", ...) of /proc/PID/status.
std::string status_field(pid_t pid, const std::string &name)
{
    std::istringstream in(file_text("/proc/" + std::to_string(pid) + "/status"));
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, name.size() + 1, name + ":") == 0) {
            std::string v = line.substr(name.size() + 1);
            for (char &ch : v)
                ch = ch == '\t' ? ' ' : ch;
            size_t a = v.find_first_not_of(' '), b = v.find_last_not_of(' ');
            return a == std::string::npos ? "" : v.substr(a, b - a + 1);
        }
    }
    return "";
}

std::set<std::string> socket_inodes(pid_t pid)
{
    std::set<std::string> out;
    std::string dir = "/proc/" + std::to_string(pid) + "/fd";
    DIR *d = opendir(dir.c_str());
    if (!d)
        return out;
    while (dirent *e = readdir(d)) {
        char target[256] = {};
        std::string link = dir + "/" + e->d_name;
        if (readlink(link.c_str(), target, sizeof target - 1) > 0 &&
            std::strncmp(target, "socket:[", 8) == 0)
            out.insert(std::string(target + 8, std::strlen(target) - 9));
    }
    closedir(d);
    return out;
}

// Inodes of the client ends of every connection to an X server here: the
// peers of the server's sockets, which carry its path.
std::set<std::string> x_client_inodes()
{
    RunResult r = run_program({"/usr/bin/ss", "-x", "-a", "-n"}, "/");
    std::set<std::string> out;
    std::istringstream in(r.out);
    std::string line;
    while (std::getline(in, line)) {
        if (line.find("X11-unix") == std::string::npos)
            continue;
        std::istringstream f(line);
        std::vector<std::string> cols;
        std::string col;
        while (f >> col)
            cols.push_back(col);
        if (cols.size() >= 8 && cols.back() != "0")
            out.insert(cols.back());
    }
    return out;
}

bool meets(const std::set<std::string> &a, const std::set<std::string> &b)
{
    for (const std::string &x : a) {
        if (b.count(x))
            return true;
    }
    return false;
}

// The window has the user's ids and no capability; the engine has root's
// ids and no connection to the display.
void expect_halves(ChildChecks &c, pid_t window, pid_t engine, const AttackUser &u)
{
    std::string uid = std::to_string(u.uid), gid = std::to_string(u.gid);
    c.expect(status_field(window, "Uid") == uid + " " + uid + " " + uid + " " + uid,
             "window Uid: " + status_field(window, "Uid"));
    c.expect(status_field(window, "Gid") == gid + " " + gid + " " + gid + " " + gid,
             "window Gid: " + status_field(window, "Gid"));
    c.expect(status_field(window, "Groups") == gid, "window Groups: " + status_field(window, "Groups"));
    // Without CAP_NET_RAW no capture device opens.
    c.expect(status_field(window, "CapEff") == "0000000000000000" &&
                 status_field(window, "CapPrm") == "0000000000000000",
             "window capabilities: " + status_field(window, "CapEff"));
    if (engine <= 0)
        return;
    c.expect(status_field(engine, "Uid") == "0 0 0 0", "engine Uid: " + status_field(engine, "Uid"));
    c.expect(status_field(engine, "Gid") == "0 0 0 0", "engine Gid: " + status_field(engine, "Gid"));
    c.expect(status_field(engine, "Groups").empty(), "engine Groups: " + status_field(engine, "Groups"));
    std::set<std::string> x = x_client_inodes();
    c.expect(meets(socket_inodes(window), x), "the window is connected to the display");
    c.expect(!meets(socket_inodes(engine), x), "the engine is connected to the display");
}

void stop_engine(pid_t engine)
{
    if (engine > 0) {
        kill(engine, SIGKILL);
        // Reaped by the PID namespace's first process: its parent has gone.
    }
}

class ClientAttackBase : public ScratchTest {
protected:
    void SetUp() override
    {
        ASSERT_EQ(0u, geteuid()) << "needs root for namespaces and the test user";
        ASSERT_EQ(0, access(CORVIX_BINARY_DIR "/Corvix", X_OK)) << "build the Corvix target";
        ScratchTest::SetUp();
    }
    // Runs fn in a child with mount and network namespaces of its own, the
    // client installed set-user-ID root and the test user added; its report.
    std::string with_client_and_user(const std::function<void(ChildChecks &, const AttackUser &)> &fn)
    {
        std::string scratch = dir_;
        return run_in_child(CLONE_NEWNS | CLONE_NEWNET, [&](ChildChecks &c) {
            c.setup(mount("tmpfs", scratch.c_str(), "tmpfs", 0, "mode=0755") == 0, "tmpfs scratch");
            install_client(c, scratch);
            fn(c, attack_user_add(c, scratch));
        });
    }
};

// How the user hands GTK the probe: through their X settings manager (a
// module, a theme's engine) or their environment (GTK_MODULES, a resource
// file in GTK2_RC_FILES), which the window takes back once it is the user.
enum Way : int { SettingsModule, SettingsTheme, EnvironmentModule, EnvironmentRcFile };
const char *const kWayNames[] = {"GtkModule", "ThemeEngine", "EnvironmentModule", "EnvironmentRcFile"};

class ClientAttack : public ClientAttackBase, public ::testing::WithParamInterface<Way> {};

TEST_P(ClientAttack, NothingTheUsersDisplayLoadsRunsAsRoot)
{
    Way way = GetParam();
    EXPECT_EQ("", with_client_and_user([&](ChildChecks &c, const AttackUser &u) {
        std::string probe = place_probe(c, u);
        std::string theme = place_theme(c, u, probe);
        const std::string settings[] = {"Gtk/Modules \"" + probe + "\"\n", "Net/ThemeName \"" + theme + "\"\n",
                                        "", ""};
        const std::string variable[] = {"", "", "GTK_MODULES=" + probe,
                                        "GTK2_RC_FILES=" + u.home + "/.themes/CvxProbe/gtk-2.0/gtkrc"};
        UserDisplay d = user_display_up(c, u, settings[way]);
        std::vector<std::string> env{"DISPLAY=" + d.display, "HOME=" + u.home, "PATH=/usr/bin:/bin",
                                     "ASAN_OPTIONS=detect_leaks=0", variable[way]};
        pid_t client = spawn_as(u, {"/usr/share/Corvix2/Corvix"}, env);
        std::vector<ProbeIds> got = wait_probe_records(probe, 15000);
        usleep(300 * 1000);  // a second load, if any, has time to record itself
        got = probe_records(probe);
        pid_t engine = child_of(client);
        c.expect(engine > 0, "the engine runs beside the window");
        expect_halves(c, client, engine, u);
        stop_group(client);
        stop_engine(engine);
        user_display_down(d);
        // The window does run GTK on the user's display with the user's
        // settings, so the probe loads: with the user's ids, in every id.
        c.expect(!got.empty(), "the window initialised GTK with the user's settings");
        for (const ProbeIds &p : got)
            c.expect(p.ruid == u.uid && p.euid == u.uid && p.suid == u.uid &&
                         p.rgid == u.gid && p.egid == u.gid && p.sgid == u.gid,
                     "loaded with root's ids: " + ids_text(got));
    }));
}

INSTANTIATE_TEST_SUITE_P(ModuleAndTheme, ClientAttack,
                         ::testing::Range(SettingsModule, Way(EnvironmentRcFile + 1)),
                         [](const ::testing::TestParamInfo<Way> &i) { return std::string(kWayNames[i.param]); });

}  // namespace

namespace {

// A stand-in X server on display :N of this network namespace: accepts
// connections on the abstract socket the X libraries try first and appends
// everything a client sends to a file, then hangs up on it.
pid_t fake_x_server(int number, const std::string &record)
{
    int s = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::string name = "/tmp/.X11-unix/X" + std::to_string(number);
    std::memcpy(a.sun_path + 1, name.data(), name.size());
    socklen_t len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    if (s < 0 || bind(s, reinterpret_cast<sockaddr *>(&a), len) != 0 || listen(s, 4) != 0)
        return -1;
    pid_t pid = fork();
    if (pid != 0) {
        close(s);
        return pid;
    }
    for (;;) {
        int c = accept(s, nullptr, nullptr);
        if (c < 0)
            _exit(0);
        // The set-up request comes at once; a short wait takes all of it.
        usleep(300 * 1000);
        char buf[4096];
        ssize_t n = recv(c, buf, sizeof buf, MSG_DONTWAIT);
        int f = open(record.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0600);
        if (f >= 0 && n > 0 && write(f, buf, static_cast<size_t>(n)) != n)
            _exit(1);
        if (f >= 0)
            close(f);
        close(c);
    }
}

// An authority file of another user with one cookie that fits any display.
void write_foreign_cookie(ChildChecks &c, const std::string &path, const std::string &cookie)
{
    std::string entry;
    auto put16 = [&](size_t v) {
        entry += static_cast<char>((v >> 8) & 0xff);
        entry += static_cast<char>(v & 0xff);
    };
    auto put_text = [&](const std::string &t) {
        put16(t.size());
        entry += t;
    };
    put16(0xffff);  // FamilyWild
    put_text("");
    put_text("");
    put_text("MIT-MAGIC-COOKIE-1");
    put_text(cookie);
    int f = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    c.setup(f >= 0 && write(f, entry.data(), entry.size()) == static_cast<ssize_t>(entry.size()),
            "another user's authority file");
    close(f);
    c.setup(chown(path.c_str(), 0, 0) == 0, "owned by root, mode 0600");
}

TEST_F(ClientAttackBase, FallbackAuthorityLinkedToAnotherUsersFileReachesNoDisplay)
{
    EXPECT_EQ("", with_client_and_user([&](ChildChecks &c, const AttackUser &u) {
        const std::string cookie = "CVXSECRETCOOKIE!";
        std::string secret = dir_ + "/root-only/authority";
        c.setup(mkdir((dir_ + "/root-only").c_str(), 0755) == 0, "folder of the other user");
        write_foreign_cookie(c, secret, cookie);
        std::string link = u.home + "/.Xauthority";
        c.setup(symlink(secret.c_str(), link.c_str()) == 0, "link in the user's home");
        std::string record = dir_ + "/received";
        pid_t server = fake_x_server(42, record);
        c.setup(server > 0, "stand-in X server");
        // No XAUTHORITY given: the client falls back to the home's file.
        pid_t client = spawn_as(u, {"/usr/share/Corvix2/Corvix"},
                                {"DISPLAY=:42", "HOME=" + u.home, "PATH=/usr/bin:/bin",
                                 "ASAN_OPTIONS=detect_leaks=0"});
        std::string got;
        for (int i = 0; i < 200 && got.empty(); i++) {
            usleep(50 * 1000);
            got = file_text(record);
        }
        usleep(500 * 1000);  // a second attempt, if any, is recorded too
        got = file_text(record);
        pid_t engine = child_of(client);
        stop_group(client);
        stop_engine(engine);
        kill(server, SIGKILL);
        waitpid(server, nullptr, 0);
        c.expect(!got.empty(), "the window connected to the display");
        c.expect(got.find(cookie) == std::string::npos, "the other user's cookie was sent");
        c.expect(got.find("MIT-MAGIC-COOKIE-1") == std::string::npos, "an authority was sent");
    }));
}

}  // namespace

namespace {

TEST_F(ClientAttackBase, StartedByRootBothHalvesAreRootAndOnlyTheWindowHasTheDisplay)
{
    EXPECT_EQ("", with_client_and_user([&](ChildChecks &c, const AttackUser &u) {
        UserDisplay d = user_display_up(c, u, "");
        AttackUser root = u;
        root.uid = 0;
        root.gid = 0;
        pid_t window = spawn_as(root, {"/usr/share/Corvix2/Corvix"},
                                {"DISPLAY=" + d.display, "PATH=/usr/bin:/bin",
                                 "ASAN_OPTIONS=detect_leaks=0"});
        bool connected = false;
        for (int i = 0; i < 200 && !connected; i++, usleep(50 * 1000))
            connected = meets(socket_inodes(window), x_client_inodes());
        pid_t engine = child_of(window);
        c.expect(connected, "the window is connected to the display");
        c.expect(engine > 0, "the engine runs beside the window");
        c.expect(status_field(window, "Uid") == "0 0 0 0", "window Uid: " + status_field(window, "Uid"));
        c.expect(status_field(engine, "Uid") == "0 0 0 0", "engine Uid: " + status_field(engine, "Uid"));
        c.expect(!meets(socket_inodes(engine), x_client_inodes()), "the engine is connected to the display");
        stop_group(window);
        stop_engine(engine);
        user_display_down(d);
    }));
}

}  // namespace
