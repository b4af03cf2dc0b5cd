// SPDX-License-Identifier: GPL-2.0-or-later
// What the engine accepts from the window. The window talks to an X server
// that its user controls, so every request is untrusted input: the engine
// checks its kind, its texts and its numbers before anything acts on it, and
// no text received ever becomes a command line of its own.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "app/ipc.h"
#include "auth/auth.h"

enum class Verdict {
    Accepted,
    Malformed,          // not a canonical record of a request kind
    BadNumber,          // an option outside its range
    AccountBad,         // account not 1..50 bytes, or not storable
    PasswordBad,        // password not 6..20 bytes, or not storable
    DeviceBad,          // no name the kernel would accept for an interface
    ProgramLineRefused, // a url that is not a web page, from a user other than root
    OutOfOrder,         // the engine is ending: nothing more is taken
};

struct LogonRequest {
    std::string account, password, device;
    int remember_password = 0;
    int auto_logon = 0;
    // The password is the one the requesting user stored for the account;
    // the engine looks it up, the window never had it.
    int use_stored = 0;
};

// The settings dialog's boxes and entries at the moment of the save.
struct SaveRequest {
    int open_url = 0;
    int use_own_dhcp = 0;
    int timeout_reconnect = 0;
    int auto_start = 0;
    int private_auth = 0;
    std::string url;           // the page entry's text, as the field holds it
    std::string timeout_text;  // the time-out entry's text, read by the save
};

struct EngineRequest {
    RequestKind kind = REQ_DISCONNECT;
    LogonRequest logon;   // REQ_LOGON
    SaveRequest save;     // REQ_SAVE_SETTINGS
    int flag = 0;         // REQ_SET_AUTO_LOGON
    std::string account;  // REQ_DELETE_ACCOUNT, REQ_ACCOUNT_PASSWORD
};

constexpr size_t URL_MAX_BYTES = 91;

// A name the kernel accepts for a network interface: 1..15 bytes, not "." or
// "..", without '/', ':', white space or control bytes.
bool kernel_interface_name(const std::string &name);
// A url that opens a web page (the address step's own test); anything else is
// a program line.
bool url_is_web_page(const std::string &url);

// Parses one received datagram. real_uid is the user who started the client:
// only root may store a program line. `ending` is true once the engine has
// accepted an exit: nothing else is taken afterwards.
Verdict parse_request(const uint8_t *data, size_t len, uid_t real_uid, bool ending,
                      EngineRequest &out);
// The same for a record already received and decoded.
Verdict check_request(const IpcRecord &r, uid_t real_uid, bool ending, EngineRequest &out);
