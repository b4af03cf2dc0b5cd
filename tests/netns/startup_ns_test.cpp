// SPDX-License-Identifier: GPL-2.0-or-later
// Start-up against a known machine: the interface list in a private network
// namespace, the single-instance check in a private PID namespace.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <cstring>
#include <string>
#include <vector>

#include "app/install.h"
#include "app/instance_lock.h"
#include "app/records.h"
#include "app/shell.h"
#include "app/startup.h"
#include "config/settings.h"
#include "dhcp/request_ip.h"
#include "support/sandbox.h"

namespace {

std::vector<std::string> names(GList *list)
{
    std::vector<std::string> out;
    for (GList *l = list; l; l = l->next)
        out.push_back(static_cast<const char *>(l->data));
    return out;
}

bool listed(const std::vector<std::string> &list, const std::string &name)
{
    for (const std::string &n : list) {
        if (n == name)
            return true;
    }
    return false;
}

std::string joined(const std::vector<std::string> &list)
{
    std::string out;
    for (const std::string &n : list)
        out += n + " ";
    return out;
}

class StartupNs : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(0u, geteuid()) << "needs root for namespaces";
        char tmpl[] = "/tmp/corvix-startup-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(tmpl));
        dir_ = tmpl;
        ASSERT_EQ(0, chmod(tmpl, 0755));
        conf_ = dir_ + "/Corvix.conf";
    }
    void TearDown() override
    {
        std::string cmd = "rm -rf '" + dir_ + "'";
        ASSERT_EQ(0, std::system(cmd.c_str()));
    }
    std::string dir_, conf_;
};

TEST_F(StartupNs, InterfaceListLeavesOutLoopbackAliasesAndPseudoDevices)
{
    std::string conf = conf_;
    EXPECT_EQ("", run_in_child(CLONE_NEWNET | CLONE_NEWNS, [&](ChildChecks &c) {
        c.setup(std::system("ip link add vx12 type veth peer name avahi && "
                            "ip link add ethq type veth peer name ab123avahi && "
                            "ip link set vx12 up && ip link set lo up && "
                            "ip addr add 169.254.3.3/16 dev vx12 label vx12:avahi") == 0,
                "interfaces in the namespace");
        settings_path = conf.c_str();
        ClientSettings s{};
        status = STATUS_IDLE;
        get_ini_message(&s);
        std::vector<std::string> got = names(s.devices);
        for (const char *name : {"vx12", "avahi", "ethq"})
            c.expect(listed(got, name), std::string("listed: ") + name + " in " + joined(got));
        for (const char *name : {"lo", "vx12:avahi", "ab123avahi", "any", "nflog"})
            c.expect(!listed(got, name), std::string("not listed: ") + name);
        c.expect(got.size() == 3, "three interfaces: " + joined(got));
        c.expect(s.device_found == 0, "the first run loads no last device");
        c.expect(status == STATUS_IDLE, "status untouched");
    }));
}

TEST_F(StartupNs, LastDeviceIsFoundAndNoInterfaceIsReported)
{
    std::string conf = conf_;
    EXPECT_EQ("", run_in_child(CLONE_NEWNET | CLONE_NEWNS, [&](ChildChecks &c) {
        settings_path = conf.c_str();
        ClientSettings none{};
        get_ini_message(&none);  // only lo here: first run, then no interface
        c.expect(status == STATUS_NO_NIC, "no usable interface: " + std::to_string(status));
        c.expect(none.devices == nullptr, "empty list");

        c.setup(std::system("ip link add ethz type veth peer name ethy") == 0, "veth pair");
        std::string file = "[OPTION]\nLassDeviceName = ethy\n";
        FILE *f = std::fopen(conf.c_str(), "w");
        c.setup(f && std::fputs(file.c_str(), f) >= 0 && std::fclose(f) == 0, "settings file");
        status = STATUS_IDLE;
        ClientSettings s{};
        get_ini_message(&s);
        c.expect(s.device_found == 1, "last device found");
        c.expect(std::string(s.last_device) == "ethy", "last device loaded");
        c.expect(status == STATUS_IDLE, "status untouched");
    }));
}

