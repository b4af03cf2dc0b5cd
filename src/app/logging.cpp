// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/logging.h"

#include <syslog.h>

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <mutex>

#include <glib.h>

#include "app/records.h"

namespace {

constexpr uint8_t EAPOL_EAP = 0, EAPOL_START = 1, EAPOL_LOGOFF = 2, EAPOL_KEY = 3;
constexpr int64_t KEY_COUNT_PERIOD_US = 60 * G_USEC_PER_SEC;

std::once_flag opened;

// The key frames since the last count was logged.
std::mutex key_mutex;
int keys_sent = 0, keys_received = 0;
int64_t keys_since = 0;

const char *eap_code_name(uint8_t code)
{
    switch (code) {
    case 1: return "EAP-Request";
    case 2: return "EAP-Response";
    case 3: return "EAP-Success";
    case 4: return "EAP-Failure";
    }
    return "EAP-?";
}

const char *eap_type_name(uint8_t type)
{
    switch (type) {
    case 1: return "Identity";
    case 2: return "Notification";
    case 4: return "MD5-Challenge";
    }
    return nullptr;
}

void count_key(bool sent)
{
    std::lock_guard<std::mutex> lock(key_mutex);
    int64_t now = g_get_monotonic_time();
    if (keys_since == 0)
        keys_since = now;
    (sent ? keys_sent : keys_received)++;
    if (now - keys_since < KEY_COUNT_PERIOD_US)
        return;
    log_line(LOG_INFO, "online: %d key frames received and %d sent in %lld s", keys_received,
             keys_sent, static_cast<long long>((now - keys_since) / G_USEC_PER_SEC));
    keys_sent = keys_received = 0;
    keys_since = now;
}

}  // namespace

void log_line(int priority, const char *format, ...)
{
    std::call_once(opened, [] { openlog("Corvix", LOG_PID, LOG_DAEMON); });
    va_list args;
    va_start(args, format);
    vsyslog(priority, format, args);
    va_end(args);
}

const char *status_name(int run_state)
{
    switch (run_state) {
    case STATUS_FAILED: return "failed";
    case STATUS_ONLINE: return "online";
    case STATUS_IDLE: return "idle";
    case STATUS_AUTHENTICATING: return "authenticating";
    case STATUS_LOGOFF: return "logged off";
    case STATUS_ERROR: return "error";
    case STATUS_GETTING_IP: return "getting an address";
    case STATUS_NIC_LIST_FAILED: return "no card list";
    case STATUS_NO_NIC: return "no card";
    case STATUS_NOT_ROOT: return "not root";
    case STATUS_ALREADY_RUNNING: return "already running";
    }
    return "unknown";
}

void log_status(int run_state)
{
    log_line(LOG_INFO, "run state: %s", status_name(run_state));
}

std::string frame_kind(const uint8_t *frame, int len)
{
    if (!frame || len < 16)
        return "short frame";
    switch (frame[15]) {
    case EAPOL_START: return "EAPOL-Start";
    case EAPOL_LOGOFF: return "EAPOL-Logoff";
    case EAPOL_KEY: return "EAPOL-Key";
    case EAPOL_EAP: break;
    default: return "EAPOL type " + std::to_string(frame[15]);
    }
    if (len < 19)
        return "short EAP frame";
    std::string kind = eap_code_name(frame[18]);
    if ((frame[18] == 1 || frame[18] == 2) && len >= 23) {
        const char *type = eap_type_name(frame[22]);
        kind += type ? std::string("/") + type : "/type " + std::to_string(frame[22]);
    }
    return kind;
}

void log_frame(bool sent, const uint8_t *frame, int len, bool online)
{
    if (online && frame && len >= 16 && frame[15] == EAPOL_KEY) {
        count_key(sent);
        return;
    }
    log_line(LOG_INFO, "%s %s", sent ? "sent" : "received", frame_kind(frame, len).c_str());
}

void log_user_text(const char *what, const UserText &text)
{
    if (text.id == T_NONE)
        return;
    const char *source = text.id == T_RECONNECT        ? nullptr
                         : text.id == T_SERVER_FAILURE ? failure_source(text.code)
                                                       : source_text(text.id);
    if (source) {
        std::string line = source;
        for (char &ch : line)
            ch = ch == '\n' ? ' ' : ch;  // one event, one line
        log_line(LOG_NOTICE, "%s: %s", what, line.c_str());
    } else {
        log_line(LOG_NOTICE, "%s: reconnecting, attempt %d", what, static_cast<int>(text.number));
    }
}

void log_server_failure(const uint8_t code[4])
{
    char shown[16];
    if (std::isdigit(code[0]) && std::isdigit(code[1]) && std::isdigit(code[2]) && code[3] == ':')
        std::snprintf(shown, sizeof shown, "%c%c%c", code[0], code[1], code[2]);
    else
        std::snprintf(shown, sizeof shown, "%02x%02x%02x%02x", code[0], code[1], code[2], code[3]);
    log_line(LOG_WARNING, "server failure %s: %s", shown, failure_source(code));
}
