// Received frames of any content and length through the worker's decisions
// and the answers they lead to, and whole exchanges through the worker's real
// attempt cycles.
//
// The input is read twice. First as one frame, in a heap block of exactly its
// length (any read past the captured bytes is caught), through the decisions
// and the answer builders. Then as an exchange: one byte of options
// (bit 0 reconnect, bit 1 private suffix, bit 2 start as a log-off worker),
// then records of a length byte and that many bytes, each the part after the
// Ethernet header of a frame from the authenticator to the client. The
// exchange becomes a recording that the attempt cycles read, as the replay
// tests do; its end is the silence of a read time-out.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <vector>

#include "app/records.h"
#include "auth/attempt.h"
#include "auth/dispatch.h"
#include "auth/key.h"
#include "auth/packets.h"
#include "auth/wire.h"
#include "auth/worker_link.h"
#include "config/settings.h"

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

// What the loop told the user.
int messages = 0;
bool message_was_last = false;
size_t frames_sent = 0;

void put_u32(std::vector<uint8_t> &out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// A little-endian pcap file of Ethernet frames sent by the authenticator to the client.
std::vector<uint8_t> recording_of(const uint8_t *data, size_t size, size_t *frame_count)
{
    std::vector<uint8_t> out;
    for (uint32_t v : {0xa1b2c3d4u, 0x00040002u, 0u, 0u, 65535u, 1u})
        put_u32(out, v);
    *frame_count = 0;
    size_t i = 0;
    while (i < size) {
        size_t len = std::min<size_t>(data[i], size - i - 1);
        ++i;
        put_u32(out, 0);
        put_u32(out, static_cast<uint32_t>(*frame_count));
        put_u32(out, static_cast<uint32_t>(14 + len));
        put_u32(out, static_cast<uint32_t>(14 + len));
        out.insert(out.end(), kMac, kMac + 6);
        out.insert(out.end(), kServer, kServer + 6);
        out.push_back(0x88);
        out.push_back(0x8e);
        out.insert(out.end(), data + i, data + i + len);
        i += len;
        ++*frame_count;
    }
    return out;
}

int address_step(AppContext *, const char *, int *)
{
    link_set_status(STATUS_ONLINE);
    return 0;
}

void whole_exchange(const uint8_t *data, size_t size)
{
    if (size == 0)
        return;
    static ClientSettings settings{};
    static AppContext ctx{nullptr, &settings};
    uint8_t options = data[0];
    settings.timeout_reconnect = options & 1;
    size_t frame_count = 0;
    std::vector<uint8_t> file = recording_of(data + 1, size - 1, &frame_count);
    FILE *stream = fmemopen(file.data(), file.size(), "rb");
    if (!stream)
        std::abort();
    char err[PCAP_ERRBUF_SIZE];
    pcap_t *handle = pcap_fopen_offline(stream, err);
    if (!handle)
        std::abort();  // we wrote it ourselves
    AuthSession s{};
    fill_session(s, &ctx, WorkerInput{"account", "password", "lab0", 1, (options >> 1) & 1});
    std::memcpy(s.local_mac, kMac, 6);
    s.generation = thread_auth_num;
    s.acquire_address = address_step;
    messages = 0;
    message_was_last = false;
    frames_sent = 0;
    status = options & 4 ? STATUS_LOGOFF : STATUS_AUTHENTICATING;
    run_on_capture(s, handle);
    pcap_close(handle);
    // Every end of an attempt is told once, as its last word; a log-off tells nothing.
    bool logged_off = options & 4;
    if (logged_off ? status != STATUS_IDLE || messages != 0
                   : status != STATUS_FAILED || messages != 1 || !message_was_last)
        std::abort();
    // At most: two Starts per cycle, an answer or two per frame, the post-success
    // frame. A recording's end is silence for good, so a reconnect ends the next cycle.
    size_t cycles = settings.timeout_reconnect ? 2 : 1;
    if (frames_sent > 2 * cycles + 2 * frame_count + 1)
        std::abort();
}

WorkerLink counting_link()
{
    WorkerLink link{};
    link.show_message = [](void *, TextId, const UserText &, int, int) {
        messages++;
        message_was_last = true;
    };
    link.progress_text = [](void *, const UserText &text) {
        if (render_text(text).size() >= sizeof(ClientSettings::msg_text))
            std::abort();  // every text fits the dialog's field
        message_was_last = false;
    };
    link.status_changed = [](void *, int) { message_was_last = false; };
    return link;
}

}  // namespace

// The fuzzer's wire: frames are counted, not sent.
int wire_send(pcap_t *, const unsigned char *, int len)
{
    if (len <= 0)
        std::abort();
    frames_sent++;
    return 1;
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // The account is saved after each Success: into a scratch file, never the installed one.
    static char path[] = "/tmp/corvix-fuzz-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0)
        std::abort();
    close(fd);
    settings_path = path;
    std::atexit([] { (void)unlink(path); });
    set_worker_link(counting_link());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 2048)
        return 0;
    one_frame(data, size);
    whole_exchange(data, size);
    return 0;
}
