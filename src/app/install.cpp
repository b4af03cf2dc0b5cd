// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/install.h"
#include "app/texts.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/shell.h"

namespace {

// Doubled slashes as the installed client has always probed it; the system
// reads them as single ones.
const char INSTALLED_PROBE[] = "//usr//share//Corvix2//Corvix";

const char *const INSTALL_COMMANDS[] = {
    "mkdir -p /usr/share/Corvix2",
    "cp -f ./Corvix* /usr/share/Corvix2",
    "cp -f ./Corvix.desktop /usr/share/applications",
    // Owner first: changing the owner afterwards would clear the set-user-ID bit.
    "chown 0:0 /usr/share/Corvix2/Corvix",
    "chmod 4755 /usr/share/Corvix2/Corvix",
    "cp -f ./libnimbus.so /usr/lib/gtk-2.0/2.10.0/engines/",
    "ln -s /usr/share/Corvix2/Corvix /usr/bin",
    "cp -f ./readme /usr/share/Corvix2",
};

const char *const UNINSTALL_COMMANDS[] = {
    "rm -f -r /usr/share/Corvix2",
    "rm -f /usr/bin/Corvix",
    "rm -f /usr/share/applications/Corvix.desktop",
    "rm -f /etc/xdg/autostart/Corvix.desktop",
};

const char AUTOSTART_ENTRY[] = "/etc/xdg/autostart/Corvix.desktop";

// dpkg's files are dpkg's to change: copying over them or removing them would
// leave a package that dpkg still lists but no longer matches its files.
bool installed_by_package()
{
    return shell_run("dpkg-query -S /usr/share/Corvix2/Corvix >/dev/null 2>&1") == 0;
}

bool is_installed()
{
    FILE *f = std::fopen(INSTALLED_PROBE, "r");
    if (!f)
        return false;
    std::fclose(f);
    return true;
}

// Prints a line to standard output before a shell command may write its own.
void say(const char *text)
{
    std::printf("%s\n", text);
    std::fflush(stdout);
}

[[noreturn]] void refuse_not_root(const char *first_line)
{
    std::fputs(first_line, stderr);
    std::fputs(text_of(T_ROOT_HINTS), stderr);
    std::fflush(stderr);
    std::exit(-1);
}

template <size_t N> void run_all(const char *const (&commands)[N])
{
    for (const char *line : commands)
        (void)shell_run(line);
}

bool is_command(int argc, char **argv, const char *command)
{
    return argc == 2 && argv[1] && std::strcmp(argv[1], command) == 0;
}

}  // namespace

void check_install(int *argc, char **argv)
{
    // Answered before anything needs an installation, root or a display.
    if (is_command(*argc, argv, "--version")) {
        say("Corvix " CORVIX_VERSION);
        std::exit(0);
    }
    if (is_command(*argc, argv, "--help")) {
        (void)choose_text_language();
        std::fputs(text_of(T_USAGE), stdout);
        std::fflush(stdout);
        std::exit(0);
    }
    if (is_command(*argc, argv, "-install"))
        install();
    if (is_command(*argc, argv, "-uninstall"))
        uninstall();
    if (!is_installed()) {
        say(text_of(T_NOT_INSTALLED));
        std::exit(-1);
    }
}

void install()
{
    if (getuid() != 0)
        refuse_not_root(text_of(T_INSTALL_NEEDS_ROOT));
    if (installed_by_package()) {
        say(text_of(T_INSTALLED_BY_PACKAGE));
        std::exit(-1);
    }
    if (is_installed()) {
        say(text_of(T_ALREADY_INSTALLED));
        std::exit(-1);
    }
    say(text_of(T_INSTALLING));
    run_all(INSTALL_COMMANDS);
    say(text_of(T_INSTALL_DONE));
    std::exit(0);
}

void uninstall()
{
    if (getuid() != 0)
        refuse_not_root(text_of(T_UNINSTALL_NEEDS_ROOT));
    if (installed_by_package()) {
        say(text_of(T_REMOVED_BY_PACKAGE));
        std::exit(-1);
    }
    if (!is_installed()) {
        say(text_of(T_NOT_INSTALLED));
        std::exit(-1);
    }
    say(text_of(T_UNINSTALLING));
    run_all(UNINSTALL_COMMANDS);
    say(text_of(T_UNINSTALL_DONE));
    std::exit(0);
}

gpointer set_autostart(gpointer auto_start)
{
    // Handed the value itself (GINT_TO_POINTER), not the settings dialog's
    // context: the dialog may be gone before this thread reads it.
    if (GPOINTER_TO_INT(auto_start) != 0)
        (void)shell_run("cp -f /usr/share/Corvix2/Corvix.desktop /etc/xdg/autostart/ 2>/dev/null");
    else
        (void)unlink(AUTOSTART_ENTRY);
    return nullptr;
}
