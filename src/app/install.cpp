// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/install.h"
#include "app/texts.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

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

const char AUTOSTART_FOLDER[] = "/etc/xdg/autostart";
const char AUTOSTART_ENTRY[] = "/etc/xdg/autostart/Corvix.desktop";
const char INSTALLED_ENTRY[] = "/usr/share/Corvix2/Corvix.desktop";
// Far more than any desktop entry; a larger file is no entry of ours.
constexpr size_t ENTRY_MAX = 64 * 1024;
// What a user's own entry says while root's starts the client for everyone.
const char HIDDEN_ENTRY[] = "[Desktop Entry]\nType=Application\nName=Corvix\nHidden=true\n";

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

bool read_entry(std::string *text)
{
    int fd = open(INSTALLED_ENTRY, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st;
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 &&
              static_cast<size_t>(st.st_size) <= ENTRY_MAX;
    if (ok) {
        text->resize(static_cast<size_t>(st.st_size));
        ssize_t n = read(fd, &(*text)[0], text->size());
        ok = n == st.st_size;
    }
    close(fd);
    return ok;
}

// Only system calls from here on: the child of a process with threads, or
// the process itself. -1 with errno on failure.
int write_all(int fd, const char *data, size_t len)
{
    while (len > 0) {
        ssize_t n = write(fd, data, len);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return -1;
        data += n;
        len -= static_cast<size_t>(n);
    }
    return 0;
}

// The paths of one entry, worked out before any fork: the child only uses them.
struct EntryPaths {
    std::string folder, temp, target;
};

EntryPaths entry_paths(const std::string &folder)
{
    return EntryPaths{folder, folder + "/.Corvix.desktop.XXXXXX", folder + "/Corvix.desktop"};
}

// The entry written whole beside its name and renamed over it: the desktop
// never reads half a file, a failed write leaves the old entry, and a link
// at the name is replaced, never written through.
bool write_entry(EntryPaths &p, const std::string &text)
{
    int fd = mkostemp(&p.temp[0], O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = fchmod(fd, 0644) == 0 && write_all(fd, text.data(), text.size()) == 0 &&
              fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    ok = ok && rename(p.temp.c_str(), p.target.c_str()) == 0;
    if (!ok)
        (void)unlink(p.temp.c_str());
    return ok;
}

bool remove_entry(const EntryPaths &p)
{
    return unlink(p.target.c_str()) == 0 || errno == ENOENT;
}

struct UserHome {
    uid_t uid = 0;
    gid_t gid = 0;
    std::vector<gid_t> groups;
    std::string home;
};

bool user_home(uid_t uid, UserHome *u)
{
    struct passwd pw, *found = nullptr;
    std::vector<char> buf(16384);
    if (getpwuid_r(uid, &pw, buf.data(), buf.size(), &found) != 0 || !found || !pw.pw_dir ||
        pw.pw_dir[0] != '/')
        return false;
    u->uid = uid;
    u->gid = pw.pw_gid;
    u->home = pw.pw_dir;
    int count = 64;
    u->groups.resize(static_cast<size_t>(count));
    if (getgrouplist(pw.pw_name, pw.pw_gid, u->groups.data(), &count) < 0) {
        u->groups.resize(static_cast<size_t>(count));
        if (getgrouplist(pw.pw_name, pw.pw_gid, u->groups.data(), &count) < 0)
            count = 0;
    }
    u->groups.resize(static_cast<size_t>(count));
    return true;
}

// In the child: the user's groups and ids for good, checked.
bool become_user(const UserHome &u)
{
    return setgroups(u.groups.size(), u.groups.data()) == 0 && setresgid(u.gid, u.gid, u.gid) == 0 &&
           setresuid(u.uid, u.uid, u.uid) == 0 && getuid() == u.uid && geteuid() == u.uid &&
           getegid() == u.gid && setuid(0) != 0;
}

// A user's own entry, made or removed by a child that is that user: nothing
// in the user's home is ever touched with root's rights.
bool set_user_entry(uid_t uid, bool on)
{
    UserHome u;
    std::string text;
    if (!user_home(uid, &u))
        return false;
    bool root_entry = access(AUTOSTART_ENTRY, F_OK) == 0;
    if (on && !read_entry(&text))
        return false;
    if (!on && root_entry)
        text = HIDDEN_ENTRY;
    std::string config = u.home + "/.config";
    EntryPaths p = entry_paths(config + "/autostart");
    bool write = on || root_entry;
    pid_t pid = fork();
    if (pid < 0)
        return false;
    if (pid == 0) {
        // The folders as the desktop makes them: private config, readable autostart.
        bool ok = become_user(u);
        if (ok && write) {
            (void)umask(022);
            ok = (mkdir(config.c_str(), 0700) == 0 || errno == EEXIST) &&
                 (mkdir(p.folder.c_str(), 0755) == 0 || errno == EEXIST) && write_entry(p, text);
        } else if (ok) {
            ok = remove_entry(p);
        }
        _exit(ok ? 0 : 1);
    }
    int rc = 0;
    while (waitpid(pid, &rc, 0) < 0) {
        if (errno != EINTR)
            return false;
    }
    return WIFEXITED(rc) && WEXITSTATUS(rc) == 0;
}

}  // namespace

bool set_autostart_for(uid_t uid, bool on)
{
    if (uid != 0)
        return set_user_entry(uid, on);
    EntryPaths p = entry_paths(AUTOSTART_FOLDER);
    if (!on)
        return remove_entry(p);
    std::string text;
    return read_entry(&text) && write_entry(p, text);
}

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
    (void)set_autostart_for(0, GPOINTER_TO_INT(auto_start) != 0);
    return nullptr;
}
