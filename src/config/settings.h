// The settings file: options, stored accounts and the last-used values.
#pragma once

#include <gtk/gtk.h>

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
