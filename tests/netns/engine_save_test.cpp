// SPDX-License-Identifier: GPL-2.0-or-later
// The settings dialog's save done by the engine, in a private mount
// namespace: the file takes the options, the autostart entry follows, and a
// program line that root stored earlier survives a user's save.
#include <gtest/gtest.h>

#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "app/engine.h"
#include "app/ipc.h"
#include "config/settings.h"
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

TEST_F(EngineSave, StoresTheOptionsAndKeepsTheAutostartEntryInStep)
{
    std::string scratch = dir_;
    EXPECT_EQ("", run_in_child(CLONE_NEWNS, [&](ChildChecks &c) {
        c.setup(mount("tmpfs", scratch.c_str(), "tmpfs", 0, "mode=0755") == 0, "tmpfs scratch");
        std::string layout = private_desktop_layout(scratch);
        c.setup(layout.empty(), "installed layout: " + layout);
        std::string conf = scratch + "/Corvix.conf";
        std::ofstream(conf) << "[OPTION]\nUSER = 0\nOpenUrl = 1\nUrl = /usr/local/bin/portal\n";
        settings_path = conf.c_str();
        ClientSettings s{};
        copy_field(s.url, "/usr/local/bin/portal");  // stored by root earlier
        int fds[2];
        c.setup(ipc_socketpair(fds), "socket pair");
        engine_setup(fds[1], &s, 1000);
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
        bool entry = false;
        for (int i = 0; i < 100 && !entry; i++, usleep(20 * 1000))
            entry = access("/etc/xdg/autostart/Corvix.desktop", F_OK) == 0;
        c.expect(entry, "autostart entry created");

        r = save_request("/usr/bin/xterm", 0);  // a new program line from a user
        engine_handle(fds[1], reinterpret_cast<uint8_t *>(&r), sizeof r);
        c.expect(answer(fds[0], got) && got.num[0] == SAVE_PROGRAM_REFUSED, "refused");
        c.expect(file_text(conf) == text, "file unchanged");
        c.expect(access("/etc/xdg/autostart/Corvix.desktop", F_OK) == 0, "entry stays");
    }));
}

}  // namespace
