// SPDX-License-Identifier: GPL-2.0-or-later
// The window: the half of the client that runs GTK with the rights of the
// user who started it. What it would have asked of a worker or of the
// settings file it asks of the engine; what the engine reports it applies on
// its main loop.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "app/ipc.h"
#include "app/privilege.h"
#include "app/records.h"
#include "config/config_save.h"

// Where the window starts from: the user who started the client, as the
// process found them before it became root.
struct RealUser {
    uid_t uid = 0;
    gid_t gid = 0;
    std::vector<gid_t> groups;
    ResourceLimits limits = current_limits();  // the caller's, taken back by the window
    std::vector<std::string> desktop;          // desktop_environment() of the caller's, likewise
};
// The real ids and supplementary groups of the process right now.
RealUser current_real_user();

// Splits the client in two: the engine (a child that keeps root, never
// returns) and the window (this process, dropped for good to user). Before
// anything opens the display. A failure to split or to drop ends the process.
void split_client(ClientSettings *settings, const RealUser &user);

// The window's side of fd: a watch on the main loop that applies the
// engine's messages. Attaching again drops the earlier engine's fd.
void window_attach(int fd);
// The main window's context, which the engine's messages are applied to;
// null before the main window is built.
void set_window_context(AppContext *ctx);
AppContext *window_context();

// What the window asks of the engine. Each request names what the user did;
// nothing is left for the engine to guess from the window's state.
// A log-on with the main window's entries and ctx's two boxes.
void request_logon(AppContext *ctx);
// A log-off through the last accepted log-on.
void request_disconnect();
// The Logoff, then the end of both halves.
void request_exit();
void request_stop_dhcp();
// The stored password of an account (answered by apply_stored_password).
void request_password(const char *account);
void request_auto_logon(int on);
// Forgets an account (answered by apply_account_list).
void request_delete_account(const char *account);
// The settings dialog's save, done by the engine: waits for its verdict and
// applies what was stored to s.
ConfigSave request_save(const ConfigChoice &choice, ClientSettings *s);
// How the window opens the post-login page: xdg-open, or gnome-open where
// there is no xdg-open, with the page as its one argument.
std::vector<std::string> page_opener_argv(const std::string &url);
// Starts the opener with the window's (the user's) rights and display,
// without a shell; false when it could not start or url is no web page.
bool open_page(const std::string &url);
// Applies one message from the engine on the main loop (for tests).
void window_apply(AppContext *ctx, const IpcRecord &r);
// What the window does when the engine has gone (for tests).
void window_engine_gone(AppContext *ctx);
