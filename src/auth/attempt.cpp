#include "auth/attempt.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "auth/auth.h"
#include "auth/capture.h"
#include "auth/filters.h"
#include "auth/key.h"
#include "auth/packets.h"
#include "config/settings.h"

namespace {

constexpr uint8_t EAPOL_ETHERTYPE[2] = {0x88, 0x8e};

// Seconds from the settings file to a read time-out that can't overflow.
int timeout_ms_from(int seconds)
{
    if (seconds <= 0)
        return 0;
    return seconds > INT_MAX / 1000 ? INT_MAX / 1000 * 1000 : seconds * 1000;
}

void keep_frame(AuthSession &s, const uint8_t *frame, int caplen)
{
    s.kept_len = std::min(caplen, KEPT_FRAME_SIZE);
    std::memcpy(s.kept_frame, frame, static_cast<size_t>(s.kept_len));
}

void answer_key(AuthSession &s, const uint8_t *frame)
{
    checkpoint(s);
    send_packet_key1(s.handle, frame, s.local_mac);
    send_packet_key2(s.handle, frame, s.local_mac);
    if (s.after_key_answer)
        s.after_key_answer();
}

void report_failure_frame(AuthSession &s)
{
    checkpoint(s);
    uint8_t failure_code[4];
    read_failure_code(s.kept_frame, s.kept_len, failure_code);
    auth_error_handle(s.ctx, failure_code);
}

void report_link_failure(TextId title, TextId text)
{
    link_set_status(STATUS_FAILED);
    link_show_message(title, user_text(text), 1, 0);
}

// Sends Logoff; the worker of an exit request then ends the whole process.
void log_off(AuthSession &s)
{
    SendLogoffPkt(s.handle, s.local_mac);
    link_set_status(STATUS_IDLE);
    checkpoint(s);
    if (thread_auth_num.load() < 0)
        std::exit(0);
}

// false when the attempt has ended with a reported failure.
bool pass_start_wait(AuthSession &s)
{
    switch (start_wait(s)) {
    case StartWaitAction::Request:
        return true;
    case StartWaitAction::Failure:
        report_failure_frame(s);
        return false;
    case StartWaitAction::NoAnswer:
        break;
    }
    checkpoint(s);
    SendStartPkt(s.handle, s.local_mac);
    report_link_failure(T_TITLE_AUTH_FAILED, T_NO_ANSWER);
    return false;
}

// EAP-Success while authenticating: save the account, get the address, narrow the filter.
void handle_success(AuthSession &s)
{
    // What is stored is what the user typed, never the private suffix.
    set_msg(s.account, s.password, s.device, s.ctx);
    checkpoint(s);
    link_set_status(STATUS_GETTING_IP);
    link_progress_text(user_text(T_PASSED_GETTING_IP));
    if (s.acquire_address)
        (void)s.acquire_address(s.ctx, s.device, &s.generation);
    checkpoint(s);
    send_packet_key(s.handle, s.kept_frame, s.local_mac);
    char filter[FILTER_TEXT_SIZE];
    format_filter_after(filter, sizeof filter, s.kept_frame + 6, s.local_mac);
    (void)capture_set_filter(s.handle, filter);
}

// false when the attempt has ended with a reported failure.
bool exchange_until_silence(AuthSession &s)
{
    for (;;) {
        switch (exchange_wait(s)) {
        case WaitEnd::Silence:
            return true;
        case WaitEnd::Failure:
            report_failure_frame(s);
            return false;
        case WaitEnd::Success:
            handle_success(s);
            break;
        }
    }
}

bool reconnect_wanted(const AuthSession &s)
{
    // Read afresh each time: the settings dialog may change it meanwhile.
    return __atomic_load_n(&s.ctx->settings->timeout_reconnect, __ATOMIC_RELAXED) != 0;
}

void announce_reconnect(AuthSession &s)
{
    link_progress_text(reconnect_text(s.attempt_number));
}

}  // namespace

