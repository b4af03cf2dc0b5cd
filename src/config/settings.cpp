// SPDX-License-Identifier: GPL-2.0-or-later
#include "config/settings.h"

#include <fcntl.h>
#include <net/if.h>
#include <pcap/pcap.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/locale_text.h"
#include "config/ini.h"
#include "dhcp/request_ip.h"

const char *settings_path = "/usr/share/Corvix2/Corvix.conf";

namespace {

// Account numbers never go beyond this; a larger count is a hand-edited file.
const int MAX_ACCOUNTS = 9999;
// Longer than any line the store reads (126 characters).
const size_t VALUE_SIZE = 128;

struct IniCloser {
    void operator()(IniFile *ini) const { ini_close(ini); }
};
using IniPtr = std::unique_ptr<IniFile, IniCloser>;

struct FirstRunKey {
    const char *address;
    bool is_int;
    int number;
};

// The twelve option keys in the order the first run writes them.
const FirstRunKey FIRST_RUN_KEYS[] = {
    {"OPTION@USER", true, 0},           {"OPTION@AutoStart", true, 0},
    {"OPTION@AutoLogon", true, 0},      {"OPTION@UseCorvixDhcp", true, 1},
    {"OPTION@TimeoutReconnect", true, 0}, {"OPTION@Timeout", true, 800},
    {"OPTION@OpenUrl", true, 0},        {"OPTION@Url", false, 0},
    {"OPTION@PrivateAuth", true, 0},    {"OPTION@LassUserName", false, 0},
    {"OPTION@LassPassWord", false, 0},  {"OPTION@LassDeviceName", false, 0},
};

const int DEFAULT_TIMEOUT = 800;

std::string numbered(const char *key, int n)
{
    char address[64];
    std::snprintf(address, sizeof address, "OPTION@%s%d", key, n);
    return address;
}

std::string get_text(IniFile *ini, const std::string &address)
{
    char value[VALUE_SIZE];
    ini_get(ini, address.c_str(), value, sizeof value);
    return value;
}

// Copies a stored text into a fixed-width field only when it fits whole: a
// cut interface name, account or command line would mean something else.
template <size_t N> void load_field(char (&field)[N], IniFile *ini, const char *address)
{
    std::string value = get_text(ini, address);
    copy_field(field, value.size() < N ? value.c_str() : "");
}

int get_flag(IniFile *ini, const char *address)
{
    return ini_get_int(ini, address) != 0 ? 1 : 0;
}

// The stored account count; a negative or absurd count reads no account.
int account_count(IniFile *ini)
{
    int n = ini_get_int(ini, "OPTION@USER");
    return n < 0 ? 0 : (n > MAX_ACCOUNTS ? MAX_ACCOUNTS : n);
}

// A user's own value of an option, read over the machine-wide one when the
// user's section holds the key.
void overlay_flag(int *flag, IniFile *ini, const std::string &section, const char *key)
{
    std::string address = section + "@" + key;
    if (list_search(ini, address.c_str()))
        *flag = get_flag(ini, address.c_str());
}

// The options a user saved for themselves. A url is taken only as a web page,
// which opens in the user's session with the user's rights: a program line
// runs as root and stays root's alone in [OPTION].
void overlay_user_options(IniFile *ini, ClientSettings *s, uid_t uid)
{
    std::string section = user_section(uid);
    overlay_flag(&s->auto_start, ini, section, "AutoStart");
    overlay_flag(&s->use_own_dhcp, ini, section, "UseCorvixDhcp");
    overlay_flag(&s->open_url, ini, section, "OpenUrl");
    overlay_flag(&s->private_auth, ini, section, "PrivateAuth");
    overlay_flag(&s->timeout_reconnect, ini, section, "TimeoutReconnect");
    std::string timeout = section + "@Timeout";
    if (list_search(ini, timeout.c_str()))
        s->timeout = ini_get_int(ini, timeout.c_str());
    std::string url = get_text(ini, section + "@Url");
    if (is_web_page(url) && url.size() < sizeof s->url)
        copy_field(s->url, url.c_str());
}

void load_options(IniFile *ini, ClientSettings *s, uid_t uid)
{
    load_field(s->last_device, ini, "OPTION@LassDeviceName");
    s->auto_start = get_flag(ini, "OPTION@AutoStart");
    s->use_own_dhcp = get_flag(ini, "OPTION@UseCorvixDhcp");
    s->open_url = get_flag(ini, "OPTION@OpenUrl");
    load_field(s->url, ini, "OPTION@Url");
    s->private_auth = get_flag(ini, "OPTION@PrivateAuth");
    s->timeout_reconnect = get_flag(ini, "OPTION@TimeoutReconnect");
    s->timeout = ini_get_int(ini, "OPTION@Timeout");
    if (uid != 0)
        overlay_user_options(ini, s, uid);
    if (s->timeout_reconnect == 0 || s->timeout > 3600 || s->timeout <= 7)
        s->timeout = DEFAULT_TIMEOUT;
}

// An unscrambled password that the password entry can hold, or empty.
void decrypt_to_field(char (&field)[21], const std::string &stored)
{
    char clear[VALUE_SIZE];
    g_strlcpy(clear, stored.c_str(), sizeof clear);
    decrypt(clear);
    bool fits = std::strlen(clear) < sizeof field && g_utf8_validate(clear, -1, nullptr);
    copy_field(field, fits ? clear : "");
}

void load_accounts(IniFile *ini, ClientSettings *s)
{
    int count = account_count(ini);
    if (count == 0)
        return;
    for (int n = count; n >= 1; n--) {
        std::string address = numbered("username", n);
        if (!list_search(ini, address.c_str()))
            continue;  // never invent an account the file does not hold
        gchar *name = _(get_text(ini, address).c_str());
        if (name)
            s->users = g_list_append(s->users, name);
    }
    s->auto_logon = get_flag(ini, "OPTION@AutoLogon");
    load_field(s->last_user, ini, "OPTION@LassUserName");
    decrypt_to_field(s->last_password, get_text(ini, "OPTION@LassPassWord"));
}

void write_first_run_file()
{
    IniPtr ini(ini_create(settings_path));
    if (!ini)
        return;
    for (const FirstRunKey &k : FIRST_RUN_KEYS) {
        if (k.is_int)
            ini_append_int(ini.get(), k.address, k.number);
        else
            ini_append(ini.get(), k.address, "");
    }
    (void)ini_save(ini.get());
}

// The first run uses the values it has just written, so it gets the read
// time-out and DHCP choice that every later run gets from the file.
void use_first_run_values(ClientSettings *s)
{
    s->use_own_dhcp = 1;
    s->timeout = DEFAULT_TIMEOUT;
}

// The file holds passwords that anyone could unscramble: root's alone. A file
// an older version left readable to others or in the caller's group is
// narrowed in place (never through a link).
void restrict_settings_file()
{
    int fd = open(settings_path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid()) {
        if ((st.st_mode & 077) != 0)
            (void)fchmod(fd, st.st_mode & 0700);
        if (st.st_gid != getegid() && fchown(fd, static_cast<uid_t>(-1), getegid()) != 0) {
            // Best effort: the mode above already keeps everyone else out.
        }
    }
    close(fd);
}

struct DevsFree {
    void operator()(pcap_if_t *devs) const { pcap_freealldevs(devs); }
};

bool usable_device(const char *name)
{
    if (std::strcmp(name, "lo") == 0)
        return false;
    if (std::strlen(name) > 5 && std::strcmp(name + 5, "avahi") == 0)
        return false;
    // The capture library also lists pseudo-devices (any, nflog, dbus-system
    // and the like) that no frame can be sent on; only kernel interfaces count.
    return if_nametoindex(name) != 0;
}

void load_device_list(ClientSettings *s)
{
    char errbuf[PCAP_ERRBUF_SIZE];
    pcap_if_t *raw = nullptr;
    if (pcap_findalldevs(&raw, errbuf) != 0) {
        status = STATUS_NIC_LIST_FAILED;
        return;
    }
    std::unique_ptr<pcap_if_t, DevsFree> devs(raw);
    int count = 0;
    for (pcap_if_t *d = devs.get(); d; d = d->next) {
        if (!d->name || !usable_device(d->name))
            continue;
        gchar *name = locale_name_to_utf8(d->name);
        if (!name)
            continue;
        s->devices = g_list_append(s->devices, name);
        count++;
        if (std::strcmp(d->name, s->last_device) == 0)
            s->device_found = 1;
    }
    if (count == 0)
        status = STATUS_NO_NIC;
}

// Records the account under its number, adding it when it is new.
void store_account(IniFile *ini, const char *account, const char *stored)
{
    int count = account_count(ini);
    for (int n = 1; n <= count; n++) {
        if (get_text(ini, numbered("username", n)) == account) {
            ini_set(ini, numbered("password", n).c_str(), stored);
            return;
        }
    }
    if (count >= MAX_ACCOUNTS)
        return;
    ini_append(ini, numbered("username", count + 1).c_str(), account);
    ini_append(ini, numbered("password", count + 1).c_str(), stored);
    ini_set_int(ini, "OPTION@USER", count + 1);
}

// Moves the accounts after number n down by one and drops the last pair.
void remove_account(IniFile *ini, int n, int count)
{
    for (int m = n + 1; m <= count; m++) {
        std::string name = get_text(ini, numbered("username", m));
        std::string password = get_text(ini, numbered("password", m));
        ini_set(ini, numbered("username", m - 1).c_str(), name.c_str());
        ini_set(ini, numbered("password", m - 1).c_str(), password.c_str());
    }
    ini_set_int(ini, "OPTION@USER", count - 1);
    ini_remove(ini, numbered("username", count).c_str());
    ini_remove(ini, numbered("password", count).c_str());
}

// The stored account names, count..1: the order of the drop-down.
std::vector<std::string> account_names(IniFile *ini, int count)
{
    std::vector<std::string> names;
    for (int n = count; n >= 1; n--)
        names.push_back(get_text(ini, numbered("username", n)));
    return names;
}

int find_account(IniFile *ini, const std::string &account, int count)
{
    for (int n = 1; n <= count; n++) {
        if (get_text(ini, numbered("username", n)) == account)
            return n;
    }
    return 0;
}

}  // namespace

