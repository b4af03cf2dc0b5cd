// SPDX-License-Identifier: GPL-2.0-or-later
// Address acquisition after EAP-Success and the post-login action.
#pragma once

#include <cstdint>
#include <string>

#include "app/records.h"
#include "auth/worker_link.h"

// Returns 0 once the interface holds an address (status is then STATUS_ONLINE);
// on failure or when superseded it ends the calling worker thread itself.
int request_ip(AppContext *ctx, const char *device, int *generation);
// Stops every running DHCP client by name, so none keeps renewing an address.
void stop_dhcp_clients();

// The command that obtains the address; line empty when there is none.
struct AddressCommand {
    std::string line;
    bool url_used;  // the url itself was chosen: no post-login action follows
};

// Picks the address command; dhclient_present is the result of probing /sbin/dhclient.
AddressCommand choose_address_command(const AddressSettings &as, const std::string &device,
                                      bool dhclient_present);
// True when url begins with exactly "http://" or "https://" (a page to open, not a program line).
bool is_web_page(const std::string &url);
// Runs the program line with login_name's rights, never root's.
std::string program_line_command(const std::string &login_name, const std::string &line);
// False for no address: 0.0.0.0, 169.x.y.z, and 255.255.255.255 (none at all).
bool address_obtained(const uint8_t ip[4]);