void fill_session(AuthSession &s, AppContext *ctx, const WorkerInput &in)
{
    s.ctx = ctx;
    copy_field(s.account, in.account.c_str());
    copy_field(s.password, in.password.c_str());
    // A name too long for the field can't match any interface, so keep it empty.
    copy_field(s.device, in.device.size() < sizeof s.device ? in.device.c_str() : "");
    build_answer_password(s.answer_password, s.password, in.private_auth);
    s.timeout_ms = timeout_ms_from(in.timeout);
}

void checkpoint(const AuthSession &s)
{
    retire_if_superseded(s.generation);
}

void reset_headers(AuthSession &s)
{
    std::memset(s.identity_extra, 0, sizeof s.identity_extra);
    std::memcpy(s.eth_header, MultcastAddr, 6);
    std::memcpy(s.eth_header + 6, s.local_mac, 6);
    std::memcpy(s.eth_header + 12, EAPOL_ETHERTYPE, 2);
}

void show_progress(TextId text)
{
    if (status.load() == STATUS_AUTHENTICATING)
        link_progress_text(user_text(text));
}

StartWaitAction start_wait(AuthSession &s)
{
    const uint8_t *frame = nullptr;
    int caplen = 0;
    if (!capture_read(s.handle, s.timeout_ms, &frame, &caplen)) {
        frame = nullptr;
        caplen = 0;
    }
    checkpoint(s);
    StartWaitAction action = dispatch_start_wait(frame, caplen);
    if (action == StartWaitAction::Failure)
        keep_frame(s, frame, caplen);
    // A first request of another type gets no answer; the exchange wait handles the next.
    if (action == StartWaitAction::Request && is_identity_request(frame, caplen)) {
        SendResponseIdentity(s.handle, frame, s.eth_header, s.identity_extra, s.account);
        show_progress(T_PROGRESS_IDENTITY);
    }
    return action;
}

WaitEnd exchange_wait(AuthSession &s)
{
    const uint8_t *frame = nullptr;
    int caplen = 0;
    while (capture_read(s.handle, s.timeout_ms, &frame, &caplen)) {
        // A worker retired while it waited answers nothing: after a log-off the
        // authenticator asks again at once, and an answer would reopen the port.
        checkpoint(s);
        switch (dispatch_exchange(frame, caplen, status.load())) {
        case ExchangeAction::AnswerKey:
            answer_key(s, frame);
            break;
        case ExchangeAction::AnswerIdentity:
            SendResponseIdentity(s.handle, frame, s.eth_header, s.identity_extra, s.account);
            show_progress(T_PROGRESS_IDENTITY2);
            break;
        case ExchangeAction::AnswerMd5:
            SendResponseMD5(s.handle, frame, s.eth_header, s.account, s.answer_password);
            show_progress(T_PROGRESS_MD5);
            break;
        case ExchangeAction::Failure:
            keep_frame(s, frame, caplen);
            return WaitEnd::Failure;
        case ExchangeAction::Success:
            keep_frame(s, frame, caplen);
            return WaitEnd::Success;
        case ExchangeAction::Ignore:
            break;
        }
    }
    return WaitEnd::Silence;
}

void run_on_capture(AuthSession &s, pcap_t *handle)
{
    s.handle = handle;
    char filter[FILTER_TEXT_SIZE];
    format_filter_before(filter, sizeof filter, s.local_mac);
    (void)capture_set_filter(handle, filter);
    reset_headers(s);
    checkpoint(s);
    s.attempt_number = 2;
    run_attempt_cycles(s);
}

void run_attempt_cycles(AuthSession &s)
{
    for (;;) {
        if (status.load() == STATUS_LOGOFF) {
            log_off(s);
            return;
        }
        checkpoint(s);
        SendStartPkt(s.handle, s.local_mac);
        show_progress(T_PROGRESS_START);
        if (!pass_start_wait(s) || !exchange_until_silence(s))
            return;
        checkpoint(s);
        if (!reconnect_wanted(s)) {
            report_link_failure(T_TITLE_DROPPED, T_LINK_TIMEOUT);
            return;
        }
        announce_reconnect(s);
        reset_headers(s);
        s.attempt_number++;
        checkpoint(s);
    }
}
