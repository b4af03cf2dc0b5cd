// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/environment.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

const char *const SAFE_PATH = "/usr/sbin:/usr/bin:/sbin:/bin";

namespace {

bool all_of_set(const std::string &value, const char *allowed)
{
    for (unsigned char c : value) {
        if (!(std::isalnum(c) && c < 0x80) && !std::strchr(allowed, c))
            return false;
    }
    return true;
}

// A locale name or a LANGUAGE list: no path separator and no leading dot, so
// it can never name a message catalogue outside the system's locale folders.
bool plain_locale(const std::string &value, bool is_list)
{
    if (value.empty() || value.size() > 64 || value[0] == '.')
        return false;
    return all_of_set(value, is_list ? "_.@+-,:" : "_.@+-,");
}

bool plain_display(const std::string &value)
{
    return !value.empty() && value.size() < 256 && all_of_set(value, "._:/-");
}

bool plain_path(const std::string &value)
{
    if (value.empty() || value[0] != '/' || value.size() >= 4096)
        return false;
    for (unsigned char c : value) {
        if (c < 0x20 || c == 0x7f)
            return false;
    }
    return true;
}

// Read by the window's GTK and the libraries it loads, never by root's work.
const char *const DESKTOP_NAMES[] = {
    "GTK_MODULES", "GTK2_RC_FILES", "GTK_RC_FILES", "GTK_PATH",
    "GTK_IM_MODULE", "GTK_IM_MODULE_FILE", "XMODIFIERS",
    "HOME", "XDG_CONFIG_HOME", "XDG_CONFIG_DIRS", "XDG_DATA_HOME", "XDG_DATA_DIRS", "XDG_RUNTIME_DIR",
    "GNOME_ACCESSIBILITY", "NO_AT_BRIDGE", "AT_SPI_BUS_ADDRESS",
};

bool is_desktop_name(const std::string &name)
{
    for (const char *n : DESKTOP_NAMES) {
        if (name == n)
            return true;
    }
    return false;
}

// Bounded, one line of printable text.
bool plain_text(const std::string &value)
{
    if (value.size() >= 4096)
        return false;
    for (unsigned char c : value) {
        if (c < 0x20 || c == 0x7f)
            return false;
    }
    return true;
}

bool is_locale_name(const std::string &name)
{
    if (name == "LANG" || name == "LANGUAGE")
        return true;
    return name.size() > 3 && name.compare(0, 3, "LC_") == 0 &&
           all_of_set(name.substr(3), "_");
}

// Whether NAME=value is taken over from the caller.
bool keep_variable(const std::string &name, const std::string &value)
{
    if (name == "DISPLAY")
        return plain_display(value);
    if (name == "XAUTHORITY")
        return plain_path(value);
    if (is_locale_name(name))
        return plain_locale(value, name == "LANGUAGE");
    return false;
}

bool seen_before(const std::vector<std::string> &names, const std::string &name)
{
    for (const std::string &n : names) {
        if (n == name)
            return true;
    }
    return false;
}

}  // namespace

std::vector<std::string> reduced_environment(const std::vector<std::string> &env,
                                             const std::string &user_home)
{
    std::vector<std::string> out;
    std::vector<std::string> names;  // every name met, kept or not: the first one rules
    bool has_xauthority = false;
    for (const std::string &entry : env) {
        size_t eq = entry.find('=');
        if (eq == std::string::npos || eq == 0)
            continue;
        std::string name = entry.substr(0, eq);
        if (seen_before(names, name))
            continue;
        names.push_back(name);
        if (!keep_variable(name, entry.substr(eq + 1)))
            continue;
        out.push_back(entry);
        has_xauthority = has_xauthority || name == "XAUTHORITY";
    }
    std::string fallback = user_home + "/.Xauthority";
    if (!has_xauthority && plain_path(user_home) && plain_path(fallback))
        out.push_back("XAUTHORITY=" + fallback);
    out.push_back(std::string("PATH=") + SAFE_PATH);
    out.push_back("DBUS_SESSION_BUS_ADDRESS=");
    return out;
}

std::vector<std::string> desktop_environment(const std::vector<std::string> &env)
{
    std::vector<std::string> out;
    std::vector<std::string> names;
    for (const std::string &entry : env) {
        size_t eq = entry.find('=');
        if (eq == std::string::npos || eq == 0)
            continue;
        std::string name = entry.substr(0, eq);
        if (!is_desktop_name(name) || seen_before(names, name))
            continue;
        names.push_back(name);
        if (plain_text(entry.substr(eq + 1)))
            out.push_back(entry);
    }
    return out;
}

std::vector<std::string> process_environment()
{
    std::vector<std::string> env;
    for (char **e = environ; e && *e; e++)
        env.emplace_back(*e);
    return env;
}

void set_environment(const std::vector<std::string> &entries)
{
    for (const std::string &entry : entries) {
        size_t eq = entry.find('=');
        if (eq == std::string::npos || eq == 0)
            continue;
        (void)setenv(entry.substr(0, eq).c_str(), entry.c_str() + eq + 1, 1);
    }
}

std::vector<std::string> gtk_safe_args(int argc, const char *const *argv)
{
    // GTK never sees the caller's program name or options: --gtk-module and
    // the debug options could load code into this root process. Only the
    // display to open is passed on.
    std::vector<std::string> out{"Corvix"};
    for (int i = 1; i < argc && argv && argv[i]; i++) {
        std::string arg = argv[i];
        if (arg == "--")
            break;
        std::string value;
        if (arg.compare(0, 10, "--display=") == 0)
            value = arg.substr(10);
        else if (arg == "--display" && i + 1 < argc && argv[i + 1])
            value = argv[++i];
        else
            continue;
        if (plain_display(value)) {
            out.push_back("--display=" + value);
            break;
        }
    }
    return out;
}
