// SPDX-License-Identifier: GPL-2.0-or-later
// The authentication worker: one thread per attempt.
#pragma once

#include <glib.h>

#include <cstddef>
#include <string>

#include "app/records.h"

// The limits of a log-on's input, for the worker and the engine's checks alike.
constexpr size_t ACCOUNT_MIN_BYTES = 1, ACCOUNT_MAX_BYTES = 50;
constexpr size_t PASSWORD_MIN_BYTES = 6, PASSWORD_MAX_BYTES = 20;

// Why a log-on cannot start.
enum class LogonRefusal { None, Account, Password, Device };
// Account or Password when that text is outside its limits, else None.
LogonRefusal logon_input_refusal(const std::string &account, const std::string &password);
// Tells the user, as the worker's start does: a reminder for the account or
// the password; for the interface an error and STATUS_ERROR.
void report_logon_refusal(LogonRefusal refusal);

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

// Thread body, handed the record start_auth_worker made. Logs on and keeps
// the port open, or logs off when status was STATUS_LOGOFF at the start.
gpointer authentication(gpointer start);
// Shows the server's failure reason and sets STATUS_FAILED.
void auth_error_handle(AppContext *ctx, const uint8_t failure_code[4]);
// Reads the input, checks it (a refusal is told and starts nothing), takes
// the next generation and starts a detached worker with them. The worker
// writes to ended_fd (an eventfd; -1 for none) once it has ended, unless it
// ends the process. False when no worker started.
bool start_auth_worker(AppContext *ctx, int ended_fd);
