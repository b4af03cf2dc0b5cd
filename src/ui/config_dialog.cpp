// SPDX-License-Identifier: GPL-2.0-or-later
#include "ui/config_dialog.h"
#include "app/texts.h"

#include <cstdio>

#include "app/window_half.h"
#include "app/shell.h"
#include "config/config_save.h"
#include "ui/images.h"
#include "ui/main_window.h"
#include "ui/msg_dialog.h"
#include "app/locale_text.h"

namespace {

const GdkColor STRIP_COLOUR{0, 0xbfbf, 0xe1e1, 0xf9f9};
const GdkColor PANEL_COLOUR{0, 0xe4e4, 0xf4f4, 0xffff};
const GdkColor BLACK{0, 0, 0, 0};
const GdkColor WHITE{0, 0xffff, 0xffff, 0xffff};
const GtkStateType CAPTION_STATES[] = {GTK_STATE_NORMAL, GTK_STATE_ACTIVE, GTK_STATE_PRELIGHT,
                                       GTK_STATE_SELECTED};
// Shown, greyed out, while no post-login page is chosen.
const char DEFAULT_PAGE[] = "http://www.example.com/";
const char DEFAULT_TIMEOUT[] = "800";

// One dialog at a time; its records live in show_config_dialog's frame.
ConfigWidgets *running = nullptr;
gulong keep_hidden_handler = 0;

bool ticked(GtkWidget *check)
{
    return gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(check)) != FALSE;
}

void tick(GtkWidget *check, bool on)
{
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(check), on ? TRUE : FALSE);
}

// The main window stays hidden while the dialog is open, whoever asks to show
// it (a message dialog's OK button shows it on its way out).
void hide_again(GtkWidget *window, gpointer)
{
    gtk_widget_hide(window);
}

void hide_main_window(AppContext *ctx)
{
    hide_main_window_widgets(ctx);
    if (ctx->widgets->window)
        keep_hidden_handler = g_signal_connect_after(ctx->widgets->window, "show", G_CALLBACK(hide_again), nullptr);
}

void release_main_window(AppContext *ctx)
{
    GtkWidget *window = ctx->widgets->window;
    if (window && keep_hidden_handler)
        g_signal_handler_disconnect(window, keep_hidden_handler);
    keep_hidden_handler = 0;
}

void show_main_window_again(AppContext *ctx)
{
    release_main_window(ctx);
    show_main_window_widgets(ctx);
}

// Save and cancel end the dialog here; the modal run then returns.
void end_dialog(ConfigWidgets *w, AppContext *ctx)
{
    show_main_window_again(ctx);
    GtkWidget *dialog = w->dialog;
    w->dialog = nullptr;
    if (dialog)
        gtk_widget_destroy(dialog);
}

GtkWidget *new_check(GtkWidget *fixed, const char *caption, int x, int y)
{
    Utf8Text text = utf8(caption);
    GtkWidget *check = gtk_check_button_new_with_label(text_or_empty(text));
    GtkWidget *label = gtk_bin_get_child(GTK_BIN(check));
    for (GtkStateType state : CAPTION_STATES)
        gtk_widget_modify_fg(label, state, &BLACK);
    gtk_fixed_put(GTK_FIXED(fixed), check, x, y);
    return check;
}

GtkWidget *new_entry(GtkWidget *fixed, int max_chars, int x, int y, int w, int h)
{
    GtkWidget *entry = gtk_entry_new();
    gtk_entry_set_max_length(GTK_ENTRY(entry), max_chars);
    gtk_widget_modify_text(entry, GTK_STATE_NORMAL, &BLACK);
    gtk_widget_modify_base(entry, GTK_STATE_NORMAL, &WHITE);
    gtk_widget_set_size_request(entry, w, h);
    gtk_fixed_put(GTK_FIXED(fixed), entry, x, y);
    return entry;
}

GtkWidget *new_dialog_window()
{
    Utf8Text title = utf8(text_of(T_TITLE_SETTINGS));
    GtkWidget *dialog = gtk_dialog_new_with_buttons(text_or_empty(title), nullptr, GtkDialogFlags(0), nullptr);
    gtk_dialog_set_has_separator(GTK_DIALOG(dialog), FALSE);
    set_window_icons(GTK_WINDOW(dialog));
    gtk_window_set_resizable(GTK_WINDOW(dialog), FALSE);
    gtk_window_set_default_size(GTK_WINDOW(dialog), 340, 220);
    gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
    gtk_widget_modify_bg(dialog, GTK_STATE_NORMAL, &STRIP_COLOUR);
    gtk_widget_set_size_request(GTK_DIALOG(dialog)->vbox, 334, 220);
    return dialog;
}

