// SPDX-License-Identifier: GPL-2.0-or-later
// Start-up checks, the start-up error report and the log-on button.
#pragma once

#include <string>

#include "app/records.h"
#include "app/texts.h"

void check_mul_instance(ClientSettings *settings);
// Whether the half that does the network work runs as root: 1 or 0 once the
// client has split in two (the window's own ids are the user's then); -1 in
// one process, where the real user id tells.
extern int engine_is_root;
int main_error_handle(AppContext *ctx);
void on_logon_button_clicked(GtkWidget *widget, AppContext *ctx);
// The last step of start-up, after the main window is built: start an
// automatic log-on, show the window, or report the start-up problem.
void startup_decision(AppContext *ctx);
// The first thing the process does: umask 022 and SIGXFSZ ignored, whatever
// the caller handed down.
void set_process_defaults();
// Reduces the environment to what the root process needs (see startup.cpp).
void reduce_environment();
// The same with the real user's home given (the fallback XAUTHORITY's folder).
void reduce_environment_for(const std::string &user_home);

// A start-up problem as main_error_handle reports it.
struct StartupMessage {
    int status_in;
    int status_out;
    TextId title;
    TextId text;
};
// The row for a status, or null when main_error_handle only resets it to idle.
const StartupMessage *startup_message(int status_in);
