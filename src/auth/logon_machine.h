// SPDX-License-Identifier: GPL-2.0-or-later
// The log-on of one worker as a pure state machine: it is handed each
// received frame, each read that brought none, a log-off request and the
// time, and answers with the steps to carry out, in order. It touches no
// capture, clock or shared value; the worker (logon_driver.h) does that for it
// and ends its thread at the checkpoints the steps name.
#pragma once

#include <cstdint>

#include "app/texts.h"
#include "auth/filters.h"
#include "auth/packets.h"

enum class LogonPhase {
    NotStarted,
    StartWait,       // after EAPOL-Start: one read for the first request
    Exchange,        // answering requests and key frames until a read brings none
    GettingAddress,  // after EAP-Success, until the address step has returned
    WaitCarrier,     // the cable or the card is down: nothing is read or sent until it is back
    Ended,
};

constexpr int64_t LOGON_NEVER = INT64_MAX;
// A silent port gets an EAPOL-Start this often, this many in all (IEEE 802.1X
// startPeriod and maxStart), before the attempt fails.
constexpr int LOGON_START_PERIOD_MS = 30000;
constexpr int LOGON_MAX_STARTS = 3;
// Without a carrier the worker still looks this often whether a newer one took over.
constexpr int LOGON_CARRIER_CHECK_MS = 1000;
// The process check after answered key frames runs at most this often: a
// flood of key frames must not become a flood of root shells.
constexpr int LOGON_KEY_CHECK_PERIOD_MS = 1000;

struct LogonMachine {
    LogonPhase phase;
    int timeout_ms;       // read time-out; 0 waits without limit
    int64_t deadline;     // ms: when the current read counts as silent; LOGON_NEVER without limit
    int attempt_number;   // shown in the reconnect notice; never reset
    int start_period_ms;  // between Starts on a silent port; the read time-out when shorter
    int starts_sent;      // in this cycle's Start wait
    int addresses;        // address steps begun
    char account[51];
    char answer_password[30];  // what MD5 answers use
    uint8_t local_mac[6];
    uint8_t eth_header[14];
    uint8_t identity_extra[4];
    uint8_t server_mac[6];     // the sender of the EAP-Success
    // This cycle's authenticator: the sender of its first request. Only its
    // Success counts, and only after its MD5 challenge was answered.
    uint8_t peer_mac[6];
    bool have_peer;
    bool md5_answered;
    bool succeeded;             // key frames are answered from server_mac only, and only then
    int64_t last_key_check_ms;  // LOGON_NEVER before the first
};

enum class LogonEvent {
    Begin,            // the capture is open and local_mac known
    Frame,            // a frame passed the filter
    ReadTimeout,      // a read brought no frame: time-out, read error or end of a recording
    Logoff,           // the user asks to log off
    AddressObtained,  // the address step has returned
    LinkDown,         // the interface lost its carrier
    LinkDisabled,     // the interface was set down
    LinkUp,           // the interface is up with a carrier again
    LinkGone,         // the interface was removed
    Slept,            // the machine slept: the switch has likely closed the port
};

// One input and the world as the worker saw it when it came.
struct LogonInput {
    LogonEvent event;
    int64_t now_ms;      // monotonic clock
    int64_t wall_s;      // wall clock in seconds: the post-success key frame draws from it
    int run_status;      // `status`
    bool reconnect;      // timeout_reconnect as it stands now
    const uint8_t *frame = nullptr;  // Frame: the captured bytes, valid during the call
    int caplen = 0;
    bool no_carrier = false;  // Begin: the interface has no carrier
};

enum class StepKind {
    Checkpoint,     // end the thread here when a newer worker has taken over
    Send,           // frame, len
    SetFilter,      // filter
    SetStatus,      // value
    Progress,       // text
    Message,        // title, text, msg_kind, buttons
    ServerFailure,  // failure_code: auth_error_handle
    KeyCheck,       // the process check after answered key frames, at most once a period
    SaveAccount,    // the account, password and interface go to the settings file
    ObtainAddress,  // the address step; feed AddressObtained when it returns. value 1:
                    // a later one, whose DHCP client from before is stopped first
    Tray,           // value: the tray picture (TrayState)
    End,            // the worker is done; value 1 after a log-off
    Ignored,        // a Success that does not count: value the IgnoredSuccess, frame[0..5] its sender
};

// Why a Success was not taken, for the log.
enum IgnoredSuccess { SUCCESS_FROM_ELSEWHERE = 1, SUCCESS_BEFORE_OUR_ANSWER = 2 };

constexpr int LOGON_FRAME_BUFSIZE = EAPOL_FRAME_BUFSIZE;

struct LogonStep {
    StepKind kind;
    int value;
    TextId title;
    UserText text;
    int msg_kind, buttons;
    uint8_t failure_code[4];
    uint8_t frame[LOGON_FRAME_BUFSIZE];
    int len;
    char filter[FILTER_TEXT_SIZE];
};

constexpr int LOGON_MAX_STEPS = 10;

struct LogonActions {
    int count;
    LogonStep steps[LOGON_MAX_STEPS];
};

// A machine for one worker that has not begun; answer_password is what MD5 answers use.
void logon_init(LogonMachine *m, const char *account, const char *answer_password,
                const uint8_t local_mac[6], int timeout_ms);
// Handles one input. Inputs a phase does not expect are ignored (no steps).
LogonActions logon_step(LogonMachine *m, const LogonInput &in);
// True while the machine waits for frames (Start wait or exchange).
bool logon_reading(const LogonMachine &m);
// True from Begin until the end.
bool logon_active(const LogonMachine &m);
