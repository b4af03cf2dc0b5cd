// SPDX-License-Identifier: GPL-2.0-or-later
// The entry sequence of the client.
#include <clocale>
#include <string>
#include <vector>

#include "app/environment.h"
#include "app/install.h"
#include "app/privilege.h"
#include "app/records.h"
#include "app/startup.h"
#include "app/window_half.h"
#include "config/settings.h"
#include "ui/main_window.h"

int main(int argc, char **argv)
{
    // First of all: nothing the caller's resource limits, umask, signal
    // dispositions or environment hold may steer this set-user-ID root
    // process. The window takes the caller's limits back with the user's ids.
    const ResourceLimits caller_limits = take_root_limits();
    set_process_defaults();
    // Kept aside for the window, which takes them back as the user.
    const std::vector<std::string> desktop = desktop_environment(process_environment());
    reduce_environment();
    // The settings are read before GTK sets the locale; without this, `_`
    // would take every stored account name for ASCII and drop the others.
    (void)std::setlocale(LC_ALL, "");
    static ClientSettings settings{};  // zero-filled, lives for the whole run
    // Who started the client, before the switch to root hides it.
    RealUser user = current_real_user();
    user.limits = caller_limits;
    user.desktop = desktop;
    settings.real_uid = user.uid;
    check_install(&argc, argv);
    check_mul_instance(&settings);
    // The options of the user who started the client, over the machine-wide ones.
    get_ini_message(&settings, user.uid);
    // Root's work and the user's display never meet in one process: from
    // here the engine keeps root without a display, and this process goes on
    // as the window with the user's rights only.
    split_client(&settings, user);

    static std::vector<std::string> gtk_args = gtk_safe_args(argc, argv);
    static std::vector<char *> gtk_argv;
    for (std::string &arg : gtk_args)
        gtk_argv.push_back(&arg[0]);
    gtk_argv.push_back(nullptr);
    int gtk_argc = static_cast<int>(gtk_args.size());
    char **gtk_argv_ptr = gtk_argv.data();
    show_main_window(&gtk_argc, &gtk_argv_ptr, &settings);
    return 0;
}
