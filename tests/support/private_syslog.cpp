// SPDX-License-Identifier: GPL-2.0-or-later
#include "support/private_syslog.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

bool fail(std::string *error, const std::string &what)
{
    *error = what + ": " + std::strerror(errno);
    return false;
}

// The machine's /dev, entry by entry, under the new one.
bool bind_entries(const std::string &from, std::string *error)
{
    DIR *dir = opendir(from.c_str());
    if (!dir)
        return fail(error, "opendir " + from);
    bool ok = true;
    while (dirent *e = readdir(dir)) {
        std::string name = e->d_name;
        if (name == "." || name == ".." || name == "log")
            continue;
        std::string src = from + "/" + name, dst = "/dev/" + name;
        struct stat st;
        if (lstat(src.c_str(), &st) != 0)
            continue;
        if (S_ISLNK(st.st_mode)) {
            char target[256];
            ssize_t n = readlink(src.c_str(), target, sizeof target - 1);
            if (n > 0) {
                target[n] = '\0';
                (void)symlink(target, dst.c_str());
            }
            continue;
        }
        if (S_ISDIR(st.st_mode))
            ok = mkdir(dst.c_str(), 0755) == 0;
        else {
            int fd = open(dst.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
            ok = fd >= 0 && close(fd) == 0;
        }
        if (!ok || mount(src.c_str(), dst.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0) {
            ok = fail(error, "binding " + src);
            break;
        }
    }
    closedir(dir);
    return ok;
}

}  // namespace

PrivateSyslog::~PrivateSyslog()
{
    stop_ = true;
    if (reader_.joinable())
        reader_.join();
    if (fd_ >= 0)
        close(fd_);
    if (!scratch_.empty()) {
        (void)umount2((scratch_ + "/dev").c_str(), MNT_DETACH);
        (void)rmdir((scratch_ + "/dev").c_str());
        (void)rmdir(scratch_.c_str());
    }
}

bool PrivateSyslog::start()
{
    char scratch[] = "/tmp/cvg-syslog-XXXXXX";
    if (!mkdtemp(scratch))
        return fail(&error, "mkdtemp");
    scratch_ = scratch;
    std::string host = std::string(scratch) + "/dev";
    if (mkdir(host.c_str(), 0755) != 0 ||
        mount("/dev", host.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0)
        return fail(&error, "binding /dev aside");
    if (mount("tmpfs", "/dev", "tmpfs", 0, "mode=0755") != 0)
        return fail(&error, "tmpfs on /dev");
    if (!bind_entries(host, &error))
        return false;
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd_ < 0)
        return fail(&error, "socket");
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, "/dev/log");
    if (bind(fd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0)
        return fail(&error, "bind /dev/log");
    (void)chmod("/dev/log", 0666);
    reader_ = std::thread([this] { drain(); });
    return true;
}

void PrivateSyslog::drain()
{
    char buf[8192];
    while (!stop_) {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0)
            continue;
        ssize_t n;
        while ((n = recv(fd_, buf, sizeof buf, 0)) > 0) {
            std::string line(buf, static_cast<size_t>(n));
            while (!line.empty() && (line.back() == '\n' || line.back() == '\0'))
                line.pop_back();
            for (char &ch : line)
                ch = ch == '\n' ? '|' : ch;
            std::lock_guard<std::mutex> lock(mutex_);
            lines_ += line + "\n";
        }
    }
}

std::string PrivateSyslog::lines()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
}
