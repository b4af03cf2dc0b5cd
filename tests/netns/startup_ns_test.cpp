// Start-up against a known machine: the interface list in a private network
// namespace, the single-instance check in a private PID namespace.
#include <gtest/gtest.h>

#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/records.h"
#include "app/startup.h"
#include "config/settings.h"
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

// Starts a process whose name is name (a copy of sleep) and returns its pid.
pid_t start_named(ChildChecks &c, const std::string &dir, const std::string &name)
{
    std::string path = dir + "/" + name;
    std::string cp = "cp /bin/sleep '" + path + "' 2>/dev/null || test -x '" + path + "'";
    c.setup(std::system(cp.c_str()) == 0, "copy of sleep named " + name);
    pid_t pid = fork();
    if (pid == 0) {
        execl(path.c_str(), name.c_str(), "600", static_cast<char *>(nullptr));
        _exit(127);
    }
    c.setup(pid > 0, "starting " + name);
    return pid;
}

void stop_all(std::vector<pid_t> &pids)
{
    for (pid_t p : pids) {
        kill(p, SIGKILL);
        waitpid(p, nullptr, 0);
    }
    pids.clear();
}

int instance_status_with(ChildChecks &c, const std::string &dir,
                         const std::vector<std::string> &running)
{
    std::vector<pid_t> pids;
    for (const std::string &name : running)
        pids.push_back(start_named(c, dir, name));
    usleep(100 * 1000);  // let every exec finish, so ps shows the new names
    status = STATUS_IDLE;
    ClientSettings s{};
    check_mul_instance(&s);
    stop_all(pids);
    return status;
}

TEST_F(StartupNs, SingleInstanceCheckCountsWholeNumbers)
{
    std::string dir = dir_;
    EXPECT_EQ("", run_in_child(CLONE_NEWPID | CLONE_NEWNS, [&](ChildChecks &c) {
        c.expect(instance_status_with(c, dir, {}) == STATUS_IDLE,
                 "none matching: started under another name, no other instance");
        c.expect(instance_status_with(c, dir, {"Corvix"}) == STATUS_IDLE, "alone");
        c.expect(instance_status_with(c, dir, {"Corvix", "corvix"}) == STATUS_ALREADY_RUNNING,
                 "two");
        std::vector<std::string> ten;
        for (int i = 0; i < 10; i++)
            ten.push_back(i % 2 ? "Corvix" : "xcorvixy");
        c.expect(instance_status_with(c, dir, ten) == STATUS_ALREADY_RUNNING,
                 "ten are not one");
        c.expect(instance_status_with(c, dir, {"Corvix", "CorvixDHCP"}) == STATUS_IDLE,
                 "a leftover DHCP renewer is not another client");
        c.expect(instance_status_with(c, dir, {"Corvi", "sleep"}) == STATUS_IDLE,
                 "other names do not count");
    }));
}

TEST_F(StartupNs, RootSwitchAndLoginName)
{
    EXPECT_EQ("", run_in_child(CLONE_NEWPID | CLONE_NEWNS, [&](ChildChecks &c) {
        ClientSettings s{};
        setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/x", 1);
        // Started set-user-ID root by nobody: real nobody, effective root.
        c.setup(setresuid(65534, 0, 0) == 0, "real user nobody");
        status = STATUS_IDLE;
        check_mul_instance(&s);
        c.expect(std::string(s.login_name) == "nobody", "login name of the real user: " +
                                                            std::string(s.login_name));
        c.expect(getuid() == 0, "became root");
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

}  // namespace
