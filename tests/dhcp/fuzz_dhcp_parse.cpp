// SPDX-License-Identifier: GPL-2.0-or-later
// Feeds arbitrary bytes to the datagram and payload parsers, and whatever
// parses to a client in each state that takes replies.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "dhcp_ipudp.h"
#include "dhcp_machine.h"
#include "dhcp_packet.h"

namespace {

void drive_machine(const DhcpReply &r)
{
    DhcpClient c;
    dhcp_client_init(&c, r.chaddr, 1);
    DhcpLease held{};
    held.address = 0x0a000005;
    held.prefix = 24;
    for (DhcpState s : {DHCP_SELECTING, DHCP_REQUESTING, DHCP_INIT_REBOOT, DHCP_RENEWING}) {
        dhcp_start(&c, 0, s == DHCP_INIT_REBOOT ? &held : nullptr, DHCP_GIVE_UP_MS);
        c.state = s;
        c.xid = r.xid;
        c.offered_server = r.server_id;
        DhcpActions a = dhcp_on_reply(&c, 1000, r);
        if (a.apply)
            (void)dhcp_on_timer(&c, dhcp_t1_at(c));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    DhcpReply r;
    if (dhcp_parse_payload(data, size, &r))
        drive_machine(r);
    const uint8_t *payload = nullptr;
    size_t len = 0;
    for (int check = 0; check < 2; check++)
        if (ipudp_payload(data, size, check, &payload, &len) && dhcp_parse_payload(payload, len, &r))
            drive_machine(r);
    return 0;
}
