// SPDX-License-Identifier: GPL-2.0-or-later
#include "support/attack.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace {


bool append_line(const std::string &path, const std::string &line)
{
    std::ofstream f(path, std::ios::app);
    f << line << "\n";
    return static_cast<bool>(f);
}

bool copy_and_bind(const std::string &src, const std::string &copy, const std::string &extra)
{
    std::string cmd = "cp '" + src + "' '" + copy + "'";
    if (std::system(cmd.c_str()) != 0 || !append_line(copy, extra))
        return false;
    return mount(copy.c_str(), src.c_str(), nullptr, MS_BIND, nullptr) == 0;
}

void sleep_ms(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace

std::string probe_library_path()
{
    return std::string(CORVIX_BINARY_DIR) + "/tests/libcvx_probe.so";
}

std::string gtk_host_path()
{
    return std::string(CORVIX_BINARY_DIR) + "/tests/cvx_gtk_host";
}

AttackUser attack_user_add(ChildChecks &c, const std::string &scratch, int index)
{
    AttackUser u;
    u.uid = kAttackUid + static_cast<uid_t>(index);
    u.gid = kAttackGid + static_cast<gid_t>(index);
    u.name = index == 0 ? "cvxattack" : "cvxattack" + std::to_string(index);
    u.home = scratch + "/home-cvxattack";
    c.setup(mkdir(u.home.c_str(), 0700) == 0 || errno == EEXIST, "home of the test user");
    c.setup(chown(u.home.c_str(), u.uid, u.gid) == 0, "home owned by the test user");
    // The scratch folder itself must be passable for the user.
    c.setup(chmod(scratch.c_str(), 0755) == 0, "scratch folder passable");
    std::string pw = u.name + ":x:" + std::to_string(u.uid) + ":" + std::to_string(u.gid) +
                     "::" + u.home + ":/bin/sh";
    std::string gr = u.name + ":x:" + std::to_string(u.gid) + ":";
    // Each user's copy is a file of its own: the next copy is made from this one.
    std::string copy = scratch + "/" + u.name;
    c.setup(copy_and_bind("/etc/passwd", copy + ".passwd", pw), "test user in /etc/passwd");
    c.setup(copy_and_bind("/etc/group", copy + ".group", gr), "test group in /etc/group");
    return u;
}

void install_client(ChildChecks &c, const std::string &scratch, bool with_dhcp)
{
    c.setup(mount_overlay("/usr/share", scratch), "overlay on /usr/share");
    std::string files = CORVIX_BINARY_DIR "/Corvix";
    if (with_dhcp)
        files += " " CORVIX_BINARY_DIR "/src/corvixdhcp/CorvixDHCP";
    c.setup(std::system(("rm -rf /usr/share/Corvix2 && mkdir -m 0755 /usr/share/Corvix2 && "
                         "cp " + files + " /usr/share/Corvix2/ && "
                         "chown 0:0 /usr/share/Corvix2/Corvix && "
                         "chmod 4755 /usr/share/Corvix2/Corvix").c_str()) == 0,
            "client installed set-user-ID root");
}

pid_t spawn_as(const AttackUser &u, const std::vector<std::string> &argv,
               const std::vector<std::string> &env, int pass_fd)
{
    pid_t pid = fork();
    if (pid != 0)
        return pid;
    setpgid(0, 0);
    int devnull = open("/dev/null", O_RDWR);
    if (devnull >= 0)
        dup2(devnull, 0);
    gid_t groups[] = {u.gid};
    if (setgroups(1, groups) != 0 || setresgid(u.gid, u.gid, u.gid) != 0 ||
        setresuid(u.uid, u.uid, u.uid) != 0)
        _exit(126);
    if (chdir(u.home.c_str()) != 0)
        _exit(126);
    if (pass_fd >= 0 && dup2(pass_fd, 9) != 9)
        _exit(126);
    // Nothing else of the test's: a user's program starts with its three streams.
    (void)close_range(3, pass_fd >= 0 ? 8 : ~0U, 0);
    if (pass_fd >= 0)
        (void)close_range(10, ~0U, 0);
    std::vector<char *> args, envp;
    for (const std::string &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    for (const std::string &e : env)
        envp.push_back(const_cast<char *>(e.c_str()));
    envp.push_back(nullptr);
    execve(args[0], args.data(), envp.data());
    _exit(127);
}

void stop_group(pid_t pid)
{
    if (pid <= 0)
        return;
    kill(-pid, SIGKILL);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

pid_t child_of(pid_t pid)
{
    std::istringstream in(file_text("/proc/" + std::to_string(pid) + "/task/" +
                                    std::to_string(pid) + "/children"));
    pid_t child = -1;
    return in >> child ? child : -1;
}

std::string place_probe(ChildChecks &c, const AttackUser &u)
{
    std::string path = u.home + "/libcvxprobe.so";
    std::string cmd = "cp '" + probe_library_path() + "' '" + path + "'";
    c.setup(std::system(cmd.c_str()) == 0, "probe copied into the home");
    c.setup(chown(path.c_str(), u.uid, u.gid) == 0, "probe owned by the user");
    return path;
}

std::string place_theme(ChildChecks &c, const AttackUser &u, const std::string &probe)
{
    std::string dir = u.home + "/.themes/CvxProbe/gtk-2.0";
    std::string cmd = "mkdir -p '" + dir + "' && chown -R " + std::to_string(u.uid) + ":" +
                      std::to_string(u.gid) + " '" + u.home + "/.themes'";
    c.setup(std::system(cmd.c_str()) == 0, "theme folder");
    std::string rc = "style \"cvxprobe\" {\n  engine \"" + probe +
                     "\" {\n  }\n}\nclass \"GtkWidget\" style \"cvxprobe\"\n";
    std::ofstream(dir + "/gtkrc") << rc;
    c.setup(chown((dir + "/gtkrc").c_str(), u.uid, u.gid) == 0, "gtkrc owned by the user");
    // From /usr/share/themes as from any home folder, the same theme.
    std::string up;
    for (int i = 0; i < 16; i++)
        up += "../";
    return up + u.home.substr(1) + "/.themes/CvxProbe";
}

UserDisplay user_display_up(ChildChecks &c, const AttackUser &u, const std::string &settings_text)
{
    UserDisplay d;
    int fds[2];
    c.setup(pipe2(fds, O_CLOEXEC) == 0, "display pipe");
    std::vector<std::string> argv{"/usr/bin/Xvfb", "-displayfd", "9", "-nolisten", "tcp",
                                  "-screen", "0", "800x600x24"};
    d.xvfb = spawn_as(u, argv, {"PATH=/usr/bin:/bin"}, fds[1]);
    close(fds[1]);
    std::string number;
    char ch;
    while (read(fds[0], &ch, 1) == 1 && ch != '\n')
        number += ch;
    close(fds[0]);
    c.setup(d.xvfb > 0 && !number.empty(), "Xvfb of the test user came up");
    d.display = ":" + number;
    std::string conf = u.home + "/xsettingsd.conf";
    std::ofstream(conf) << settings_text;
    std::string log = u.home + "/xsettingsd.log";
    d.xsettingsd = spawn_as(u, {"/bin/sh", "-c", "exec /usr/bin/xsettingsd -c '" + conf +
                                                     "' 2>'" + log + "'"},
                            {"PATH=/usr/bin:/bin", "DISPLAY=" + d.display});
    for (int i = 0; i < 100; i++) {
        if (file_text(log).find("Created window") != std::string::npos)
            break;
        sleep_ms(50);
    }
    c.setup(file_text(log).find("Created window") != std::string::npos,
            "xsettingsd serves the display: " + file_text(log));
    return d;
}

void user_display_down(UserDisplay &d)
{
    stop_group(d.xsettingsd);
    stop_group(d.xvfb);
    d.xsettingsd = d.xvfb = -1;
}

std::string user_xdo(const UserDisplay &d, const std::vector<std::string> &args)
{
    std::vector<std::string> argv{"/usr/bin/env", "DISPLAY=" + d.display, "LANG=C.UTF-8",
                                  "/usr/bin/xdotool"};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_program(argv, "/").out;
}

std::string user_find_window(const UserDisplay &d, const std::string &name, pid_t pid,
                             int timeout_ms)
{
    std::vector<std::string> args{"search", "--onlyvisible", "--name", "^" + name + "$"};
    if (pid > 0)
        args.insert(args.begin() + 1, {"--all", "--pid", std::to_string(pid)});
    for (int waited = 0;; waited += 100) {
        std::istringstream in(user_xdo(d, args));
        std::string id;
        if (in >> id)
            return id;
        if (waited >= timeout_ms)
            return "";
        sleep_ms(100);
    }
}

std::vector<ProbeIds> probe_records(const std::string &probe_path)
{
    std::vector<ProbeIds> out;
    std::istringstream in(file_text(probe_path + ".log"));
    ProbeIds p;
    while (in >> p.pid >> p.ruid >> p.euid >> p.suid >> p.rgid >> p.egid >> p.sgid)
        out.push_back(p);
    return out;
}

std::string ids_text(const std::vector<ProbeIds> &records)
{
    std::string out;
    for (const ProbeIds &p : records)
        out += "[pid " + std::to_string(p.pid) + ": " + std::to_string(p.ruid) + " " +
               std::to_string(p.euid) + " " + std::to_string(p.suid) + " / " +
               std::to_string(p.rgid) + " " + std::to_string(p.egid) + " " +
               std::to_string(p.sgid) + "] ";
    return out;
}

std::vector<ProbeIds> wait_probe_records(const std::string &probe_path, int timeout_ms)
{
    for (int waited = 0; waited < timeout_ms; waited += 50) {
        std::vector<ProbeIds> r = probe_records(probe_path);
        if (!r.empty())
            return r;
        sleep_ms(50);
    }
    return probe_records(probe_path);
}
