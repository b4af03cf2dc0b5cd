// SPDX-License-Identifier: GPL-2.0-or-later
#include "support/sandbox.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <grp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

int report_fd = -1;  // the child's end of the report pipe

void write_all(int fd, const std::string &text)
{
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n <= 0 && errno != EINTR)
            return;
        if (n > 0)
            done += static_cast<size_t>(n);
    }
}

std::string read_all(int fd)
{
    std::string out;
    char buf[4096];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return out;
        out.append(buf, static_cast<size_t>(n));
    }
}

std::string wait_text(pid_t pid)
{
    int st = 0;
    while (waitpid(pid, &st, 0) < 0) {
        if (errno != EINTR)
            return "waitpid failed";
    }
    if (WIFEXITED(st) && WEXITSTATUS(st) == 0)
        return "";
    if (WIFEXITED(st))
        return "child exited with " + std::to_string(WEXITSTATUS(st));
    return "child killed by signal " + std::to_string(WTERMSIG(st));
}

[[noreturn]] void child_body(int flags, const std::function<void(ChildChecks &)> &fn)
{
    ChildChecks c;
    c.setup(unshare(flags) == 0, std::string("unshare: ") + std::strerror(errno));
    if (flags & CLONE_NEWNS)
        c.setup(mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0,
                "making / private");
    if (flags & CLONE_NEWPID) {
        pid_t inner = fork();
        c.setup(inner >= 0, "fork into the PID namespace");
        if (inner > 0) {
            std::string how = wait_text(inner);
            _exit(how.empty() ? 0 : 1);
        }
        c.setup(mount("proc", "/proc", "proc", 0, nullptr) == 0, "mounting /proc");
    }
    if (flags & CLONE_NEWNET) {
        (void)umount2("/sys", MNT_DETACH);
        c.setup(mount("sysfs", "/sys", "sysfs", 0, nullptr) == 0, "mounting /sys");
    }
    fn(c);
    write_all(report_fd, c.failures);
    _exit(0);
}

}  // namespace

void ChildChecks::expect(bool ok, const std::string &what)
{
    if (!ok)
        failures += what + "\n";
}

void ChildChecks::setup(bool ok, const std::string &what)
{
    if (ok)
        return;
    write_all(report_fd, failures + "set-up failed: " + what + "\n");
    _exit(2);
}

std::string run_in_child(int unshare_flags, const std::function<void(ChildChecks &)> &fn)
{
    int fds[2];
    if (pipe(fds) != 0)
        return "set-up failed: pipe";
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0)
        return "set-up failed: fork";
    if (pid == 0) {
        close(fds[0]);
        report_fd = fds[1];
        child_body(unshare_flags, fn);
    }
    close(fds[1]);
    std::string report = read_all(fds[0]);
    close(fds[0]);
    std::string how = wait_text(pid);
    return how.empty() ? report : report + how + "\n";
}

bool mount_overlay(const std::string &dir, const std::string &scratch)
{
    static int n = 0;
    std::string base = scratch + "/ov" + std::to_string(n++);
    std::string upper = base + "/upper", work = base + "/work";
    if (mkdir(base.c_str(), 0755) != 0 || mkdir(upper.c_str(), 0755) != 0 ||
        mkdir(work.c_str(), 0755) != 0)
        return false;
    std::string opts = "lowerdir=" + dir + ",upperdir=" + upper + ",workdir=" + work;
    return mount("overlay", dir.c_str(), "overlay", 0, opts.c_str()) == 0;
}

namespace {

int open_capture(const std::string &path)
{
    return open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
}

[[noreturn]] void exec_child(const std::vector<std::string> &argv, const std::string &cwd,
                             uid_t uid, int out_fd, int err_fd)
{
    int null_fd = open("/dev/null", O_RDONLY);
    if (null_fd < 0 || dup2(null_fd, 0) < 0 || dup2(out_fd, 1) < 0 || dup2(err_fd, 2) < 0)
        _exit(126);
    if (chdir(cwd.c_str()) != 0)
        _exit(126);
    if (uid != static_cast<uid_t>(-1) &&
        (setgroups(0, nullptr) != 0 || setgid(uid) != 0 || setuid(uid) != 0))
        _exit(126);
    std::vector<char *> args;
    for (const std::string &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
}

}  // namespace

RunResult run_program(const std::vector<std::string> &argv, const std::string &cwd, uid_t uid)
{
    RunResult r;
    char dir[] = "/tmp/corvix-run-XXXXXX";
    if (!mkdtemp(dir))
        return r;
    std::string out_path = std::string(dir) + "/out", err_path = std::string(dir) + "/err";
    int out_fd = open_capture(out_path), err_fd = open_capture(err_path);
    std::fflush(nullptr);
    pid_t pid = out_fd >= 0 && err_fd >= 0 ? fork() : -1;
    if (pid == 0)
        exec_child(argv, cwd, uid, out_fd, err_fd);
    int st = 0;
    if (pid > 0 && waitpid(pid, &st, 0) == pid && WIFEXITED(st))
        r.exit_code = WEXITSTATUS(st);
    close(out_fd);
    close(err_fd);
    r.out = file_text(out_path);
    r.err = file_text(err_path);
    unlink(out_path.c_str());
    unlink(err_path.c_str());
    rmdir(dir);
    return r;
}

std::string file_text(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool has_sys_resource()
{
    std::string status = file_text("/proc/self/status");
    size_t at = status.find("\nCapEff:");
    if (at == std::string::npos)
        return false;
    unsigned long long caps = std::strtoull(status.c_str() + at + 8, nullptr, 16);
    return (caps >> CAP_SYS_RESOURCE) & 1;
}
