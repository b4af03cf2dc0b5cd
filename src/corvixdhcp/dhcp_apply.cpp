#include "dhcp_apply.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

#include "dhcp_netlink.h"

namespace {

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

int write_resolv_conf(const char *path, const std::string &text)
{
    std::string now;
    bool known = read_small_file(path, &now);
    if (known && now == text)
        return 1;
    // Truncating first costs several times the write; cut the rest off
    // afterwards, and only when the old text was longer.
    int fd = open(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return 0;
    bool ok = write_all(fd, text);
    if (ok && (!known || now.size() > text.size()))
        ok = ftruncate(fd, off_t(text.size())) == 0;
    return close(fd) == 0 && ok;
}

int lease_apply(int ifindex, const DhcpLease *previous, const DhcpLease &lease,
                const char *resolv_path)
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
    std::string resolv = dhcp_resolv_conf_text(lease);
    if (!resolv.empty() && !write_resolv_conf(resolv_path, resolv))
        std::fprintf(stderr, "CorvixDHCP: cannot write %s\n", resolv_path);
    return 1;
}

int lease_remove(int ifindex, const DhcpLease &lease)
{
    int route_gone = lease.router ? nl_del_default_route(ifindex, lease.router) : 1;
    return nl_del_address(ifindex, lease.address, lease.prefix) && route_gone;
}
