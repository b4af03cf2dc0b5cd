// SPDX-License-Identifier: GPL-2.0-or-later
#include "config/settings.h"

#include <fcntl.h>
#include <net/if.h>
#include <pcap/pcap.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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

// Who stored account n: a user id, or NO_OWNER for an account an older
// version stored (and for a value no save of ours writes).
constexpr long NO_OWNER = -1;

long account_owner(IniFile *ini, int n)
{
    std::string address = numbered("owner", n);
    if (!list_search(ini, address.c_str()))
        return NO_OWNER;
    std::string text = get_text(ini, address);
    if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos)
        return NO_OWNER;
    unsigned long long id = std::stoull(text);
    return id >= static_cast<uid_t>(-1) ? NO_OWNER : static_cast<long>(id);
}

// The section of the last-used values and the automatic log-on of a user:
// root keeps the machine-wide keys, everyone else their own.
std::string values_section(uid_t uid)
{
    return uid == 0 ? "OPTION" : user_section(uid);
}

std::string value_address(uid_t uid, const char *key)
{
    return values_section(uid) + "@" + key;
}

// The number of account as owner stored it (NO_OWNER: as nobody has claimed
// it yet); 0 when there is none.
int find_owned(IniFile *ini, const std::string &account, int count, long owner)
{
    for (int n = 1; n <= count; n++) {
        if (account_owner(ini, n) == owner && get_text(ini, numbered("username", n)) == account)
            return n;
    }
    return 0;
}

// The number of the stored account that uid may read: their own; root also
// reads an account nobody has claimed yet, and then anyone's. 0 when none.
int find_account(IniFile *ini, const std::string &account, int count, uid_t uid)
{
    int n = find_owned(ini, account, count, static_cast<long>(uid));
    if (n != 0 || uid != 0)
        return n;
    if ((n = find_owned(ini, account, count, NO_OWNER)) != 0)
        return n;
    for (n = 1; n <= count; n++) {
        if (get_text(ini, numbered("username", n)) == account)
            return n;
    }
    return 0;
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
    explicit_bzero(clear, sizeof clear);
}

// Whether account n holds a password (never what it is).
bool has_password(IniFile *ini, int n)
{
    return n > 0 && !get_text(ini, numbered("password", n)).empty();
}

// The accounts the drop-down offers uid, newest first, each name once.
std::vector<std::string> account_names(IniFile *ini, int count, uid_t uid)
{
    std::vector<std::string> names;
    for (int n = count; n >= 1; n--) {
        std::string address = numbered("username", n);
        if (!list_search(ini, address.c_str()))
            continue;  // never invent an account the file does not hold
        long owner = account_owner(ini, n);
        if (uid != 0 && owner != static_cast<long>(uid))
            continue;
        std::string name = get_text(ini, address);
        if (std::find(names.begin(), names.end(), name) == names.end())
            names.push_back(name);
    }
    return names;
}

