// The main window, the About box and the text conversion `_`.
#pragma once

#include <gtk/gtk.h>

#include "app/records.h"

// A new UTF-8 copy of a text in the locale's encoding (g_free it), or null.
gchar *_(const char *text);
// Initialises GTK, builds the window, makes the start-up decision and runs the
// main loop; does not return while the process lives.
void show_main_window(int *argc, char ***argv, ClientSettings *settings);
// Builds the (hidden) main window into ctx->widgets; GTK must be initialised.
void build_main_window(AppContext *ctx);
// "clicked" handler of the About button: runs the About box with the main window hidden.
void show_about_dlg(GtkWidget *button, MainWidgets *widgets);
