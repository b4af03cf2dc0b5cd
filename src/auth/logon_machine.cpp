// SPDX-License-Identifier: GPL-2.0-or-later
#include "auth/logon_machine.h"

#include <cstring>
#include <glib.h>

#include "app/check.h"
#include "app/records.h"
#include "auth/dispatch.h"
#include "auth/key.h"
#include "auth/worker_link.h"

namespace {

static_assert(LOGON_FRAME_BUFSIZE >= KEY_FRAME_BUFSIZE, "a step holds every frame the worker sends");

constexpr uint8_t EAPOL_ETHERTYPE[2] = {0x88, 0x8e};
constexpr int FIRST_ATTEMPT_NUMBER = 2;  // the first reconnect is the second attempt

LogonStep &add(LogonActions &a, StepKind kind)
{
    CHECK(a.count < LOGON_MAX_STEPS);
    LogonStep &step = a.steps[a.count++];
    step.kind = kind;
    return step;
}

// Two checkpoints in a row are one.
void checkpoint(LogonActions &a)
{
    if (a.count == 0 || a.steps[a.count - 1].kind != StepKind::Checkpoint)
        add(a, StepKind::Checkpoint);
}

LogonStep &send(LogonActions &a)
{
    return add(a, StepKind::Send);
}

void set_status(LogonActions &a, int value)
{
    add(a, StepKind::SetStatus).value = value;
}

void progress(LogonActions &a, const UserText &text)
{
    add(a, StepKind::Progress).text = text;
}

// Progress texts of the exchange are shown only while authenticating.
void progress_while_authenticating(LogonActions &a, const LogonInput &in, TextId text)
{
    if (in.run_status == STATUS_AUTHENTICATING)
        progress(a, user_text(text));
}

// Every message the machine asks for is an error (kind 1).
void message(LogonActions &a, TextId title, TextId text, int buttons)
{
    LogonStep &step = add(a, StepKind::Message);
    step.title = title;
    step.text = user_text(text);
    step.msg_kind = 1;
    step.buttons = buttons;
}

void end(LogonMachine *m, LogonActions &a, int logged_off)
{
    add(a, StepKind::End).value = logged_off;
    m->phase = LogonPhase::Ended;
    m->deadline = LOGON_NEVER;
}

// Each read waits at most the read time-out, counted from when it began.
void read_from(LogonMachine *m, const LogonInput &in, LogonPhase phase)
{
    m->phase = phase;
    m->deadline = m->timeout_ms > 0 ? in.now_ms + m->timeout_ms : LOGON_NEVER;
}

bool sent_by(const LogonInput &in, const uint8_t mac[6])
{
    return std::memcmp(in.frame + 6, mac, 6) == 0;
}

// The first request of a cycle names the authenticator the cycle talks to.
void note_request(LogonMachine *m, const LogonInput &in)
{
    if (m->have_peer)
        return;
    std::memcpy(m->peer_mac, in.frame + 6, 6);
    m->have_peer = true;
}

void reset_headers(LogonMachine *m)
{
    std::memset(m->identity_extra, 0, sizeof m->identity_extra);
    std::memcpy(m->eth_header, MultcastAddr, 6);
    std::memcpy(m->eth_header + 6, m->local_mac, 6);
    std::memcpy(m->eth_header + 12, EAPOL_ETHERTYPE, 2);
}

void send_identity(LogonMachine *m, LogonActions &a, const LogonInput &in)
{
    LogonStep &step = send(a);
    step.len = build_response_identity(step.frame, in.frame, m->eth_header, m->identity_extra,
                                       m->account);
}

void log_off(LogonMachine *m, LogonActions &a)
{
    LogonStep &step = send(a);
    step.len = build_logoff_pkt(step.frame, m->local_mac);
    set_status(a, STATUS_IDLE);
    checkpoint(a);
    end(m, a, 1);
}

int start_period(const LogonMachine *m)
{
    if (m->timeout_ms > 0 && m->timeout_ms < m->start_period_ms)
        return m->timeout_ms;
    return m->start_period_ms;
}

void send_start(LogonMachine *m, LogonActions &a, const LogonInput &in)
{
    LogonStep &step = send(a);
    step.len = build_start_pkt(step.frame, m->local_mac);
    m->starts_sent++;
    m->deadline = in.now_ms + start_period(m);
}

// A cycle sends Start and waits for the first request; a log-off worker logs off instead.
void begin_cycle(LogonMachine *m, LogonActions &a, const LogonInput &in)
{
    if (in.run_status == STATUS_LOGOFF) {
        log_off(m, a);
        return;
    }
    checkpoint(a);
    m->phase = LogonPhase::StartWait;
    m->starts_sent = 0;
    m->have_peer = false;
    m->md5_answered = false;
    send_start(m, a, in);
    progress_while_authenticating(a, in, T_PROGRESS_START);
}

// A worker that can't reach the port: a log-off needs no frame, a log-on fails at once.
void on_begin_without_carrier(LogonMachine *m, LogonActions &a, const LogonInput &in)
{
    if (in.run_status == STATUS_LOGOFF) {
        set_status(a, STATUS_IDLE);
        checkpoint(a);
        end(m, a, 1);
        return;
    }
    checkpoint(a);
    set_status(a, STATUS_FAILED);
    message(a, T_TITLE_AUTH_FAILED, T_NO_CARRIER, 0);
    end(m, a, 0);
}

void on_begin(LogonMachine *m, LogonActions &a, const LogonInput &in)
{
    if (in.no_carrier) {
        on_begin_without_carrier(m, a, in);
        return;
    }
    LogonStep &filter = add(a, StepKind::SetFilter);
    format_filter_before(filter.filter, sizeof filter.filter, m->local_mac);
    reset_headers(m);
    checkpoint(a);
    m->attempt_number = FIRST_ATTEMPT_NUMBER;
    begin_cycle(m, a, in);
}

void server_failure(LogonMachine *m, LogonActions &a, const LogonInput &in)
{
    checkpoint(a);
    read_failure_code(in.frame, in.caplen, add(a, StepKind::ServerFailure).failure_code);
    end(m, a, 0);
}

// No request came: Start once more, then the failure.
void no_answer(LogonMachine *m, LogonActions &a)
{
    checkpoint(a);
    LogonStep &step = send(a);
    step.len = build_start_pkt(step.frame, m->local_mac);
    set_status(a, STATUS_FAILED);
    message(a, T_TITLE_AUTH_FAILED, T_NO_ANSWER, 0);
    end(m, a, 0);
}

// Starts on a silent port until the last has had its period, then the failure.
void on_start_wait_silence(LogonMachine *m, LogonActions &a, const LogonInput &in)
{
    checkpoint(a);
    if (m->starts_sent < LOGON_MAX_STARTS) {
        send_start(m, a, in);
        return;
    }
    set_status(a, STATUS_FAILED);
    message(a, T_TITLE_AUTH_FAILED, T_NO_ANSWER, 0);
    end(m, a, 0);
}

void on_start_wait_frame(LogonMachine *m, LogonActions &a, const LogonInput &in)
{
    switch (dispatch_start_wait(in.frame, in.caplen)) {
    case StartWaitAction::Request:
        note_request(m, in);
        // A first request of another type gets no answer; the exchange handles the next.
        if (is_identity_request(in.frame, in.caplen)) {
            send_identity(m, a, in);
            progress_while_authenticating(a, in, T_PROGRESS_IDENTITY);
        }
        read_from(m, in, LogonPhase::Exchange);
        return;
    case StartWaitAction::Failure:
        server_failure(m, a, in);
        return;
    case StartWaitAction::NoAnswer:
        no_answer(m, a);
        return;
    }
}

// Only the authenticator the log-on succeeded with sends key frames worth an
// answer; the process check follows the answers, at most once a period.
void answer_key(LogonMachine *m, LogonActions &a, const LogonInput &in)
{
    checkpoint(a);
    if (!m->succeeded || !sent_by(in, m->server_mac))
        return;
    LogonStep &first = send(a);
    first.len = build_packet_key1(first.frame, in.frame, m->local_mac);
    LogonStep &second = send(a);
    second.len = build_packet_key2(second.frame, in.frame, m->local_mac);
    if (m->last_key_check_ms == LOGON_NEVER ||
        in.now_ms - m->last_key_check_ms >= LOGON_KEY_CHECK_PERIOD_MS) {
        m->last_key_check_ms = in.now_ms;
        add(a, StepKind::KeyCheck);
    }
}

// A Success counts from this cycle's authenticator once it has had our MD5 answer.
bool success_counts(const LogonMachine *m, const LogonInput &in)
{
    return m->have_peer && m->md5_answered && sent_by(in, m->peer_mac);
}

// Save the account, then the address; the exchange goes on once that has returned.
void success(LogonMachine *m, LogonActions &a, const LogonInput &in)
{
    std::memcpy(m->server_mac, in.frame + 6, 6);
    m->succeeded = true;
    add(a, StepKind::SaveAccount);
    checkpoint(a);
    set_status(a, STATUS_GETTING_IP);
    progress(a, user_text(T_PASSED_GETTING_IP));
    add(a, StepKind::ObtainAddress).value = m->addresses++ > 0 ? 1 : 0;
    m->phase = LogonPhase::GettingAddress;
    m->deadline = LOGON_NEVER;
}

void on_exchange_frame(LogonMachine *m, LogonActions &a, const LogonInput &in)
{
    read_from(m, in, LogonPhase::Exchange);
    switch (dispatch_exchange(in.frame, in.caplen, in.run_status)) {
    case ExchangeAction::AnswerKey:
        answer_key(m, a, in);
        return;
    case ExchangeAction::AnswerIdentity:
        note_request(m, in);
        send_identity(m, a, in);
        progress_while_authenticating(a, in, T_PROGRESS_IDENTITY2);
        return;
    case ExchangeAction::AnswerMd5: {
        note_request(m, in);
        if (sent_by(in, m->peer_mac))
            m->md5_answered = true;
        LogonStep &step = send(a);
        step.len = build_response_md5(step.frame, in.frame, m->eth_header, m->account,
                                      m->answer_password);
        progress_while_authenticating(a, in, T_PROGRESS_MD5);
        return;
    }
    case ExchangeAction::Failure:
        server_failure(m, a, in);
        return;
    case ExchangeAction::Success:
        // Anyone on the cable can send a Success; it means nothing from elsewhere.
        if (success_counts(m, in)) {
            success(m, a, in);
        } else {
            LogonStep &step = add(a, StepKind::Ignored);
            step.value = m->have_peer && sent_by(in, m->peer_mac) ? SUCCESS_BEFORE_OUR_ANSWER
                                                                   : SUCCESS_FROM_ELSEWHERE;
            std::memcpy(step.frame, in.frame + 6, 6);
        }
        return;
    case ExchangeAction::Ignore:
        return;
    }
}

void on_frame(LogonMachine *m, LogonActions &a, const LogonInput &in)
{
    // A worker retired while it waited answers nothing: after a log-off the
    // authenticator asks again at once, and an answer would reopen the port.
    checkpoint(a);
    if (m->phase == LogonPhase::StartWait)
        on_start_wait_frame(m, a, in);
    else
        on_exchange_frame(m, a, in);
}

// The link is silent: dropped, or a new cycle on the same capture and filter.
void on_exchange_silence(LogonMachine *m, LogonActions &a, const LogonInput &in)
{
    checkpoint(a);
    if (!in.reconnect) {
        set_status(a, STATUS_FAILED);
        message(a, T_TITLE_DROPPED, T_LINK_TIMEOUT, 0);
        end(m, a, 0);
        return;
    }
    // Shown in every state, and `status` stays as it is.
    progress(a, reconnect_text(m->attempt_number));
    reset_headers(m);
    m->attempt_number++;
    checkpoint(a);
    begin_cycle(m, a, in);
}

void on_address_obtained(LogonMachine *m, LogonActions &a, const LogonInput &in)
{
    checkpoint(a);
    LogonStep &key = send(a);
    key.len = build_packet_key(key.frame, m->local_mac, static_cast<time_t>(in.wall_s));
    LogonStep &filter = add(a, StepKind::SetFilter);
    format_filter_after(filter.filter, sizeof filter.filter, m->server_mac, m->local_mac);
    read_from(m, in, LogonPhase::Exchange);
}

// The user sees at once that the cable (or the card) went; nothing is read or
// sent until it is back, and then the log-on starts over as a new one.
void on_link_lost(LogonMachine *m, LogonActions &a, const LogonInput &in, TextId text)
{
    checkpoint(a);
    if (in.run_status == STATUS_ONLINE || in.run_status == STATUS_GETTING_IP)
        set_status(a, STATUS_AUTHENTICATING);  // and the next Success is taken again
    add(a, StepKind::Tray).value = static_cast<int>(TrayState::Authenticating);
    progress(a, user_text(text));
    m->phase = LogonPhase::WaitCarrier;
    m->deadline = in.now_ms + LOGON_CARRIER_CHECK_MS;
}

// A new log-on on the same capture: the first filter, fresh headers, a Start now.
void log_on_again(LogonMachine *m, LogonActions &a, const LogonInput &in)
{
    checkpoint(a);
    LogonInput now = in;
    if (in.run_status == STATUS_ONLINE || in.run_status == STATUS_GETTING_IP) {
        set_status(a, STATUS_AUTHENTICATING);
        add(a, StepKind::Tray).value = static_cast<int>(TrayState::Authenticating);
        now.run_status = STATUS_AUTHENTICATING;
    }
    LogonStep &filter = add(a, StepKind::SetFilter);
    format_filter_before(filter.filter, sizeof filter.filter, m->local_mac);
    reset_headers(m);
    m->succeeded = false;  // a new log-on: no key frame counts until its Success
    begin_cycle(m, a, now);
}

void on_link_gone(LogonMachine *m, LogonActions &a)
{
    checkpoint(a);
    set_status(a, STATUS_ERROR);
    message(a, T_TITLE_ERROR, T_NIC_REMOVED, 1);
    end(m, a, 0);
}

// A log-off while the link is down: there is nobody to tell.
void log_off_quietly(LogonMachine *m, LogonActions &a)
{
    set_status(a, STATUS_IDLE);
    checkpoint(a);
    end(m, a, 1);
}

void on_link_event(LogonMachine *m, LogonActions &a, const LogonInput &in)
{
    bool waiting = m->phase == LogonPhase::WaitCarrier;
    switch (in.event) {
    case LogonEvent::LinkDown:
        on_link_lost(m, a, in, T_CABLE_UNPLUGGED);
        return;
    case LogonEvent::LinkDisabled:
        on_link_lost(m, a, in, T_NIC_DISABLED_WAIT);
        return;
    case LogonEvent::LinkUp:
        if (waiting)
            log_on_again(m, a, in);
        return;
    case LogonEvent::Slept:
        if (!waiting)
            log_on_again(m, a, in);
        return;
    case LogonEvent::LinkGone:
        on_link_gone(m, a);
        return;
    default:
        return;
    }
}

}  // namespace