// The user's accounts and last-used values. The window is built from these
// in a process the user controls, so no password is loaded: only whether the
// last account has one stored, which the engine then uses on request.
void load_accounts(IniFile *ini, ClientSettings *s, uid_t uid)
{
    int count = account_count(ini);
    if (count == 0)
        return;
    for (const std::string &stored : account_names(ini, count, uid)) {
        if (gchar *name = _(stored.c_str()))
            s->users = g_list_append(s->users, name);
    }
    s->auto_logon = get_flag(ini, value_address(uid, "AutoLogon").c_str());
    std::string device = value_address(uid, "LassDeviceName");
    if (list_search(ini, device.c_str()))
        load_field(s->last_device, ini, device.c_str());
    load_field(s->last_user, ini, value_address(uid, "LassUserName").c_str());
    copy_field(s->last_password, "");
    s->last_password_stored =
        s->last_user[0] && has_password(ini, find_account(ini, s->last_user, count, uid));
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

// Records the account of uid under its number, adding it when it is new. An
// account nobody has claimed becomes uid's: the log-on that stores it has
// just shown that uid knows its password.
void store_account(IniFile *ini, const char *account, const char *stored, uid_t uid)
{
    int count = account_count(ini);
    int n = find_owned(ini, account, count, static_cast<long>(uid));
    if (n == 0)
        n = find_owned(ini, account, count, NO_OWNER);
    if (n != 0) {
        ini_set(ini, numbered("password", n).c_str(), stored);
        (void)ini_put(ini, numbered("owner", n).c_str(), std::to_string(uid).c_str());
        return;
    }
    if (count >= MAX_ACCOUNTS)
        return;
    ini_append(ini, numbered("username", count + 1).c_str(), account);
    ini_append(ini, numbered("password", count + 1).c_str(), stored);
    ini_append(ini, numbered("owner", count + 1).c_str(), std::to_string(uid).c_str());
    ini_set_int(ini, "OPTION@USER", count + 1);
}

// Moves the accounts after number n down by one and drops the last one.
void remove_account(IniFile *ini, int n, int count)
{
    for (int m = n + 1; m <= count; m++) {
        for (const char *key : {"username", "password", "owner"}) {
            std::string from = numbered(key, m), to = numbered(key, m - 1);
            if (list_search(ini, from.c_str()))
                (void)ini_put(ini, to.c_str(), get_text(ini, from).c_str());
            else
                (void)ini_remove(ini, to.c_str());
        }
    }
    ini_set_int(ini, "OPTION@USER", count - 1);
    for (const char *key : {"username", "password", "owner"})
        (void)ini_remove(ini, numbered(key, count).c_str());
}

// Forgets a deleted account as a user's last-used one.
void clear_last_used(IniFile *ini, uid_t uid, const std::string &account)
{
    if (get_text(ini, value_address(uid, "LassUserName")) != account)
        return;
    ini_set(ini, value_address(uid, "LassUserName").c_str(), "");
    ini_set(ini, value_address(uid, "LassPassWord").c_str(), "");
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
        load_accounts(ini.get(), settings, real_uid);
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
        explicit_bzero(scrambled, sizeof scrambled);
        std::printf("open config file error!\n");
        std::fflush(stdout);
        return 0;
    }
    uid_t uid = ctx->settings->real_uid;
    ini_put_int(ini.get(), value_address(uid, "AutoLogon").c_str(), ctx->settings->auto_logon);
    ini_put(ini.get(), value_address(uid, "LassUserName").c_str(), account);
    ini_put(ini.get(), value_address(uid, "LassPassWord").c_str(), stored);
    ini_put(ini.get(), value_address(uid, "LassDeviceName").c_str(), device);
    store_account(ini.get(), account, stored, uid);
    explicit_bzero(scrambled, sizeof scrambled);
    return ini_save(ini.get()) ? 1 : 0;
}

int stored_password(const char *account, uid_t uid, char (&clear)[21])
{
    IniPtr ini(ini_open(settings_path));
    if (!ini)
        return -1;
    int n = find_account(ini.get(), account, account_count(ini.get()), uid);
    if (n == 0)
        return 0;
    decrypt_to_field(clear, get_text(ini.get(), numbered("password", n)));
    return 1;
}

int store_auto_logon(int on, uid_t uid)
{
    IniPtr ini(ini_open(settings_path));
    if (!ini)
        return 0;
    if (!ini_put_int(ini.get(), value_address(uid, "AutoLogon").c_str(), on ? 1 : 0))
        return -1;
    return ini_save(ini.get()) ? 1 : -1;
}

int delete_stored_account(const std::string &account, uid_t uid, std::vector<std::string> &names)
{
    IniPtr ini(ini_open(settings_path));
    if (!ini)
        return -1;
    int count = account_count(ini.get());
    int n = find_account(ini.get(), account, count, uid);
    if (n == 0)
        return 0;
    long owner = account_owner(ini.get(), n);
    remove_account(ini.get(), n, count);
    clear_last_used(ini.get(), uid, account);
    if (owner != NO_OWNER && static_cast<uid_t>(owner) != uid)
        clear_last_used(ini.get(), static_cast<uid_t>(owner), account);
    if (!ini_save(ini.get()))
        return -2;
    names = account_names(ini.get(), count - 1, uid);
    return 1;
}
