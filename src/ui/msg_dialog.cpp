// SPDX-License-Identifier: GPL-2.0-or-later
#include "ui/msg_dialog.h"

#include <cstdlib>

#include "ui/images.h"
#include "ui/main_window.h"
#include "ui/mainloop.h"
#include "ui/status_surface.h"
#include "ui/tray.h"
#include "app/locale_text.h"
#include "app/window_half.h"
// The generated pictures (angle brackets: ui/images.h shares the file name).
#include <images.h>

namespace {

const GdkColor STRIP_COLOUR{0, 0xbfbf, 0xe1e1, 0xf9f9};
const GdkColor PANEL_COLOUR{0, 0xe4e4, 0xf4f4, 0xffff};

struct ButtonPlace {
    Caption caption;  // CAPTION_NONE: no button
    int x;
};

// The three windows in use: progress (0, 0), failure (1, 0), error or notice (1, 1).
struct DialogLayout {
    const guint8 *icon;
    ButtonPlace right;  // on_button_ok_clicked
    ButtonPlace left;   // on_button_cancel_clicked
    bool focus_left;
};

enum DialogKind { PROGRESS, FAILURE, NOTICE };

const DialogLayout LAYOUTS[] = {
    {mes_inline, {CAPTION_HIDE, 260}, {CAPTION_DISCONNECT, 10}, false},
    {err_inline, {CAPTION_RECONNECT, 260}, {CAPTION_RETURN, 10}, true},
    {err_inline, {CAPTION_OK, 260}, {CAPTION_NONE, 10}, false},
};

// Combinations nobody requests fall back to the nearest one in use.
DialogKind dialog_kind(const ClientSettings *s)
{
    if (s->msg_kind == 0)
        return PROGRESS;
    return s->msg_buttons == 0 ? FAILURE : NOTICE;
}

GMutex *new_marker()
{
    GMutex *m = g_new0(GMutex, 1);
    g_mutex_init(m);
    return m;
}

void free_marker(GMutex *m)
{
    g_mutex_clear(m);
    g_free(m);
}

// Workers go on only when no creation is pending, so they never see a
// half-built window; the main thread must not wait (it is the one that builds).
void wait_while_creation_pending()
{
    if (on_main_thread())
        return;
    while (mutex.load())
        g_usleep(100000);
}

// Copies a UTF-8 text into a field, never leaving half a character at the end.
template <size_t N> void copy_text_field(char (&dst)[N], const char *src)
{
    copy_field(dst, src);
    const gchar *end = nullptr;
    if (!g_utf8_validate(dst, -1, &end))
        dst[end - dst] = '\0';
}

void destroy_window_now(ClientSettings *s)
{
    if (GtkWidget *dialog = s->msg_dialog) {
        s->msg_dialog = nullptr;
        s->msg_label = nullptr;
        gtk_widget_destroy(dialog);
    }
}

// On the main thread: closes the window that exists and drops a creation that
// is still pending, so a dropped request never pops up later.
void close_dialog_now(AppContext *ctx)
{
    if (GMutex *pending = mutex.exchange(nullptr))
        free_marker(pending);
    destroy_window_now(ctx->settings);
}

void on_dialog_destroyed(GtkWidget *dialog, ClientSettings *s)
{
    if (s->msg_dialog == dialog) {
        s->msg_dialog = nullptr;
        s->msg_label = nullptr;
    }
}

void set_background(GtkWidget *widget, const GdkColor &colour)
{
    gtk_widget_modify_bg(widget, GTK_STATE_NORMAL, &colour);
}

GtkWidget *add_button(GtkWidget *bar, const ButtonPlace &place, GCallback handler, AppContext *ctx)
{
    GtkWidget *button = caption_button(place.caption);
    gtk_widget_set_size_request(button, 60, 20);
    gtk_widget_set_can_default(button, TRUE);
    gtk_fixed_put(GTK_FIXED(bar), button, place.x, 5);
    g_signal_connect(button, "clicked", handler, ctx);
    return button;
}

GtkWidget *new_dialog_window(ClientSettings *s)
{
    Utf8Text title = utf8(s->msg_title);
    GtkWidget *dialog = gtk_dialog_new_with_buttons(text_or_empty(title), nullptr, GtkDialogFlags(0), nullptr);
    gtk_dialog_set_has_separator(GTK_DIALOG(dialog), FALSE);
    set_background(dialog, STRIP_COLOUR);
    gtk_window_set_resizable(GTK_WINDOW(dialog), FALSE);
    gtk_window_set_default_size(GTK_WINDOW(dialog), 340, 120);
    gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
    set_window_icons(GTK_WINDOW(dialog));
    gtk_widget_set_size_request(GTK_DIALOG(dialog)->vbox, 334, 120);
    g_signal_connect(dialog, "delete_event", G_CALLBACK(on_dialog_msg_delete_event), nullptr);
    g_signal_connect(dialog, "destroy", G_CALLBACK(on_dialog_destroyed), s);
    return dialog;
}

// Width right of the icon, inside the panel.
constexpr int TEXT_WIDTH = 330 - 70 - 4;

// Sets the label's text, and shrinks its font until the text fits the panel:
// the window does not grow, and the longest message must be read whole
// whatever the desktop's font size is.
void set_label_text(GtkWidget *label, const char *text)
{
    gtk_widget_modify_font(label, nullptr);
    gtk_label_set_text(GTK_LABEL(label), text);
    gtk_widget_ensure_style(label);
    PangoFontDescription *desc = pango_font_description_copy(gtk_widget_get_style(label)->font_desc);
    // Measured on a layout of our own: the label's follows a font change only
    // once the window is realized.
    PangoLayout *layout = gtk_widget_create_pango_layout(label, text);
    int size = pango_font_description_get_size(desc);
    int width = 0;
    pango_layout_get_pixel_size(layout, &width, nullptr);
    bool shrunk = false;
    while (width > TEXT_WIDTH && size > 6 * PANGO_SCALE) {
        size -= PANGO_SCALE / 2;
        pango_font_description_set_size(desc, size);
        pango_layout_set_font_description(layout, desc);
        pango_layout_get_pixel_size(layout, &width, nullptr);
        shrunk = true;
    }
    if (shrunk)
        gtk_widget_modify_font(label, desc);
    g_object_unref(layout);
    pango_font_description_free(desc);
}

// Fills the dialog: icon, text, button bar. Returns the button to focus.
GtkWidget *fill_dialog(GtkWidget *dialog, AppContext *ctx)
{
    ClientSettings *s = ctx->settings;
    const DialogLayout &layout = LAYOUTS[dialog_kind(s)];
    GtkWidget *panel = gtk_event_box_new();
    set_background(panel, PANEL_COLOUR);
    gtk_widget_set_size_request(panel, 330, 120);
    gtk_box_pack_start(GTK_BOX(GTK_DIALOG(dialog)->vbox), panel, FALSE, FALSE, 0);
    GtkWidget *fixed = gtk_fixed_new();
    gtk_container_add(GTK_CONTAINER(panel), fixed);
    gtk_fixed_put(GTK_FIXED(fixed), image_from_inline(layout.icon), 15, 15);
    Utf8Text text = utf8(s->msg_text);
    s->msg_label = gtk_label_new(nullptr);
    gtk_fixed_put(GTK_FIXED(fixed), s->msg_label, 70, 30);
    set_label_text(s->msg_label, text_or_empty(text));
    GtkWidget *strip = gtk_event_box_new();
    set_background(strip, STRIP_COLOUR);
    gtk_widget_set_size_request(strip, 334, 30);
    gtk_fixed_put(GTK_FIXED(fixed), strip, 0, 90);
    GtkWidget *bar = gtk_fixed_new();
    gtk_container_add(GTK_CONTAINER(strip), bar);
    GtkWidget *right = add_button(bar, layout.right, G_CALLBACK(on_button_ok_clicked), ctx);
    if (layout.left.caption == CAPTION_NONE)
        return right;
    GtkWidget *left = add_button(bar, layout.left, G_CALLBACK(on_button_cancel_clicked), ctx);
    return layout.focus_left ? left : right;
}

// After the modal run: the user's close box acts like the window's way back.
void handle_run_end(GtkWidget *dialog, AppContext *ctx)
{
    ClientSettings *s = ctx->settings;
    bool closed_by_user = is_msg_dlg_delete_event == 1;
    is_msg_dlg_delete_event = 0;
    if (!closed_by_user || s->msg_dialog != dialog)
        return;  // destroyed by code, or already replaced by a newer window
    s->msg_dialog = nullptr;
    s->msg_label = nullptr;
    gtk_widget_destroy(dialog);
    if (status == STATUS_ERROR) {
        hide_tray_icon(ctx);
        std::exit(0);
    }
    if (s->msg_kind == 1) {
        show_main_window_widgets(ctx);
        hide_tray_icon(ctx);
    }
}

}  // namespace

