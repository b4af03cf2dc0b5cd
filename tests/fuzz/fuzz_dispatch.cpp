// Received frames of any content and length through the worker's decisions
// and the answers they lead to. The frame sits in a heap block of exactly its
// length, so any read past the captured bytes is caught.
#include <cstdint>
#include <cstring>
#include <vector>

#include "app/records.h"
#include "auth/dispatch.h"
#include "auth/key.h"
#include "auth/packets.h"

namespace {

const uint8_t kMac[6] = {0x02, 0x00, 0x00, 0x00, 0x00, 0x01};

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 2048)
        return 0;
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
    return 0;
}
