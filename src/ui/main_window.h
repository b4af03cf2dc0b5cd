// The main window, the About box and the text conversion `_`.
#pragma once

#include <gtk/gtk.h>

#include "app/records.h"

// A new UTF-8 copy of a text in the locale's encoding (g_free it), or null.
gchar *_(const char *text);
void show_main_window(int *argc, char ***argv, ClientSettings *settings);
void show_about_dlg(GtkWidget *button, MainWidgets *widgets);