// The panel with its fixed-position container, inside the dialog.
GtkWidget *new_panel(GtkWidget *dialog)
{
    GtkWidget *panel = gtk_event_box_new();
    gtk_widget_modify_bg(panel, GTK_STATE_NORMAL, &PANEL_COLOUR);
    gtk_widget_set_size_request(panel, 330, 220);
    gtk_box_pack_start(GTK_BOX(GTK_DIALOG(dialog)->vbox), panel, FALSE, FALSE, 0);
    GtkWidget *fixed = gtk_fixed_new();
    gtk_container_add(GTK_CONTAINER(panel), fixed);
    return fixed;
}

void build_controls(ConfigWidgets *w, GtkWidget *fixed, GtkTooltips *tips)
{
    w->open_url_check = new_check(fixed, text_of(T_OPEN_URL), 30, 20);
    w->url_entry = new_entry(fixed, 60, 53, 46, 230, 20);
    w->own_dhcp_check = new_check(fixed, text_of(T_OWN_DHCP), 30, 82);
    w->auto_start_check = new_check(fixed, text_of(T_AUTO_START), 30, 150);
    w->launcher_check = new_check(fixed, text_of(T_LAUNCHER), 190, 82);
    w->private_auth_check = new_check(fixed, text_of(T_PRIVATE_AUTH), 170, 150);
    w->reconnect_check = new_check(fixed, text_of(T_TIMEOUT_RECONNECT), 30, 116);
    Utf8Text tip = utf8(text_of(T_PRIVATE_AUTH_TIP));
    gtk_tooltips_set_tip(tips, w->reconnect_check, text_or_empty(tip), nullptr);
    Utf8Text caption = utf8(text_of(T_TIMEOUT_CAPTION));
    GtkWidget *label = gtk_label_new(text_or_empty(caption));
    for (GtkStateType state : CAPTION_STATES)
        gtk_widget_modify_fg(label, state, &BLACK);
    gtk_fixed_put(GTK_FIXED(fixed), label, 135, 118);
    w->timeout_entry = new_entry(fixed, 4, 235, 115, 40, 20);
    gtk_entry_set_alignment(GTK_ENTRY(w->timeout_entry), 1.0);
    gtk_entry_set_activates_default(GTK_ENTRY(w->url_entry), TRUE);
    gtk_entry_set_activates_default(GTK_ENTRY(w->timeout_entry), TRUE);
}

GtkWidget *add_button(GtkWidget *bar, Caption caption, int x, GCallback handler, ConfigContext *cc)
{
    GtkWidget *button = caption_button(caption);
    gtk_widget_set_size_request(button, 60, 20);
    gtk_widget_set_can_default(button, TRUE);
    gtk_fixed_put(GTK_FIXED(bar), button, x, 5);
    g_signal_connect(button, "clicked", handler, cc);
    return button;
}

// The button bar; returns the cancel button, which takes the focus.
GtkWidget *build_buttons(GtkWidget *fixed, ConfigContext *cc)
{
    GtkWidget *strip = gtk_event_box_new();
    gtk_widget_modify_bg(strip, GTK_STATE_NORMAL, &STRIP_COLOUR);
    gtk_widget_set_size_request(strip, 334, 30);
    gtk_fixed_put(GTK_FIXED(fixed), strip, 0, 190);
    GtkWidget *bar = gtk_fixed_new();
    gtk_container_add(GTK_CONTAINER(strip), bar);
    GtkWidget *save = add_button(bar, CAPTION_SAVE, 260, G_CALLBACK(on_ok_button_clicked), cc);
    // Enter in a field or on a check box saves; on a focused button it
    // presses that button.
    gtk_widget_grab_default(save);
    return add_button(bar, CAPTION_CANCEL, 10, G_CALLBACK(on_cancel_button_clicked), cc);
}

// Texts and states from the settings. Ticks come last, after the toggle
// handlers are connected, so a tick also makes its entry editable.
void set_initial_state(ConfigWidgets *w, const ClientSettings *s)
{
    g_signal_connect(w->open_url_check, "toggled", G_CALLBACK(on_open_url_check_toggle), w);
    g_signal_connect(w->reconnect_check, "toggled", G_CALLBACK(on_timeout_reconnect_check_toggle), w);
    g_signal_connect(w->own_dhcp_check, "toggled", G_CALLBACK(on_UseCorvixDhcp_check_toggle), w);

    gtk_entry_set_text(GTK_ENTRY(w->url_entry), s->open_url ? s->url : DEFAULT_PAGE);
    gtk_widget_set_sensitive(w->url_entry, FALSE);
    char timeout[16];
    std::snprintf(timeout, sizeof timeout, "%d", s->timeout);
    gtk_entry_set_text(GTK_ENTRY(w->timeout_entry), s->timeout_reconnect ? timeout : DEFAULT_TIMEOUT);
    gtk_widget_set_sensitive(w->timeout_entry, FALSE);

    bool autostart_folder = shell_run("test -e /etc/xdg/autostart") == 0;
    gtk_widget_set_sensitive(w->auto_start_check, autostart_folder);
    gtk_widget_set_sensitive(w->launcher_check, launcher_wanted(s->login_name));

    tick(w->open_url_check, s->open_url != 0);
    tick(w->own_dhcp_check, s->use_own_dhcp != 0);
    tick(w->auto_start_check, autostart_folder && s->auto_start != 0);
    tick(w->private_auth_check, s->private_auth != 0);
    tick(w->reconnect_check, s->timeout_reconnect != 0);
}

