// SPDX-License-Identifier: GPL-2.0-or-later
// The client in two halves against hostapd in the lab: the installed
// set-user-ID executable started by an unprivileged user, and the engine
// alone driven over its socket as the window drives it.
#include <gtest/gtest.h>

#include <dirent.h>

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app/engine.h"
#include "app/ipc.h"
#include "app/records.h"
#include "config/settings.h"
#include "netns/e2e_support.h"
#include "support/attack.h"
#include "support/lab.h"
#include "support/sandbox.h"
#include "support/scratch.h"
#include "support/message_text.h"

namespace {

constexpr uint8_t EAPOL_LOGOFF = 2;
const char kAccount[] = "e2euser";
const char kPassword[] = "labpass1";

// This child's view of the lab's client namespace, with the client and the
// companion DHCP program installed in a private /usr/share.
void enter_client_side(ChildChecks &c, const Lab &lab, const std::string &scratch)
{
    int fd = open(("/run/netns/" + lab.client_ns).c_str(), O_RDONLY | O_CLOEXEC);
    c.setup(fd >= 0 && setns(fd, CLONE_NEWNET) == 0, "entering the client namespace");
    close(fd);
    (void)umount2("/sys", MNT_DETACH);
    c.setup(mount("sysfs", "/sys", "sysfs", 0, nullptr) == 0, "sysfs of the namespace");
    c.setup(mount("tmpfs", scratch.c_str(), "tmpfs", 0, "mode=0755") == 0, "tmpfs scratch");
    std::string resolv = scratch + "/resolv.conf";
    std::ofstream(resolv) << "";
    c.setup(mount(resolv.c_str(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr) == 0,
            "private resolv.conf");
    install_client(c, scratch, true);
}

// A settings file as an earlier log-on of the test user leaves it, with
// automatic log-on as asked.
void write_settings(ChildChecks &c, int auto_logon)
{
    char scrambled[21];
    copy_field(scrambled, kPassword);
    encrypt(scrambled);
    std::ostringstream f;
    f << "[OPTION]\nUSER = 1\nAutoStart = 0\nAutoLogon = 0"
      << "\nUseCorvixDhcp = 1\nTimeoutReconnect = 0\nTimeout = 800\nOpenUrl = 0\nUrl = \n"
      << "PrivateAuth = 0\nLassUserName = \nLassPassWord = \nLassDeviceName = \nusername1 = "
      << kAccount << "\npassword1 = " << scrambled << "\nowner1 = " << kAttackUid << "\n\n[UID"
      << kAttackUid << "]\nAutoLogon = " << auto_logon << "\nLassUserName = " << kAccount
      << "\nLassPassWord = " << scrambled << "\nLassDeviceName = labc0\n";
    int fd = open(settings_path, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::string text = f.str();
    c.setup(fd >= 0 && write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()),
            "settings file");
    close(fd);
}

// Processes named name that share this process's network namespace: the
// lab's client side, whatever other tests run beside it.
int here_named(const std::string &name)
{
    struct stat own;
    if (stat("/proc/self/ns/net", &own) != 0)
        return -1;
    int count = 0;
    DIR *proc = opendir("/proc");
    while (struct dirent *e = proc ? readdir(proc) : nullptr) {
        std::string pid = e->d_name;
        if (pid.find_first_not_of("0123456789") != std::string::npos)
            continue;
        struct stat ns;
        std::string comm = file_text("/proc/" + pid + "/comm");
        if (comm == name + "\n" && stat(("/proc/" + pid + "/ns/net").c_str(), &ns) == 0 &&
            ns.st_ino == own.st_ino && ns.st_dev == own.st_dev)
            count++;
    }
    if (proc)
        closedir(proc);
    return count;
}

bool process_gone(pid_t pid)
{
    std::string st = file_text("/proc/" + std::to_string(pid) + "/stat");
    size_t close_paren = st.rfind(')');
    return st.empty() || (close_paren != std::string::npos && st.size() > close_paren + 2 &&
                          st[close_paren + 2] == 'Z');
}

// The test user on a display of their own, and the environment the window
// gets there (a UTF-8 locale: its Chinese title and labels need it).
struct UserSide {
    AttackUser u;
    UserDisplay d;
    std::vector<std::string> env;
};

UserSide user_side(ChildChecks &c, const std::string &scratch)
{
    UserSide s;
    s.u = attack_user_add(c, scratch);
    s.d = user_display_up(c, s.u, "");
    s.env = {"DISPLAY=" + s.d.display, "HOME=" + s.u.home, "LANG=C.UTF-8", "PATH=/usr/bin:/bin",
             "ASAN_OPTIONS=detect_leaks=0"};
    return s;
}

// Starts the installed client as the user, expects it online with an address
// from the lab and its engine beside it; the window's pid.
pid_t start_until_online(ChildChecks &c, const Lab &lab, const UserSide &s, pid_t &engine)
{
    pid_t window = spawn_as(s.u, {"/usr/share/Corvix2/Corvix"}, s.env);
    bool online = e2e_wait([&] { return e2e_client_address(lab).rfind("10.77.0.", 0) == 0; }, 30000);
    c.expect(online, "online with an address from the lab: [" + e2e_client_address(lab) + "]");
    engine = child_of(window);
    c.expect(engine > 0, "the engine runs beside the window");
    return window;
}

void expect_engine_ends(ChildChecks &c, pid_t engine, int timeout_ms)
{
    c.expect(e2e_wait([engine] { return process_gone(engine); }, timeout_ms), "engine ended");
    if (engine > 0 && !process_gone(engine))
        kill(engine, SIGKILL);
}

class SplitLab : public ScratchTest {
protected:
    void SetUp() override
    {
        ASSERT_EQ(0u, geteuid()) << "the lab needs root";
        ASSERT_TRUE(lab_up(lab_, LabOptions{})) << lab_.error;
        capture_ = e2e_auth_capture(lab_);
        ASSERT_NE(nullptr, capture_);
        ScratchTest::SetUp();
    }
    void TearDown() override
    {
        if (capture_)
            pcap_close(capture_);
        ScratchTest::TearDown();
        lab_down(lab_);
    }
    // Runs fn in a child on the lab's client side with the client installed
    // and a settings file from an earlier log-on; its report.
    std::string on_client_side(int auto_logon, const std::function<void(ChildChecks &)> &fn)
    {
        std::string scratch = dir_;
        return run_in_child(CLONE_NEWNS, [&](ChildChecks &c) {
            enter_client_side(c, lab_, scratch);
            write_settings(c, auto_logon);
            fn(c);
        });
    }
    Lab lab_;
    pcap_t *capture_ = nullptr;
};

TEST_F(SplitLab, UserStartsTheClientGoesOnlineAndAKilledWindowLogsOff)
{
    EXPECT_EQ("", on_client_side(1, [&](ChildChecks &c) {
        UserSide s = user_side(c, dir_);
        pid_t engine = -1;
        pid_t window = start_until_online(c, lab_, s, engine);
        std::string conf = file_text(settings_path);
        c.expect(conf.find("LassUserName = e2euser") != std::string::npos, "account stored: " + conf);
        // The user's end of the window, as a crash or `kill -9` would end it.
        kill(window, SIGKILL);
        waitpid(window, nullptr, 0);
        c.expect(e2e_wait_client_frame(lab_, capture_, EAPOL_LOGOFF, 5000),
                 "Logoff sent after the window was killed");
        expect_engine_ends(c, engine, 7000);
        // The port is closed: no renewer may keep the address it gave.
        c.expect(e2e_wait([] { return here_named("CorvixDHCP") == 0; }, 5000),
                 "a CorvixDHCP renewer stayed behind");
        c.expect(e2e_wait([&] { return e2e_client_address(lab_).empty(); }, 5000),
                 "the address stayed: " + e2e_client_address(lab_));
        user_display_down(s.d);
    }));
}

// xdotool on display d; its output.
std::string xdo(const UserDisplay &d, const std::vector<std::string> &args)
{
    std::vector<std::string> argv{"/usr/bin/env", "DISPLAY=" + d.display, "LANG=C.UTF-8",
                                  "/usr/bin/xdotool"};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_program(argv, "/").out;
}

// The first visible window named exactly name, waiting up to timeout_ms; "" when none.
std::string find_window(const UserDisplay &d, const std::string &name, int timeout_ms)
{
    std::string id;
    e2e_wait([&] {
        std::istringstream in(xdo(d, {"search", "--onlyvisible", "--name", "^" + name + "$"}));
        return static_cast<bool>(in >> id);
    }, timeout_ms);
    return id;
}

// A window's place on the screen: x, y, width, height.
std::vector<int> geometry(const UserDisplay &d, const std::string &id)
{
    std::istringstream in(xdo(d, {"getwindowgeometry", "--shell", id}));
    std::map<std::string, int> value;
    std::string line;
    while (std::getline(in, line)) {
        size_t eq = line.find('=');
        if (eq != std::string::npos)
            value[line.substr(0, eq)] = std::atoi(line.c_str() + eq + 1);
    }
    return {value["X"], value["Y"], value["WIDTH"], value["HEIGHT"]};
}

TEST_F(SplitLab, UserLogsOnDisconnectsFromTheTrayAndExitsThroughTheWindow)
{
    EXPECT_EQ("", on_client_side(1, [&](ChildChecks &c) {
        UserSide s = user_side(c, dir_);
        const UserDisplay &d = s.d;
        // The user's notification area, for the tray icon.
        pid_t tray = spawn_as(s.u, {"/usr/bin/trayer", "--edge", "top", "--align", "right",
                                    "--widthtype", "request", "--height", "32", "--SetDockType",
                                    "false", "--transparent", "false"},
                              s.env);
        std::string panel = find_window(d, "panel", 10000);
        c.setup(!panel.empty(), "notification area on the user's display");
        pid_t engine = -1;
        pid_t window = start_until_online(c, lab_, s, engine);

        // The tray menu while online: hide, (separator), disconnect, exit.
        std::vector<int> g = geometry(d, panel);
        usleep(500 * 1000);  // the icon has taken its online picture
        xdo(d, {"mousemove", std::to_string(g[0] + g[2] / 2), std::to_string(g[1] + g[3] / 2),
                "click", "3"});
        usleep(500 * 1000);
        xdo(d, {"key", "Down", "Down", "Return"});

        c.expect(e2e_wait_client_frame(lab_, capture_, EAPOL_LOGOFF, 5000), "Logoff on disconnect");
        std::string main_window = find_window(d, "Corvix认证客户端", 5000);
        std::string names;
        std::istringstream ids(xdo(d, {"search", "--onlyvisible", "--name", "."}));
        for (std::string id; ids >> id;)
            names += xdo(d, {"getwindowname", id});
        c.expect(!main_window.empty(), "the main window is back after the disconnect: " + names);

        // The main window's exit button (250,170, 60x20): the process the user
        // started ends with 0, and the engine with it.
        g = geometry(d, main_window);
        xdo(d, {"mousemove", std::to_string(g[0] + 280), std::to_string(g[1] + 180), "click", "1"});
        int st = -1;
        c.expect(e2e_wait([&] { return waitpid(window, &st, WNOHANG) == window; }, 5000),
                 "the window ended on its exit button");
        c.expect(WIFEXITED(st) && WEXITSTATUS(st) == 0, "exit status 0: " + std::to_string(st));
        expect_engine_ends(c, engine, 5000);
        stop_group(window);
        stop_group(tray);
        user_display_down(s.d);
    }));
}

// Plays the window: requests out, messages in.
struct FakeWindow {
    int fd = -1;
    std::vector<IpcRecord> got;
    void send(const IpcRecord &r) { ipc_send(fd, r); }
    // Reads messages until pred holds for one of them or timeout_ms passed.
    bool until(const std::function<bool(const IpcRecord &)> &pred, int timeout_ms)
    {
        double end = e2e_now_ms() + timeout_ms;
        for (;;) {
            int left = static_cast<int>(end - e2e_now_ms());
            if (left <= 0)
                return false;
            struct pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, left) <= 0)
                continue;
            IpcRecord r;
            if (ipc_recv(fd, r) != RecvResult::Record)
                return false;
            got.push_back(r);
            if (pred(r))
                return true;
        }
    }
};

