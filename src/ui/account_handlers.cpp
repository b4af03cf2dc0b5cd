// SPDX-License-Identifier: GPL-2.0-or-later
// The main window's handlers of the stored accounts: what they read from the
// widgets, and what the settings file's work answers, applied to them.
#include "ui/account_handlers.h"
#include "app/texts.h"

#include <gdk/gdkkeysyms.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/locale_text.h"
#include "app/window_half.h"
#include "ui/main_widgets.h"

namespace {

GtkWidget *account_entry(AppContext *ctx)
{
    return GTK_COMBO(ctx->widgets->account_combo)->entry;
}

bool toggle_active(GtkWidget *check)
{
    return gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(check)) != FALSE;
}

void set_toggle(GtkWidget *check, bool active)
{
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(check), active ? TRUE : FALSE);
}


void free_names(GList *list)
{
    for (GList *l = list; l; l = l->next)
        g_free(l->data);
    g_list_free(list);
}

}  // namespace

void show_stored_password(AppContext *ctx, bool stored)
{
    gtk_entry_set_text(GTK_ENTRY(ctx->widgets->password_entry),
                       stored ? STORED_PASSWORD_PLACEHOLDER : "");
    // After the text: setting it ran the entry's handler, which clears the mark.
    ctx->settings->last_password_stored = stored ? 1 : 0;
}

void on_password_changed(GtkWidget *, AppContext *ctx)
{
    ctx->settings->last_password_stored = 0;
}

void apply_stored_password(AppContext *ctx, const char *account, int found, int stored)
{
    // An answer for an account the entry no longer shows is stale.
    if (std::strcmp(account, gtk_entry_get_text(GTK_ENTRY(account_entry(ctx)))) != 0)
        return;
    if (found != 1) {
        if (found == 0)
            show_stored_password(ctx, false);
        return;
    }
    show_stored_password(ctx, stored == 1);
    set_toggle(ctx->widgets->remember_check, stored == 1);
}

void apply_account_list(AppContext *ctx, const std::vector<std::string> &names)
{
    GList *list = nullptr;
    for (const std::string &name : names) {
        if (gchar *converted = _(name.c_str()))
            list = g_list_append(list, converted);
    }
    GtkCombo *combo = GTK_COMBO(ctx->widgets->account_combo);
    // The list arrives after the lock's handler emptied the entry: a new list
    // must not put its first name back there.
    std::string shown = gtk_entry_get_text(GTK_ENTRY(combo->entry));
    if (list)
        gtk_combo_set_popdown_strings(combo, list);
    else
        gtk_list_clear_items(GTK_LIST(combo->list), 0, -1);
    gtk_entry_set_text(GTK_ENTRY(combo->entry), shown.c_str());
    // The first list is the settings' own; later ones are ours to free.
    if (ctx->widgets->account_list != ctx->settings->users)
        free_names(ctx->widgets->account_list);
    ctx->widgets->account_list = list;
}

void on_username_combo_changed(GtkWidget *, AppContext *ctx)
{
    ClientSettings *s = ctx->settings;
    copy_field(s->last_user, gtk_entry_get_text(GTK_ENTRY(account_entry(ctx))));
    // The placeholder stood for the other account's password.
    if (s->last_password_stored)
        show_stored_password(ctx, false);
    request_password(s->last_user);
}

void on_autologon_check_toggle(GtkWidget *, AppContext *ctx)
{
    bool on = toggle_active(ctx->widgets->auto_logon_check);
    ctx->settings->auto_logon = on ? 1 : 0;
    if (on)
        set_toggle(ctx->widgets->remember_check, true);
    // The engine stores it and reports a failure itself.
    request_auto_logon(on ? 1 : 0);
}

void on_remember_passwd_check_toggle(GtkWidget *, AppContext *ctx)
{
    if (toggle_active(ctx->widgets->remember_check)) {
        ctx->settings->remember_password = 1;
        return;
    }
    ctx->settings->remember_password = 0;
    // Automatic log-on needs the password: the box comes back at once.
    if (toggle_active(ctx->widgets->auto_logon_check)) {
        set_toggle(ctx->widgets->remember_check, true);
        ctx->settings->remember_password = 1;
    }
}

gboolean on_lock_clicked(GtkWidget *, GdkEventButton *event, AppContext *ctx)
{
    if (!event || event->button != 1)
        return FALSE;
    std::string account = gtk_entry_get_text(GTK_ENTRY(account_entry(ctx)));
    request_delete_account(account.c_str());
    gtk_entry_set_text(GTK_ENTRY(account_entry(ctx)), "");
    gtk_entry_set_text(GTK_ENTRY(ctx->widgets->password_entry), "");
    return FALSE;
}

gboolean on_lock_key(GtkWidget *widget, GdkEventKey *event, AppContext *ctx)
{
    if (!event || (event->keyval != GDK_Return && event->keyval != GDK_KP_Enter &&
                   event->keyval != GDK_space))
        return FALSE;
    GdkEventButton click{};
    click.type = GDK_BUTTON_PRESS;
    click.button = 1;
    (void)on_lock_clicked(widget, &click, ctx);
    return TRUE;
}
