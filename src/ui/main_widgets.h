// SPDX-License-Identifier: GPL-2.0-or-later
// The main window's widgets and its five colours.
#pragma once

#include <gtk/gtk.h>

#include "app/records.h"

struct MainWidgets {
    GtkWidget *window;
    GtkWidget *account_combo;
    GtkWidget *password_entry;
    GtkWidget *device_combo;
    GList *device_list;
    GList *account_list;
    GtkWidget *remember_check;
    GtkWidget *auto_logon_check;
    GdkPixbuf *scratch_pixbuf;
    GtkWidget *fixed;
    GtkWidget *scratch_image;
    GtkWidget *exit_button;
    GtkWidget *lock_image;
    GtkWidget *event_box;
    GtkTooltips *tooltips;
    GtkWidget *account_label;
    GtkWidget *password_label;
    GtkWidget *device_label;
    GtkWidget *logon_button;
    GtkWidget *config_button;
    GtkWidget *about_button;
    GdkColor colors[5];
};

// Returns a MainWidgets with every pointer null and the five window colours set.
MainWidgets main_widgets_initial();
