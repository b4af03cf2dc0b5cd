// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/engine_request.h"

#include <cstring>

#include "dhcp/request_ip.h"

namespace {

constexpr size_t IFNAME_MAX_BYTES = 15;  // IFNAMSIZ less the terminator

// Whether a text can stand as one value line of the settings file.
bool storable(const std::string &text)
{
    return text.find_first_of("\r\n") == std::string::npos;
}

bool flag_value(int32_t v)
{
    return v == 0 || v == 1;
}

Verdict check_logon(const IpcRecord &r, LogonRequest &out)
{
    out.account = r.text[0];
    out.password = r.text[1];
    out.device = r.text[2];
    if (!flag_value(r.num[0]) || !flag_value(r.num[1]) || !flag_value(r.num[2]))
        return Verdict::BadNumber;
    out.remember_password = r.num[0];
    out.auto_logon = r.num[1];
    out.use_stored = r.num[2];
    if (out.use_stored && !out.password.empty())
        return Verdict::BadNumber;
    // The worker's own limits first, so both refuse the same input alike; a
    // stored password is checked once the engine has looked it up.
    LogonRefusal limits = logon_input_refusal(out.account, out.password);
    if (limits == LogonRefusal::Account || !storable(out.account))
        return Verdict::AccountBad;
    if (!out.use_stored && (limits == LogonRefusal::Password || !storable(out.password)))
        return Verdict::PasswordBad;
    if (!kernel_interface_name(out.device))
        return Verdict::DeviceBad;
    return Verdict::Accepted;
}

Verdict check_save(const IpcRecord &r, uid_t real_uid, SaveRequest &out)
{
    for (int slot = 0; slot < OPT_COUNT; slot++) {
        if (!flag_value(r.num[slot]))
            return Verdict::BadNumber;
    }
    out.open_url = r.num[OPT_OPEN_URL];
    out.use_own_dhcp = r.num[OPT_USE_OWN_DHCP];
    out.timeout_reconnect = r.num[OPT_TIMEOUT_RECONNECT];
    out.auto_start = r.num[OPT_AUTO_START];
    out.private_auth = r.num[OPT_PRIVATE_AUTH];
    out.url = r.text[0];
    out.timeout_text = r.text[1];
    if (out.url.size() > URL_MAX_BYTES || !storable(out.url) || !storable(out.timeout_text))
        return Verdict::BadNumber;
    // Root runs a program line: only root may store a new one. The caller
    // knows the line the file holds already, which stays allowed.
    if (out.open_url && !out.url.empty() && !url_is_web_page(out.url) && real_uid != 0)
        return Verdict::ProgramLineRefused;
    return Verdict::Accepted;
}

Verdict check_account(const IpcRecord &r, std::string &out)
{
    out = r.text[0];
    if (out.size() > ACCOUNT_MAX_BYTES || !storable(out))
        return Verdict::AccountBad;
    return Verdict::Accepted;
}

Verdict check_fields(const IpcRecord &r, uid_t real_uid, EngineRequest &out)
{
    switch (out.kind) {
    case REQ_LOGON:
        return check_logon(r, out.logon);
    case REQ_DISCONNECT:
    case REQ_EXIT:
    case REQ_STOP_DHCP:
        return Verdict::Accepted;
    case REQ_SAVE_SETTINGS:
        return check_save(r, real_uid, out.save);
    case REQ_SET_AUTO_LOGON:
        if (!flag_value(r.num[0]))
            return Verdict::BadNumber;
        out.flag = r.num[0];
        return Verdict::Accepted;
    case REQ_DELETE_ACCOUNT:
    case REQ_ACCOUNT_PASSWORD:
        return check_account(r, out.account);
    }
    return Verdict::Malformed;
}

}  // namespace

bool kernel_interface_name(const std::string &name)
{
    if (name.empty() || name.size() > IFNAME_MAX_BYTES || name == "." || name == "..")
        return false;
    for (unsigned char c : name) {
        if (c <= 0x20 || c == 0x7f || c == '/' || c == ':')
            return false;
    }
    return true;
}

bool url_is_web_page(const std::string &url)
{
    return is_web_page(url);
}

Verdict check_request(const IpcRecord &r, uid_t real_uid, bool ending, EngineRequest &out)
{
    // The record may come from anywhere: decode its bytes again rather than
    // trust that its texts are terminated.
    IpcRecord checked;
    if (!ipc_decode(reinterpret_cast<const uint8_t *>(&r), sizeof r, checked) ||
        !is_request_kind(checked.kind))
        return Verdict::Malformed;
    if (ending)
        return Verdict::OutOfOrder;
    out = EngineRequest{};
    out.kind = static_cast<RequestKind>(checked.kind);
    return check_fields(checked, real_uid, out);
}

Verdict parse_request(const uint8_t *data, size_t len, uid_t real_uid, bool ending,
                      EngineRequest &out)
{
    IpcRecord r;
    if (!ipc_decode(data, len, r) || !is_request_kind(r.kind))
        return Verdict::Malformed;
    return check_request(r, real_uid, ending, out);
}