// A process to run during the instance check: a copy of sleep under this
// name, run as this user.
struct Named {
    std::string name;
    uid_t uid = 0;
};

pid_t start_named(ChildChecks &c, const std::string &dir, const Named &p)
{
    std::string path = dir + "/" + p.name;
    std::string cp = "cp /bin/sleep '" + path + "' 2>/dev/null || test -x '" + path + "'";
    c.setup(std::system(cp.c_str()) == 0, "copy of sleep named " + p.name);
    pid_t pid = fork();
    if (pid == 0) {
        if (p.uid != 0 && setresuid(p.uid, p.uid, p.uid) != 0)
            _exit(126);
        // The copy may still count as open for writing just after cp wrote it
        // (exec then fails with ETXTBSY, seen under load): try again a while.
        for (int tries = 0; tries < 200; tries++) {
            execl(path.c_str(), p.name.c_str(), "600", static_cast<char *>(nullptr));
            if (errno != ETXTBSY)
                break;
            usleep(10 * 1000);
        }
        _exit(127);
    }
    c.setup(pid > 0, "starting " + p.name);
    return pid;
}

std::string command_name(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
    std::string comm;
    std::getline(in, comm);
    return comm;
}

// Whether a process shows the name it was started under: ps -C matches the
// command name, which the exec sets only once it has run (late under load).
bool shows_name(pid_t pid, const std::string &name)
{
    return command_name(pid) == name.substr(0, 15);
}

// What became of a started copy that never showed its name.
std::string fate(pid_t pid)
{
    int st = 0;
    pid_t r = waitpid(pid, &st, WNOHANG);
    std::string how = r == pid ? (WIFEXITED(st) ? "exited " + std::to_string(WEXITSTATUS(st))
                                                : "killed by " + std::to_string(WTERMSIG(st)))
                               : "still running";
    return how + ", command name '" + command_name(pid) + "'";
}

void stop_all(std::vector<pid_t> &pids)
{
    for (pid_t p : pids) {
        kill(p, SIGKILL);
        waitpid(p, nullptr, 0);
    }
    pids.clear();
}

int instance_status_with(ChildChecks &c, const std::string &dir, const std::vector<Named> &running)
{
    std::vector<pid_t> pids;
    for (const Named &p : running)
        pids.push_back(start_named(c, dir, p));
    // Every exec finished, so that ps sees the new names (at most 5 s each).
    for (size_t i = 0; i < pids.size(); i++) {
        for (int tries = 0; tries < 500 && !shows_name(pids[i], running[i].name); tries++)
            usleep(10 * 1000);
        c.setup(shows_name(pids[i], running[i].name),
                "exec of " + running[i].name + ": " + fate(pids[i]));
    }
    status = STATUS_IDLE;
    ClientSettings s{};
    check_mul_instance(&s);
    stop_all(pids);
    return status;
}

// A process that holds the instance lock until it is killed; -1 when it could not take it.
pid_t lock_holder()
{
    release_instance_lock();  // the child must not inherit this process' hold
    int ready[2];
    if (pipe(ready) != 0)
        return -1;
    pid_t pid = fork();
    if (pid == 0) {
        char taken = take_instance_lock() == InstanceLock::Taken ? 'y' : 'n';
        if (write(ready[1], &taken, 1) != 1)
            _exit(1);
        pause();
        _exit(0);
    }
    close(ready[1]);
    char taken = 'n';
    bool told = pid > 0 && read(ready[0], &taken, 1) == 1;
    close(ready[0]);
    if (told && taken == 'y')
        return pid;
    std::vector<pid_t> pids{pid};
    if (pid > 0)
        stop_all(pids);
    return -1;
}