std::string user_section(uid_t uid)
{
    return "UID" + std::to_string(static_cast<unsigned long>(uid));
}

int get_ini_message(ClientSettings *settings)
{
    return get_ini_message(settings, 0);
}

int get_ini_message(ClientSettings *settings, uid_t real_uid)
{
    int error = 0;
    IniPtr ini(ini_load(settings_path, &error));
    if (ini) {
        load_options(ini.get(), settings, real_uid);
        load_accounts(ini.get(), settings);
        ini.reset();
        restrict_settings_file();
    } else if (error == ENOENT) {
        write_first_run_file();
        use_first_run_values(settings);
    } else {
        // Only a missing file is a first run: a file that exists but cannot be
        // read (no memory, no access, a fault) keeps every stored account.
        settings->settings_unreadable = 1;
    }
    load_device_list(settings);
    return 0;
}

void encrypt(char *text)
{
    for (size_t i = 0; i < std::strlen(text); i++) {
        int b = static_cast<signed char>(text[i]);
        int changed = b <= 57 ? b + 49 + static_cast<int>(i) : b - 30;
        text[i] = static_cast<char>(static_cast<unsigned char>(changed & 0xff));
    }
}

void decrypt(char *text)
{
    for (size_t i = 0; i < std::strlen(text); i++) {
        int b = static_cast<signed char>(text[i]);
        int changed = b > 96 ? b - 49 - static_cast<int>(i) : b + 30;
        text[i] = static_cast<char>(static_cast<unsigned char>(changed & 0xff));
    }
}

