// SPDX-License-Identifier: GPL-2.0-or-later
// The main window and the About box.
#pragma once

#include <gtk/gtk.h>

#include "app/records.h"
#include "ui/main_widgets.h"

// Initialises GTK, builds the window, makes the start-up decision and runs the
// main loop; does not return while the process lives.
void show_main_window(int *argc, char ***argv, ClientSettings *settings);
// Builds the (hidden) main window into ctx->widgets; GTK must be initialised.
void build_main_window(AppContext *ctx);
// Main thread: shows or hides the main window of ctx, when it has one.
void show_main_window_widgets(AppContext *ctx);
void hide_main_window_widgets(AppContext *ctx);
// "clicked" handler of the About button: runs the About box with the main window hidden.
void show_about_dlg(GtkWidget *button, MainWidgets *widgets);
