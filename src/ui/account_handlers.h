// The main window's handlers of the stored accounts and the automatic log-on box.
#pragma once

#include <gtk/gtk.h>

#include <string>
#include <vector>

#include "app/records.h"

void on_username_combo_changed(GtkWidget *widget, AppContext *ctx);
void on_autologon_check_toggle(GtkWidget *widget, AppContext *ctx);
void on_remember_passwd_check_toggle(GtkWidget *widget, AppContext *ctx);
gboolean on_lock_clicked(GtkWidget *widget, GdkEventButton *event, AppContext *ctx);

// When the settings file belongs to another process, the window's handlers
// ask it through these instead of opening the file; the answers come back
// through the apply_ functions. Null members: the handlers do the work themselves.
struct SettingsRequests {
    void (*lookup_password)(const char *account);
    void (*set_auto_logon)(int on);
    void (*delete_account)(const char *account);
};
void set_settings_requests(const SettingsRequests &requests);
void apply_stored_password(AppContext *ctx, const char *account, int found, const char *clear);
void apply_account_list(AppContext *ctx, const std::vector<std::string> &names);
