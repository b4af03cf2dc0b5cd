// SPDX-License-Identifier: GPL-2.0-or-later
// Arbitrary datagrams to the engine's request parser, as the window (whose
// user controls the display) could send them. Whatever is accepted must hold
// within the limits the engine relies on.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "app/engine_request.h"
#include "app/ipc.h"

namespace {

void require(bool ok)
{
    if (!ok)
        std::abort();
}

void check_accepted(const EngineRequest &req, uid_t uid)
{
    switch (req.kind) {
    case REQ_LOGON:
        require(req.logon.account.size() >= ACCOUNT_MIN_BYTES &&
                req.logon.account.size() <= ACCOUNT_MAX_BYTES);
        require(req.logon.password.size() >= PASSWORD_MIN_BYTES &&
                req.logon.password.size() <= PASSWORD_MAX_BYTES);
        require(kernel_interface_name(req.logon.device));
        require(req.logon.account.find('\n') == std::string::npos);
        break;
    case REQ_SAVE_SETTINGS:
        require(req.save.url.size() <= URL_MAX_BYTES);
        require(uid == 0 || !req.save.open_url || req.save.url.empty() ||
                url_is_web_page(req.save.url));
        require(req.save.url.find_first_of("\r\n") == std::string::npos);
        break;
    default:
        break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    for (uid_t uid : {static_cast<uid_t>(0), static_cast<uid_t>(1000)}) {
        EngineRequest req;
        if (parse_request(data, size, uid, false, req) == Verdict::Accepted)
            check_accepted(req, uid);
    }
    // Most random inputs fail the size check; also try the bytes laid over a
    // valid request record so the field checks themselves are reached.
    IpcRecord r = ipc_record(REQ_LOGON);
    size_t n = size < sizeof r - 4 ? size : sizeof r - 4;
    std::memcpy(reinterpret_cast<uint8_t *>(&r) + 4, data, n);
    EngineRequest req;
    if (check_request(r, 1000, false, req) == Verdict::Accepted)
        check_accepted(req, 1000);
    return 0;
}
