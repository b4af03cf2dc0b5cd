// SPDX-License-Identifier: GPL-2.0-or-later
#include "ui/main_window.h"
#include "app/texts.h"

#include <algorithm>
#include <initializer_list>
#include <utility>
#include <cstdlib>

#include "app/startup.h"
#include "ui/account_handlers.h"
#include "ui/config_dialog.h"
#include "ui/images.h"
#include "ui/mainloop.h"
#include "app/locale_text.h"
#include "app/window_half.h"
// The generated pictures (angle brackets: ui/images.h shares the file name).
#include <images.h>

namespace {

// Where each widget sits in the window's fixed container; w and h of -1 keep
// the widget's natural size.
struct Place {
    int x, y, w, h;
};

enum Slot {
    BANNER, LOCK, ACCOUNT_LABEL, ACCOUNT_COMBO, PASSWORD_LABEL, PASSWORD_ENTRY, DEVICE_LABEL,
    DEVICE_COMBO, EXIT_BUTTON, LOGON_BUTTON, CONFIG_BUTTON, ABOUT_BUTTON, REMEMBER_CHECK,
    AUTO_LOGON_CHECK, FOOTER, SLOT_COUNT
};

const Place PLACES[SLOT_COUNT] = {
    {0, 0, -1, -1},      {220, 106, -1, -1}, {30, 80, -1, -1},   {60, 75, -1, -1},
    {30, 110, -1, -1},   {60, 106, -1, -1},  {30, 140, -1, -1},  {60, 135, -1, -1},
    {250, 170, 60, 20},  {25, 170, 60, 20},  {100, 170, 60, 20}, {175, 170, 60, 20},
    {250, 97, -1, -1},   {250, 117, -1, -1}, {0, 200, 334, 20},
};

const GdkColor ABOUT_BACKGROUND{0, 0xe4e4, 0xf4f4, 0xffff};
const char *const RC_FILE = "/usr/share/Corvix2/Corvixrc";
const GtkStateType CHECK_STATES[] = {GTK_STATE_NORMAL, GTK_STATE_ACTIVE, GTK_STATE_PRELIGHT, GTK_STATE_SELECTED};

// Closing the main window or its exit button ends the client at once, with
// status 0 and without a Logoff.
void exit_client(GtkWidget *, gpointer)
{
    std::exit(0);
}

void put(MainWidgets *w, GtkWidget *widget, Slot slot)
{
    const Place &p = PLACES[slot];
    if (p.w > 0)
        gtk_widget_set_size_request(widget, p.w, p.h);
    gtk_fixed_put(GTK_FIXED(w->fixed), widget, p.x, p.y);
}

// The text of a label, or of a check box's label.
GtkWidget *text_of_widget(GtkWidget *widget)
{
    return GTK_IS_LABEL(widget) ? widget : gtk_bin_get_child(GTK_BIN(widget));
}

int natural_width(GtkWidget *widget)
{
    GtkRequisition size;
    gtk_widget_size_request(widget, &size);
    return size.width;
}

// A group of texts in one column (the labels, the check boxes) stays at its
// slots when every one ends by right_edge there. A longer one moves left, not beyond min_x, so that it does not run into its
// neighbour; if one still does not fit, the whole group takes a smaller font,
// half a point at a time, so that the column keeps one size. Measured in the
// window, with the resource file's font.
void fit_column(MainWidgets *w, std::initializer_list<std::pair<GtkWidget *, Slot>> column, int right_edge,
                int min_x)
{
    auto widest = [&] {
        int most = 0;
        for (const auto &[widget, slot] : column)
            most = std::max(most, natural_width(widget));
        return most;
    };
    GtkWidget *first = text_of_widget(column.begin()->first);
    PangoFontDescription *font = pango_font_description_copy(gtk_widget_get_style(first)->font_desc);
    int points = pango_font_description_get_size(font);
    while (widest() > right_edge - min_x && points > 6 * PANGO_SCALE) {
        points -= PANGO_SCALE / 2;
        pango_font_description_set_size(font, points);
        for (const auto &[widget, slot] : column)
            gtk_widget_modify_font(text_of_widget(widget), font);
    }
    pango_font_description_free(font);
    for (const auto &[widget, slot] : column) {
        const Place &p = PLACES[slot];
        int width = natural_width(widget);
        if (p.x + width > right_edge)
            gtk_fixed_move(GTK_FIXED(w->fixed), widget, std::max(min_x, right_edge - width), p.y);
    }
}

// The labels end before the fields at x 60.
constexpr int LABELS_END = 58, kWindowWidth = 334;

GtkWidget *new_label(MainWidgets *w, const char *text, Slot slot)
{
    Utf8Text converted = utf8(text);
    GtkWidget *label = gtk_label_new(text_or_empty(converted));
    gtk_widget_modify_fg(label, GTK_STATE_NORMAL, &w->colors[1]);
    put(w, label, slot);
    return label;
}

void colour_entry(MainWidgets *w, GtkWidget *entry)
{
    gtk_widget_modify_text(entry, GTK_STATE_NORMAL, &w->colors[1]);
    gtk_widget_modify_base(entry, GTK_STATE_NORMAL, &w->colors[2]);
}

GtkWidget *new_combo(MainWidgets *w, GList *items, Slot slot)
{
    GtkWidget *combo = gtk_combo_new();
    colour_entry(w, GTK_COMBO(combo)->entry);
    if (items)
        gtk_combo_set_popdown_strings(GTK_COMBO(combo), items);
    put(w, combo, slot);
    return combo;
}

GtkWidget *new_image_button(MainWidgets *w, Caption caption, Slot slot)
{
    GtkWidget *button = caption_button(caption);
    w->scratch_image = gtk_bin_get_child(GTK_BIN(button));
    put(w, button, slot);
    return button;
}

GtkWidget *new_check(MainWidgets *w, const char *caption, Slot slot)
{
    Utf8Text converted = utf8(caption);
    GtkWidget *check = gtk_check_button_new_with_label(text_or_empty(converted));
    GtkWidget *label = gtk_bin_get_child(GTK_BIN(check));
    for (GtkStateType state : CHECK_STATES)
        gtk_widget_modify_fg(label, state, &w->colors[4]);
    put(w, check, slot);
    return check;
}

void build_toplevel(MainWidgets *w)
{
    w->window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    GtkWindow *window = GTK_WINDOW(w->window);
    gtk_window_set_resizable(window, FALSE);
    gtk_window_set_default_size(window, 334, 220);
    gtk_window_set_position(window, GTK_WIN_POS_CENTER);
    Utf8Text title = utf8(text_of(T_APP_NAME));
    gtk_window_set_title(window, text_or_empty(title));
    gtk_widget_modify_bg(w->window, GTK_STATE_NORMAL, &w->colors[0]);
    set_window_icons(window);
    g_signal_connect(w->window, "destroy", G_CALLBACK(exit_client), nullptr);
    w->fixed = gtk_fixed_new();
    gtk_container_add(GTK_CONTAINER(w->window), w->fixed);
}

void build_lock(AppContext *ctx)
{
    MainWidgets *w = ctx->widgets;
    put(w, image_from_inline(logo3_inline), BANNER);
    w->event_box = gtk_event_box_new();
    gtk_widget_modify_bg(w->event_box, GTK_STATE_NORMAL, &w->colors[0]);
    w->lock_image = image_from_inline(save_inline);
    gtk_container_add(GTK_CONTAINER(w->event_box), w->lock_image);
    w->tooltips = gtk_tooltips_new();
    gtk_tooltips_set_delay(w->tooltips, 0);
    Utf8Text tip = utf8(text_of(T_DELETE_ACCOUNT_TIP));
    gtk_tooltips_set_tip(w->tooltips, w->event_box, text_or_empty(tip), nullptr);
    g_signal_connect(w->event_box, "button_press_event", G_CALLBACK(on_lock_clicked), ctx);
    // A picture that acts as a button: named for screen readers, and reached
    // with Tab last (an Enter on the way to the card must not forget an account).
    AtkObject *accessible = gtk_widget_get_accessible(w->event_box);
    atk_object_set_name(accessible, text_or_empty(tip));
    atk_object_set_role(accessible, ATK_ROLE_PUSH_BUTTON);
    GTK_WIDGET_SET_FLAGS(w->event_box, GTK_CAN_FOCUS);
    g_signal_connect(w->event_box, "key_press_event", G_CALLBACK(on_lock_key), ctx);
    put(w, w->event_box, LOCK);
}

void build_account_fields(AppContext *ctx)
{
    MainWidgets *w = ctx->widgets;
    ClientSettings *s = ctx->settings;
    w->account_label = new_label(w, text_of(T_ACCOUNT_LABEL), ACCOUNT_LABEL);
    w->account_combo = new_combo(w, w->account_list, ACCOUNT_COMBO);
    GtkWidget *account = GTK_COMBO(w->account_combo)->entry;
    gtk_entry_set_text(GTK_ENTRY(account), s->last_user);
    gtk_entry_set_max_length(GTK_ENTRY(account), 50);
    // Connected after the text is set, so building the window does not run it.
    g_signal_connect(account, "changed", G_CALLBACK(on_username_combo_changed), ctx);
    // Enter in the account logs on, as in the password entry, instead of
    // popping up the list (the arrow keys still walk it).
    gtk_combo_disable_activate(GTK_COMBO(w->account_combo));
    g_signal_connect(account, "activate", G_CALLBACK(on_logon_button_clicked), ctx);

    w->password_label = new_label(w, text_of(T_PASSWORD_LABEL), PASSWORD_LABEL);
    w->password_entry = gtk_entry_new();
    gtk_entry_set_max_length(GTK_ENTRY(w->password_entry), 60);
    gtk_entry_set_visibility(GTK_ENTRY(w->password_entry), FALSE);
    colour_entry(w, w->password_entry);
    // The loader never fills last_password: a stored one shows as the placeholder.
    gtk_entry_set_text(GTK_ENTRY(w->password_entry),
                       s->last_password_stored ? STORED_PASSWORD_PLACEHOLDER : s->last_password);
    gtk_entry_set_max_length(GTK_ENTRY(w->password_entry), 20);
    g_signal_connect(w->password_entry, "changed", G_CALLBACK(on_password_changed), ctx);
    g_signal_connect(w->password_entry, "activate", G_CALLBACK(on_logon_button_clicked), ctx);
    put(w, w->password_entry, PASSWORD_ENTRY);

    w->device_label = new_label(w, text_of(T_DEVICE_LABEL), DEVICE_LABEL);
    w->device_combo = new_combo(w, w->device_list, DEVICE_COMBO);
    GtkWidget *device = GTK_COMBO(w->device_combo)->entry;
    if (s->device_found)
        gtk_entry_set_text(GTK_ENTRY(device), s->last_device);
    gtk_editable_set_editable(GTK_EDITABLE(device), FALSE);
}

void build_buttons(AppContext *ctx)
{
    MainWidgets *w = ctx->widgets;
    w->exit_button = new_image_button(w, CAPTION_EXIT, EXIT_BUTTON);
    g_signal_connect(w->exit_button, "clicked", G_CALLBACK(exit_client), nullptr);
    w->logon_button = new_image_button(w, CAPTION_LOGON, LOGON_BUTTON);
    gtk_widget_modify_bg(w->scratch_image, GTK_STATE_NORMAL, &w->colors[4]);
    gtk_widget_grab_focus(w->logon_button);
    g_signal_connect(w->logon_button, "clicked", G_CALLBACK(on_logon_button_clicked), ctx);
    w->config_button = new_image_button(w, CAPTION_CONFIG, CONFIG_BUTTON);
    g_signal_connect(w->config_button, "clicked", G_CALLBACK(show_config_dialog), ctx);
    w->about_button = new_image_button(w, CAPTION_ABOUT, ABOUT_BUTTON);
    g_signal_connect(w->about_button, "clicked", G_CALLBACK(show_about_dlg), w);
}

void build_checks(AppContext *ctx)
{
    MainWidgets *w = ctx->widgets;
    ClientSettings *s = ctx->settings;
    w->remember_check = new_check(w, text_of(T_REMEMBER_PASSWORD), REMEMBER_CHECK);
    g_signal_connect(w->remember_check, "toggled", G_CALLBACK(on_remember_passwd_check_toggle), ctx);
    if (s->last_password_stored || s->last_password[0])
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(w->remember_check), TRUE);
    w->auto_logon_check = new_check(w, text_of(T_AUTO_LOGON), AUTO_LOGON_CHECK);
    g_signal_connect(w->auto_logon_check, "toggled", G_CALLBACK(on_autologon_check_toggle), ctx);
    if (s->auto_logon)
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(w->auto_logon_check), TRUE);
}

