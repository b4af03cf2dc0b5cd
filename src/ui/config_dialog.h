// SPDX-License-Identifier: GPL-2.0-or-later
// The settings dialog, opened by the main window's settings button. Its save
// rules live in src/config/config_save.h; this is the window around them.
#pragma once

#include <gtk/gtk.h>

#include "app/records.h"

struct ConfigWidgets {
    GtkWidget *dialog;  // null once the dialog has been destroyed or given up
    GtkWidget *url_entry;
    GtkWidget *open_url_check;
    GtkWidget *own_dhcp_check;
    GtkWidget *auto_start_check;
    GtkWidget *private_auth_check;
    GtkWidget *launcher_check;
    GtkWidget *reconnect_check;
    GtkWidget *timeout_entry;
};

// User data of the save and cancel buttons.
struct ConfigContext {
    AppContext *context;
    ConfigWidgets *config_widgets;
};

// "clicked" of the settings button: builds the dialog, hides the main window
// and runs the dialog modally until it closes.
void show_config_dialog(GtkWidget *button, AppContext *ctx);
void on_open_url_check_toggle(GtkWidget *check, ConfigWidgets *widgets);
void on_timeout_reconnect_check_toggle(GtkWidget *check, ConfigWidgets *widgets);
void on_UseCorvixDhcp_check_toggle(GtkWidget *check, ConfigWidgets *widgets);
void on_ok_button_clicked(GtkWidget *button, ConfigContext *cc);
void on_cancel_button_clicked(GtkWidget *button, ConfigContext *cc);

// The widgets of the dialog while it runs, else null (main thread only).
ConfigWidgets *running_config_dialog();
