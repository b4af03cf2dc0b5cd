// SPDX-License-Identifier: GPL-2.0-or-later
// Address acquisition: run a DHCP client, check the address the interface then
// holds, report success, and carry out the post-login page or program.
#include "dhcp/request_ip.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include <glib.h>

#include "app/logging.h"
#include "app/shell.h"
#include "auth/ip.h"
#include "auth/worker_link.h"

extern char **environ;

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

constexpr int STOP_GRACE_MS = 1000;  // a stopped command's time to end before SIGKILL

// Starts line with the shell, stdin empty, in a process group of its own (so
// that a stop reaches what the shell started); the shell's PID, or -1.
pid_t spawn_line(const std::string &line)
{
    posix_spawnattr_t attr;
    posix_spawn_file_actions_t files;
    (void)posix_spawnattr_init(&attr);
    (void)posix_spawnattr_setpgroup(&attr, 0);
    (void)posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    (void)posix_spawn_file_actions_init(&files);
    (void)posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
    const char *argv[] = {"sh", "-c", line.c_str(), nullptr};
    pid_t pid = -1;
    int rc = posix_spawn(&pid, "/bin/sh", &files, &attr, const_cast<char *const *>(argv), environ);
    (void)posix_spawn_file_actions_destroy(&files);
    (void)posix_spawnattr_destroy(&attr);
    return rc == 0 ? pid : -1;
}

void reap(pid_t pid)
{
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

// Waits up to timeout_ms (-1: without limit) for the child behind pidfd, or
// until the generation moves on; true when the child has ended.
bool child_ended(int pidfd, int timeout_ms, const int *generation)
{
    gint64 deadline = g_get_monotonic_time() + gint64(timeout_ms) * 1000;
    for (;;) {
        int ms = timeout_ms < 0 ? -1 : static_cast<int>((deadline - g_get_monotonic_time()) / 1000);
        if (timeout_ms >= 0 && ms <= 0)
            return false;
        pollfd fds[2] = {{pidfd, POLLIN, 0}, {generation ? generation_wake_fd() : -1, POLLIN, 0}};
        int n = poll(fds, 2, ms);
        if (n < 0 && errno != EINTR)
            return true;  // waitpid decides
        if (fds[0].revents)
            return true;
        if (fds[1].revents)
            generation_wake_take();
        if (generation && thread_auth_num.load() != *generation)
            return false;
    }
}

gpointer reap_thread(gpointer pid)
{
    reap(static_cast<pid_t>(GPOINTER_TO_INT(pid)));
    return nullptr;
}

// Runs line and waits for it; a worker superseded meanwhile stops waiting and
// ends, after stopping the command when stop is set (a DHCP client of an
// attempt that no longer counts) or leaving it to run (the user's program).
// False when the line can't start.
bool run_and_wait(const std::string &line, const int *generation, bool stop)
{
    pid_t pid = spawn_line(line);
    if (pid < 0)
        return false;
    // Through syscall: this C library's header declares it without C linkage.
    int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (pidfd < 0 || child_ended(pidfd, -1, generation)) {
        if (pidfd >= 0)
            (void)close(pidfd);
        reap(pid);
        return true;
    }
    if (!stop) {
        GThread *t = g_thread_try_new("reap", reap_thread, GINT_TO_POINTER(pid), nullptr);
        if (t)
            g_thread_unref(t);
    } else {
        (void)kill(-pid, SIGTERM);
        if (!child_ended(pidfd, STOP_GRACE_MS, nullptr))
            (void)kill(-pid, SIGKILL);
        reap(pid);
    }
    (void)close(pidfd);
    end_worker_thread();
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
    if (!run_and_wait(line, generation, false))
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
    if (!run_and_wait(command.line, generation, true))
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