// On the main thread: stores a request and queues the building of its window.
void request_message_dialog(AppContext *ctx, const char *title, const char *text, int kind,
                            int buttons)
{
    ClientSettings *s = ctx->settings;
    s->msg_kind = kind;
    s->msg_buttons = buttons;
    copy_text_field(s->msg_title, title);
    if (text) {
        copy_text_field(s->msg_text, text);
        surface_text_changed(ctx);
    }
    mutex = new_marker();
    g_idle_add(create_message_dialog, ctx);
}

// On the main thread: the message text, and the open window's label.
void set_info_text_now(AppContext *ctx, const char *text)
{
    ClientSettings *s = ctx->settings;
    copy_text_field(s->msg_text, text);
    if (s->msg_dialog && s->msg_label) {
        Utf8Text shown = utf8(s->msg_text);
        set_label_text(s->msg_label, text_or_empty(shown));
    }
    surface_text_changed(ctx);
}

// Replaces the current dialog with a new one, built on the main loop; returns before it exists.
int show_msg_dialog(AppContext *ctx, const char *title, const char *text, int kind, int buttons)
{
    wait_while_creation_pending();
    // Closing the old window and queueing the new one is one step on the
    // main loop, so nothing can slip a window in between.
    main_call_sync([&] {
        close_dialog_now(ctx);
        request_message_dialog(ctx, title, text, kind, buttons);
    });
    return 0;
}

