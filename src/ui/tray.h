// SPDX-License-Identifier: GPL-2.0-or-later
// The notification-area icon and its menu.
#pragma once

#include <gtk/gtk.h>

#include "app/records.h"

int show_tray_icon(AppContext *ctx);
int update_tray_icon(AppContext *ctx);
int hide_tray_icon(AppContext *ctx);
gboolean create_tray_icon(gpointer ctx);
int on_tray_icon_activated(GtkStatusIcon *icon, AppContext *ctx);
int on_tray_icon_popup(GtkStatusIcon *icon, guint button, guint activate_time, GtkWidget *menu);
int on_menu_item_hide_clicked(GtkWidget *item, AppContext *ctx);
int on_menu_item_disconnect_clicked(GtkWidget *item, AppContext *ctx);
int on_menu_item_exit_clicked(GtkWidget *item, AppContext *ctx);
