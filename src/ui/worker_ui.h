// The UI's side of the worker link: what the worker asks for is read, and
// what it reports is shown, on the main thread.
#pragma once

#include "app/records.h"

// Installs the UI's record for the workers of ctx; once, before any worker starts.
void connect_worker_to_ui(AppContext *ctx);
// The context connect_worker_to_ui was given (the main window's), or null before.
AppContext *ui_context();

// What the window asks of the worker side. In one process these start a
// worker and stop the DHCP clients; when the worker side is another process
// they become requests to it. Installed once, before the window is built.
struct WorkerRequests {
    void (*start_worker)(AppContext *ctx);
    void (*stop_dhcp)();
};
void set_worker_requests(const WorkerRequests &requests);
// Starts a worker for ctx: a log-on, or a log-off when status is STATUS_LOGOFF.
void request_worker(AppContext *ctx);
// Stops every running DHCP client.
void request_stop_dhcp();
