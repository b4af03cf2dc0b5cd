// The authentication worker: one thread per attempt.
#pragma once

#include <glib.h>

#include "app/records.h"

// What the worker does about addresses, handed in by whoever runs it: the
// DHCP clients stopped before an attempt, and the address step after
// EAP-Success (returns once online; ends the thread itself otherwise). Null
// members are skipped.
struct AddressStep {
    void (*stop_clients)();
    int (*acquire)(AppContext *ctx, const char *device, int *generation);
};
// Installs the step every later worker uses (copied); once, before any worker starts.
void set_address_step(const AddressStep &step);

// Thread body. Logs on and keeps the port open, or logs off when status is STATUS_LOGOFF.
gpointer authentication(gpointer ctx);
// Shows the server's failure reason and sets STATUS_FAILED.
void auth_error_handle(AppContext *ctx, const uint8_t failure_code[4]);
// Starts a detached worker running authentication(ctx).
void start_auth_worker(AppContext *ctx);
