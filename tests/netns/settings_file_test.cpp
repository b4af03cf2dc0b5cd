// SPDX-License-Identifier: GPL-2.0-or-later
// The settings file as the set-user-ID client makes and reads it: nobody else
// can open it at any step of its creation, and a file that exists but cannot
// be read is never replaced by the first-run defaults.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <linux/capability.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <set>
#include <string>

#include "app/records.h"
#include "app/startup.h"
#include "config/ini.h"
#include "config/settings.h"
#include "support/sandbox.h"

namespace {

const uid_t kNobody = 65534;

std::set<std::string> list_dir(const std::string &dir)
{
    std::set<std::string> names;
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *e = readdir(d)) {
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                names.insert(e->d_name);
        }
        closedir(d);
    }
    return names;
}

void put(const std::string &path, const std::string &text, mode_t mode)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    (void)chmod(path.c_str(), mode);
}

// ------------------------------------------------ every step of a save

// What the step hook looks at: the settings folder, a world-writable control
// file that proves the probing process can open what it may, and the findings.
std::string g_dir;
std::string g_control;
std::string g_report;
int g_steps = 0;

// From a process of an ordinary user: opens every file of the folder for
// writing (and for reading). Exit bits: 1 a settings file opened, 2 the control
// file did not, 4 the user ids could not be taken.
int probe_as_user()
{
    gid_t group = kNobody;
    if (setgroups(1, &group) != 0 || setresgid(kNobody, kNobody, kNobody) != 0 ||
        setresuid(kNobody, kNobody, kNobody) != 0)
        return 4;
    int bits = 0;
    for (const std::string &name : list_dir(g_dir)) {
        std::string path = g_dir + "/" + name;
        for (int flags : {O_WRONLY, O_RDONLY}) {
            int fd = open(path.c_str(), flags | O_NONBLOCK | O_NOFOLLOW);
            if (fd >= 0)
                close(fd);
            if (path == g_control && flags == O_WRONLY && fd < 0)
                bits |= 2;
            if (path != g_control && fd >= 0)
                bits |= 1;
        }
    }
    return bits;
}

void look_at_folder(const char *path)
{
    g_steps++;
    std::string at = "step " + std::to_string(g_steps) + " (" + path + "): ";
    for (const std::string &name : list_dir(g_dir)) {
        std::string file = g_dir + "/" + name;
        struct stat st{};
        if (file == g_control || lstat(file.c_str(), &st) != 0)
            continue;
        if ((st.st_mode & 077) != 0 || st.st_uid != 0 || st.st_gid != 0)
            g_report += at + name + " has mode " + std::to_string(st.st_mode & 07777) +
                        " owner " + std::to_string(st.st_uid) + ":" +
                        std::to_string(st.st_gid) + "\n";
    }
    pid_t pid = fork();
    if (pid == 0)
        _exit(probe_as_user());
    int st = 0;
    if (pid < 0 || waitpid(pid, &st, 0) != pid || !WIFEXITED(st))
        g_report += at + "probe did not run\n";
    else if (WEXITSTATUS(st) != 0)
        g_report += at + "probe bits " + std::to_string(WEXITSTATUS(st)) + "\n";
}

class SettingsFileNs : public ::testing::Test {
  protected:
    void SetUp() override
    {
        ASSERT_EQ(0u, geteuid()) << "needs root: ids of other users, capabilities";
        char tmpl[] = "/tmp/corvix-settings-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(tmpl));
        dir_ = tmpl;
        ASSERT_EQ(0, chmod(tmpl, 0755));  // as the installed folder: anyone may look in
        conf_ = dir_ + "/Corvix.conf";
    }
    void TearDown() override
    {
        std::string cmd = "rm -rf '" + dir_ + "'";
        ASSERT_EQ(0, std::system(cmd.c_str()));
    }
    std::string dir_, conf_;
};

TEST_F(SettingsFileNs, NobodyElseCanOpenItAtAnyStepOfTheFirstRunOrASave)
{
    std::string dir = dir_, conf = conf_;
    EXPECT_EQ("", run_in_child(CLONE_NEWNS | CLONE_NEWPID, [&](ChildChecks &c) {
        g_dir = dir;
        g_control = dir + "/control";
        put(g_control, "", 0666);
        c.setup(chmod(g_control.c_str(), 0666) == 0, "control file");
        // Started set-user-ID root by nobody under umask 000, in nobody's groups.
        gid_t group = kNobody;
        c.setup(setgroups(1, &group) == 0 && setresgid(kNobody, kNobody, kNobody) == 0,
                "nobody's groups");
        c.setup(setresuid(kNobody, 0, 0) == 0, "real user nobody");
        umask(0);
        ClientSettings s{};
        status = STATUS_IDLE;
        check_mul_instance(&s);
        c.setup(status == STATUS_IDLE && getuid() == 0, "became root");

        ini_step_hook = look_at_folder;
        settings_path = conf.c_str();
        get_ini_message(&s);
        c.expect(g_steps >= 5, "steps seen on the first run: " + std::to_string(g_steps));
        int first_run_steps = g_steps;

        IniFile *ini = ini_open(conf.c_str());
        c.expect(ini && ini_set(ini, "OPTION@Url", "echo hello") == 1 && ini_save(ini) == 1,
                 "a later save");
        ini_close(ini);
        c.expect(g_steps >= first_run_steps + 4, "steps of the later save");
        ini_step_hook = nullptr;
        c.expect(g_report.empty(), g_report);

        struct stat st{};
        c.expect(stat(conf.c_str(), &st) == 0 && (st.st_mode & 07777) == 0600 && st.st_uid == 0 &&
                     st.st_gid == 0,
                 "0600 root:root at the end");
        c.expect(list_dir(dir) == std::set<std::string>({"Corvix.conf", "control"}),
                 "no temporary file left");
    }));
}

