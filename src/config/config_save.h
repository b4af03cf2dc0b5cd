// SPDX-License-Identifier: GPL-2.0-or-later
// What the settings dialog's save does, without any widget: the choices read
// from the dialog become the settings file's options, then the run's own
// settings. The dialog itself (src/ui/config_dialog) only reads its controls
// and reports the result.
#pragma once

#include <sys/types.h>

#include <string>

#include "app/records.h"

// The dialog's controls at the moment the user saves.
struct ConfigChoice {
    bool open_url = false;
    std::string url;  // the page entry's text
    bool use_own_dhcp = false;
    bool timeout_reconnect = false;
    std::string timeout;  // the time-out entry's text
    bool auto_start = false;
    bool private_auth = false;
};

enum class ConfigSave {
    Saved,
    FileUnreadable,  // the settings file could not be opened: nothing changed
    ProgramRefused,  // a new program line from a user other than root: nothing changed
    WriteFailed,     // the file could not be written: it stays as it was, nothing changed
    AutostartFailed,  // the options were stored, the start at desktop login not changed
};

// The time-out entry's text as seconds: a decimal number (leading blanks and a
// sign allowed, reading stops at the first other character, no digits give 0),
// at most 3600; 7 or less becomes 800.
int timeout_from_text(const char *text);

// The page entry's text as `url` holds it: up to the first line break, cut to
// the field's 91 bytes at a character boundary.
std::string url_field_text(const std::string &text);

// Whether the program started by a user of that login name runs as root.
bool login_is_root(const char *login_name);

// Writes the choice into the settings file at settings_path, then into s: the
// engine's side of the settings dialog's save (the window asks it through
// request_save). real_uid: who started the client. Root's choice becomes the
// machine-wide [OPTION]; another user's goes to their own section (see
// user_section), over the defaults for them alone. Root alone may store a
// program line (a url that is no web page) other than the one s already holds.
ConfigSave save_config(const ConfigChoice &choice, ClientSettings *s, uid_t real_uid);

// The options the engine stored, applied to the window's s as a save applies them.
void apply_saved_options(ClientSettings *s, int open_url, const char *url, int use_own_dhcp,
                         int timeout_reconnect, int timeout, int auto_start, int private_auth);

// The desktop launcher, in the user's two desktop folders under /home/<login
// name>: "桌面" first (a Chinese-language desktop), then "Desktop". Both run
// with the user's own rights, never root's: the folders are the user's.
// Whether the launcher box is offered: no launcher in either folder yet, and
// at least one of the folders exists.
bool launcher_wanted(const char *login_name);
// Copies the installed desktop entry into both folders; failures are silent.
void copy_launcher(const char *login_name);