// Tab goes the way the eye reads the window: the three fields top to bottom,
// the check boxes, then the buttons left to right (not in build order).
void set_focus_order(MainWidgets *w)
{
    GList *chain = nullptr;
    for (GtkWidget *widget : {w->account_combo, w->password_entry, w->device_combo, w->remember_check,
                              w->auto_logon_check, w->logon_button, w->config_button, w->about_button,
                              w->exit_button, gtk_widget_get_parent(w->lock_image)})
        chain = g_list_append(chain, widget);
    gtk_container_set_focus_chain(GTK_CONTAINER(w->fixed), chain);
    g_list_free(chain);
}

// The footer needs the realized window: its pixmap is made for that window.
void build_footer(MainWidgets *w)
{
    gtk_widget_realize(w->window);
    GdkPixmap *pixmap = gdk_pixmap_create_from_xpm_d(w->window->window, nullptr, &w->colors[3],
                                                     const_cast<gchar **>(copyright_xpm));
    GtkWidget *image = pixmap ? gtk_image_new_from_pixmap(pixmap, nullptr) : gtk_image_new();
    if (pixmap)
        g_object_unref(pixmap);  // the image keeps its own reference
    w->event_box = gtk_event_box_new();
    gtk_widget_modify_bg(w->event_box, GTK_STATE_NORMAL, &w->colors[3]);
    gtk_container_add(GTK_CONTAINER(w->event_box), image);
    put(w, w->event_box, FOOTER);
}

}  // namespace

