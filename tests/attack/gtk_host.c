// SPDX-License-Identifier: GPL-2.0-or-later
/* A bare GTK program: initialises GTK on the display it is given, maps a
 * window, and ends after a moment. The attack tests use it to show that the
 * probe is loaded through the X settings at all. */
#include <gtk/gtk.h>

static gboolean quit_loop(gpointer data)
{
    (void)data;
    gtk_main_quit();
    return FALSE;
}

int main(int argc, char **argv)
{
    gtk_init(&argc, &argv);
    GtkWidget *window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_widget_show(window);
    g_timeout_add(300, quit_loop, NULL);
    gtk_main();
    return 0;
}
