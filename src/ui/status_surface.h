// SPDX-License-Identifier: GPL-2.0-or-later
// A small window of the client's own that stands in for the tray icon on a
// desktop without a notification area (no tray host embeds the icon): it shows
// the latest progress text, opens the progress window on a click and offers
// disconnect and exit. It goes as soon as a tray embeds the icon.
#pragma once

#include <gtk/gtk.h>

#include "app/records.h"

// Main thread: watches a new tray icon; the surface comes up when no tray
// owns the screen's tray selection, or when the icon is still not embedded
// a second after it was shown, and whenever a tray that held it goes away.
void surface_watch_icon(AppContext *ctx, GtkStatusIcon *icon);
// Main thread: the picture of the state (false: logging on, true: online).
void surface_set_online(bool online);
// Main thread: the message text changed; a shown surface follows it.
void surface_text_changed(AppContext *ctx);
// Main thread: removes the surface (the icon is gone, or a tray holds it).
void surface_close();

// The surface's widgets while it exists (all null otherwise).
struct SurfaceWidgets {
    GtkWidget *window;
    GtkWidget *click_area;  // a button press here opens the progress window
    GtkWidget *label;
    GtkWidget *disconnect;
    GtkWidget *exit;
};
SurfaceWidgets surface_widgets();
