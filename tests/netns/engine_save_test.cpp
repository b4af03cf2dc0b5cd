// SPDX-License-Identifier: GPL-2.0-or-later
// The settings dialog's save done by the engine, in a private mount
// namespace: the file takes the options, the autostart entry follows, and a
// program line that root stored earlier survives a user's save. A user's
// save goes to their own section and their own autostart entry, written with
// their ids; a save that cannot be written is reported as failed.
#include <gtest/gtest.h>

#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <signal.h>
#include <sys/resource.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "app/engine.h"
#include "app/ipc.h"
#include "config/settings.h"
#include "support/attack.h"
#include "support/sandbox.h"
#include "support/scratch.h"

namespace {

IpcRecord save_request(const char *url, int auto_start)
{
    IpcRecord r = ipc_record(REQ_SAVE_SETTINGS);
    r.num[OPT_OPEN_URL] = 1;
    r.num[OPT_TIMEOUT_RECONNECT] = 1;
    r.num[OPT_AUTO_START] = auto_start;
    ipc_set_text(r, 0, url);
    ipc_set_text(r, 1, "12ab");
    return r;
}

bool answer(int fd, IpcRecord &r)
{
    for (int i = 0; i < 100; i++) {
        if (recv(fd, &r, 0, MSG_PEEK | MSG_DONTWAIT) >= 0)
            return ipc_recv(fd, r) == RecvResult::Record;
        usleep(10 * 1000);
    }
    return false;
}

using EngineSave = ScratchTest;

const char kRootOptions[] = "[OPTION]\nUSER = 0\nOpenUrl = 1\nUrl = /usr/local/bin/portal\n"
                            "AutoStart = 0\nTimeout = 800\n";

// One save through the engine started by uid; the verdict, or -1 without an answer.
int save_as(uid_t uid, ClientSettings *s, const IpcRecord &request)
{
    int fds[2];
    if (!ipc_socketpair(fds))
        return -1;
    engine_setup(fds[1], s, uid);
    IpcRecord r = request;
    engine_handle(fds[1], reinterpret_cast<uint8_t *>(&r), sizeof r);
    IpcRecord got;
    int verdict = answer(fds[0], got) && got.kind == MSG_SETTINGS_SAVED ? got.num[0] : -1;
    close(fds[0]);
    close(fds[1]);
    return verdict;
}

struct stat stat_of(const std::string &path)
{
    struct stat st{};
    if (lstat(path.c_str(), &st) != 0)
        st.st_mode = 0;
    return st;
}

bool owned_by(const std::string &path, const AttackUser &u)
{
    struct stat st = stat_of(path);
    return st.st_mode != 0 && st.st_uid == u.uid && st.st_gid == u.gid;
}

// A tmpfs scratch holding the installed layout and a settings file of text,
// which settings_path names from here on. Returns the file's path.
std::string scratch_install(ChildChecks &c, const std::string &scratch, const char *text)
{
    static std::string conf;
    c.setup(mount("tmpfs", scratch.c_str(), "tmpfs", 0, "mode=0755") == 0, "tmpfs scratch");
    std::string layout = private_desktop_layout(scratch);
    c.setup(layout.empty(), "installed layout: " + layout);
    conf = scratch + "/Corvix.conf";
    std::ofstream(conf) << text;
    settings_path = conf.c_str();
    return conf;
}

TEST_F(EngineSave, AUsersSaveIsTheirsAloneAndTheirAutostartEntryIsWrittenAsThem)
{
    std::string scratch = dir_;
    EXPECT_EQ("", run_in_child(CLONE_NEWNS, [&](ChildChecks &c) {
        std::string conf = scratch_install(c, scratch, kRootOptions);
        AttackUser u = attack_user_add(c, scratch);
        ClientSettings s{};
        get_ini_message(&s, u.uid);

        c.expect(save_as(u.uid, &s, save_request("http://mine.example/", 1)) == SAVE_DONE, "saved");
        std::string text = file_text(conf);
        c.expect(text.rfind(kRootOptions, 0) == 0, "[OPTION] unchanged: " + text);
        c.expect(text.find("[" + user_section(u.uid) + "]") != std::string::npos &&
                     text.find("Url = http://mine.example/") != std::string::npos,
                 "the user's section: " + text);
        ClientSettings other{};
        get_ini_message(&other, u.uid + 1);
        c.expect(std::string(other.url) == "/usr/local/bin/portal" && other.auto_start == 0,
                 "another user's view unchanged");

        std::string config = u.home + "/.config", folder = config + "/autostart";
        std::string entry = folder + "/Corvix.desktop";
        c.expect(file_text(entry) == kDesktopEntryText, "the user's entry: " + file_text(entry));
        c.expect(owned_by(config, u) && owned_by(folder, u) && owned_by(entry, u),
                 "folders and entry are the user's");
        c.expect((stat_of(config).st_mode & 07777) == 0700, "~/.config private");
        c.expect(access("/etc/xdg/autostart/Corvix.desktop", F_OK) != 0, "no machine-wide entry");

        c.expect(save_as(u.uid, &s, save_request("http://mine.example/", 0)) == SAVE_DONE, "off");
        c.expect(access(entry.c_str(), F_OK) != 0, "the user's entry removed");

        // A link the user planted at the name is replaced as the user, never
        // written through: root's file behind it stays as it was.
        std::string root_file = scratch + "/root-only";
        std::ofstream(root_file) << "root's\n";
        c.setup(chmod(root_file.c_str(), 0600) == 0 &&
                    symlink(root_file.c_str(), entry.c_str()) == 0,
                "link at the user's entry");
        c.expect(save_as(u.uid, &s, save_request("http://mine.example/", 1)) == SAVE_DONE, "on");
        c.expect(file_text(root_file) == "root's\n", "root's file untouched");
        c.expect(S_ISREG(stat_of(entry).st_mode) && owned_by(entry, u), "the link replaced");

        // Root's entry starts the client for everyone: the user's "off" hides it for them.
        std::ofstream("/etc/xdg/autostart/Corvix.desktop") << kDesktopEntryText;
        c.expect(save_as(u.uid, &s, save_request("http://mine.example/", 0)) == SAVE_DONE, "off");
        c.expect(file_text(entry).find("Hidden=true") != std::string::npos, "hidden for the user");
        c.expect(file_text("/etc/xdg/autostart/Corvix.desktop") == kDesktopEntryText,
                 "root's entry untouched");
    }));
}

TEST_F(EngineSave, RootsEntryIsReplacedWholeAndFailuresAreReportedAsFailed)
{
    std::string scratch = dir_;
    EXPECT_EQ("", run_in_child(CLONE_NEWNS, [&](ChildChecks &c) {
        std::string conf = scratch_install(c, scratch, kRootOptions);
        ClientSettings s{};
        get_ini_message(&s, 0);
        const std::string entry = "/etc/xdg/autostart/Corvix.desktop";
        std::string victim = scratch + "/victim";
        std::ofstream(victim) << "victim\n";
        c.setup(symlink(victim.c_str(), entry.c_str()) == 0, "link at root's entry");
        c.expect(save_as(0, &s, save_request("http://all.example/", 1)) == SAVE_DONE, "saved");
        c.expect(file_text(victim) == "victim\n", "not written through the link");
        struct stat st = stat_of(entry);
        c.expect(S_ISREG(st.st_mode) && (st.st_mode & 07777) == 0644 &&
                     file_text(entry) == kDesktopEntryText,
                 "a whole entry, mode 0644");
        c.expect(file_text(conf).find("Url = http://all.example/") != std::string::npos,
                 "[OPTION] written by root");
        std::string saved = file_text(conf);

        // No installed entry to copy: the options are stored, the verdict says the entry is not.
        c.setup(unlink("/usr/share/Corvix2/Corvix.desktop") == 0, "installed entry removed");
        c.expect(unlink(entry.c_str()) == 0, "entry removed");
        c.expect(save_as(0, &s, save_request("http://all.example/", 1)) == SAVE_AUTOSTART_FAILED,
                 "autostart failure reported");
        c.expect(access(entry.c_str(), F_OK) != 0, "no entry made up");

        // A file size limit of a few bytes: nothing can be written.
        struct rlimit small{16, 16};
        c.setup(signal(SIGXFSZ, SIG_IGN) != SIG_ERR && setrlimit(RLIMIT_FSIZE, &small) == 0,
                "file size limit");
        saved = file_text(conf);
        int before = s.timeout;
        c.expect(save_as(0, &s, save_request("http://other.example/", 0)) == SAVE_WRITE_FAILED,
                 "write failure reported");
        c.expect(file_text(conf) == saved, "the file stays whole");
        c.expect(s.timeout == before && std::string(s.url) == "http://all.example/",
                 "nothing applied");
    }));
}

TEST_F(EngineSave, StoresTheOptionsAndKeepsTheAutostartEntryInStep)
{
    std::string scratch = dir_;
    EXPECT_EQ("", run_in_child(CLONE_NEWNS, [&](ChildChecks &c) {
        std::string conf =
            scratch_install(c, scratch, "[OPTION]\nUSER = 0\nOpenUrl = 1\nUrl = /usr/local/bin/portal\n");
        ClientSettings s{};
        copy_field(s.url, "/usr/local/bin/portal");  // stored by root earlier
        AttackUser u = attack_user_add(c, scratch);
        const std::string user_entry = u.home + "/.config/autostart/Corvix.desktop";
        int fds[2];
        c.setup(ipc_socketpair(fds), "socket pair");
        engine_setup(fds[1], &s, u.uid);
        IpcRecord r = save_request("/usr/local/bin/portal", 1);
        engine_handle(fds[1], reinterpret_cast<uint8_t *>(&r), sizeof r);
        IpcRecord got;
        c.expect(answer(fds[0], got) && got.kind == MSG_SETTINGS_SAVED && got.num[0] == SAVE_DONE,
                 "saved");
        c.expect(got.num[SAVED_TIMEOUT] == 12 && got.num[1 + OPT_AUTO_START] == 1,
                 "stored options reported");
        std::string text = file_text(conf);
        c.expect(text.find("Timeout = 12") != std::string::npos &&
                     text.find("Url = /usr/local/bin/portal") != std::string::npos &&
                     text.find("AutoStart = 1") != std::string::npos,
                 "file: " + text);
        c.expect(access(user_entry.c_str(), F_OK) == 0, "the user's autostart entry created");

        r = save_request("/usr/bin/xterm", 0);  // a new program line from a user
        engine_handle(fds[1], reinterpret_cast<uint8_t *>(&r), sizeof r);
        c.expect(answer(fds[0], got) && got.num[0] == SAVE_PROGRAM_REFUSED, "refused");
        c.expect(file_text(conf) == text, "file unchanged");
        c.expect(access(user_entry.c_str(), F_OK) == 0, "entry stays");
    }));
}

}  // namespace
