// SPDX-License-Identifier: GPL-2.0-or-later
#include "config/config_save.h"

#include <sys/stat.h>

#include <climits>
#include <cstring>
#include <memory>

#include "app/shell.h"
#include "config/ini.h"
#include "config/settings.h"
#include "dhcp/request_ip.h"

namespace {

constexpr int TIMEOUT_DEFAULT = 800;
constexpr int TIMEOUT_MAX = 3600;
constexpr int TIMEOUT_MIN = 8;
constexpr char DESKTOP_ENTRY[] = "/usr/share/Corvix2/Corvix.desktop";
const char *const DESKTOP_FOLDERS[] = {"桌面", "Desktop"};

struct IniCloser {
    void operator()(IniFile *ini) const { ini_close(ini); }
};
using IniPtr = std::unique_ptr<IniFile, IniCloser>;

// A save must not drop an option without a word: a missing key is added.
bool put_text(IniFile *ini, const std::string &address, const char *value)
{
    return ini_put(ini, address.c_str(), value) != 0;
}

bool put_int(IniFile *ini, const std::string &address, int value)
{
    return ini_put_int(ini, address.c_str(), value) != 0;
}

// The values a choice stands for, worked out once for the file and the run.
struct NewOptions {
    int open_url;
    std::string url;  // what the file stores: empty when the box is cleared
    int use_own_dhcp;
    int timeout_reconnect;
    int timeout;
    int auto_start;
    int private_auth;
};

NewOptions options_of(const ConfigChoice &c)
{
    NewOptions o;
    o.open_url = c.open_url ? 1 : 0;
    o.url = c.open_url ? url_field_text(c.url) : "";
    o.use_own_dhcp = c.use_own_dhcp ? 1 : 0;
    o.timeout_reconnect = c.timeout_reconnect ? 1 : 0;
    o.timeout = c.timeout_reconnect ? timeout_from_text(c.timeout.c_str()) : TIMEOUT_DEFAULT;
    o.auto_start = c.auto_start ? 1 : 0;
    o.private_auth = c.private_auth ? 1 : 0;
    return o;
}

// A program line runs as root when no DHCP client is found, so an ordinary
// user who may start the client must not be able to store one. The line
// already held came from the root-owned file and stays usable.
bool program_line_allowed(const NewOptions &o, const ClientSettings *s, bool by_root)
{
    if (!o.open_url || o.url.empty() || is_web_page(o.url) || by_root)
        return true;
    return o.url == s->url;
}

// Root's save writes the machine-wide defaults in [OPTION]; anyone else's
// lands in their own section, read over the defaults for them alone. A user's
// section never holds a program line: the one they may keep is root's, which
// then stays in [OPTION] and applies to them as it did.
bool write_file(IniFile *ini, const NewOptions &o, uid_t uid)
{
    std::string section = uid == 0 ? "OPTION" : user_section(uid);
    std::string url = uid == 0 || is_web_page(o.url) ? o.url : "";
    return put_int(ini, section + "@OpenUrl", o.open_url) &&
           put_text(ini, section + "@Url", url.c_str()) &&
           put_int(ini, section + "@UseCorvixDhcp", o.use_own_dhcp) &&
           put_int(ini, section + "@TimeoutReconnect", o.timeout_reconnect) &&
           put_int(ini, section + "@Timeout", o.timeout) &&
           put_int(ini, section + "@AutoStart", o.auto_start) &&
           put_int(ini, section + "@PrivateAuth", o.private_auth);
}

void apply(ClientSettings *s, const NewOptions &o)
{
    s->open_url = o.open_url;
    // A cleared box keeps the text in memory; open_url 0 means it is used nowhere.
    if (o.open_url)
        copy_field(s->url, o.url.c_str());
    s->use_own_dhcp = o.use_own_dhcp;
    s->timeout = o.timeout;
    // A running worker reads this one at each silence.
    __atomic_store_n(&s->timeout_reconnect, o.timeout_reconnect, __ATOMIC_RELAXED);
    s->auto_start = o.auto_start;
    s->private_auth = o.private_auth;
}

// Exits 0 when no launcher is in either folder yet and one of them exists.
std::string launcher_test_line(const std::string &login_name)
{
    std::string home = "/home/" + login_name + "/", line;
    for (const char *folder : DESKTOP_FOLDERS)
        line += "test -e " + shell_quote(home + folder + "/Corvix.desktop") + " && exit 1; ";
    for (const char *folder : DESKTOP_FOLDERS)
        line += "test -e " + shell_quote(home + folder) + " && exit 0; ";
    return line + "exit 1";
}

std::string launcher_copy_line(const std::string &login_name)
{
    std::string home = "/home/" + login_name + "/", line;
    for (const char *folder : DESKTOP_FOLDERS) {
        line += std::string("cp ") + DESKTOP_ENTRY + " " + shell_quote(home + folder + "/") +
                " 1>/dev/null 2>/dev/null; ";
    }
    return line + "exit 0";
}

}  // namespace

