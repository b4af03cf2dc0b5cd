// The authentication worker: one detached thread per attempt. It opens the
// chosen interface, runs the attempt cycles (Start, Start wait, exchange wait)
// and reports what happened through the worker link and `status`.
#include "auth/auth.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "app/shell.h"
#include "auth/capture.h"
#include "auth/dispatch.h"
#include "auth/filters.h"
#include "auth/ip.h"
#include "auth/key.h"
#include "auth/packets.h"
#include "config/settings.h"
#include "auth/worker_link.h"
#include "dhcp/request_ip.h"

namespace {

constexpr int ACCOUNT_MAX = 50;
constexpr int PASSWORD_MIN = 6;
constexpr int PASSWORD_MAX = 20;
constexpr size_t IFNAME_MAX = 15;  // the kernel's limit; longer names are pseudo-devices

struct PcapCloser {
    void operator()(pcap_t *handle) const { pcap_close(handle); }
};
struct DevListFreer {
    void operator()(pcap_if_t *list) const { pcap_freealldevs(list); }
};
using PcapHandle = std::unique_ptr<pcap_t, PcapCloser>;

bool input_valid(const WorkerInput &in)
{
    if (in.account.empty() || in.account.size() > ACCOUNT_MAX) {
        link_show_message("温馨提示", "帐号不能为空！", 1, 1);
        return false;
    }
    if (in.password.size() < PASSWORD_MIN || in.password.size() > PASSWORD_MAX) {
        link_show_message("温馨提示", "密码长度为6-20位！", 1, 1);
        return false;
    }
    return true;
}

// Seconds from the settings file to a read time-out that can't overflow.
int timeout_ms_from(int seconds)
{
    if (seconds <= 0)
        return 0;
    return seconds > INT_MAX / 1000 ? INT_MAX / 1000 * 1000 : seconds * 1000;
}

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

// A log-off worker neither changes the state nor stops DHCP clients nor shows the icon.
void begin_attempt()
{
    if (status.load() != STATUS_LOGOFF) {
        link_set_status(STATUS_AUTHENTICATING);
        stop_dhcp_clients();
        link_tray(TrayState::Authenticating);
    }
    link_prepare_progress("提示", "正在认证中……");
}

void report_error(int new_status, const char *text)
{
    link_set_status(new_status);
    link_show_message("错误", text, 1, 1);
}

bool device_listed(const pcap_if_t *list, const char *device)
{
    for (const pcap_if_t *d = list; d; d = d->next) {
        if (std::strcmp(d->name, device) == 0)
            return true;
    }
    return false;
}

// 1 when the chosen interface is listed; otherwise reports why and returns 0.
int check_device_listed(AuthSession &s)
{
    pcap_if_t *raw = nullptr;
    char errbuf[PCAP_ERRBUF_SIZE] = "";
    if (pcap_findalldevs(&raw, errbuf) == -1) {
        report_error(STATUS_ERROR, "列举网卡失败！");
        return 0;
    }
    std::unique_ptr<pcap_if_t, DevListFreer> list(raw);
    if (!list) {
        report_error(STATUS_NO_NIC, "没有找到可用网卡，请确保启用了网卡！");
        return 0;
    }
    if (!device_listed(list.get(), s.device)) {
        report_error(STATUS_ERROR, "没有找到该网卡，可能已经被停用！");
        return 0;
    }
    return 1;
}

// Opens the capture and reads local_mac. An interface gone before its address
// could be read is reported like one that can't be opened.
PcapHandle open_interface(AuthSession &s)
{
    if (!check_device_listed(s))
        return nullptr;
    char errbuf[PCAP_ERRBUF_SIZE] = "";
    PcapHandle handle(capture_open(s.device, errbuf));
    if (!handle || std::strlen(s.device) > IFNAME_MAX || !GetMacFromDevice(s.local_mac, s.device)) {
        report_error(STATUS_ERROR, "不能打开网卡，可能是网卡不支持LibPcap！");
        return nullptr;
    }
    char filter[FILTER_TEXT_SIZE];
    format_filter_before(filter, sizeof filter, s.local_mac);
    (void)capture_set_filter(handle.get(), filter);
    return handle;
}

void report_failure_frame(AuthSession &s)
{
    checkpoint(s);
    uint8_t failure_code[4];
    read_failure_code(s.kept_frame, s.kept_len, failure_code);
    auth_error_handle(s.ctx, failure_code);
}

void report_link_failure(const char *title, const char *text)
{
    link_set_status(STATUS_FAILED);
    link_show_message(title, text, 1, 0);
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
    report_link_failure("认证失败",
                        "等待服务器响应超时，可能是你没有插好网线\n\n或者选了无线网卡！");
    return false;
}

// EAP-Success while authenticating: save the account, get the address, narrow the filter.
void handle_success(AuthSession &s)
{
    set_msg(s.account, s.answer_password, s.device, s.ctx);
    checkpoint(s);
    link_set_status(STATUS_GETTING_IP);
    link_progress_text("认证通过！正在获取IP地址……");
    (void)request_ip(s.ctx, s.device, &s.generation);
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
    char notice[sizeof s.ctx->settings->msg_text];
    std::snprintf(notice, sizeof notice, "%s%s%d%s", "等待超时，", "自动进行第 ",
                  s.attempt_number, " 次认证！");
    link_progress_text(notice);
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
        show_progress("正在认证中……（start）");
        if (!pass_start_wait(s) || !exchange_until_silence(s))
            return;
        checkpoint(s);
        if (!reconnect_wanted(s)) {
            report_link_failure("掉线", "等待服务器响应超时（key）！");
            return;
        }
        announce_reconnect(s);
        reset_headers(s);
        s.attempt_number++;
        checkpoint(s);
    }
}

// Stops lower-case namesakes of the client after each answered key frame.
void lowercase_process_check()
{
    std::string count;
    if (!shell_output("ps -e|grep corvix|grep -c -v grep", count)) {
        std::puts("error popen");
        return;
    }
    if (count.empty() || count[0] != '0')
        (void)shell_run("killall corvix>/dev/null 2>/dev/null");
}

}  // namespace

gpointer authentication(gpointer data)
{
    auto *ctx = static_cast<AppContext *>(data);
    WorkerInput in = link_read_input();
    if (!input_valid(in))
        return nullptr;
    AuthSession s{};
    fill_session(s, ctx, in);
    s.after_key_answer = lowercase_process_check;
    s.generation = thread_auth_num.fetch_add(1) + 1;
    begin_attempt();
    // Closed however the thread ends: g_thread_exit unwinds this frame.
    PcapHandle handle = open_interface(s);
    if (!handle)
        return nullptr;
    s.handle = handle.get();
    reset_headers(s);
    checkpoint(s);
    s.attempt_number = 2;
    run_attempt_cycles(s);
    return nullptr;
}

void auth_error_handle(AppContext *, const uint8_t failure_code[4])
{
    link_set_status(STATUS_FAILED);
    link_show_message("认证失败", failure_message(failure_code), 1, 0);
}

void start_auth_worker(AppContext *ctx)
{
    // A thread that can't be created is not reported, as with every start of a worker.
    GThread *thread = g_thread_try_new("authentication", authentication, ctx, nullptr);
    if (thread)
        g_thread_unref(thread);
}