TEST_F(StartupNs, SingleInstanceCheckIsRootsLockNotAProcessName)
{
    std::string dir = dir_;
    const uid_t nobody = 65534;
    EXPECT_EQ("", run_in_child(CLONE_NEWPID | CLONE_NEWNS, [&](ChildChecks &c) {
        c.expect(instance_status_with(c, dir, {}) == STATUS_IDLE, "alone");
        // No name counts, whoever runs it and however many there are.
        std::vector<Named> ten(10, Named{"Corvix"});
        c.expect(instance_status_with(c, dir, ten) == STATUS_IDLE, "ten named Corvix");
        c.expect(instance_status_with(c, dir, {{"Corvix", nobody}, {"corvix", nobody}}) ==
                     STATUS_IDLE,
                 "a user's programs named Corvix");

        pid_t holder = lock_holder();
        c.setup(holder > 0, "a process holding the lock");
        c.expect(instance_status_with(c, dir, {}) == STATUS_ALREADY_RUNNING,
                 "another holds the lock, under no name of ours");
        std::vector<pid_t> pids{holder};
        stop_all(pids);
        c.expect(instance_status_with(c, dir, {}) == STATUS_IDLE, "the holder's end frees it");

        struct stat d{}, f{};
        std::string lock = std::string(RUNTIME_DIR) + "/" + INSTANCE_LOCK_NAME;
        c.expect(lstat(RUNTIME_DIR, &d) == 0 && S_ISDIR(d.st_mode) && d.st_uid == 0 &&
                     (d.st_mode & 07777) == 0700,
                 "root's folder, mode 0700");
        c.expect(lstat(lock.c_str(), &f) == 0 && S_ISREG(f.st_mode) && f.st_uid == 0 &&
                     (f.st_mode & 07777) == 0600,
                 "root's file, mode 0600");
        // Nobody else can open the file to take or hold the lock.
        release_instance_lock();
        RunResult root = run_program({"/usr/bin/flock", "-n", lock, "true"}, "/");
        c.expect(root.exit_code == 0, "root takes the free lock: " + root.err);
        RunResult r = run_program({"/usr/bin/flock", "-n", lock, "true"}, "/", nobody);
        c.expect(r.exit_code != 0, "nobody opened the lock file");
    }));
}

TEST_F(StartupNs, RootSwitchAndLoginName)
{
    EXPECT_EQ("", run_in_child(CLONE_NEWPID | CLONE_NEWNS, [&](ChildChecks &c) {
        ClientSettings s{};
        setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/x", 1);
        // Started set-user-ID root by nobody: real nobody, effective root,
        // nobody's groups.
        const gid_t nogroup = 65534;
        c.setup(setgroups(1, &nogroup) == 0 && setresgid(nogroup, nogroup, nogroup) == 0,
                "nobody's groups");
        c.setup(setresuid(65534, 0, 0) == 0, "real user nobody");
        status = STATUS_IDLE;
        check_mul_instance(&s);
        c.expect(std::string(s.login_name) == "nobody", "login name of the real user: " +
                                                            std::string(s.login_name));
        c.expect(getuid() == 0, "became root");
        gid_t groups[4] = {99, 99, 99, 99};
        int n = getgroups(4, groups);
        c.expect(getgid() == 0 && getegid() == 0, "root's group ids");
        c.expect(n == 1 && groups[0] == 0, "root's group alone: " + std::to_string(n));
        std::string made = dir_ + "/made";
        int fd = open(made.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
        struct stat st{};
        c.expect(fd >= 0 && fstat(fd, &st) == 0 && st.st_uid == 0 && st.st_gid == 0,
                 "a file made afterwards is root:root, gid " + std::to_string(st.st_gid));
        if (fd >= 0)
            close(fd);
        c.expect(status == STATUS_IDLE, "alone: " + std::to_string(status));
        const char *dbus = getenv("DBUS_SESSION_BUS_ADDRESS");
        c.expect(dbus && *dbus == '\0', "empty session bus address");

        // Without the set-user-ID bit the switch fails.
        c.setup(setresuid(65534, 65534, 65534) == 0, "plain nobody");
        ClientSettings t{};
        status = STATUS_IDLE;
        check_mul_instance(&t);
        c.expect(status == STATUS_NOT_ROOT, "not root: " + std::to_string(status));
    }));
}

void put(const std::string &path, const std::string &text, mode_t mode)
{
    std::ofstream(path) << text;
    (void)chmod(path.c_str(), mode);
}

mode_t mode_of(const std::string &path)
{
    struct stat st{};
    return stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 07777;
}

std::string octal(mode_t mode)
{
    char text[16];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode));
    return text;
}

