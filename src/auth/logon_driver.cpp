// SPDX-License-Identifier: GPL-2.0-or-later
#include "auth/logon_driver.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <glib.h>
#include <poll.h>
#include <syslog.h>
#include <unistd.h>

#include <atomic>

#include "app/logging.h"
#include "auth/auth.h"
#include "auth/capture.h"
#include "auth/dispatch.h"
#include "auth/wire.h"
#include "config/settings.h"

namespace {

// Seconds from the settings file to a read time-out that can't overflow.
int timeout_ms_from(int seconds)
{
    if (seconds <= 0)
        return 0;
    return seconds > INT_MAX / 1000 ? INT_MAX / 1000 * 1000 : seconds * 1000;
}

int64_t monotonic_ms()
{
    return g_get_monotonic_time() / 1000;
}

// Milliseconds a wait may last before deadline; -1 without one. Rounded up,
// so the wait never ends before the deadline has come.
int wait_ms(int64_t deadline)
{
    if (deadline == LOGON_NEVER)
        return -1;
    int64_t left = deadline - monotonic_ms();
    if (left <= 0)
        return 0;
    return left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

bool reconnect_wanted(const AuthSession &s)
{
    // Read afresh each time: the settings dialog may change it meanwhile.
    return __atomic_load_n(&s.ctx->settings->timeout_reconnect, __ATOMIC_RELAXED) != 0;
}

void install_filter(AuthSession &s, const char *text)
{
    if (s.install_filter)
        (void)s.install_filter(s.handle, text);
    else
        (void)capture_set_filter(s.handle, text);
}

// After Logoff the worker of an exit ends the whole process.
void end_after(int logged_off)
{
    if (logged_off && thread_auth_num.load() < 0)
        std::exit(0);
}

std::atomic<int> start_period_override{0};

enum class Outcome { GoOn, Ended, AddressObtained };

Outcome carry_out_step(AuthSession &s, const LogonStep &step)
{
    switch (step.kind) {
    case StepKind::Checkpoint:
        retire_if_superseded(s.generation);
        break;
    case StepKind::Send:
        log_frame(true, step.frame, step.len, status.load() == STATUS_ONLINE);
        (void)wire_send(s.handle, step.frame, step.len);
        break;
    case StepKind::SetFilter:
        install_filter(s, step.filter);
        break;
    case StepKind::SetStatus:
        link_set_status(step.value);
        break;
    case StepKind::Progress:
        link_progress_text(step.text);
        break;
    case StepKind::Message:
        link_show_message(step.title, step.text, step.msg_kind, step.buttons);
        break;
    case StepKind::ServerFailure:
        log_server_failure(step.failure_code);
        auth_error_handle(s.ctx, step.failure_code);
        break;
    case StepKind::KeyCheck:
        if (s.after_key_answer)
            s.after_key_answer();
        break;
    case StepKind::SaveAccount:
        // What is stored is what the user typed, never the private suffix.
        // A file that can't be written must not stop a log-on the server took.
        if (!set_msg(s.account, s.password, s.device, s.ctx))
            log_line(LOG_WARNING, "%s: the account could not be stored in the settings file",
                     s.device);
        break;
    case StepKind::ObtainAddress:
        // The client of the log-on before: it would renew on the old port's
        // behalf; the new one asks for the address the interface holds first.
        if (step.value && s.stop_clients)
            s.stop_clients();
        if (s.acquire_address)
            (void)s.acquire_address(s.ctx, s.device, &s.generation);
        return Outcome::AddressObtained;
    case StepKind::Tray:
        link_tray(static_cast<TrayState>(step.value));
        break;
    case StepKind::Ignored: {
        const uint8_t *mac = step.frame;
        log_line(LOG_NOTICE, "%s: EAP-Success from %02x:%02x:%02x:%02x:%02x:%02x ignored: %s",
                 s.device, mac[0], mac[1], mac[2], mac[3], mac[4], mac[5],
                 step.value == SUCCESS_BEFORE_OUR_ANSWER
                     ? "no answer of ours to its MD5 challenge came before it"
                     : "not from the authenticator of this exchange");
        break;
    }
    case StepKind::End:
        log_line(LOG_INFO, "%s: the attempt ended%s", s.device, step.value ? " with a Logoff" : "");
        end_after(step.value);
        return Outcome::Ended;
    }
    return Outcome::GoOn;
}

Outcome carry_out(AuthSession &s, const LogonActions &a)
{
    for (int i = 0; i < a.count; ++i) {
        Outcome outcome = carry_out_step(s, a.steps[i]);
        if (outcome != Outcome::GoOn)
            return outcome;  // End and ObtainAddress are a list's last step
    }
    return Outcome::GoOn;
}

LogonEvent event_for(LinkState state)
{
    switch (state) {
    case LinkState::Running: return LogonEvent::LinkUp;
    case LinkState::NoCarrier: return LogonEvent::LinkDown;
    case LinkState::Disabled: return LogonEvent::LinkDisabled;
    case LinkState::Gone: break;
    }
    return LogonEvent::LinkGone;
}

bool take_link(AuthSession &s)
{
    if (s.link.fd < 0 || !link_watch_take(&s.link))
        return true;
    log_line(LOG_NOTICE, "%s: link %s", s.device,
              s.link.state == LinkState::Running     ? "up"
              : s.link.state == LinkState::NoCarrier ? "without carrier"
              : s.link.state == LinkState::Disabled  ? "set down"
                                                     : "removed");
    return logon_feed(s, event_for(s.link.state));
}

// A sleep is noticed on the first wake-up after it: the resume fires the
// timer, and every other wake-up looks at the clocks as well.
bool take_clock(AuthSession &s)
{
    if (s.clock_fd < 0)
        return true;
    clock_wake_rearm(s.clock_fd);
    if (!clock_slept(&s.sleep_offset_ms, clock_sleep_offset_ms()))
        return true;
    log_line(LOG_NOTICE, "%s: the machine slept", s.device);
    // Without a carrier the link's own return starts the log-on.
    if (s.link.state != LinkState::Running)
        return true;
    return logon_feed(s, LogonEvent::Slept);
}

// The capture's frames, as long as it holds any; a read error or the end of
// a recording is a read that brought none.
bool take_frames(AuthSession &s)
{
    for (;;) {
        const uint8_t *frame = nullptr;
        int caplen = 0;
        int got = capture_next(s.handle, &frame, &caplen);
        if (got == 0)
            return true;
        if (got < 0 && s.link.fd >= 0) {
            // A capture on a card set down reports an error: the link says what happened.
            if (!take_link(s))
                return false;
            if (!logon_reading(s.machine) || s.link.state != LinkState::Running)
                return true;
        }
        bool going = got > 0 ? logon_feed(s, LogonEvent::Frame, frame, caplen)
                             : logon_feed(s, LogonEvent::ReadTimeout);
        if (!going)
            return false;
    }
}

// The generation moved on: a superseded worker ends here, at once.
bool take_wake(AuthSession &s)
{
    generation_wake_take();
    retire_if_superseded(s.generation);
    return true;
}

bool take_all(AuthSession &s)
{
    for (int i = 0; i < s.source_count; ++i) {
        if (!s.sources[i].take(s))
            return false;
    }
    return true;
}

// Waits until a source is readable or the machine's deadline has come, which
// it feeds as a read time-out; false when the worker has ended.
bool wait_once(AuthSession &s)
{
    int ms = wait_ms(s.machine.deadline);
    if (ms == 0)
        return logon_feed(s, LogonEvent::ReadTimeout);
    pollfd fds[MAX_WAIT_SOURCES];
    for (int i = 0; i < s.source_count; ++i)
        fds[i] = pollfd{s.sources[i].fd, POLLIN, 0};
    int n = poll(fds, static_cast<nfds_t>(s.source_count), ms);
    if (n < 0 && errno != EINTR)
        return logon_feed(s, LogonEvent::ReadTimeout);  // a wait that failed is a read error
    return true;
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

bool add_wait_source(AuthSession &s, const WaitSource &source)
{
    if (s.source_count >= MAX_WAIT_SOURCES)
        return false;
    s.sources[s.source_count++] = source;
    return true;
}

bool logon_begin(AuthSession &s)
{
    logon_init(&s.machine, s.account, s.answer_password, s.local_mac, s.timeout_ms);
    if (s.start_period_ms > 0)
        s.machine.start_period_ms = s.start_period_ms;
    LogonInput in{LogonEvent::Begin, monotonic_ms(), static_cast<int64_t>(std::time(nullptr)),
                  status.load(), reconnect_wanted(s)};
    in.no_carrier = s.no_carrier;
    return carry_out(s, logon_step(&s.machine, in)) == Outcome::GoOn && logon_active(s.machine);
}

void watch_link(AuthSession &s)
{
    s.clock_fd = -1;
    if (!link_watch_open(&s.link, s.device))
        s.link.state = link_query(s.device);
    s.no_carrier = s.link.state != LinkState::Running;
    s.clock_fd = clock_wake_fd();
    s.sleep_offset_ms = clock_sleep_offset_ms();
    if (s.link.fd >= 0)
        (void)add_wait_source(s, WaitSource{s.link.fd, take_link});
    if (s.clock_fd >= 0)
        (void)add_wait_source(s, WaitSource{s.clock_fd, take_clock});
}

void unwatch_link(AuthSession &s)
{
    link_watch_close(&s.link);
    if (s.clock_fd >= 0)
        (void)close(s.clock_fd);
    s.clock_fd = -1;
}

void set_logon_start_period(int ms)
{
    start_period_override.store(ms > 0 ? ms : 0);
}

int logon_start_period()
{
    return start_period_override.load();
}

bool logon_feed(AuthSession &s, LogonEvent event, const uint8_t *frame, int caplen)
{
    LogonInput in{event, 0, 0, 0, false, frame, caplen};
    if (event == LogonEvent::Frame)
        log_frame(false, frame, caplen, status.load() == STATUS_ONLINE);
    else if (event == LogonEvent::ReadTimeout && status.load() != STATUS_ONLINE)
        log_line(LOG_INFO, "%s: time-out waiting for the authenticator", s.device);
    for (;;) {
        in.now_ms = monotonic_ms();
        in.wall_s = static_cast<int64_t>(std::time(nullptr));
        in.run_status = status.load();
        in.reconnect = reconnect_wanted(s);
        switch (carry_out(s, logon_step(&s.machine, in))) {
        case Outcome::GoOn:
            return logon_active(s.machine);
        case Outcome::Ended:
            return false;
        case Outcome::AddressObtained:
            // The address step blocked the wait: what the link and the clock
            // did meanwhile comes first, and may have begun a new log-on.
            if (!take_link(s) || !take_clock(s))
                return false;
            if (s.machine.phase != LogonPhase::GettingAddress)
                return logon_active(s.machine);
            in = LogonInput{LogonEvent::AddressObtained, 0, 0, 0, false};
            break;
        }
    }
}

void run_on_capture(AuthSession &s, pcap_t *handle)
{
    s.handle = handle;
    // Before the capture: a worker that has been superseded answers nothing more.
    (void)add_wait_source(s, WaitSource{generation_wake_fd(), take_wake});
    (void)add_wait_source(s, WaitSource{pcap_get_selectable_fd(handle), take_frames});
    if (logon_begin(s))
        logon_drive(s);
}

void logon_drive(AuthSession &s)
{
    while (take_all(s) && wait_once(s)) {
    }
}
