// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/shell.h"

#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

extern char **environ;

std::string shell_quote(const std::string &value)
{
    std::string out = "'";
    for (char c : value) {
        if (c == '\'')
            out += "'\\''";  // close, escaped quote, reopen
        else
            out += c;
    }
    out += '\'';
    return out;
}

int shell_run(const std::string &line)
{
    int rc = std::system(line.c_str());
    if (rc == -1 || !WIFEXITED(rc))
        return -1;
    return WEXITSTATUS(rc);
}

bool shell_output(const std::string &line, std::string &output)
{
    FILE *pipe = popen(line.c_str(), "r");
    if (!pipe)
        return false;
    char buf[64];
    size_t n = std::fread(buf, 1, sizeof buf - 1, pipe);
    output.assign(buf, n);
    // Drain so the writer never dies of SIGPIPE before pclose reaps it.
    while (std::fread(buf, 1, sizeof buf, pipe) > 0) {
    }
    pclose(pipe);
    return true;
}

bool user_ids(const char *login_name, UserIds *out)
{
    if (!login_name || !*login_name)
        return false;
    struct passwd *pw = getpwnam(login_name);
    if (!pw)
        return false;
    out->uid = pw->pw_uid;
    out->gid = pw->pw_gid;
    int count = 32;
    out->groups.resize(static_cast<size_t>(count));
    if (getgrouplist(login_name, pw->pw_gid, out->groups.data(), &count) < 0) {
        out->groups.resize(static_cast<size_t>(count));
        if (getgrouplist(login_name, pw->pw_gid, out->groups.data(), &count) < 0)
            count = 0;  // only the primary group then
    }
    out->groups.resize(static_cast<size_t>(count));
    return true;
}

int shell_run_as(const UserIds &ids, const std::string &line)
{
    pid_t pid = fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        // Only system calls between fork and exec: other threads may hold locks.
        // The window of the split client already is that user and may not set groups.
        bool already = ids.uid != 0 && getuid() == ids.uid && geteuid() == ids.uid;
        bool dropped = already || (setgroups(ids.groups.size(), ids.groups.data()) == 0 &&
                                   setgid(ids.gid) == 0 && setuid(ids.uid) == 0 &&
                                   getuid() == ids.uid && geteuid() == ids.uid &&
                                   getegid() == ids.gid);
        // Root must be gone for good, not merely set aside.
        if (!dropped || (ids.uid != 0 && setuid(0) == 0))
            _exit(127);
        // Nothing of the client's (X connection, capture handle) reaches the user's shell.
        (void)close_range(3, ~0U, 0);
        execle("/bin/sh", "sh", "-c", line.c_str(), static_cast<char *>(nullptr), environ);
        _exit(127);
    }
    int rc = 0;
    while (waitpid(pid, &rc, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}