void logon_init(LogonMachine *m, const char *account, const char *answer_password,
                const uint8_t local_mac[6], int timeout_ms)
{
    *m = LogonMachine{};
    m->phase = LogonPhase::NotStarted;
    m->timeout_ms = timeout_ms > 0 ? timeout_ms : 0;
    m->deadline = LOGON_NEVER;
    m->start_period_ms = LOGON_START_PERIOD_MS;
    m->last_key_check_ms = LOGON_NEVER;
    g_strlcpy(m->account, account, sizeof m->account);
    g_strlcpy(m->answer_password, answer_password, sizeof m->answer_password);
    std::memcpy(m->local_mac, local_mac, 6);
}

LogonActions logon_step(LogonMachine *m, const LogonInput &in)
{
    LogonActions a{};
    switch (in.event) {
    case LogonEvent::Begin:
        if (m->phase == LogonPhase::NotStarted)
            on_begin(m, a, in);
        break;
    case LogonEvent::Frame:
        if (logon_reading(*m))
            on_frame(m, a, in);
        break;
    case LogonEvent::ReadTimeout:
        if (m->phase == LogonPhase::StartWait)
            on_start_wait_silence(m, a, in);
        else if (m->phase == LogonPhase::Exchange)
            on_exchange_silence(m, a, in);
        else if (m->phase == LogonPhase::WaitCarrier) {
            // A disconnect or exit meanwhile retires this worker without a frame.
            checkpoint(a);
            m->deadline = in.now_ms + LOGON_CARRIER_CHECK_MS;
        }
        break;
    case LogonEvent::Logoff:
        if (m->phase == LogonPhase::WaitCarrier)
            log_off_quietly(m, a);
        else if (m->phase != LogonPhase::Ended)
            log_off(m, a);
        break;
    case LogonEvent::AddressObtained:
        if (m->phase == LogonPhase::GettingAddress)
            on_address_obtained(m, a, in);
        break;
    case LogonEvent::LinkDown:
    case LogonEvent::LinkDisabled:
    case LogonEvent::LinkUp:
    case LogonEvent::LinkGone:
    case LogonEvent::Slept:
        if (logon_active(*m))
            on_link_event(m, a, in);
        break;
    }
    return a;
}

bool logon_reading(const LogonMachine &m)
{
    return m.phase == LogonPhase::StartWait || m.phase == LogonPhase::Exchange;
}

bool logon_active(const LogonMachine &m)
{
    return m.phase != LogonPhase::NotStarted && m.phase != LogonPhase::Ended;
}
