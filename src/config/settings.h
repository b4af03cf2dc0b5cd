// The settings file: options, stored accounts and the last-used values.
#pragma once

#include <gtk/gtk.h>

#include <string>
#include <vector>

#include "app/records.h"

// Where the settings live; tests point it elsewhere.
extern const char *settings_path;

int get_ini_message(ClientSettings *settings);
void set_msg(const char *account, const char *password, const char *device, AppContext *ctx);
void encrypt(char *text);
void decrypt(char *text);
void on_username_combo_changed(GtkWidget *widget, AppContext *ctx);
void on_autologon_check_toggle(GtkWidget *widget, AppContext *ctx);
void on_remember_passwd_check_toggle(GtkWidget *widget, AppContext *ctx);
gboolean on_lock_clicked(GtkWidget *widget, GdkEventButton *event, AppContext *ctx);

// The settings file's work behind the window's handlers, without widgets.
// The stored password of account, unscrambled: 1 found, 0 not stored, -1 no file.
int stored_password(const char *account, char (&clear)[21]);
// Stores OPTION@AutoLogon; 0 when the file cannot be read.
int store_auto_logon(int on);
// Removes a stored account: 1 removed (names: the remaining accounts, newest
// first), 0 not stored, -1 no file.
int delete_stored_account(const std::string &account, std::vector<std::string> &names);

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
