// The authentication worker: one thread per attempt.
#pragma once

#include <glib.h>

#include "app/records.h"

// Thread body. Logs on and keeps the port open, or logs off when status is STATUS_LOGOFF.
gpointer authentication(gpointer ctx);
// Shows the server's failure reason and sets STATUS_FAILED.
void auth_error_handle(AppContext *ctx, const uint8_t failure_code[4]);
// Starts a detached worker running authentication(ctx).
void start_auth_worker(AppContext *ctx);
