#include "ui/worker_ui.h"

#include <string>

#include "auth/auth.h"
#include "auth/worker_link.h"
#include "dhcp/request_ip.h"
#include "ui/main_widgets.h"
#include "ui/mainloop.h"
#include "ui/msg_dialog.h"
#include "ui/tray.h"

namespace {

AppContext *context_of(void *ui)
{
    return static_cast<AppContext *>(ui);
}

// The text of an entry, of a GtkCombo's entry, or of a combo box's child entry.
std::string entry_text(GtkWidget *widget)
{
    if (widget && GTK_IS_COMBO(widget))
        widget = GTK_COMBO(widget)->entry;
    else if (widget && GTK_IS_BIN(widget))
        widget = gtk_bin_get_child(GTK_BIN(widget));
    if (!widget || !GTK_IS_ENTRY(widget))
        return "";
    return gtk_entry_get_text(GTK_ENTRY(widget));
}

WorkerInput read_input(void *ui)
{
    AppContext *ctx = context_of(ui);
    WorkerInput in;
    main_call_sync([&] {
        if (MainWidgets *w = ctx->widgets) {
            in.account = entry_text(w->account_combo);
            in.password = entry_text(w->password_entry);
            in.device = entry_text(w->device_combo);
        }
        in.timeout = ctx->settings->timeout;
        in.private_auth = ctx->settings->private_auth;
    });
    return in;
}

// Copied on the main thread, where the settings dialog writes them.
AddressSettings read_address_settings(void *ui)
{
    AppContext *ctx = context_of(ui);
    AddressSettings as{};
    main_call_sync([&] {
        const ClientSettings *cs = ctx->settings;
        as.use_own_dhcp = cs->use_own_dhcp;
        as.open_url = cs->open_url;
        as.url = cs->url;
        as.login_name = cs->login_name;
    });
    return as;
}

void show_message(void *ui, TextId title, const UserText &text, int kind, int buttons)
{
    show_msg_dialog(context_of(ui), text_of(title), render_text(text).c_str(), kind, buttons);
}

// Reports that need no answer are queued for the main loop without waiting
// for it: they still run there in call order, after everything asked for
// before them (a window whose creation is pending is built first).

// What the tray icon's handler opens later.
void prepare_progress(void *ui, TextId title, TextId text)
{
    AppContext *ctx = context_of(ui);
    main_call_async([ctx, t = std::string(text_of(title)), m = std::string(text_of(text))] {
        ClientSettings *cs = ctx->settings;
        cs->msg_kind = 0;
        cs->msg_buttons = 0;
        copy_field(cs->msg_title, t.c_str());
        copy_field(cs->msg_text, m.c_str());
    });
}

void progress_text(void *ui, const UserText &text)
{
    AppContext *ctx = context_of(ui);
    main_call_async([ctx, t = render_text(text)] { set_info_text_now(ctx, t.c_str()); });
}

void tray(void *ui, TrayState state)
{
    AppContext *ctx = context_of(ui);
    main_call_async([ctx, state] {
        if (state == TrayState::Online)
            update_tray_icon(ctx);
        else
            show_tray_icon(ctx);
    });
}

WorkerRequests requests{start_auth_worker, stop_dhcp_clients};
AppContext *connected = nullptr;

}  // namespace

void set_worker_requests(const WorkerRequests &r)
{
    requests = r;
}

void request_worker(AppContext *ctx)
{
    requests.start_worker(ctx);
}

void request_stop_dhcp()
{
    requests.stop_dhcp();
}

AppContext *ui_context()
{
    return connected;
}

void connect_worker_to_ui(AppContext *ctx)
{
    connected = ctx;
    set_address_step(AddressStep{stop_dhcp_clients, request_ip});
    // The UI reads `status` where it needs it, so it takes no change reports.
    set_worker_link(WorkerLink{ctx, read_input, read_address_settings, show_message,
                               prepare_progress, progress_text, tray, nullptr});
}
