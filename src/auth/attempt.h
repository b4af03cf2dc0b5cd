// The attempt cycles of one worker on an open capture: EAPOL-Start, the Start
// wait, the exchange wait, success, failure, reconnect and log-off. Frames come
// from whatever handle the session holds (a live interface, or a recording),
// and everything the user sees goes through the worker link.
#pragma once

#include <cstdint>
#include <pcap/pcap.h>

#include "app/records.h"
#include "auth/dispatch.h"
#include "auth/worker_link.h"

constexpr int KEPT_FRAME_SIZE = 128;

// One worker's values, private to its thread.
struct AuthSession {
    AppContext *ctx;
    pcap_t *handle;
    int generation;
    int timeout_ms;  // 0: a read waits until a frame arrives
    int attempt_number;
    char account[51];
    char password[21];
    char answer_password[30];  // what MD5 answers use: password, or with the private suffix
    char device[64];
    uint8_t local_mac[6];
    uint8_t eth_header[14];
    uint8_t identity_extra[4];
    uint8_t kept_frame[KEPT_FRAME_SIZE];  // the Success or Failure frame that ended a wait
    int kept_len;
    // The lower-case process check and the address step (request_ip); tests may replace them.
    void (*after_key_answer)();
    int (*acquire_address)(AppContext *ctx, const char *device, int *generation);
};

// How an exchange wait ended.
enum class WaitEnd { Silence, Failure, Success };

// Account, passwords, interface and read time-out from what the user entered.
void fill_session(AuthSession &s, AppContext *ctx, const WorkerInput &in);
// Ends the calling thread when a newer worker (or an exit) has taken over.
void checkpoint(const AuthSession &s);
// Sets eth_header to the group address, local_mac and the EAPOL EtherType; clears identity_extra.
void reset_headers(AuthSession &s);
// Shows a progress text, but only while the run state is STATUS_AUTHENTICATING.
void show_progress(TextId text);
// Reads one frame after EAPOL-Start; answers an Identity request, keeps a Failure frame.
StartWaitAction start_wait(AuthSession &s);
// Reads and answers frames until a read brings none, or a Failure or Success is kept.
WaitEnd exchange_wait(AuthSession &s);
// On handle, whose local_mac is known: installs the filter of frames sent to
// us, then runs attempt cycles until the worker has logged off or an attempt
// has ended with a reported failure.
void run_on_capture(AuthSession &s, pcap_t *handle);
// The attempt cycles themselves, on the handle and filter in force.
void run_attempt_cycles(AuthSession &s);