bool status_message(const IpcRecord &r, int s)
{
    return r.kind == MSG_STATUS && r.num[0] == s;
}

// The messages received so far, for a failure's report.
std::string kinds(const std::vector<IpcRecord> &got)
{
    std::string out;
    for (const IpcRecord &r : got)
        out += std::to_string(r.kind) + ":" + std::to_string(r.num[0]) + ":" + message_text(r) + " ";
    return out;
}

IpcRecord logon_request()
{
    IpcRecord r = ipc_record(REQ_LOGON);
    ipc_set_text(r, 0, kAccount);
    ipc_set_text(r, 1, kPassword);
    ipc_set_text(r, 2, "labc0");
    r.num[0] = 1;
    return r;
}

TEST_F(SplitLab, EngineLogsOnDisconnectsAndExitsOnTheWindowsRequests)
{
    EXPECT_EQ("", on_client_side(0, [&](ChildChecks &c) {
        ClientSettings settings{};
        status = STATUS_IDLE;
        get_ini_message(&settings);
        int fds[2];
        c.setup(ipc_socketpair(fds), "socket pair");
        pid_t engine = fork();
        if (engine == 0) {
            close(fds[0]);
            engine_main(fds[1], &settings, 64123);
        }
        close(fds[1]);
        FakeWindow w;
        w.fd = fds[0];
        w.send(logon_request());
        // The online state, then the progress text, then the tray's picture.
        bool reached = w.until(
            [](const IpcRecord &r) { return r.kind == MSG_TRAY && r.num[0] == TRAY_ONLINE; }, 30000);
        c.expect(reached, "online reported: " + kinds(w.got));
        c.expect(e2e_client_address(lab_).rfind("10.77.0.", 0) == 0,
                 "address: " + e2e_client_address(lab_));
        bool online = false, success_text = false;
        for (const IpcRecord &r : w.got) {
            online = online || status_message(r, STATUS_ONLINE);
            success_text = success_text || (r.kind == MSG_UPDATE_INFO &&
                                             message_text(r) == "认证成功！");
        }
        c.expect(online && success_text, "state and progress text reported: " + kinds(w.got));

        w.send(ipc_record(REQ_DISCONNECT));
        w.send(ipc_record(REQ_STOP_DHCP));
        c.expect(e2e_wait_client_frame(lab_, capture_, EAPOL_LOGOFF, 5000), "Logoff on disconnect");
        c.expect(w.until([](const IpcRecord &r) { return status_message(r, STATUS_IDLE); }, 5000),
                 "idle after the Logoff");

        // The tray's exit, after the disconnect: one more Logoff, then the end.
        w.send(ipc_record(REQ_EXIT));
        c.expect(e2e_wait_client_frame(lab_, capture_, EAPOL_LOGOFF, 5000), "Logoff on exit");
        int st = -1;
        c.expect(e2e_wait([&] { return waitpid(engine, &st, WNOHANG) == engine; }, 7000),
                 "engine ended after the exit");
        c.expect(WIFEXITED(st) && WEXITSTATUS(st) == 0, "exit status 0");
        close(fds[0]);
    }));
}

}  // namespace
