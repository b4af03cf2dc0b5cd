// What the worker does with received frames: pure decisions over the
// captured bytes (each length checked before the byte is read), and the two
// waits of an attempt cycle that read frames and carry the decisions out.
#pragma once

#include <cstdint>
#include <pcap/pcap.h>

#include "app/records.h"

// Captured lengths the worker needs before it reads a field.
constexpr int EAP_CODE_MIN_LEN = 19;          // EAP code at byte 18
constexpr int IDENTITY_REQUEST_MIN_LEN = 23;  // EAP type at byte 22
constexpr int MD5_REQUEST_MIN_LEN = 40;       // challenge at bytes 24..39
constexpr int FAILURE_CODE_MIN_LEN = 34;      // failure code at bytes 30..33

// The wait for the first request after EAPOL-Start.
enum class StartWaitAction { Request, Failure, NoAnswer };

// The exchange wait: what one received frame asks for.
enum class ExchangeAction { Ignore, AnswerKey, AnswerIdentity, AnswerMd5, Failure, Success };

// Decision for the frame read by the start wait; a null frame means none arrived.
StartWaitAction dispatch_start_wait(const uint8_t *frame, int caplen);
// True when the request that ended the start wait is an Identity request we can answer.
bool is_identity_request(const uint8_t *frame, int caplen);
// Decision for one frame of the exchange wait while the run state is run_status.
ExchangeAction dispatch_exchange(const uint8_t *frame, int caplen, int run_status);
// Copies bytes 30..33 of an EAP-Failure into out; zeros (the default message) when shorter.
void read_failure_code(const uint8_t *frame, int caplen, uint8_t out[4]);
// The message for a failure code (bytes 30..33 of an EAP-Failure).
const char *failure_message(const uint8_t failure_code[4]);

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
    void (*after_key_answer)();  // the lower-case process check; tests may replace it
};

// The password MD5 answers use: password, followed by the private suffix when private_auth is set.
void build_answer_password(char out[30], const char *password, int private_auth);

// How an exchange wait ended.
enum class WaitEnd { Silence, Failure, Success };

// Ends the calling thread when a newer worker (or an exit) has taken over.
void checkpoint(const AuthSession &s);
// Sets eth_header to the group address, local_mac and the EAPOL EtherType; clears identity_extra.
void reset_headers(AuthSession &s);
// Shows a progress text, but only while the run state is STATUS_AUTHENTICATING.
void show_progress(const char *text);
// Reads one frame after EAPOL-Start; answers an Identity request, keeps a Failure frame.
StartWaitAction start_wait(AuthSession &s);
// Reads and answers frames until a read brings none, or a Failure or Success is kept.
WaitEnd exchange_wait(AuthSession &s);
