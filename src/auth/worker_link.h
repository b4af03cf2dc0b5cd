// SPDX-License-Identifier: GPL-2.0-or-later
// How the worker and the address step reach the user: one record of plain
// functions, filled once at start-up by whoever shows things (the GTK UI, a
// test's recorder). The worker never knows a widget: every argument is a
// value that could as well travel in a message to another process.
#pragma once

#include <string>

#include "app/texts.h"

// What the log-on reads at its start: the entries and two settings.
struct WorkerInput {
    std::string account;
    std::string password;
    std::string device;
    int timeout = 0;  // seconds; 0 waits without limit
    int private_auth = 0;
};

// The settings the address step decides by, read once when it starts.
struct AddressSettings {
    int use_own_dhcp;
    int open_url;
    std::string url;
    std::string login_name;
};

// The tray icon's pictures while a worker runs.
enum class TrayState { Authenticating, Online };

// Called on the worker's thread; the filler hands widget work to its own
// thread. `ui` is the filler's own pointer, handed back untouched. A null
// function means the filler does not want that report.
struct WorkerLink {
    void *ui;
    // The user's entries and the attempt's settings.
    WorkerInput (*read_input)(void *ui);
    AddressSettings (*read_address_settings)(void *ui);
    // Replaces the message window: kind 0 information, 1 error; buttons as
    // the window's layouts define them. Texts go as ids, rendered by the filler.
    void (*show_message)(void *ui, TextId title, const UserText &text, int kind, int buttons);
    // What the progress window shows when the tray opens it later, without opening it now.
    void (*prepare_progress)(void *ui, TextId title, TextId text);
    // The message text, and the label of the window that is open.
    void (*progress_text)(void *ui, const UserText &text);
    void (*tray)(void *ui, TrayState state);
    // Every run-state change the worker makes, after `status` holds it.
    void (*status_changed)(void *ui, int status);
    // The post-login web page, opened in the user's session.
    void (*open_page)(void *ui, const std::string &url);
};

// Installs the record the worker uses from now on (copied).
void set_worker_link(const WorkerLink &link);
const WorkerLink &worker_link();

// Calls into the installed record; each does nothing when its function is null.
WorkerInput link_read_input();
AddressSettings link_read_address_settings();
void link_show_message(TextId title, const UserText &text, int kind, int buttons);
void link_prepare_progress(TextId title, TextId text);
void link_progress_text(const UserText &text);
void link_tray(TrayState state);
void link_open_page(const std::string &url);
// Sets `status` and reports the change.
void link_set_status(int new_status);

// Ends the calling worker thread when a newer worker (or an exit) has taken over.
void retire_if_superseded(int generation);
// Moves thread_auth_num on by one and wakes the running worker's waits, so
// that it retires now instead of at its next time-out; the new value.
int next_generation();
// Sets thread_auth_num to value (an exit's negative mark) and wakes the waits likewise.
void set_generation(int value);
// Readable once the generation has moved on, until taken: one more
// descriptor for every wait of the worker; -1 when none could be made.
int generation_wake_fd();
// Empties it, before the waiter looks at the generation.
void generation_wake_take();
// Ends the calling worker thread. Declared noreturn so that the sanitizers
// forget the stack frames it unwinds before the thread's end reuses them.
[[noreturn]] void end_worker_thread();
