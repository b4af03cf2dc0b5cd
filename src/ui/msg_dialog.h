// SPDX-License-Identifier: GPL-2.0-or-later
// The one status message dialog through which every thread talks to the user.
#pragma once

#include <gtk/gtk.h>

#include "app/records.h"

int show_msg_dialog(AppContext *ctx, const char *title, const char *text, int kind, int buttons);
int update_info_in_dialog(AppContext *ctx, const char *text);
// Main thread: what update_info_in_dialog does there.
void set_info_text_now(AppContext *ctx, const char *text);
int destroy_msg_dialog(AppContext *ctx);
// Main thread, with no window and no request pending: asks for a window of
// this kind; a null text keeps the current message text.
void request_message_dialog(AppContext *ctx, const char *title, const char *text, int kind,
                            int buttons);
gboolean create_message_dialog(gpointer ctx);
int on_button_ok_clicked(GtkWidget *button, AppContext *ctx);
int on_button_cancel_clicked(GtkWidget *button, AppContext *ctx);
gboolean on_dialog_msg_delete_event(GtkWidget *dialog, GdkEvent *event, gpointer data);
