// SPDX-License-Identifier: GPL-2.0-or-later
// What the worker does with received frames: pure decisions over the
// captured bytes, each length checked before the byte is read. The log-on
// machine (logon_machine.h) turns them into steps.
#pragma once

#include <cstdint>

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

// The password MD5 answers use: password, followed by the private suffix when private_auth is set.
void build_answer_password(char out[30], const char *password, int private_auth);
