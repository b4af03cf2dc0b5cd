// The window: the half of the client that runs GTK with the rights of the
// user who started it. What it would have asked of a worker or of the
// settings file it asks of the engine; what the engine reports it applies on
// its main loop.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "app/ipc.h"
#include "app/privilege.h"
#include "app/records.h"

// Where the window starts from: the user who started the client, as the
// process found them before it became root.
struct RealUser {
    uid_t uid = 0;
    gid_t gid = 0;
    std::vector<gid_t> groups;
    ResourceLimits limits = current_limits();  // the caller's, taken back by the window
};
// The real ids and supplementary groups of the process right now.
RealUser current_real_user();

// Splits the client in two: the engine (a child that keeps root, never
// returns) and the window (this process, dropped for good to user). Before
// anything opens the display. A failure to split or to drop ends the process.
void split_client(ClientSettings *settings, const RealUser &user);

// The window's side of fd: requests instead of workers and settings-file
// work, and a watch on the main loop that applies the engine's messages.
void window_attach(int fd);
// Applies one message from the engine on the main loop (for tests).
void window_apply(AppContext *ctx, const IpcRecord &r);
// What the window does when the engine has gone (for tests).
void window_engine_gone(AppContext *ctx);
