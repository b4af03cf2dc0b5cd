// SPDX-License-Identifier: GPL-2.0-or-later
// The records that pass between the window process (the user's rights, GTK)
// and the engine process (root, no display). One record is one datagram of a
// SOCK_SEQPACKET socket pair: a fixed size, small numbers and bounded texts,
// so that neither side ever has to trust a length the other side wrote.
#pragma once

#include <cstddef>
#include <cstdint>

#include "app/texts.h"

// Engine → window.
enum MessageKind : uint16_t {
    // Texts travel as ids (see ipc_set_user_text): the window renders them.
    MSG_SHOW_DIALOG = 1,       // num 0 kind, 1 buttons, 2 hide the main window first; title and text
    MSG_DIALOG_FIELDS = 2,     // title and text of the progress window, stored without opening it
    MSG_UPDATE_INFO = 3,       // the progress text
    MSG_TRAY = 4,              // num 0: TRAY_SHOW or TRAY_ONLINE
    MSG_STATUS = 5,            // num 0 the run state
    MSG_ACCOUNT_PASSWORD = 6,  // text 0 account; num 0 found (1, 0, -1 no file), 1 a password is stored
    MSG_ACCOUNTS_RESET = 7,    // the stored account list follows, newest first
    MSG_ACCOUNT_NAME = 8,      // text 0 one stored account
    MSG_ACCOUNTS_DONE = 9,     // end of the list
    MSG_SETTINGS_SAVED = 10,   // num 0 SaveVerdict; num 1 + OptionSlot and 6 the stored options; text 0 url
    MSG_OPEN_PAGE = 11,        // text 0 the post-login web page
};

// Window → engine.
enum RequestKind : uint16_t {
    REQ_LOGON = 101,           // text 0 account, 1 password, 2 interface; num 0 remember, 1 auto_logon,
                               // 2 use the stored password (text 1 then empty)
    REQ_DISCONNECT = 102,
    REQ_EXIT = 103,
    REQ_SAVE_SETTINGS = 104,   // num: OptionSlot; text 0 url, 1 the time-out entry's text
    REQ_SET_AUTO_LOGON = 105,  // num 0
    REQ_DELETE_ACCOUNT = 106,  // text 0 account
    REQ_ACCOUNT_PASSWORD = 107,  // text 0 account
    REQ_STOP_DHCP = 108,
};

enum TrayPicture : int32_t { TRAY_SHOW = 1, TRAY_ONLINE = 2 };

// Slots of the settings dialog's boxes in REQ_SAVE_SETTINGS (and, one further
// on, in MSG_SETTINGS_SAVED, whose num 6 is the stored time-out).
enum OptionSlot {
    OPT_OPEN_URL = 0,
    OPT_USE_OWN_DHCP = 1,
    OPT_TIMEOUT_RECONNECT = 2,
    OPT_AUTO_START = 3,
    OPT_PRIVATE_AUTH = 4,
};
constexpr int OPT_COUNT = 5;
constexpr int SAVED_TIMEOUT = 6;

// SAVE_WRITE_FAILED: the file could not be written and stays as it was;
// SAVE_AUTOSTART_FAILED: the options were stored (and are reported as for
// SAVE_DONE), but the start at desktop login could not be changed.
enum SaveVerdict : int32_t {
    SAVE_DONE = 0,
    SAVE_FILE_UNREADABLE = 1,
    SAVE_PROGRAM_REFUSED = 2,
    SAVE_WRITE_FAILED = 3,
    SAVE_AUTOSTART_FAILED = 4,
};

constexpr uint32_t IPC_MAGIC = 0x43565831;  // "CVX1": both halves come from one executable
constexpr size_t IPC_NUMS = 8;
constexpr size_t IPC_TEXTS = 4;
constexpr size_t IPC_TEXT_SIZE = 128;  // bytes including the terminating NUL

struct IpcRecord {
    uint32_t magic;
    uint16_t kind;
    uint16_t reserved;  // zero
    int32_t num[IPC_NUMS];
    char text[IPC_TEXTS][IPC_TEXT_SIZE];  // each NUL-terminated, zero after the NUL
};
static_assert(sizeof(IpcRecord) == 4 + 2 + 2 + 4 * IPC_NUMS + IPC_TEXTS * IPC_TEXT_SIZE,
              "the record has no padding: every byte on the wire is defined");

// Where a message's texts go: num 3 the title's id, 4 the text's id, 5 and 6
// its arguments (the attempt number; the failure code's four bytes).
constexpr size_t IPC_TITLE_ID = 3, IPC_TEXT_ID = 4, IPC_TEXT_NUMBER = 5, IPC_TEXT_CODE = 6;

// A record of this kind with every other byte zero.
IpcRecord ipc_record(uint16_t kind);
// Stores value in text slot i; false (slot left empty) when it does not fit whole.
bool ipc_set_text(IpcRecord &r, size_t i, const char *value);

// Stores a title and a text (with its arguments) in r.
void ipc_set_user_text(IpcRecord &r, TextId title, const UserText &text);
// The title and text a message carries; false when an id names no text.
bool ipc_user_text(const IpcRecord &r, TextId &title, UserText &text);

// Whether a kind belongs to the engine's messages or to the window's requests.
bool is_message_kind(uint16_t kind);
bool is_request_kind(uint16_t kind);

// The datagram's bytes as a record, when it is one in canonical form: exactly
// the record's size, the magic, a known kind, zero reserved bytes, every text
// terminated within its slot and zero-filled after its end. False otherwise.
bool ipc_decode(const uint8_t *data, size_t len, IpcRecord &out);

// A SOCK_SEQPACKET pair, close-on-exec on both ends; false on failure.
bool ipc_socketpair(int fds[2]);
// Sends one record whole (waits while the peer's queue is full); false when
// the peer is gone or the send failed. Never raises SIGPIPE.
bool ipc_send(int fd, const IpcRecord &r);

enum class RecvResult { Record, Invalid, Closed };
// Receives one datagram. Invalid: it was not a record (too long, too short,
// not canonical) and has been consumed; Closed: the peer has gone.
RecvResult ipc_recv(int fd, IpcRecord &out);