int set_msg(const char *account, const char *password, const char *device, AppContext *ctx)
{
    char scrambled[21];
    copy_field(scrambled, password);
    encrypt(scrambled);
    const char *stored = ctx->settings->remember_password ? scrambled : "";
    IniPtr ini(ini_open(settings_path));
    if (!ini) {
        std::printf("open config file error!\n");
        std::fflush(stdout);
        return 0;
    }
    ini_set_int(ini.get(), "OPTION@AutoLogon", ctx->settings->auto_logon);
    ini_set(ini.get(), "OPTION@LassUserName", account);
    ini_set(ini.get(), "OPTION@LassPassWord", stored);
    ini_set(ini.get(), "OPTION@LassDeviceName", device);
    store_account(ini.get(), account, stored);
    return ini_save(ini.get()) ? 1 : 0;
}

int stored_password(const char *account, char (&clear)[21])
{
    IniPtr ini(ini_open(settings_path));
    if (!ini)
        return -1;
    int n = find_account(ini.get(), account, account_count(ini.get()));
    if (n == 0)
        return 0;
    decrypt_to_field(clear, get_text(ini.get(), numbered("password", n)));
    return 1;
}

int store_auto_logon(int on)
{
    IniPtr ini(ini_open(settings_path));
    if (!ini)
        return 0;
    ini_set_int(ini.get(), "OPTION@AutoLogon", on ? 1 : 0);
    return ini_save(ini.get()) ? 1 : -1;
}

int delete_stored_account(const std::string &account, std::vector<std::string> &names)
{
    IniPtr ini(ini_open(settings_path));
    if (!ini)
        return -1;
    int count = account_count(ini.get());
    int n = find_account(ini.get(), account, count);
    if (n == 0)
        return 0;
    remove_account(ini.get(), n, count);
    if (get_text(ini.get(), "OPTION@LassUserName") == account) {
        ini_set(ini.get(), "OPTION@LassUserName", "");
        ini_set(ini.get(), "OPTION@LassPassWord", "");
    }
    if (!ini_save(ini.get()))
        return -2;
    names = account_names(ini.get(), count - 1);
    return 1;
}
