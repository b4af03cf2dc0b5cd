// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/window_half.h"

#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string>

#include "app/engine.h"
#include "app/environment.h"
#include "app/instance_lock.h"
#include "app/privilege.h"
#include "app/startup.h"
#include "config/config_save.h"
#include "dhcp/request_ip.h"
#include "ui/account_handlers.h"
#include "ui/main_window.h"
#include "ui/msg_dialog.h"
#include "ui/status_surface.h"
#include "ui/tray.h"
#include "ui/main_widgets.h"

namespace {

int engine_fd = -1;
guint engine_watch = 0;
AppContext *window_ctx = nullptr;
// The window asked for the exit: the engine's end is then the expected one.
bool exit_requested = false;
std::vector<std::string> pending_names;
// Messages that arrived while the window waited for a save's answer, applied
// in order before anything newer.
std::deque<IpcRecord> deferred;
// How long a save waits for the engine's answer before it counts as failed.
constexpr int SAVE_WAIT_MS = 5000;

void send_request(const IpcRecord &r)
{
    // A lost engine shows itself on the watch, which reports it.
    (void)ipc_send(engine_fd, r);
}

// The text of an entry, of a GtkCombo's entry, or of a combo box's child entry.
std::string entry_text(GtkWidget *widget)
{
    if (widget && GTK_IS_COMBO(widget))
        widget = GTK_COMBO(widget)->entry;
    else if (widget && GTK_IS_BIN(widget))
        widget = gtk_bin_get_child(GTK_BIN(widget));
    if (!widget || !GTK_IS_ENTRY(widget))
        return "";
    return gtk_entry_get_text(GTK_ENTRY(widget));
}

void request_with_account(uint16_t kind, const char *account)
{
    IpcRecord r = ipc_record(kind);
    if (ipc_set_text(r, 0, account))
        send_request(r);
}

void apply_deferred()
{
    AppContext *ctx = window_ctx;
    while (ctx && !deferred.empty()) {
        IpcRecord r = deferred.front();
        deferred.pop_front();
        window_apply(ctx, r);
    }
}

gboolean apply_deferred_idle(gpointer)
{
    apply_deferred();
    return G_SOURCE_REMOVE;
}

}  // namespace

ConfigSave request_save(const ConfigChoice &c, ClientSettings *s)
{
    IpcRecord r = ipc_record(REQ_SAVE_SETTINGS);
    r.num[OPT_OPEN_URL] = c.open_url;
    r.num[OPT_USE_OWN_DHCP] = c.use_own_dhcp;
    r.num[OPT_TIMEOUT_RECONNECT] = c.timeout_reconnect;
    r.num[OPT_AUTO_START] = c.auto_start;
    r.num[OPT_PRIVATE_AUTH] = c.private_auth;
    (void)ipc_set_text(r, 0, url_field_text(c.url).c_str());
    // Only leading digits count, and anything past 3600 is 3600: a cut text
    // reads as the whole one did.
    (void)ipc_set_text(r, 1, c.timeout.substr(0, IPC_TEXT_SIZE - 1).c_str());
    if (!ipc_send(engine_fd, r))
        return ConfigSave::FileUnreadable;
    for (int waited = 0; waited < SAVE_WAIT_MS;) {
        struct pollfd p{engine_fd, POLLIN, 0};
        int n = poll(&p, 1, 100);
        waited += 100;
        if (n <= 0)
            continue;
        IpcRecord m;
        RecvResult got = ipc_recv(engine_fd, m);
        if (got == RecvResult::Closed)
            break;  // the watch reports the engine's end
        if (got != RecvResult::Record)
            continue;
        if (m.kind != MSG_SETTINGS_SAVED) {
            deferred.push_back(m);
            continue;
        }
        if (!deferred.empty())
            g_idle_add(apply_deferred_idle, nullptr);
        if (m.num[0] == SAVE_PROGRAM_REFUSED)
            return ConfigSave::ProgramRefused;
        if (m.num[0] == SAVE_WRITE_FAILED)
            return ConfigSave::WriteFailed;
        if (m.num[0] != SAVE_DONE && m.num[0] != SAVE_AUTOSTART_FAILED)
            return ConfigSave::FileUnreadable;
        apply_saved_options(s, m.num[1 + OPT_OPEN_URL], m.text[0], m.num[1 + OPT_USE_OWN_DHCP],
                            m.num[1 + OPT_TIMEOUT_RECONNECT], m.num[SAVED_TIMEOUT],
                            m.num[1 + OPT_AUTO_START], m.num[1 + OPT_PRIVATE_AUTH]);
        return m.num[0] == SAVE_DONE ? ConfigSave::Saved : ConfigSave::AutostartFailed;
    }
    if (!deferred.empty())
        g_idle_add(apply_deferred_idle, nullptr);
    return ConfigSave::FileUnreadable;
}