void show_main_window_widgets(AppContext *ctx)
{
    if (ctx->widgets->window)
        gtk_widget_show_all(ctx->widgets->window);
}

void hide_main_window_widgets(AppContext *ctx)
{
    if (ctx->widgets->window)
        gtk_widget_hide(ctx->widgets->window);
}

// Builds the hidden main window from the settings into ctx->widgets.
void build_main_window(AppContext *ctx)
{
    MainWidgets *w = ctx->widgets;
    w->device_list = ctx->settings->devices;
    w->account_list = ctx->settings->users;
    build_toplevel(w);
    build_lock(ctx);
    build_account_fields(ctx);
    build_buttons(ctx);
    build_checks(ctx);
    set_focus_order(w);
    // The Chinese texts keep their places; the English ones are longer.
    if (text_language() == TextLanguage::English) {
        fit_column(w, {{w->account_label, ACCOUNT_LABEL}, {w->password_label, PASSWORD_LABEL}, {w->device_label, DEVICE_LABEL}},
                   LABELS_END, 2);
        // Right of the lock at x 220..240, inside the window.
        fit_column(w, {{w->remember_check, REMEMBER_CHECK}, {w->auto_logon_check, AUTO_LOGON_CHECK}},
                   kWindowWidth - 2, 242);
    }
    build_footer(w);
}

