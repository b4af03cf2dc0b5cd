// SPDX-License-Identifier: GPL-2.0-or-later
// Address acquisition: run a DHCP client, check the address the interface then
// holds, report success, and carry out the post-login page or program.
#include "dhcp/request_ip.h"

#include <syslog.h>

#include <cstdio>

#include "app/logging.h"
#include "app/shell.h"
#include "auth/ip.h"
#include "auth/worker_link.h"

namespace {

constexpr char DISCARD_OUTPUT[] = ">/dev/null 2>/dev/null";
constexpr char DHCLIENT_PATH[] = "/sbin/dhclient";
constexpr char OWN_DHCP_PATH[] = "/usr/share/Corvix2/CorvixDHCP";

[[noreturn]] void fail(TextId title, TextId text)
{
    link_set_status(STATUS_FAILED);
    link_show_message(title, user_text(text), 1, 0);
    end_worker_thread();
}

// Starts line with the shell and waits for the shell to end; false when it can't start.
bool run_and_wait(const std::string &line)
{
    FILE *pipe = popen(line.c_str(), "w");
    if (!pipe)
        return false;
    (void)pclose(pipe);
    return true;
}

void run_post_login(const AddressSettings &as, const int *generation)
{
    retire_if_superseded(*generation);
    // A page is the user's: their window opens it on their display.
    if (is_web_page(as.url)) {
        link_open_page(as.url);
        return;
    }
    std::string line = program_line_command(as.login_name, as.url);
    // An empty program line does nothing.
    if (as.url.empty())
        return;
    if (!run_and_wait(line))
        std::printf("popen() openUrl Error!\n");
}

}  // namespace

void stop_dhcp_clients()
{
    (void)shell_run("killall CorvixDHCP>/dev/null 2>/dev/null");
    (void)shell_run("killall dhclient>/dev/null 2>/dev/null");
}

AddressCommand choose_address_command(const AddressSettings &as, const std::string &device,
                                      bool dhclient_present)
{
    if (as.use_own_dhcp)
        return {std::string(OWN_DHCP_PATH) + " -e " + shell_quote(device) + DISCARD_OUTPUT, false};
    if (dhclient_present)
        return {std::string(DHCLIENT_PATH) + " " + shell_quote(device) + DISCARD_OUTPUT, false};
    if (as.open_url && !as.url.empty() && !is_web_page(as.url))
        return {as.url, true};
    return {"", false};
}

bool is_web_page(const std::string &url)
{
    // A secure page is a page too: run as a program line it would be a shell
    // command, and as the address command one that runs as root.
    return url.compare(0, 7, "http://") == 0 || url.compare(0, 8, "https://") == 0;
}

std::string program_line_command(const std::string &login_name, const std::string &line)
{
    return "su -s /bin/sh -c " + shell_quote(line) + " -- " + shell_quote(login_name);
}

bool address_obtained(const uint8_t ip[4])
{
    bool all_zero = ip[0] == 0 && ip[1] == 0 && ip[2] == 0 && ip[3] == 0;
    bool all_ones = ip[0] == 255 && ip[1] == 255 && ip[2] == 255 && ip[3] == 255;
    return !all_zero && !all_ones && ip[0] != 169;
}

int request_ip(AppContext *, const char *device, int *generation)
{
    AddressSettings as = link_read_address_settings();
    // The companion program, when wanted, is chosen without probing for dhclient.
    bool dhclient_present =
        !as.use_own_dhcp && shell_run(std::string("test -e ") + DHCLIENT_PATH) == 0;
    AddressCommand command = choose_address_command(as, device, dhclient_present);
    if (command.line.empty())
        fail(T_TITLE_NO_ADDRESS, T_NO_DHCP_CLIENT);
    if (!run_and_wait(command.line))
        fail(T_TITLE_NOTICE, T_POPEN_FAILED);
    retire_if_superseded(*generation);
    uint8_t ip[4];
    GetIpFromDevice(ip, device);
    const char *program = as.use_own_dhcp    ? "CorvixDHCP"
                          : dhclient_present ? "dhclient"
                                             : "the program line";
    if (!address_obtained(ip)) {
        log_line(LOG_WARNING, "%s: no address from %s", device, program);
        fail(T_TITLE_FAILED, T_DHCP_FAILED);
    }
    log_line(LOG_INFO, "%s: address %u.%u.%u.%u from %s", device, ip[0], ip[1], ip[2], ip[3], program);
    link_set_status(STATUS_ONLINE);
    link_progress_text(user_text(T_AUTH_SUCCEEDED));
    link_tray(TrayState::Online);
    if (as.open_url && !command.url_used)
        run_post_login(as, generation);
    return 0;
}
