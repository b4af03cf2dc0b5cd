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

// From "NAME=VALUE" entries: the caller's own desktop settings, which the
// root process goes without and the window takes back once it runs as the
// caller: GTK's modules (assistive technologies), resource files, module path
// and input method, the home and XDG folders, and the accessibility bus. The
// first entry of a name rules; values longer than a path or with control
// characters go.
std::vector<std::string> desktop_environment(const std::vector<std::string> &env);

// The process' environment as "NAME=VALUE" entries.
std::vector<std::string> process_environment();
// Sets every "NAME=VALUE" entry in the process' environment.
void set_environment(const std::vector<std::string> &entries);

// The arguments handed to GTK: the program name and at most one --display.
std::vector<std::string> gtk_safe_args(int argc, const char *const *argv);