ConfigChoice read_choice(const ConfigWidgets *w)
{
    ConfigChoice c;
    c.open_url = ticked(w->open_url_check);
    c.url = gtk_entry_get_text(GTK_ENTRY(w->url_entry));
    c.use_own_dhcp = ticked(w->own_dhcp_check);
    c.timeout_reconnect = ticked(w->reconnect_check);
    c.timeout = gtk_entry_get_text(GTK_ENTRY(w->timeout_entry));
    c.auto_start = ticked(w->auto_start_check);
    c.private_auth = ticked(w->private_auth_check);
    return c;
}

}  // namespace

void show_config_dialog(GtkWidget *, AppContext *ctx)
{
    if (running) {
        gtk_window_present(GTK_WINDOW(running->dialog));
        return;
    }
    ConfigWidgets widgets{};
    ConfigContext cc{ctx, &widgets};
    GtkWidget *dialog = new_dialog_window();
    widgets.dialog = dialog;
    GtkWidget *fixed = new_panel(dialog);
    GtkTooltips *tips = gtk_tooltips_new();
    gtk_tooltips_set_delay(tips, 0);
    build_controls(&widgets, fixed, tips);
    GtkWidget *cancel = build_buttons(fixed, &cc);
    set_initial_state(&widgets, ctx->settings);
    gtk_widget_show_all(dialog);
    gtk_widget_grab_focus(cancel);
    running = &widgets;
    hide_main_window(ctx);
    // The run returns on a destroyed dialog: keep the object until then.
    g_object_ref(dialog);
    gtk_dialog_run(GTK_DIALOG(dialog));
    running = nullptr;
    // Still set: closed by the window manager, which is a cancel. Save,
    // cancel and a given-up save have already ended it.
    if (widgets.dialog)
        end_dialog(&widgets, ctx);
    g_object_unref(dialog);
}

void on_open_url_check_toggle(GtkWidget *, ConfigWidgets *w)
{
    gtk_widget_set_sensitive(w->url_entry, ticked(w->open_url_check));
}

void on_timeout_reconnect_check_toggle(GtkWidget *, ConfigWidgets *w)
{
    gtk_widget_set_sensitive(w->timeout_entry, ticked(w->reconnect_check));
}

void on_UseCorvixDhcp_check_toggle(GtkWidget *, ConfigWidgets *w)
{
    // Read only when saving; nothing depends on it while the dialog is open.
    (void)ticked(w->own_dhcp_check);
}

void on_ok_button_clicked(GtkWidget *, ConfigContext *cc)
{
    AppContext *ctx = cc->context;
    ConfigWidgets *w = cc->config_widgets;
    ClientSettings *s = ctx->settings;
    TextId failure = T_NONE;
    switch (request_save(read_choice(w), s)) {
    case ConfigSave::ProgramRefused:
        // The dialog stays open for a correction.
        show_msg_dialog(ctx, text_of(T_TITLE_ERROR), text_of(T_PROGRAM_REFUSED), 1, 1);
        return;
    case ConfigSave::FileUnreadable:
        failure = T_SETTINGS_NOT_SAVED;
        break;
    case ConfigSave::WriteFailed:
        failure = T_SETTINGS_WRITE_FAILED;
        break;
    case ConfigSave::AutostartFailed:
        failure = T_AUTOSTART_FAILED;
        break;
    case ConfigSave::Saved:
        break;
    }
    if (failure != T_NONE) {
        // Given up: the message's OK brings the main window back.
        GtkWidget *dialog = w->dialog;
        w->dialog = nullptr;
        gtk_widget_destroy(dialog);
        release_main_window(ctx);
        show_msg_dialog(ctx, text_of(T_TITLE_ERROR), text_of(failure), 1, 1);
        return;
    }
    // The engine's save keeps the autostart entry in step itself.
    if (ticked(w->launcher_check))
        copy_launcher(s->login_name);
    end_dialog(w, ctx);
}

void on_cancel_button_clicked(GtkWidget *, ConfigContext *cc)
{
    end_dialog(cc->config_widgets, cc->context);
}

ConfigWidgets *running_config_dialog()
{
    return running;
}
