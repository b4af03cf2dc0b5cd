// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/startup.h"

#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/environment.h"
#include "app/instance_lock.h"
#include "app/texts.h"
#include "app/window_half.h"
#include "ui/main_window.h"
#include "ui/msg_dialog.h"

extern char **environ;

int engine_is_root = -1;

namespace {

const StartupMessage STARTUP_MESSAGES[] = {
    {STATUS_NIC_LIST_FAILED, STATUS_ERROR, T_TITLE_ERROR, T_NIC_LIST_FAILED},
    {STATUS_NO_NIC, STATUS_NO_NIC, T_TITLE_ERROR, T_NO_NIC},
    {STATUS_NOT_ROOT, STATUS_ERROR, T_TITLE_ERROR, T_NOT_ROOT},
    {STATUS_ALREADY_RUNNING, STATUS_ERROR, T_TITLE_REMINDER, T_ALREADY_RUNNING},
};

bool is_xauthority(const std::string &entry)
{
    return entry.compare(0, 11, "XAUTHORITY=") == 0;
}

// Whether the real user may read the file (access() checks the real ids): the
// root process must not open a file for someone who can't.
bool caller_can_read(const std::string &path)
{
    return access(path.c_str(), R_OK) == 0;
}

// The caller's environment, with an XAUTHORITY that the caller cannot read
// emptied.
std::vector<std::string> caller_environment()
{
    std::vector<std::string> env;
    for (char **e = environ; e && *e; e++) {
        std::string entry = *e;
        if (is_xauthority(entry) && !caller_can_read(entry.substr(11)))
            entry = "XAUTHORITY=";
        env.push_back(entry);
    }
    return env;
}

std::string real_user_home()
{
    struct passwd *pw = getpwuid(getuid());
    return pw && pw->pw_dir ? pw->pw_dir : "";
}

// The login name of the real user, whole, or empty when there is none: a cut
// name could belong to another user.
void copy_login_name(ClientSettings *settings)
{
    struct passwd *pw = getpwuid(getuid());
    settings->login_name[0] = '\0';
    if (pw && pw->pw_name && std::strlen(pw->pw_name) < sizeof settings->login_name)
        copy_field(settings->login_name, pw->pw_name);
}

// User and group ids root's, with root's group alone as supplementary group:
// nothing the process creates may belong to the caller's groups.
bool become_root()
{
    const gid_t root_group = 0;
    return setuid(0) == 0 && getuid() == 0 && setgid(0) == 0 && getgid() == 0 &&
           getegid() == 0 && setgroups(1, &root_group) == 0;
}

}  // namespace

void set_process_defaults()
{
    // The caller's umask would reach every file this process and the programs
    // it runs as root create (the settings file, resolv.conf, the autostart
    // copy).
    umask(022);
    // A file-size limit must make a write fail, so the save can clean up,
    // instead of killing the process half-way through it.
    signal(SIGXFSZ, SIG_IGN);
}

void reduce_environment()
{
    reduce_environment_for(real_user_home());
}

void reduce_environment_for(const std::string &user_home)
{
    std::vector<std::string> env = reduced_environment(caller_environment(), user_home);
    // The fallback XAUTHORITY is checked like a given one.
    for (std::string &entry : env) {
        if (is_xauthority(entry) && !caller_can_read(entry.substr(11)))
            entry.clear();
    }
    clearenv();
    set_environment(env);
}

void check_mul_instance(ClientSettings *settings)
{
    copy_login_name(settings);
    (void)setenv("DBUS_SESSION_BUS_ADDRESS", "", 1);
    if (!become_root()) {
        status = STATUS_NOT_ROOT;
        return;
    }
    // Without a lock to be had (no /run) start-up goes on as if alone.
    if (take_instance_lock() == InstanceLock::Held)
        status = STATUS_ALREADY_RUNNING;
}

const StartupMessage *startup_message(int status_in)
{
    for (const StartupMessage &m : STARTUP_MESSAGES) {
        if (m.status_in == status_in)
            return &m;
    }
    return nullptr;
}

int main_error_handle(AppContext *ctx)
{
    const StartupMessage *m = startup_message(status);
    if (!m) {
        status = STATUS_IDLE;
        return 0;
    }
    status = m->status_out;
    show_msg_dialog(ctx, text_of(m->title), text_of(m->text), 1, 1);
    return 0;
}

void on_logon_button_clicked(GtkWidget *, AppContext *ctx)
{
    hide_main_window_widgets(ctx);
    if (status != STATUS_IDLE) {
        main_error_handle(ctx);
        if (status != STATUS_IDLE)
            return;
    }
    request_logon(ctx);
}

void startup_decision(AppContext *ctx)
{
    // Any stored non-zero value means on: a value of neither 0 nor 1 must not
    // leave the client running without a window or a log-on.
    bool auto_logon = ctx->settings->auto_logon != 0;
    if (status == STATUS_IDLE && ctx->settings->settings_unreadable) {
        // Nothing was loaded, so no automatic log-on either; the OK button
        // brings the window.
        show_msg_dialog(ctx, text_of(T_TITLE_ERROR), text_of(T_SETTINGS_UNREADABLE), 1, 1);
        return;
    }
    if (auto_logon && status == STATUS_IDLE) {
        request_logon(ctx);
        return;
    }
    if (!auto_logon && status == STATUS_IDLE) {
        show_main_window_widgets(ctx);
        return;
    }
    bool root = engine_is_root < 0 ? getuid() == 0 : engine_is_root == 1;
    if (!root)
        status = STATUS_NOT_ROOT;
    main_error_handle(ctx);
}
