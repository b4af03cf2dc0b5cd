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

#include "config/ini.h"
#include "ui/mainloop.h"
#include "ui/ui_text.h"
#include "ui/msg_dialog.h"

const char *settings_path = "/usr/share/Corvix2/Corvix.conf";

namespace {

// Account numbers never go beyond this; a larger count is a hand-edited file.
const int kMaxAccounts = 9999;
// Longer than any line the store reads (126 characters).
const size_t kValueSize = 128;

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
const FirstRunKey kFirstRunKeys[] = {
    {"OPTION@USER", true, 0},           {"OPTION@AutoStart", true, 0},
    {"OPTION@AutoLogon", true, 0},      {"OPTION@UseCorvixDhcp", true, 1},
    {"OPTION@TimeoutReconnect", true, 0}, {"OPTION@Timeout", true, 800},
    {"OPTION@OpenUrl", true, 0},        {"OPTION@Url", false, 0},
    {"OPTION@PrivateAuth", true, 0},    {"OPTION@LassUserName", false, 0},
    {"OPTION@LassPassWord", false, 0},  {"OPTION@LassDeviceName", false, 0},
};

const int kDefaultTimeout = 800;

SettingsRequests settings_requests{};

std::string numbered(const char *key, int n)
{
    char address[64];
    std::snprintf(address, sizeof address, "OPTION@%s%d", key, n);
    return address;
}

std::string get_text(IniFile *ini, const std::string &address)
{
    char value[kValueSize];
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
    return n < 0 ? 0 : (n > kMaxAccounts ? kMaxAccounts : n);
}

void load_options(IniFile *ini, ClientSettings *s)
{
    load_field(s->last_device, ini, "OPTION@LassDeviceName");
    s->auto_start = get_flag(ini, "OPTION@AutoStart");
    s->use_own_dhcp = get_flag(ini, "OPTION@UseCorvixDhcp");
    s->open_url = get_flag(ini, "OPTION@OpenUrl");
    load_field(s->url, ini, "OPTION@Url");
    s->private_auth = get_flag(ini, "OPTION@PrivateAuth");
    s->timeout_reconnect = get_flag(ini, "OPTION@TimeoutReconnect");
    s->timeout = ini_get_int(ini, "OPTION@Timeout");
    if (s->timeout_reconnect == 0 || s->timeout > 3600 || s->timeout <= 7)
        s->timeout = kDefaultTimeout;
}

// An unscrambled password that the password entry can hold, or empty.
void decrypt_to_field(char (&field)[21], const std::string &stored)
{
    char clear[kValueSize];
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
    for (const FirstRunKey &k : kFirstRunKeys) {
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
    s->timeout = kDefaultTimeout;
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
        gchar *name = _(d->name);
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

std::string password_entry_text(AppContext *ctx)
{
    // Without a window (the engine's side) the password of the log-on
    // request stands in for the entry's text.
    std::string text = ctx->widgets ? "" : ctx->settings->last_password;
    GtkWidget *entry = ctx->widgets ? ctx->widgets->password_entry : nullptr;
    if (entry)
        main_call_sync([&] { text = gtk_entry_get_text(GTK_ENTRY(entry)); });
    return text.substr(0, 20);
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
    if (count >= kMaxAccounts)
        return;
    ini_append(ini, numbered("username", count + 1).c_str(), account);
    ini_append(ini, numbered("password", count + 1).c_str(), stored);
    ini_set_int(ini, "OPTION@USER", count + 1);
}

GtkWidget *account_entry(AppContext *ctx)
{
    return GTK_COMBO(ctx->widgets->account_combo)->entry;
}

void report_settings_unreadable(AppContext *ctx, const char *text)
{
    gtk_widget_hide(ctx->widgets->window);
    show_msg_dialog(ctx, "错误", text, 1, 1);
}

bool toggle_active(GtkWidget *check)
{
    return gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(check)) != FALSE;
}

void set_toggle(GtkWidget *check, bool active)
{
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(check), active ? TRUE : FALSE);
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

void free_names(GList *list)
{
    for (GList *l = list; l; l = l->next)
        g_free(l->data);
    g_list_free(list);
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

int get_ini_message(ClientSettings *settings)
{
    int error = 0;
    IniPtr ini(ini_load(settings_path, &error));
    if (ini) {
        load_options(ini.get(), settings);
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

void set_msg(const char *account, const char *, const char *device, AppContext *ctx)
{
    char scrambled[21];
    copy_field(scrambled, password_entry_text(ctx).c_str());
    encrypt(scrambled);
    const char *stored = ctx->settings->remember_password ? scrambled : "";
    IniPtr ini(ini_open(settings_path));
    if (!ini) {
        std::printf("open config file error!\n");
        std::fflush(stdout);
        return;
    }
    ini_set_int(ini.get(), "OPTION@AutoLogon", ctx->settings->auto_logon);
    ini_set(ini.get(), "OPTION@LassUserName", account);
    ini_set(ini.get(), "OPTION@LassPassWord", stored);
    ini_set(ini.get(), "OPTION@LassDeviceName", device);
    store_account(ini.get(), account, stored);
    (void)ini_save(ini.get());
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
    (void)ini_save(ini.get());
    return 1;
}

int delete_stored_account(const std::string &account, std::vector<std::string> &names)
{
    IniPtr ini(ini_open(settings_path));
    if (!ini)
        return -1;
    int count = account_count(ini.get());
    int n = find_account(ini.get(), account, count);
    if (n != 0) {
        remove_account(ini.get(), n, count);
        if (get_text(ini.get(), "OPTION@LassUserName") == account) {
            ini_set(ini.get(), "OPTION@LassUserName", "");
            ini_set(ini.get(), "OPTION@LassPassWord", "");
        }
        names = account_names(ini.get(), count - 1);
    }
    (void)ini_save(ini.get());
    return n != 0 ? 1 : 0;
}

void set_settings_requests(const SettingsRequests &requests)
{
    settings_requests = requests;
}

void apply_stored_password(AppContext *ctx, const char *account, int found, const char *clear)
{
    // An answer for an account the entry no longer shows is stale.
    if (std::strcmp(account, gtk_entry_get_text(GTK_ENTRY(account_entry(ctx)))) != 0)
        return;
    GtkWidget *password = ctx->widgets->password_entry;
    if (found != 1) {
        if (found == 0)
            gtk_entry_set_text(GTK_ENTRY(password), "");
        return;
    }
    gtk_entry_set_text(GTK_ENTRY(password), clear);
    set_toggle(ctx->widgets->remember_check, clear[0] != '\0');
}

void apply_account_list(AppContext *ctx, const std::vector<std::string> &names)
{
    GList *list = nullptr;
    for (const std::string &name : names) {
        if (gchar *converted = _(name.c_str()))
            list = g_list_append(list, converted);
    }
    GtkCombo *combo = GTK_COMBO(ctx->widgets->account_combo);
    if (list)
        gtk_combo_set_popdown_strings(combo, list);
    else
        gtk_list_clear_items(GTK_LIST(combo->list), 0, -1);
    // The first list is the settings' own; later ones are ours to free.
    if (ctx->widgets->account_list != ctx->settings->users)
        free_names(ctx->widgets->account_list);
    ctx->widgets->account_list = list;
}

void on_username_combo_changed(GtkWidget *, AppContext *ctx)
{
    ClientSettings *s = ctx->settings;
    copy_field(s->last_user, gtk_entry_get_text(GTK_ENTRY(account_entry(ctx))));
    if (settings_requests.lookup_password) {
        settings_requests.lookup_password(s->last_user);
        return;
    }
    char clear[21] = "";
    int found = stored_password(s->last_user, clear);
    apply_stored_password(ctx, s->last_user, found, clear);
}

void on_autologon_check_toggle(GtkWidget *, AppContext *ctx)
{
    bool on = toggle_active(ctx->widgets->auto_logon_check);
    // The file's owner stores it and reports a failure itself.
    if (!settings_requests.set_auto_logon && !store_auto_logon(on ? 1 : 0)) {
        report_settings_unreadable(ctx, "读取配置文件失败，当前设置不能被保存！");
        return;
    }
    ctx->settings->auto_logon = on ? 1 : 0;
    if (on)
        set_toggle(ctx->widgets->remember_check, true);
    if (settings_requests.set_auto_logon)
        settings_requests.set_auto_logon(on ? 1 : 0);
}

void on_remember_passwd_check_toggle(GtkWidget *, AppContext *ctx)
{
    if (toggle_active(ctx->widgets->remember_check)) {
        ctx->settings->remember_password = 1;
        return;
    }
    ctx->settings->remember_password = 0;
    // Automatic log-on needs the password: the box comes back at once.
    if (toggle_active(ctx->widgets->auto_logon_check)) {
        set_toggle(ctx->widgets->remember_check, true);
        ctx->settings->remember_password = 1;
    }
}

gboolean on_lock_clicked(GtkWidget *, GdkEventButton *event, AppContext *ctx)
{
    if (!event || event->button != 1)
        return FALSE;
    std::string account = gtk_entry_get_text(GTK_ENTRY(account_entry(ctx)));
    if (settings_requests.delete_account) {
        settings_requests.delete_account(account.c_str());
    } else {
        std::vector<std::string> names;
        int deleted = delete_stored_account(account, names);
        if (deleted < 0) {
            report_settings_unreadable(ctx, "读取配置文件失败！");
            return FALSE;
        }
        if (deleted)
            apply_account_list(ctx, names);
    }
    gtk_entry_set_text(GTK_ENTRY(account_entry(ctx)), "");
    gtk_entry_set_text(GTK_ENTRY(ctx->widgets->password_entry), "");
    return FALSE;
}
