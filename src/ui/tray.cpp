// SPDX-License-Identifier: GPL-2.0-or-later
#include "ui/tray.h"
#include "app/texts.h"

#include "ui/images.h"
#include "ui/main_window.h"
#include "ui/mainloop.h"
#include "ui/msg_dialog.h"
#include "ui/status_surface.h"
#include "app/locale_text.h"
#include "app/window_half.h"
// The generated pictures (angle brackets: ui/images.h shares the file name).
#include <images.h>

namespace {

using MenuHandler = int (*)(GtkWidget *, AppContext *);

struct MenuRow {
    const guint8 *image;  // null: a separator
    TextId label;
    MenuHandler handler;
};

const MenuRow MENU_ROWS[] = {
    {popmenu_status_inline, T_MENU_HIDE, on_menu_item_hide_clicked},
    {nullptr, T_NONE, nullptr},
    {popmenu_disconnect_inline, T_MENU_DISCONNECT, on_menu_item_disconnect_clicked},
    {popmenu_exit_inline, T_MENU_EXIT, on_menu_item_exit_clicked},
};

const char *const MENU_KEY = "corvix-tray-menu";

void set_picture(GtkStatusIcon *icon, const guint8 *picture)
{
    if (GdkPixbuf *pixbuf = pixbuf_from_inline(picture)) {
        gtk_status_icon_set_from_pixbuf(icon, pixbuf);
        g_object_unref(pixbuf);
    }
}

GtkWidget *new_menu_item(const MenuRow &row, AppContext *ctx)
{
    if (!row.image)
        return gtk_separator_menu_item_new();
    GtkWidget *item = gtk_menu_item_new();
    GtkWidget *box = gtk_hbox_new(FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), image_from_inline(row.image), FALSE, FALSE, 0);
    Utf8Text label = utf8(text_of(row.label));
    gtk_box_pack_start(GTK_BOX(box), gtk_label_new(text_or_empty(label)), FALSE, FALSE, 0);
    gtk_container_add(GTK_CONTAINER(item), box);
    g_signal_connect(item, "activate", G_CALLBACK(row.handler), ctx);
    return item;
}

GtkWidget *new_tray_menu(AppContext *ctx)
{
    GtkWidget *menu = gtk_menu_new();
    for (const MenuRow &row : MENU_ROWS)
        gtk_menu_shell_append(GTK_MENU_SHELL(menu), new_menu_item(row, ctx));
    return menu;
}

void destroy_menu(gpointer menu)
{
    gtk_widget_destroy(GTK_WIDGET(menu));
}

// Releases a hidden icon and its menu once the handler that hid it is over.
gboolean release_icon(gpointer icon)
{
    g_object_unref(icon);
    return FALSE;
}

}  // namespace

// Any thread: the icon in its authenticating picture, built on the main loop when none is shown.
int show_tray_icon(AppContext *ctx)
{
    main_call_sync([ctx] {
        if (GtkStatusIcon *icon = ctx->settings->tray_icon) {
            set_picture(icon, traybegin_inline);
            surface_set_online(false);
        } else {
            g_idle_add(create_tray_icon, ctx);
        }
    });
    return 0;
}

// Any thread: switches a shown icon to its online picture.
int update_tray_icon(AppContext *ctx)
{
    main_call_sync([ctx] {
        if (GtkStatusIcon *icon = ctx->settings->tray_icon) {
            set_picture(icon, tray_inline);
            surface_set_online(true);
        }
    });
    return 0;
}

// Removes the icon; the next show builds a new one with a new menu.
int hide_tray_icon(AppContext *ctx)
{
    main_call_sync([ctx] {
        GtkStatusIcon *icon = ctx->settings->tray_icon;
        if (!icon)
            return;
        gtk_status_icon_set_visible(icon, FALSE);
        ctx->settings->tray_icon = nullptr;
        surface_close();
        g_idle_add(release_icon, icon);
    });
    return 0;
}

// Idle task: builds the icon and its menu; FALSE (runs once).
gboolean create_tray_icon(gpointer data)
{
    auto *ctx = static_cast<AppContext *>(data);
    // Two requests queued before the first ran: one icon, not two.
    if (ctx->settings->tray_icon) {
        set_picture(ctx->settings->tray_icon, traybegin_inline);
        surface_set_online(false);
        return FALSE;
    }
    GdkPixbuf *pixbuf = pixbuf_from_inline(traybegin_inline);
    GtkStatusIcon *icon = pixbuf ? gtk_status_icon_new_from_pixbuf(pixbuf) : gtk_status_icon_new();
    if (pixbuf)
        g_object_unref(pixbuf);
    gtk_status_icon_set_visible(icon, TRUE);
    ctx->settings->tray_icon = icon;
    g_signal_connect(icon, "activate", G_CALLBACK(on_tray_icon_activated), ctx);
    Utf8Text tooltip = utf8(text_of(T_APP_NAME));
    gtk_status_icon_set_tooltip_text(icon, text_or_empty(tooltip));
    GtkWidget *menu = new_tray_menu(ctx);
    // The menu goes when the icon is released.
    g_object_set_data_full(G_OBJECT(icon), MENU_KEY, menu, destroy_menu);
    g_signal_connect(icon, "popup-menu", G_CALLBACK(on_tray_icon_popup), menu);
    gtk_widget_show_all(menu);  // shows the items; the menu itself pops up later
    // Where no notification area embeds the icon, a window of ours stands in.
    surface_watch_icon(ctx, icon);
    return FALSE;
}

// Left click: raises the dialog that is open, or opens the progress window.
int on_tray_icon_activated(GtkStatusIcon *, AppContext *ctx)
{
    ClientSettings *s = ctx->settings;
    if (s->msg_dialog) {
        gtk_window_present(GTK_WINDOW(s->msg_dialog));
        return 0;
    }
    if (mutex.load())
        return 0;  // a window is on its way
    request_message_dialog(ctx, text_of(T_TITLE_NOTICE), nullptr, 0, 0);
    return 0;
}

// Right click: the menu, only while online.
int on_tray_icon_popup(GtkStatusIcon *, guint button, guint, GtkWidget *menu)
{
    if (status == STATUS_ONLINE)
        gtk_menu_popup(GTK_MENU(menu), nullptr, nullptr, nullptr, nullptr, button, 0);
    return 0;
}

// Closes the progress window; the client stays online.
int on_menu_item_hide_clicked(GtkWidget *, AppContext *ctx)
{
    destroy_msg_dialog(ctx);
    return 0;
}

// Logs off through a new worker, brings back the main window and stops the DHCP clients.
int on_menu_item_disconnect_clicked(GtkWidget *, AppContext *ctx)
{
    destroy_msg_dialog(ctx);
    status = STATUS_LOGOFF;
    request_disconnect();
    show_main_window_widgets(ctx);
    hide_tray_icon(ctx);
    request_stop_dhcp();
    return 0;
}

// Asks the engine for the Logoff and the end: it retires every worker, and
// its end (after the Logoff) ends this process with status 0.
int on_menu_item_exit_clicked(GtkWidget *, AppContext *ctx)
{
    destroy_msg_dialog(ctx);
    status = STATUS_LOGOFF;
    hide_tray_icon(ctx);
    // Before the exit: the engine takes nothing after it.
    request_stop_dhcp();
    request_exit();
    return 0;
}