// Sets the message text, and the open window's label; a worker first waits out a pending creation.
int update_info_in_dialog(AppContext *ctx, const char *text)
{
    wait_while_creation_pending();
    main_call_sync([&] { set_info_text_now(ctx, text); });
    return 0;
}

// Closes the current dialog; on the main thread a pending one is dropped, a worker waits for it.
int destroy_msg_dialog(AppContext *ctx)
{
    wait_while_creation_pending();
    main_call_sync([&] { close_dialog_now(ctx); });
    return 0;
}

// Idle task: builds the requested window, then runs it modally; FALSE (runs once).
gboolean create_message_dialog(gpointer data)
{
    auto *ctx = static_cast<AppContext *>(data);
    GMutex *marker = mutex.load();
    if (!marker)
        return FALSE;  // dropped, or already built by an earlier queued task
    g_mutex_lock(marker);
    destroy_window_now(ctx->settings);  // at most one window at a time
    GtkWidget *dialog = new_dialog_window(ctx->settings);
    ctx->settings->msg_dialog = dialog;
    GtkWidget *focus = fill_dialog(dialog, ctx);
    // The focused button is the default too: Enter answers with it.
    gtk_widget_grab_default(focus);
    gtk_widget_grab_focus(focus);
    gtk_widget_show_all(dialog);
    g_mutex_unlock(marker);
    mutex = nullptr;
    free_marker(marker);
    gtk_dialog_run(GTK_DIALOG(dialog));
    handle_run_end(dialog, ctx);
    return FALSE;
}

// Right button: Hide, Re-authenticate or OK, by the window's kind.
int on_button_ok_clicked(GtkWidget *, AppContext *ctx)
{
    DialogKind kind = dialog_kind(ctx->settings);
    destroy_msg_dialog(ctx);
    if (kind == PROGRESS)
        return 0;  // Hide: worker, icon and hidden main window stay as they are
    if (kind == FAILURE) {
        status = STATUS_IDLE;
        hide_tray_icon(ctx);
        request_logon(ctx);
        return 0;
    }
    hide_tray_icon(ctx);
    if (status == STATUS_ERROR)
        std::exit(0);
    show_main_window_widgets(ctx);
    return 0;
}

// Left button: Disconnect (progress window) or Return (failure window).
int on_button_cancel_clicked(GtkWidget *, AppContext *ctx)
{
    DialogKind kind = dialog_kind(ctx->settings);
    destroy_msg_dialog(ctx);
    if (kind == PROGRESS) {
        status = STATUS_LOGOFF;
        request_disconnect();
    } else {
        status = STATUS_IDLE;
    }
    show_main_window_widgets(ctx);
    hide_tray_icon(ctx);
    return 0;
}

// The close box: noted here, acted on when the modal run has ended.
gboolean on_dialog_msg_delete_event(GtkWidget *, GdkEvent *, gpointer)
{
    is_msg_dlg_delete_event = 1;
    return FALSE;
}