TEST_F(StartupNs, CallersUmaskReachesNoFileOfTheClientOrItsRootChildren)
{
    std::string dir = dir_, conf = conf_;
    EXPECT_EQ("", run_in_child(CLONE_NEWNS, [&](ChildChecks &c) {
        umask(0);
        set_process_defaults();
        std::string scratch = dir + "/scratch";
        c.setup(mkdir(scratch.c_str(), 0755) == 0 &&
                    mount("tmpfs", scratch.c_str(), "tmpfs", 0, "mode=0755") == 0,
                "tmpfs scratch");
        for (const char *d : {"/usr/share", "/etc/xdg"})
            c.setup(mount_overlay(d, scratch), std::string("overlay on ") + d);
        c.setup(std::system("mkdir -p /usr/share/Corvix2 /etc/xdg/autostart && "
                            "rm -f /etc/xdg/autostart/Corvix.desktop") == 0,
                "installed folders");
        // The companion program stands in for any DHCP client: it writes the
        // resolver file the way dhclient's script does, with the shell's '>'.
        std::string resolv = dir + "/resolv.conf";
        put("/usr/share/Corvix2/CorvixDHCP", "#!/bin/sh\necho nameserver 10.9.9.9 >" + resolv + "\n",
            0755);
        put("/usr/share/Corvix2/Corvix.desktop", "[Desktop Entry]\nName=Corvix\n", 0666);

        settings_path = conf.c_str();
        ClientSettings s{};
        get_ini_message(&s);
        c.expect(mode_of(conf) == 0600, "settings file " + octal(mode_of(conf)));

        AddressCommand command = choose_address_command({1, 0, "", ""}, "eth9", false);
        c.expect(shell_run(command.line) == 0, "address command ran: " + command.line);
        c.expect(mode_of(resolv) == 0644, "file of the address command " + octal(mode_of(resolv)));

        (void)set_autostart(GINT_TO_POINTER(1));
        std::string entry = "/etc/xdg/autostart/Corvix.desktop";
        c.expect(mode_of(entry) == 0644, "autostart copy " + octal(mode_of(entry)));
    }));
}

TEST_F(StartupNs, FallbackXauthorityOnlyWhenTheRealUserCanReadIt)
{
    std::string dir = dir_;
    EXPECT_EQ("", run_in_child(CLONE_NEWNS, [&](ChildChecks &c) {
        std::string home = dir + "/home", secret = dir + "/secret";
        std::string own = home + "/.Xauthority";
        c.setup(mkdir(home.c_str(), 0755) == 0 && chown(home.c_str(), 65534, 65534) == 0,
                "the user's home");
        put(secret, "another user's cookie", 0600);
        c.setup(symlink(secret.c_str(), own.c_str()) == 0, "link to another user's file");
        // Started set-user-ID root by nobody, with no XAUTHORITY given.
        c.setup(setresuid(65534, 0, 0) == 0, "real user nobody");
        clearenv();
        setenv("DISPLAY", ":5", 1);
        reduce_environment_for(home);
        c.expect(getenv("XAUTHORITY") == nullptr, "a link to a file nobody cannot read is dropped");
        c.expect(getenv("DISPLAY") && std::string(getenv("DISPLAY")) == ":5", "display kept");

        c.setup(unlink(own.c_str()) == 0, "link removed");
        put(own, "nobody's cookie", 0600);
        c.setup(chown(own.c_str(), 65534, 65534) == 0, "the user's own file");
        clearenv();
        setenv("DISPLAY", ":5", 1);
        reduce_environment_for(home);
        const char *kept = getenv("XAUTHORITY");
        c.expect(kept && own == kept, "the user's own file is kept");
    }));
}

}  // namespace
