// SPDX-License-Identifier: GPL-2.0-or-later
// Received frames of any content and length through the worker's decisions
// and the answers they lead to, and whole exchanges through the log-on
// machine, without a capture.
//
// The input is read twice. First as one frame, in a heap block of exactly its
// length (any read past the captured bytes is caught), through the decisions
// and the answer builders. Then as an exchange: one byte of options (bit 0
// reconnect, bit 1 private suffix, bit 2 start as a log-off worker, bit 3 an
// empty record is a read time-out, bit 4 a log-off request after the last
// record), then records of a length byte and that many bytes, each the part
// after the Ethernet header of a frame from the authenticator to the client.
// The exchange's end is the silence of a read time-out; the steps the machine
// answers with are checked as the worker would carry them out.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/records.h"
#include "app/texts.h"
#include "auth/dispatch.h"
#include "auth/key.h"
#include "auth/logon_machine.h"
#include "auth/packets.h"

namespace {

const uint8_t kMac[6] = {0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
const uint8_t kServer[6] = {0x02, 0xa0, 0x00, 0x00, 0x00, 0x01};

void answer(ExchangeAction action, const uint8_t *frame, int len)
{
    uint8_t out[EAPOL_FRAME_BUFSIZE > KEY_FRAME_BUFSIZE ? EAPOL_FRAME_BUFSIZE : KEY_FRAME_BUFSIZE];
    uint8_t eth[14] = {};
    const uint8_t extra[4] = {};
    uint8_t code[4];
    switch (action) {
    case ExchangeAction::AnswerKey:
        build_packet_key1(out, frame, kMac);
        build_packet_key2(out, frame, kMac);
        break;
    case ExchangeAction::AnswerIdentity:
        build_response_identity(out, frame, eth, extra, "account");
        break;
    case ExchangeAction::AnswerMd5:
        build_response_md5(out, frame, eth, "account", "password");
        break;
    case ExchangeAction::Failure:
        read_failure_code(frame, len, code);
        break;
    default:
        break;
    }
}

void one_frame(const uint8_t *data, size_t size)
{
    std::vector<uint8_t> frame(data, data + size);
    const uint8_t *f = frame.empty() ? nullptr : frame.data();
    int len = static_cast<int>(size);
    if (dispatch_start_wait(f, len) == StartWaitAction::Request && is_identity_request(f, len)) {
        uint8_t out[EAPOL_FRAME_BUFSIZE];
        const uint8_t eth[14] = {}, extra[4] = {};
        build_response_identity(out, f, eth, extra, "account");
    }
    for (int run_status = STATUS_FAILED; run_status <= STATUS_ALREADY_RUNNING; run_status++)
        answer(dispatch_exchange(f, len, run_status), f, len);
}

// What the worker would do with the machine's steps, without doing it: the
// run state, the messages, the frames. The address step always works.
struct World {
    int status;
    int messages = 0;
    bool message_was_last = false;
    size_t frames_sent = 0;
    size_t timeouts = 0;     // read time-outs fed: each may begin a cycle
    size_t addresses = 0;
    bool getting_address = false;
    bool ended = false;
    bool logged_off = false;
};

void carry_out(World &w, const LogonActions &a)
{
    for (int i = 0; i < a.count; ++i) {
        const LogonStep &step = a.steps[i];
        bool last = i == a.count - 1;
        switch (step.kind) {
        case StepKind::Send:
            // Every frame is whole, fits its buffer and comes from us.
            if (step.len < 18 || step.len > LOGON_FRAME_BUFSIZE ||
                std::memcmp(step.frame + 6, kMac, 6) != 0)
                std::abort();
            w.frames_sent++;
            break;
        case StepKind::SetStatus:
            w.status = step.value;
            w.message_was_last = false;
            break;
        case StepKind::Progress:
            if (render_text(step.text).size() >= sizeof(ClientSettings::msg_text))
                std::abort();  // every text fits the dialog's field
            w.message_was_last = false;
            break;
        case StepKind::ServerFailure:
            w.status = STATUS_FAILED;  // what auth_error_handle does before its message
            [[fallthrough]];
        case StepKind::Message:
            w.messages++;
            w.message_was_last = true;
            break;
        case StepKind::ObtainAddress:
            if (!last)
                std::abort();
            w.getting_address = true;
            break;
        case StepKind::End:
            if (!last)
                std::abort();
            w.ended = true;
            w.logged_off = step.value != 0;
            break;
        default:
            break;
        }
    }
}

LogonInput input(const World &w, LogonEvent event, bool reconnect, int64_t now)
{
    return LogonInput{event, now, now / 1000, w.status, reconnect};
}

// Feeds one input; a finished address step goes first, as the worker runs it.
void feed(LogonMachine &m, World &w, LogonInput in)
{
    if (w.getting_address) {
        w.getting_address = false;
        w.status = STATUS_ONLINE;
        w.addresses++;
        carry_out(w, logon_step(&m, input(w, LogonEvent::AddressObtained, in.reconnect, in.now_ms)));
    }
    if (w.ended)
        return;
    in.run_status = w.status;
    w.timeouts += in.event == LogonEvent::ReadTimeout;
    carry_out(w, logon_step(&m, in));
}

void whole_exchange(const uint8_t *data, size_t size)
{
    if (size == 0)
        return;
    uint8_t options = data[0];
    bool reconnect = options & 1;
    bool empty_is_silence = options & 8;
    LogonMachine m;
    char answer_password[30];
    build_answer_password(answer_password, "password", (options >> 1) & 1);
    logon_init(&m, "account", answer_password, kMac, 1000);
    World w;
    w.status = options & 4 ? STATUS_LOGOFF : STATUS_AUTHENTICATING;
    int64_t now = 0;
    carry_out(w, logon_step(&m, input(w, LogonEvent::Begin, reconnect, now)));
    size_t frame_count = 0;
    for (size_t i = 1; i < size && !w.ended; ++frame_count) {
        size_t len = std::min<size_t>(data[i], size - i - 1);
        ++i;
        now += 10;
        if (len == 0 && empty_is_silence) {
            feed(m, w, input(w, LogonEvent::ReadTimeout, reconnect, now));
            continue;
        }
        // In a heap block of exactly its length: a read past it is caught.
        std::vector<uint8_t> frame(kMac, kMac + 6);
        frame.insert(frame.end(), kServer, kServer + 6);
        frame.push_back(0x88);
        frame.push_back(0x8e);
        frame.insert(frame.end(), data + i, data + i + len);
        i += len;
        LogonInput in = input(w, LogonEvent::Frame, reconnect, now);
        in.frame = frame.data();
        in.caplen = static_cast<int>(frame.size());
        feed(m, w, in);
    }
    if (options & 16)
        feed(m, w, input(w, LogonEvent::Logoff, reconnect, now));
    // The end of the exchange is silence for good: at most a cycle more, and
    // its unanswered Start.
    for (int rounds = 0; !w.ended; ++rounds) {
        if (rounds > 3)
            std::abort();
        feed(m, w, input(w, LogonEvent::ReadTimeout, reconnect, now + m.timeout_ms));
    }
    if (logon_reading(m) || logon_step(&m, input(w, LogonEvent::Begin, reconnect, now)).count != 0)
        std::abort();  // an ended machine takes nothing more
    // Every end of an attempt is told once, as its last word; a log-off tells nothing.
    if (w.logged_off ? w.status != STATUS_IDLE || w.messages != 0
                     : w.status != STATUS_FAILED || w.messages != 1 || !w.message_was_last)
        std::abort();
    // At most: LOGON_MAX_STARTS Starts per cycle, two answers per frame, the post-success
    // frame after each address step, a Logoff.
    if (w.frames_sent > LOGON_MAX_STARTS * (1 + w.timeouts) + 2 * frame_count + w.addresses + 1)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 2048)
        return 0;
    one_frame(data, size);
    whole_exchange(data, size);
    return 0;
}