void apply_saved_options(ClientSettings *s, int open_url, const char *url, int use_own_dhcp,
                         int timeout_reconnect, int timeout, int auto_start, int private_auth)
{
    apply(s, NewOptions{open_url, url, use_own_dhcp, timeout_reconnect, timeout, auto_start,
                        private_auth});
}

int timeout_from_text(const char *text)
{
    const char *p = text ? text : "";
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        p++;
    bool negative = *p == '-';
    if (*p == '-' || *p == '+')
        p++;
    long long value = 0;
    for (; *p >= '0' && *p <= '9'; p++) {
        if (value <= TIMEOUT_MAX)  // anything larger ends as the maximum anyway
            value = value * 10 + (*p - '0');
    }
    if (negative)
        value = -value;
    if (value > TIMEOUT_MAX)
        value = TIMEOUT_MAX;
    if (value < TIMEOUT_MIN)
        value = TIMEOUT_DEFAULT;
    return static_cast<int>(value);
}

std::string url_field_text(const std::string &text)
{
    constexpr size_t URL_LINE_MAX = sizeof(ClientSettings{}.url) - 1;
    std::string line = text.substr(0, text.find_first_of("\r\n"));
    if (line.size() <= URL_LINE_MAX)
        return line;
    size_t end = URL_LINE_MAX;
    // Back off over continuation bytes (10xxxxxx) to the start of a character.
    while (end > 0 && (static_cast<unsigned char>(line[end]) & 0xc0) == 0x80)
        end--;
    return line.substr(0, end);
}

bool login_is_root(const char *login_name)
{
    UserIds ids;
    return user_ids(login_name, &ids) && ids.uid == 0;
}

ConfigSave save_config(const ConfigChoice &choice, ClientSettings *s, uid_t real_uid)
{
    NewOptions o = options_of(choice);
    if (!program_line_allowed(o, s, real_uid == 0))
        return ConfigSave::ProgramRefused;
    IniPtr ini(ini_open(settings_path));
    if (!ini)
        return ConfigSave::FileUnreadable;
    // Nothing is applied unless the whole file was written: what the run
    // uses is then what the next start reads.
    if (!write_file(ini.get(), o, real_uid) || !ini_save(ini.get()))
        return ConfigSave::WriteFailed;
    ini.reset();
    // The file holds passwords that anyone could unscramble: root's alone.
    (void)chmod(settings_path, 0600);
    apply(s, o);
    return ConfigSave::Saved;
}

bool launcher_wanted(const char *login_name)
{
    UserIds ids;
    return user_ids(login_name, &ids) && shell_run_as(ids, launcher_test_line(login_name)) == 0;
}

void copy_launcher(const char *login_name)
{
    UserIds ids;
    if (user_ids(login_name, &ids))
        (void)shell_run_as(ids, launcher_copy_line(login_name));
}
