// SPDX-License-Identifier: GPL-2.0-or-later
// The engine: the half of the client that keeps root's rights and does the
// network and file work (the authentication worker, address acquisition, the
// killall lines, the settings file, the autostart entry). It never opens the
// display: everything it has to show goes to the window as a message, and
// everything the window wants arrives as a request that it checks first.
#pragma once

#include <sys/types.h>

#include "app/records.h"

// Serves the window on fd until the window has gone, then ends the process
// (after an EAPOL-Logoff when a log-on was running or online). real_uid is the
// user who started the client. Never returns.
[[noreturn]] void engine_main(int fd, ClientSettings *settings, uid_t real_uid);

// One request handled as engine_main handles it (for tests): false when the
// engine has nothing more to do (an exit is under way).
bool engine_handle(int fd, const uint8_t *data, size_t len);
// Sets up the engine's state on fd without the loop (for tests).
void engine_setup(int fd, ClientSettings *settings, uid_t real_uid);
// What one turn of the engine's loop came to.
enum class EngineTurn { Handled, TimedOut, WindowGone };
// One turn of engine_main's loop (for tests, after engine_setup): waits up
// to timeout_ms (-1: without limit) for a request or a worker's end and
// handles it. Requests go first; a worker's end starts the pending worker.
EngineTurn engine_turn(int timeout_ms);
// Replaces the killall lines the engine runs (for tests); engine_setup puts them back.
void engine_set_stop_clients(void (*stop)());
