// SPDX-License-Identifier: GPL-2.0-or-later
// GUI test harness: a real GTK main loop under Xvfb.
//
// The status dialog runs modally (gtk_dialog_run), so a test body that pumps
// the loop itself would be stuck inside that nested loop. Tests therefore run
// a script on a second thread that plays both the user (main-thread actions
// through on_main) and the worker (plain calls), while this thread pumps the
// loop with pump_until until the script is over.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include <gtk/gtk.h>

#include "app/records.h"
#include "ui/main_widgets.h"
#include "ui/mainloop.h"

// The engine's process (support/engine_fixture.h), then GTK on this thread in
// a UTF-8 locale, once per process; FAILS without a display. Call it while the
// process has no other thread.
void gui_init();
// Starts the engine with the settings of gui_app() (and settings_path) as
// they are now; run_script does it first. Once per process.
void gui_start_engine();

// Pumps the main loop (gtk_main_iteration_do(FALSE)) until done() or the time
// is up; returns done().
bool pump_until(const std::function<bool()> &done, int timeout_ms);

// Main thread, without a script: starts the engine and pumps the main loop
// until the engine has handled every request the window sent before and its
// answers have been applied. False when that takes longer than timeout_ms.
bool pump_engine(int timeout_ms = 10000);

// Starts the engine (gui_start_engine), then runs script on a second thread
// while this thread pumps the main loop. A script still running after
// timeout_ms ends the process with a message.
void run_script(const std::function<void()> &script, int timeout_ms = 30000);

// From the script thread: runs fn on the main thread and returns its result.
template <typename F> auto on_main(F fn) -> decltype(fn())
{
    using R = decltype(fn());
    if constexpr (std::is_void_v<R>) {
        main_call_sync(fn);
    } else {
        std::optional<R> result;
        main_call_sync([&] { result = fn(); });
        return *result;
    }
}

// From the script thread: polls pred on the main thread every few
// milliseconds; true as soon as it holds, false after timeout_ms.
bool wait_for(const std::function<bool()> &pred, int timeout_ms = 5000);

// The client's records with a real, hidden main window (empty account), the
// window the engine's messages are applied to.
struct GuiApp {
    ClientSettings settings{};
    MainWidgets widgets{};
    AppContext ctx{&widgets, &settings};
};
// One per process: workers may outlive a test body, so it is never freed.
GuiApp &gui_app();

// Main thread only. Visible dialog windows (the About box included).
std::vector<GtkWidget *> visible_dialogs();
bool main_window_visible(const AppContext &ctx);
// The message dialog is on screen, its lock released, showing text (any text
// when text is null).
bool message_shown(const ClientSettings &s, const char *text = nullptr);
std::string label_text(GtkWidget *label);
// The buttons of the current status dialog, by x position in its button bar.
GtkWidget *dialog_button_at(const ClientSettings &s, int x);
// The names of the push buttons in a window's accessibility tree (needs
// GTK_MODULES=gail before gui_init), sorted; a button whose tooltip says
// something else than its name is listed as "name|tooltip".
std::vector<std::string> accessible_button_names(GtkWidget *window);
// Sends the window manager's close request (a delete event) to a window.
void send_delete_event(GtkWidget *window);
// Emits "clicked" on a button (what a mouse click ends in).
void click(GtkWidget *button);

// Records every dialog window mapped while it exists, and whether it has been
// destroyed since. Create and read it on the main thread.
struct MappedDialogs {
    struct Entry {
        GtkWidget *dialog;
        bool destroyed;
    };
    MappedDialogs();
    ~MappedDialogs();
    MappedDialogs(const MappedDialogs &) = delete;
    MappedDialogs &operator=(const MappedDialogs &) = delete;
    std::deque<Entry> entries;
    guint signal_id;
    gulong hook_id;
};

// Main thread only. Makes this process the display's notification area (a
// tray host, as a desktop panel is one): status icons created from now on
// are embedded in a window of its own. False when another host owns it.
bool start_tray_host();

// True when this process runs as init of a private PID namespace (so the
// client's "killall" lines can only reach the test's own processes).
bool in_private_pid_namespace();
