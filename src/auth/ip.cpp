// SPDX-License-Identifier: GPL-2.0-or-later
#include "auth/ip.h"

#include <cstring>
#include <linux/if_ether.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "app/check.h"

namespace {

// The name field is copied with at most 16 bytes and zero padding.
void fill_request(ifreq &ifr, const char *name)
{
    std::memset(&ifr, 0, sizeof ifr);
    std::strncpy(ifr.ifr_name, name, sizeof ifr.ifr_name);
    ifr.ifr_addr.sa_family = AF_INET;
}

}  // namespace

int GetMacFromDevice(uint8_t out[6], const char *devicename)
{
    int fd = socket(PF_PACKET, SOCK_RAW, htons(ETH_P_ARP));
    CHECK(fd != -1);
    CHECK(strlen (devicename) < 16);
    ifreq ifr;
    fill_request(ifr, devicename);
    int err = ioctl(fd, SIOCGIFHWADDR, &ifr);
    // An interface unplugged since it was listed is an ordinary failure.
    if (err == -1) {
        close(fd);
        return 0;
    }
    std::memcpy(out, ifr.ifr_hwaddr.sa_data, 6);
    err = close(fd);
    CHECK(err != -1);
    return 1;
}

void GetIpFromDevice(uint8_t out[4], const char *DeviceName)
{
    CHECK(strlen(DeviceName) <= 16);
    std::memset(out, 0xff, 4);
    // No interface has a 16-character name; the kernel would cut it to 15
    // and answer for another interface.
    if (std::strlen(DeviceName) >= IFNAMSIZ)
        return;
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    CHECK(fd>0);
    ifreq ifr;
    fill_request(ifr, DeviceName);
    if (ioctl(fd, SIOCGIFADDR, &ifr) == 0) {
        const sockaddr_in *sin = reinterpret_cast<const sockaddr_in *>(&ifr.ifr_addr);
        std::memcpy(out, &sin->sin_addr.s_addr, 4);
    }
    close(fd);
}
