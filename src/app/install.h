// SPDX-License-Identifier: GPL-2.0-or-later
// Command-line installer and the autostart entry.
#pragma once

#include <glib.h>
#include <sys/types.h>

// Answers "--help"/"--version", performs "-install"/"-uninstall" or refuses to go on when not installed.
void check_install(int *argc, char **argv);
[[noreturn]] void install();
[[noreturn]] void uninstall();
// Starts the client at desktop login for the user uid (on) or stops it (off);
// true when done. Root's choice is the machine's: /etc/xdg/autostart/Corvix.desktop,
// written whole as a new file renamed into place, or removed. Anyone else's
// is their own ~/.config/autostart/Corvix.desktop, written or removed by a
// child with the user's ids alone (folders made as the user when missing);
// off, while root's entry starts the client for everyone, writes a hidden
// entry of the same name, which the desktop takes as "not for this user".
bool set_autostart_for(uid_t uid, bool on);
// Root's entry as set_autostart_for(0, on), from GINT_TO_POINTER(auto_start); returns null.
gpointer set_autostart(gpointer auto_start);
