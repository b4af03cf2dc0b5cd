// SPDX-License-Identifier: GPL-2.0-or-later
#include "ui/status_surface.h"

#include "app/locale_text.h"
#include "app/texts.h"
#include "ui/images.h"
#include "ui/main_window.h"
#include "ui/tray.h"
// The generated pictures (angle brackets: ui/images.h shares the file name).
#include <images.h>
// Last: Xlib's macros must meet none of the client's own names.
#include <gdk/gdkx.h>

namespace {

const GdkColor STRIP_COLOUR{0, 0xbfbf, 0xe1e1, 0xf9f9};
const GdkColor PANEL_COLOUR{0, 0xe4e4, 0xf4f4, 0xffff};
// How long a shown icon may stay unembedded before the surface stands in.
constexpr guint EMBED_WAIT_MS = 1000;
constexpr int WIDTH = 330;
constexpr int PANEL_HEIGHT = 50;
constexpr int STRIP_HEIGHT = 30;
// The label's width: right of the picture, inside the panel.
constexpr int LABEL_X = 45;
constexpr int LABEL_WIDTH = WIDTH - LABEL_X - 10;

struct Surface {
    SurfaceWidgets w{};
    GtkWidget *picture = nullptr;
    AppContext *ctx = nullptr;
    bool online = false;
};

Surface surface;

// True when no window owns the screen's system tray selection: no
// notification area runs, so no icon can ever be embedded.
bool no_tray_host(GtkStatusIcon *icon)
{
    GdkScreen *screen = gtk_status_icon_get_screen(icon);
    GdkDisplay *display = gdk_screen_get_display(screen);
    gchar *name = g_strdup_printf("_NET_SYSTEM_TRAY_S%d", gdk_screen_get_number(screen));
    Atom selection = gdk_x11_get_xatom_by_name_for_display(display, name);
    g_free(name);
    return XGetSelectionOwner(GDK_DISPLAY_XDISPLAY(display), selection) == 0;
}

void set_background(GtkWidget *widget, const GdkColor &colour)
{
    gtk_widget_modify_bg(widget, GTK_STATE_NORMAL, &colour);
}

void show_picture()
{
    if (!surface.picture)
        return;
    GdkPixbuf *pixbuf = pixbuf_from_inline(surface.online ? tray_inline : traybegin_inline);
    gtk_image_set_from_pixbuf(GTK_IMAGE(surface.picture), pixbuf);
    if (pixbuf)
        g_object_unref(pixbuf);
}

void show_text()
{
    if (!surface.w.label || !surface.ctx)
        return;
    Utf8Text text = utf8(surface.ctx->settings->msg_text);
    gtk_label_set_text(GTK_LABEL(surface.w.label), text_or_empty(text));
}

gboolean on_click_area_pressed(GtkWidget *, GdkEventButton *event, gpointer)
{
    if (event->button != 1 || !surface.ctx)
        return FALSE;
    on_tray_icon_activated(nullptr, surface.ctx);
    return TRUE;
}

void on_disconnect_clicked(GtkWidget *, gpointer)
{
    if (surface.ctx)
        on_menu_item_disconnect_clicked(nullptr, surface.ctx);
}

void on_exit_clicked(GtkWidget *, gpointer)
{
    if (surface.ctx)
        on_menu_item_exit_clicked(nullptr, surface.ctx);
}

// The close box only minimises: without a tray this window is the client's
// one way back to its progress window, disconnect and exit.
gboolean on_surface_delete(GtkWidget *window, GdkEvent *, gpointer)
{
    gtk_window_iconify(GTK_WINDOW(window));
    return TRUE;
}

void on_surface_destroyed(GtkWidget *window, gpointer)
{
    if (surface.w.window == window) {
        surface.w = SurfaceWidgets{};
        surface.picture = nullptr;
    }
}

// The caption's picture, named and with a tooltip by its words.
GtkWidget *new_caption_button(Caption caption, GCallback handler)
{
    GtkWidget *button = caption_button(caption);
    gtk_widget_set_size_request(button, 60, 20);
    g_signal_connect(button, "clicked", handler, nullptr);
    return button;
}

void build_surface()
{
    GtkWidget *window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    Utf8Text title = utf8(text_of(T_APP_NAME));
    gtk_window_set_title(GTK_WINDOW(window), text_or_empty(title));
    gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
    set_window_icons(GTK_WINDOW(window));
    set_background(window, STRIP_COLOUR);
    g_signal_connect(window, "delete_event", G_CALLBACK(on_surface_delete), nullptr);
    g_signal_connect(window, "destroy", G_CALLBACK(on_surface_destroyed), nullptr);
    GtkWidget *fixed = gtk_fixed_new();
    gtk_container_add(GTK_CONTAINER(window), fixed);

    GtkWidget *panel = gtk_event_box_new();
    set_background(panel, PANEL_COLOUR);
    gtk_widget_set_size_request(panel, WIDTH, PANEL_HEIGHT);
    Utf8Text hint = utf8(text_of(T_SURFACE_HINT));
    gtk_widget_set_tooltip_text(panel, text_or_empty(hint));
    gtk_widget_add_events(panel, GDK_BUTTON_PRESS_MASK);
    g_signal_connect(panel, "button-press-event", G_CALLBACK(on_click_area_pressed), nullptr);
    gtk_fixed_put(GTK_FIXED(fixed), panel, 0, 0);
    GtkWidget *inner = gtk_fixed_new();
    gtk_container_add(GTK_CONTAINER(panel), inner);
    surface.picture = gtk_image_new();
    gtk_fixed_put(GTK_FIXED(inner), surface.picture, 15, (PANEL_HEIGHT - 20) / 2);
    GtkWidget *label = gtk_label_new(nullptr);
    gtk_label_set_ellipsize(GTK_LABEL(label), PANGO_ELLIPSIZE_END);
    gtk_misc_set_alignment(GTK_MISC(label), 0.0f, 0.5f);
    gtk_widget_set_size_request(label, LABEL_WIDTH, PANEL_HEIGHT - 10);
    gtk_fixed_put(GTK_FIXED(inner), label, LABEL_X, 5);

    GtkWidget *strip = gtk_fixed_new();
    gtk_widget_set_size_request(strip, WIDTH, STRIP_HEIGHT);
    gtk_fixed_put(GTK_FIXED(fixed), strip, 0, PANEL_HEIGHT);
    GtkWidget *disconnect =
        new_caption_button(CAPTION_DISCONNECT, G_CALLBACK(on_disconnect_clicked));
    gtk_fixed_put(GTK_FIXED(strip), disconnect, 10, 5);
    GtkWidget *exit = new_caption_button(CAPTION_EXIT, G_CALLBACK(on_exit_clicked));
    gtk_fixed_put(GTK_FIXED(strip), exit, WIDTH - 70, 5);

    surface.w = SurfaceWidgets{window, panel, label, disconnect, exit};
    // Where a panel's notification area would be: the screen's lower right.
    // Placed by its own size: without a window manager nothing would honour a
    // gravity, and the window would open off the screen.
    GdkScreen *screen = gtk_window_get_screen(GTK_WINDOW(window));
    gtk_window_move(GTK_WINDOW(window), gdk_screen_get_width(screen) - WIDTH - 10,
                    gdk_screen_get_height(screen) - PANEL_HEIGHT - STRIP_HEIGHT - 40);
}

void show_surface(AppContext *ctx)
{
    surface.ctx = ctx;
    if (!surface.w.window)
        build_surface();
    show_picture();
    show_text();
    gtk_widget_show_all(surface.w.window);
    gtk_window_deiconify(GTK_WINDOW(surface.w.window));
}

// The icon's tray came or went. A hidden icon (on its way out) brings nothing up.
void on_embedded_changed(GtkStatusIcon *icon, GParamSpec *, gpointer data)
{
    auto *ctx = static_cast<AppContext *>(data);
    if (icon != ctx->settings->tray_icon || !gtk_status_icon_get_visible(icon))
        return;
    if (gtk_status_icon_is_embedded(icon))
        surface_close();
    else
        show_surface(ctx);
}

struct EmbedCheck {
    AppContext *ctx;
    GtkStatusIcon *icon;  // one reference, dropped with the check
};

gboolean check_embedded(gpointer data)
{
    auto *check = static_cast<EmbedCheck *>(data);
    GtkStatusIcon *icon = check->icon;
    if (icon == check->ctx->settings->tray_icon && gtk_status_icon_get_visible(icon) &&
        !gtk_status_icon_is_embedded(icon))
        show_surface(check->ctx);
    return FALSE;
}

void free_check(gpointer data)
{
    auto *check = static_cast<EmbedCheck *>(data);
    g_object_unref(check->icon);
    delete check;
}

}  // namespace

void surface_watch_icon(AppContext *ctx, GtkStatusIcon *icon)
{
    surface.online = false;  // a new icon starts in its logging-on picture
    g_signal_connect(icon, "notify::embedded", G_CALLBACK(on_embedded_changed), ctx);
    if (no_tray_host(icon)) {
        show_surface(ctx);
        return;
    }
    auto *check = new EmbedCheck{ctx, static_cast<GtkStatusIcon *>(g_object_ref(icon))};
    g_timeout_add_full(G_PRIORITY_DEFAULT, EMBED_WAIT_MS, check_embedded, check, free_check);
}

void surface_set_online(bool online)
{
    surface.online = online;
    show_picture();
}

void surface_text_changed(AppContext *ctx)
{
    if (surface.ctx == ctx)
        show_text();
}

void surface_close()
{
    if (GtkWidget *window = surface.w.window)
        gtk_widget_destroy(window);  // the destroy handler forgets the widgets
}

SurfaceWidgets surface_widgets()
{
    return surface.w;
}