namespace {

gboolean on_engine_readable(GIOChannel *, GIOCondition, gpointer)
{
    apply_deferred();
    IpcRecord r;
    switch (ipc_recv(engine_fd, r)) {
    case RecvResult::Record:
        if (window_ctx)
            window_apply(window_ctx, r);
        return TRUE;
    case RecvResult::Invalid:
        return TRUE;
    case RecvResult::Closed:
        break;
    }
    engine_watch = 0;
    window_engine_gone(window_ctx);
    return FALSE;
}

}  // namespace

void request_logon(AppContext *ctx)
{
    MainWidgets *w = ctx->widgets;
    IpcRecord r = ipc_record(REQ_LOGON);
    // A text too long for the record goes as empty, and the engine refuses
    // it as it would refuse one over the limit.
    (void)ipc_set_text(r, 0, entry_text(w->account_combo).c_str());
    std::string password = entry_text(w->password_entry);
    // The placeholder left as it was shown: the engine has the password.
    bool use_stored = ctx->settings->last_password_stored && password == STORED_PASSWORD_PLACEHOLDER;
    (void)ipc_set_text(r, 1, use_stored ? "" : password.c_str());
    (void)ipc_set_text(r, 2, entry_text(w->device_combo).c_str());
    r.num[0] = ctx->settings->remember_password != 0;
    r.num[1] = ctx->settings->auto_logon != 0;
    r.num[2] = use_stored ? 1 : 0;
    send_request(r);
}

void request_disconnect()
{
    send_request(ipc_record(REQ_DISCONNECT));
}

void request_exit()
{
    exit_requested = true;
    send_request(ipc_record(REQ_EXIT));
}

void request_stop_dhcp()
{
    send_request(ipc_record(REQ_STOP_DHCP));
}

void request_password(const char *account)
{
    request_with_account(REQ_ACCOUNT_PASSWORD, account);
}

void request_delete_account(const char *account)
{
    request_with_account(REQ_DELETE_ACCOUNT, account);
}

void request_auto_logon(int on)
{
    IpcRecord r = ipc_record(REQ_SET_AUTO_LOGON);
    r.num[0] = on ? 1 : 0;
    send_request(r);
}

void set_window_context(AppContext *ctx)
{
    window_ctx = ctx;
}

AppContext *window_context()
{
    return window_ctx;
}

RealUser current_real_user()
{
    RealUser u;
    u.uid = getuid();
    u.gid = getgid();
    int n = getgroups(0, nullptr);
    if (n > 0) {
        u.groups.resize(static_cast<size_t>(n));
        n = getgroups(n, u.groups.data());
        u.groups.resize(n > 0 ? static_cast<size_t>(n) : 0);
    }
    return u;
}

void split_client(ClientSettings *settings, const RealUser &user)
{
    int fds[2];
    if (!ipc_socketpair(fds)) {
        std::perror("socketpair");
        std::exit(-1);
    }
    std::fflush(stdout);
    std::fflush(stderr);
    // The start-up's switch to root decides what the engine can be.
    bool root = status.load() != STATUS_NOT_ROOT && geteuid() == 0;
    pid_t pid = fork();
    if (pid < 0) {
        std::perror("fork");
        std::exit(-1);
    }
    if (pid == 0) {
        close(fds[0]);
        if (root && !become_root_entirely())
            _exit(1);
        engine_main(fds[1], settings, user.uid);
    }
    close(fds[1]);
    engine_is_root = root ? 1 : 0;
    std::vector<gid_t> groups = user.groups;
    if (groups.empty())
        groups = user_groups(settings->login_name, user.gid);
    // The window gives root's lock and limits back before it becomes the user.
    release_instance_lock();
    if (!apply_limits(user.limits) || !drop_privileges_permanently(user.uid, user.gid, groups)) {
        std::fputs(text_of(T_CANNOT_DROP_ROOT), stderr);
        std::exit(-1);
    }
    // Only now, with the user's rights alone, may the user's modules and
    // settings reach GTK; the engine was forked without them. A window that
    // is root (started by root) keeps going without them.
    if (user.uid != 0 && getuid() != 0 && geteuid() != 0)
        set_environment(user.desktop);
    window_attach(fds[0]);
}

