// SPDX-License-Identifier: GPL-2.0-or-later
// Stand-ins for the two DHCP clients: copies of sleep under their names, so
// that the client's "killall" lines have something to end. Only for tests in
// a private PID namespace (as ctest runs the GUI and lab tiers).
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <glib.h>

// Programs named like the two DHCP clients.
struct FakeDhcpClients {
    FakeDhcpClients()
    {
        char tmpl[] = "/tmp/corvix-fake-XXXXXX";
        dir = mkdtemp(tmpl) ? tmpl : "";
        for (const char *name : {"dhclient", "CorvixDHCP"})
            pids.push_back(start(name));
    }
    ~FakeDhcpClients()
    {
        for (pid_t pid : pids)
            if (pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0) {
                kill(pid, SIGKILL);
                waitpid(pid, nullptr, 0);
            }
        for (const char *name : {"dhclient", "CorvixDHCP"})
            (void)unlink((dir + "/" + name).c_str());
        (void)rmdir(dir.c_str());
    }
    pid_t start(const std::string &name)
    {
        std::string path = dir + "/" + name;
        std::string copy = "cp /bin/sleep " + path;
        if (dir.empty() || std::system(copy.c_str()) != 0)
            return -1;
        pid_t pid = fork();
        if (pid == 0) {
            execl(path.c_str(), name.c_str(), "60", static_cast<char *>(nullptr));
            _exit(127);
        }
        return pid;
    }
    // True when every fake ended by SIGTERM (what killall sends) within the time.
    bool all_terminated(int timeout_ms)
    {
        for (pid_t &pid : pids) {
            int wstatus = 0;
            gint64 deadline = g_get_monotonic_time() + gint64(timeout_ms) * 1000;
            pid_t r;
            while ((r = waitpid(pid, &wstatus, WNOHANG)) == 0 && g_get_monotonic_time() < deadline)
                g_usleep(5000);
            if (r != pid || !WIFSIGNALED(wstatus) || WTERMSIG(wstatus) != SIGTERM)
                return false;
            pid = -1;
        }
        return true;
    }
    std::string dir;
    std::vector<pid_t> pids;
};
