// SPDX-License-Identifier: GPL-2.0-or-later
// A notification area inside the test process, as a desktop panel provides
// one: it owns the screen's system tray selection and embeds every icon that
// asks to dock. Kept apart from the test code: Xlib's macros clash with gtest.
#include <X11/Xlib.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include "gui_harness.h"

namespace {

constexpr long kRequestDock = 0;  // system tray protocol opcode

GtkWidget *tray_host_box = nullptr;

// A dock request names the icon's window: embed it in a socket of the host.
GdkFilterReturn on_tray_opcode(GdkXEvent *xevent, GdkEvent *, gpointer)
{
    auto *message = static_cast<XClientMessageEvent *>(xevent);
    if (message->type != ClientMessage || message->format != 32 || message->data.l[1] != kRequestDock)
        return GDK_FILTER_REMOVE;
    GtkWidget *socket = gtk_socket_new();
    gtk_box_pack_start(GTK_BOX(tray_host_box), socket, FALSE, FALSE, 0);
    gtk_widget_show(socket);
    gtk_socket_add_id(GTK_SOCKET(socket), static_cast<GdkNativeWindow>(message->data.l[2]));
    return GDK_FILTER_REMOVE;
}

}  // namespace

bool start_tray_host()
{
    if (tray_host_box)
        return true;
    GdkDisplay *display = gdk_display_get_default();
    GdkScreen *screen = gdk_display_get_default_screen(display);
    gchar *name = g_strdup_printf("_NET_SYSTEM_TRAY_S%d", gdk_screen_get_number(screen));
    GdkAtom selection = gdk_atom_intern(name, FALSE);
    g_free(name);
    if (gdk_selection_owner_get_for_display(display, selection))
        return false;
    GtkWidget *panel = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(panel), "notification area");
    gtk_window_move(GTK_WINDOW(panel), 0, 0);
    tray_host_box = gtk_hbox_new(FALSE, 2);
    gtk_container_add(GTK_CONTAINER(panel), tray_host_box);
    gtk_widget_set_size_request(panel, 120, 24);
    gtk_widget_show_all(panel);
    gdk_display_add_client_message_filter(display, gdk_atom_intern("_NET_SYSTEM_TRAY_OPCODE", FALSE),
                                          on_tray_opcode, nullptr);
    guint32 now = gdk_x11_get_server_time(panel->window);
    if (!gdk_selection_owner_set_for_display(display, panel->window, selection, now, TRUE))
        return false;
    // Icons that exist already learn of the new host from this announcement,
    // which the tray protocol sends to the root window's structure listeners
    // (GDK's client message sender would address no one).
    Display *xdisplay = GDK_DISPLAY_XDISPLAY(display);
    Window root = GDK_WINDOW_XID(gdk_screen_get_root_window(screen));
    XClientMessageEvent announce{};
    announce.type = ClientMessage;
    announce.window = root;
    announce.message_type = gdk_x11_get_xatom_by_name_for_display(display, "MANAGER");
    announce.format = 32;
    announce.data.l[0] = static_cast<long>(now);
    announce.data.l[1] = static_cast<long>(gdk_x11_atom_to_xatom_for_display(display, selection));
    announce.data.l[2] = static_cast<long>(GDK_WINDOW_XID(panel->window));
    XSendEvent(xdisplay, root, False, StructureNotifyMask, reinterpret_cast<XEvent *>(&announce));
    XFlush(xdisplay);
    return true;
}
