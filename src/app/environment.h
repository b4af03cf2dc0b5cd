// SPDX-License-Identifier: GPL-2.0-or-later
// What the set-user-ID root process takes over from its caller: a few
// environment variables and no command-line option that could load code.
#pragma once

#include <string>
#include <vector>

// The fixed search path of the system's own directories.
extern const char *const SAFE_PATH;

// From "NAME=VALUE" entries: DISPLAY, XAUTHORITY and the locale variables when
// their values are plain, the fixed PATH, an empty DBUS_SESSION_BUS_ADDRESS,
// and XAUTHORITY=<user_home>/.Xauthority when the caller gave none.
std::vector<std::string> reduced_environment(const std::vector<std::string> &env,
                                             const std::string &user_home);

// The arguments handed to GTK: the program name and at most one --display.
std::vector<std::string> gtk_safe_args(int argc, const char *const *argv);
