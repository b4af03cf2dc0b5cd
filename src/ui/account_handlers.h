// SPDX-License-Identifier: GPL-2.0-or-later
// The main window's handlers of the stored accounts and the automatic log-on box.
#pragma once

#include <gtk/gtk.h>

#include <string>
#include <vector>

#include "app/records.h"

// What the password entry shows for a stored password: the password itself
// stays in the engine, and a log-on with this text unchanged asks it to use it.
constexpr char STORED_PASSWORD_PLACEHOLDER[] = "********";

void on_username_combo_changed(GtkWidget *widget, AppContext *ctx);
// Any edit of the password entry replaces the stored password with the text.
void on_password_changed(GtkWidget *widget, AppContext *ctx);
// Shows the placeholder (stored) or empties the entry.
void show_stored_password(AppContext *ctx, bool stored);
void on_autologon_check_toggle(GtkWidget *widget, AppContext *ctx);
void on_remember_passwd_check_toggle(GtkWidget *widget, AppContext *ctx);
gboolean on_lock_clicked(GtkWidget *widget, GdkEventButton *event, AppContext *ctx);
// Enter or space on the focused lock: the same as its click.
gboolean on_lock_key(GtkWidget *widget, GdkEventKey *event, AppContext *ctx);

// The settings file is the engine's: the handlers ask it (app/window_half.h)
// and its answers come back through these.
void apply_stored_password(AppContext *ctx, const char *account, int found, int stored);
void apply_account_list(AppContext *ctx, const std::vector<std::string> &names);
