// SPDX-License-Identifier: GPL-2.0-or-later
// A settings file of any bytes through the start-up loader into the run's
// record: every field stays within its width and holds what the loader
// promises, and loading never changes the file.
#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/records.h"
#include "config/settings.h"

namespace {

std::string g_dir;
std::string g_path;

void require(bool ok, const char *what)
{
    if (!ok) {
        fprintf(stderr, "fuzz_settings: %s\n", what);
        abort();
    }
}

void remove_dir()
{
    unlink(g_path.c_str());
    rmdir(g_dir.c_str());
}

bool write_file(const std::string &path, const uint8_t *data, size_t size)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    bool ok = size == 0 || write(fd, data, size) == static_cast<ssize_t>(size);
    return close(fd) == 0 && ok;
}

std::string read_file(const std::string &path)
{
    std::string out;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    char buf[4096];
    ssize_t n;
    while (fd >= 0 && (n = read(fd, buf, sizeof buf)) > 0)
        out.append(buf, static_cast<size_t>(n));
    if (fd >= 0)
        close(fd);
    return out;
}

template <size_t N> bool terminated(const char (&field)[N])
{
    return memchr(field, '\0', N) != nullptr;
}

bool flag(int v)
{
    return v == 0 || v == 1;
}

void check_record(const ClientSettings &s, size_t input_size)
{
    require(s.settings_unreadable == 0, "a readable file was reported unreadable");
    require(terminated(s.last_user) && terminated(s.last_password) && terminated(s.last_device) &&
                terminated(s.url),
            "a text field is not terminated within its width");
    require(flag(s.auto_start) && flag(s.use_own_dhcp) && flag(s.open_url) &&
                flag(s.private_auth) && flag(s.timeout_reconnect) && flag(s.auto_logon),
            "an option is neither 0 nor 1");
    require(s.timeout == 800 || (s.timeout_reconnect == 1 && s.timeout >= 8 && s.timeout <= 3600),
            "time-out outside 8..3600 or used without reconnecting");
    require(g_utf8_validate(s.last_password, -1, nullptr), "remembered password is no UTF-8");
    size_t users = 0;
    for (GList *l = s.users; l; l = l->next, users++)
        require(l->data && g_utf8_validate(static_cast<const char *>(l->data), -1, nullptr),
                "account name in the list is no UTF-8");
    // Every listed account stands on a line of its own ("usernameN" and a
    // line break but after the last): at least ten bytes each.
    require(users * 10 <= input_size + 1, "more accounts listed than the file can hold");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // Account names are converted from the locale's character set.
    (void)setlocale(LC_ALL, "C.UTF-8");
    // With root, a network namespace of our own: the interface list the loader
    // asks for then holds only lo and costs next to nothing.
    if (geteuid() == 0)
        (void)unshare(CLONE_NEWNET);
    std::string tmpl = access("/dev/shm", W_OK) == 0 ? "/dev/shm/fuzz_settings.XXXXXX"
                                                     : "/tmp/fuzz_settings.XXXXXX";
    require(mkdtemp(&tmpl[0]) != nullptr, "mkdtemp");
    g_dir = tmpl;
    g_path = g_dir + "/Corvix.conf";
    settings_path = g_path.c_str();
    atexit(remove_dir);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    require(write_file(g_path, data, size), "writing the settings file");
    ClientSettings s{};
    status = STATUS_IDLE;
    get_ini_message(&s);
    check_record(s, size);
    require(read_file(g_path) == std::string(reinterpret_cast<const char *>(data), size),
            "loading changed the settings file");
    g_list_free_full(s.users, g_free);
    g_list_free_full(s.devices, g_free);
    return 0;
}
