// SPDX-License-Identifier: GPL-2.0-or-later
// A real engine for the window's tests: the engine's entry (engine_main) in a
// child process on a socket pair, with this process as the window, as
// split_client makes the two halves (without the change of user).
//
//   engine_fork();                 // before GTK and before any thread
//   ... GTK, the window, the test's settings ...
//   engine_go(settings);           // the engine starts with a copy of them
//
// Between the halves sits a tap that passes every datagram on unchanged and
// keeps a copy of each record, so tests can look at what went over the wire.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <vector>

#include "app/ipc.h"
#include "app/records.h"

// Forks the engine's process, which waits for engine_go, and attaches the
// window (window_attach) to its socket. Once per process; later calls do
// nothing. Call it while the process has one thread and no display: the
// child must not inherit locks held by threads it does not have.
void engine_fork();
// Hands the engine a copy of settings, of settings_path and of status as they
// are now, and starts engine_main. The user who started the client is the
// settings' login_name (root when it names nobody known). The engine enters
// the network namespace of the calling thread first, where the client would
// have been started. Once; later calls do nothing. Requests sent before it
// wait in the socket.
void engine_go(const ClientSettings &settings);
pid_t engine_pid();
// True in the engine's process: the test process's exit handlers skip their
// work there, since the engine's end runs them too.
bool in_engine_process();

// Called on the tap's thread for each record right after it has been passed
// on (to_engine: a request); null for none. Set before the engine starts.
using RecordObserver = void (*)(const IpcRecord &r, bool to_engine);
void set_record_observer(RecordObserver observer);

// Copies of the records the tap has passed, window to engine and back.
std::vector<IpcRecord> requests_seen();
std::vector<IpcRecord> messages_seen();
// Kinds only, in order.
std::vector<uint16_t> request_kinds_seen();
// How many messages of this kind have passed.
size_t messages_of_kind(uint16_t kind);
// Whether a message of this kind with this first text has passed.
bool message_seen(uint16_t kind, const char *text0);