// ------------------------------------------------ reads that fail

std::string twenty_accounts()
{
    std::string text = "[OPTION]\nUSER = 20\nAutoStart = 0\nAutoLogon = 1\nUseCorvixDhcp = 1\n"
                       "TimeoutReconnect = 0\nTimeout = 800\nOpenUrl = 0\nUrl = \n"
                       "PrivateAuth = 0\nLassUserName = user7\nLassPassWord = CDEbdf\n"
                       "LassDeviceName = eth0\n";
    for (int n = 1; n <= 20; n++) {
        std::string i = std::to_string(n);
        text += "username" + i + " = user" + i + "\npassword" + i + " = CDE#;" + i + "\n";
    }
    return text;
}

// Takes from this root process the capabilities that let it read any file:
// a file's mode then holds for it as for anyone.
bool drop_read_override()
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (syscall(SYS_capget, &header, data) != 0)
        return false;
    for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH})
        data[cap / 32].effective &= ~(1u << (cap % 32));
    return syscall(SYS_capset, &header, data) == 0;
}

struct ReadFailure {
    const char *what;
    std::string tail;  // appended to the file's text
    // Makes the settings path unreadable in its way; returns the path to load.
    std::function<std::string(ChildChecks &, const std::string &dir, const std::string &file)> make;
};

TEST_F(SettingsFileNs, AFileThatCannotBeReadKeepsEveryStoredAccount)
{
    const std::string text = twenty_accounts();
    const ReadFailure cases[] = {
        {"no read access (EACCES)", "",
         [](ChildChecks &c, const std::string &, const std::string &file) {
             c.setup(chmod(file.c_str(), 0200) == 0, "write-only file");
             c.setup(drop_read_override(), "dropping the read override");
             c.setup(open(file.c_str(), O_RDONLY) < 0 && errno == EACCES, "root cannot read");
             return file;
         }},
        {"a link (ELOOP)", "",
         [](ChildChecks &c, const std::string &dir, const std::string &file) {
             std::string link = dir + "/link.conf";
             c.setup(symlink(file.c_str(), link.c_str()) == 0, "link");
             return link;
         }},
        {"larger than any settings file (EFBIG)", std::string(1100000, '#') + "\n",
         [](ChildChecks &, const std::string &, const std::string &file) { return file; }},
    };
    for (const ReadFailure &f : cases) {
        std::string dir = dir_, conf = conf_;
        EXPECT_EQ("", run_in_child(CLONE_NEWNS, [&](ChildChecks &c) {
            put(conf, text + f.tail, 0600);
            std::string before = file_text(conf);
            std::string path = f.make(c, dir, conf);
            std::set<std::string> names = list_dir(dir);
            settings_path = path.c_str();
            ClientSettings s{};
            status = STATUS_IDLE;
            get_ini_message(&s);
            c.expect(s.settings_unreadable == 1, std::string(f.what) + ": reported");
            c.expect(s.users == nullptr && s.auto_logon == 0, std::string(f.what) + ": none loaded");
            c.setup(chmod(conf.c_str(), 0600) == 0, "readable again for the comparison");
            c.expect(file_text(conf) == before && before.size() >= text.size(),
                     std::string(f.what) + ": file unchanged");
            c.expect(list_dir(dir) == names, std::string(f.what) + ": no file added");
        })) << f.what;
    }
}

TEST_F(SettingsFileNs, OnlyAMissingFileStartsTheFirstRunAndAReadableOneIsOnlyRead)
{
    std::string conf = conf_;
    const std::string text = twenty_accounts();
    EXPECT_EQ("", run_in_child(CLONE_NEWNS, [&](ChildChecks &c) {
        settings_path = conf.c_str();
        put(conf, text, 0640);
        c.setup(chown(conf.c_str(), 0, kNobody) == 0, "a file an older version left");
        ClientSettings s{};
        get_ini_message(&s);
        c.expect(s.settings_unreadable == 0 && g_list_length(s.users) == 20, "20 accounts");
        c.expect(file_text(conf) == text, "reading writes nothing");
        struct stat st{};
        c.expect(stat(conf.c_str(), &st) == 0 && (st.st_mode & 07777) == 0600 && st.st_gid == 0,
                 "narrowed to 0600 root:root");

        c.setup(unlink(conf.c_str()) == 0, "removed");
        ClientSettings first{};
        get_ini_message(&first);
        c.expect(first.settings_unreadable == 0, "a missing file is no failure");
        c.expect(file_text(conf).rfind("[OPTION]\nUSER = 0\n", 0) == 0, "first-run file written");
    }));
}

}  // namespace