void window_attach(int fd)
{
    if (engine_watch)
        g_source_remove(engine_watch);
    if (engine_fd >= 0 && engine_fd != fd)
        close(engine_fd);
    engine_fd = fd;
    exit_requested = false;
    deferred.clear();
    GIOChannel *channel = g_io_channel_unix_new(fd);
    engine_watch = g_io_add_watch(channel, GIOCondition(G_IO_IN | G_IO_HUP | G_IO_ERR),
                                  on_engine_readable, nullptr);
    g_io_channel_unref(channel);  // the watch keeps its own reference
}

void window_apply(AppContext *ctx, const IpcRecord &r)
{
    ClientSettings *cs = ctx->settings;
    TextId title = T_NONE;
    UserText text;
    bool has_text = ipc_user_text(r, title, text);
    switch (r.kind) {
    case MSG_SHOW_DIALOG:
        if (!has_text)
            break;  // no text of ours: nothing to show
        if (r.num[2])
            hide_main_window_widgets(ctx);
        show_msg_dialog(ctx, text_of(title), render_text(text).c_str(), r.num[0], r.num[1]);
        break;
    case MSG_DIALOG_FIELDS:
        if (!has_text)
            break;
        cs->msg_kind = 0;
        cs->msg_buttons = 0;
        copy_field(cs->msg_title, text_of(title));
        copy_field(cs->msg_text, render_text(text).c_str());
        surface_text_changed(ctx);
        break;
    case MSG_UPDATE_INFO:
        if (has_text)
            update_info_in_dialog(ctx, render_text(text).c_str());
        break;
    case MSG_TRAY:
        if (r.num[0] == TRAY_ONLINE)
            update_tray_icon(ctx);
        else
            show_tray_icon(ctx);
        break;
    case MSG_STATUS:
        if (r.num[0] >= STATUS_FAILED && r.num[0] <= STATUS_ALREADY_RUNNING)
            status = r.num[0];
        break;
    case MSG_ACCOUNT_PASSWORD:
        apply_stored_password(ctx, r.text[0], r.num[0], r.num[1]);
        break;
    case MSG_ACCOUNTS_RESET:
        pending_names.clear();
        break;
    case MSG_ACCOUNT_NAME:
        pending_names.push_back(r.text[0]);
        break;
    case MSG_ACCOUNTS_DONE:
        apply_account_list(ctx, pending_names);
        pending_names.clear();
        break;
    case MSG_OPEN_PAGE:
        (void)open_page(r.text[0]);
        break;
    default:
        break;  // MSG_SETTINGS_SAVED: read by the save that waits for it
    }
}

std::vector<std::string> page_opener_argv(const std::string &url)
{
    gchar *xdg = g_find_program_in_path("xdg-open");
    std::string opener = xdg ? "xdg-open" : "gnome-open";
    g_free(xdg);
    return {opener, url};
}

bool open_page(const std::string &url)
{
    if (!is_web_page(url))
        return false;
    std::vector<std::string> args = page_opener_argv(url);
    std::vector<gchar *> argv;
    for (std::string &arg : args)
        argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    GError *error = nullptr;
    // Without G_SPAWN_DO_NOT_REAP_CHILD GLib forks twice: no zombie is left behind.
    bool started = g_spawn_async(nullptr, argv.data(), nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr,
                                 nullptr, &error) != FALSE;
    if (!started) {
        g_warning("%s: %s", args[0].c_str(), error ? error->message : "cannot start");
        g_clear_error(&error);
    }
    return started;
}

void window_engine_gone(AppContext *ctx)
{
    if (exit_requested || !ctx)
        std::exit(0);
    // The error path of the start-up problems: OK ends the process.
    status = STATUS_ERROR;
    hide_tray_icon(ctx);
    hide_main_window_widgets(ctx);
    show_msg_dialog(ctx, text_of(T_TITLE_ERROR), text_of(T_ENGINE_GONE), 1, 1);
}
