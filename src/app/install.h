// SPDX-License-Identifier: GPL-2.0-or-later
// Command-line installer and the autostart entry.
#pragma once

#include <glib.h>

// Answers "--help"/"--version", performs "-install"/"-uninstall" or refuses to go on when not installed.
void check_install(int *argc, char **argv);
[[noreturn]] void install();
[[noreturn]] void uninstall();
// Thread body: adds or removes the autostart entry from the auto_start value it is
// handed as GINT_TO_POINTER(auto_start).
gpointer set_autostart(gpointer auto_start);