// GTK, the resource file, the window, the start-up decision, then the main loop for good.
void show_main_window(int *argc, char ***argv, ClientSettings *settings)
{
    mainloop_init();
    // The texts' language, from the locale that main() set; the window shows
    // its texts and caption pictures in it.
    choose_text_language();
    // Both live as long as the process: workers and handlers keep pointers.
    static MainWidgets widgets = main_widgets_initial();
    static AppContext ctx{&widgets, settings};
    set_window_context(&ctx);
    // GLib sets its thread system up by itself; GDK thread support stays off
    // because workers hand widget work to this thread instead of locking.
    gtk_init(argc, argv);
    gtk_rc_parse(RC_FILE);
    build_main_window(&ctx);
    startup_decision(&ctx);
    gdk_threads_enter();
    gtk_main();
    gdk_threads_leave();
}

// Runs the About box modally with the main window hidden.
void show_about_dlg(GtkWidget *, MainWidgets *widgets)
{
    GdkPixbuf *pixbuf = pixbuf_from_inline(tray_inline);
    GtkWidget *about = gtk_about_dialog_new();
    GtkAboutDialog *dialog = GTK_ABOUT_DIALOG(about);
    set_window_icons(GTK_WINDOW(about));
    gtk_widget_modify_bg(about, GTK_STATE_NORMAL, &ABOUT_BACKGROUND);
    gtk_window_set_transient_for(GTK_WINDOW(about), nullptr);
    gtk_window_set_position(GTK_WINDOW(about), GTK_WIN_POS_CENTER);
    Utf8Text name = utf8(text_of(T_APP_NAME));
    gtk_about_dialog_set_program_name(dialog, text_or_empty(name));
    gtk_about_dialog_set_version(dialog, "2.0");
    gtk_about_dialog_set_copyright(dialog, "2011-05-03");
    Utf8Text comments = utf8(text_of(T_ABOUT_COMMENTS));
    gtk_about_dialog_set_comments(dialog, text_or_empty(comments));
    gtk_about_dialog_set_logo(dialog, pixbuf);
    if (pixbuf)
        g_object_unref(pixbuf);
    gtk_widget_hide(widgets->window);
    gtk_dialog_run(GTK_DIALOG(about));
    gtk_widget_destroy(about);
    gtk_widget_show(widgets->window);
}
