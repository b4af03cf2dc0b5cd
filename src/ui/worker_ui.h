// The UI's side of the worker link: what the worker asks for is read, and
// what it reports is shown, on the main thread.
#pragma once

#include "app/records.h"

// Installs the UI's record for the workers of ctx; once, before any worker starts.
void connect_worker_to_ui(AppContext *ctx);
