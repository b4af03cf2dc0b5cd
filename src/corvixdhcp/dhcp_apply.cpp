// SPDX-License-Identifier: GPL-2.0-or-later
#include "dhcp_apply.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "dhcp_netlink.h"

namespace {
// A folder that only root (or this process' own user) can change: a link
// found in it, or a file replaced in it, is then not an ordinary user's
// choice. Sticky folders such as /tmp are not.
bool folder_is_ours(const std::string &dir)
{
    struct stat st;
    return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
           (st.st_uid == 0 || st.st_uid == geteuid()) && (st.st_mode & 022) == 0;
}

std::string folder_of(const std::string &path)
{
    size_t slash = path.rfind('/');
    return slash == 0 ? "/" : path.substr(0, slash);
}



bool same_address(const DhcpLease &a, const DhcpLease &b)
{
    return a.address == b.address && a.prefix == b.prefix;
}

bool in_prefix(uint32_t addr, const DhcpLease &lease)
{
    uint32_t mask = lease.prefix == 0 ? 0 : ~uint32_t(0) << (32 - lease.prefix);
    return (addr & mask) == (lease.address & mask);
}

// What the file holds now, up to a limit that no resolver file reaches.
bool read_small_file(const char *path, std::string *out)
{
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0 && out->size() < 65536)
        out->append(buf, size_t(n));
    close(fd);
    return n == 0;
}

bool write_all(int fd, const std::string &text)
{
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

// Truncating first costs several times the write; the rest is cut off
// afterwards, and only when the old text was longer.
int write_in_place(const char *path, const std::string &text)
{
    int fd = open(path, O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return 0;
    bool ok = write_all(fd, text) && ftruncate(fd, off_t(text.size())) == 0;
    return close(fd) == 0 && ok;
}

void take_off_previous(int ifindex, const DhcpLease *previous, const DhcpLease &lease)
{
    if (!previous)
        return;
    if (previous->router && (previous->router != lease.router || !same_address(*previous, lease)))
        (void)nl_del_default_route(ifindex, previous->router);
    if (!same_address(*previous, lease))
        (void)nl_del_address(ifindex, previous->address, previous->prefix);
}

} // namespace

std::string resolv_conf_target(const char *path)
{
    std::string at = path;
    for (int hops = 0;; hops++) {
        struct stat st;
        if (lstat(at.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            break;
        if (hops == 8 || !folder_is_ours(folder_of(at)))
            return "";
        char buf[PATH_MAX];
        ssize_t n = readlink(at.c_str(), buf, sizeof buf - 1);
        if (n <= 0)
            return "";
        std::string next(buf, size_t(n));
        if (next[0] != '/')
            next = at.substr(0, at.rfind('/') + 1) + next;
        at = next;
    }
    if (at == path)
        return at;
    // Where the last link leads, with the folders' own links resolved; the
    // file itself may be missing (a manager that is not running).
    size_t slash = at.rfind('/');
    char real[PATH_MAX];
    if (slash == std::string::npos || !realpath(folder_of(at).c_str(), real))
        return "";
    std::string target = std::string(real) + at.substr(slash);
    bool allowed = target.rfind("/etc/", 0) == 0 || target.rfind("/run/", 0) == 0;
    return allowed && folder_is_ours(real) ? target : "";
}

int write_resolv_conf(const char *path, const std::string &text)
{
    std::string target = resolv_conf_target(path);
    if (target.empty())
        return 0;
    std::string now;
    if (read_small_file(target.c_str(), &now) && now == text)
        return 1;
    // A new file renamed over the old one: a reader never sees half a text.
    std::string dir = target.substr(0, target.rfind('/') + 1);
    std::string tmp = dir + ".resolv.conf.CorvixDHCP.XXXXXX";
    int fd = mkostemp(&tmp[0], O_CLOEXEC);
    if (fd < 0)
        return 0;
    bool ok = fchmod(fd, 0644) == 0 && write_all(fd, text);
    ok = close(fd) == 0 && ok;
    if (ok && rename(tmp.c_str(), target.c_str()) == 0)
        return 1;
    int err = errno;
    (void)unlink(tmp.c_str());
    // A file mounted over the name (a container's, "ip netns exec"'s) cannot
    // be replaced: it is written in place instead.
    return ok && err == EBUSY ? write_in_place(target.c_str(), text) : 0;
}

int lease_apply(int ifindex, const DhcpLease *previous, const DhcpLease &lease)
{
    take_off_previous(ifindex, previous, lease);
    if (!nl_set_address(ifindex, lease.address, lease.prefix, lease.broadcast)) {
        std::fprintf(stderr, "CorvixDHCP: cannot put %s/%d on the interface\n",
                     dhcp_addr_text(lease.address).c_str(), lease.prefix);
        return 0;
    }
    if (lease.router && !nl_add_default_route(ifindex, lease.router, !in_prefix(lease.router, lease)))
        std::fprintf(stderr, "CorvixDHCP: cannot add the default route through %s\n",
                     dhcp_addr_text(lease.router).c_str());
    if (lease.mtu && !nl_set_mtu(ifindex, lease.mtu))
        std::fprintf(stderr, "CorvixDHCP: cannot set the MTU to %u\n", unsigned(lease.mtu));
    return 1;
}

int lease_remove(int ifindex, const DhcpLease &lease)
{
    int route_gone = lease.router ? nl_del_default_route(ifindex, lease.router) : 1;
    return nl_del_address(ifindex, lease.address, lease.prefix) && route_gone;
}
