// SPDX-License-Identifier: GPL-2.0-or-later
// The authentication worker: one detached thread per attempt, one at a time
// (the engine waits for a worker's end before it starts the next). Its start
// checks the user's input; the thread opens the chosen interface and drives
// the log-on machine on it, and reports what happened through the worker
// link and `status`.
#include "auth/auth.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "app/shell.h"
#include "auth/capture.h"
#include "auth/ip.h"
#include "auth/link_watch.h"
#include "auth/logon_driver.h"
#include "auth/worker_link.h"

namespace {

constexpr int PROCESS_CHECK_NICE = 19;
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
    LogonRefusal refusal = logon_input_refusal(in.account, in.password);
    report_logon_refusal(refusal);
    return refusal == LogonRefusal::None;
}

AddressStep address_step{};

void stop_dhcp_clients_now()
{
    if (address_step.stop_clients)
        address_step.stop_clients();
}

gpointer stop_dhcp_clients_thread(gpointer)
{
    stop_dhcp_clients_now();
    return nullptr;
}

// Starts stopping the DHCP clients: the two "killall" shells run on a helper
// thread while the worker opens the interface, which waits for the kernel
// about as long (its receive ring). Null when the shells have already run.
GThread *begin_stopping_dhcp_clients()
{
    GThread *helper = g_thread_try_new("dhcp-stop", stop_dhcp_clients_thread, nullptr, nullptr);
    if (!helper)
        stop_dhcp_clients_now();
    return helper;
}

// What opening the interface ran into; null text when it worked.
struct OpenFailure {
    int status;
    TextId text;
};

void report_error(int new_status, TextId text)
{
    link_set_status(new_status);
    link_show_message(T_TITLE_ERROR, user_text(text), 1, 1);
}

bool device_listed(const pcap_if_t *list, const char *device)
{
    for (const pcap_if_t *d = list; d; d = d->next) {
        if (std::strcmp(d->name, device) == 0)
            return true;
    }
    return false;
}

// Null text when the chosen interface is listed, else why not.
OpenFailure check_device_listed(const AuthSession &s)
{
    pcap_if_t *raw = nullptr;
    char errbuf[PCAP_ERRBUF_SIZE] = "";
    if (pcap_findalldevs(&raw, errbuf) == -1)
        return {STATUS_ERROR, T_NIC_LIST_FAILED};
    std::unique_ptr<pcap_if_t, DevListFreer> list(raw);
    if (!list)
        return {STATUS_NO_NIC, T_NO_NIC};
    if (!device_listed(list.get(), s.device))
        return {STATUS_ERROR, T_NIC_MISSING};
    // A card set down is listed, but no capture opens on it. (A listed name
    // the kernel does not know is a capture pseudo-device: opening it decides.)
    if (link_query(s.device) == LinkState::Disabled)
        return {STATUS_ERROR, T_NIC_DOWN};
    return {0, T_NONE};
}

// Opens the capture and reads local_mac, reporting nothing yet. An interface
// gone before its address could be read is taken like one that can't be opened.
PcapHandle open_interface(AuthSession &s, OpenFailure &failure)
{
    failure = check_device_listed(s);
    if (failure.text != T_NONE)
        return nullptr;
    char errbuf[PCAP_ERRBUF_SIZE] = "";
    PcapHandle handle(capture_open(s.device, errbuf));
    if (!handle || std::strlen(s.device) > IFNAME_MAX || !GetMacFromDevice(s.local_mac, s.device)) {
        failure = {STATUS_ERROR, T_NIC_OPEN_FAILED};
        return nullptr;
    }
    return handle;
}

// Closes the link watch however the thread ends.
struct LinkWatchCloser {
    AuthSession &s;
    ~LinkWatchCloser() { unwatch_link(s); }
};

// A log-off on a card that is down or gone, or without a carrier: no frame
// can reach the port, so none is sent.
bool log_off_without_link(const AuthSession &s)
{
    if (link_query(s.device) == LinkState::Running)
        return false;
    link_set_status(STATUS_IDLE);
    retire_if_superseded(s.generation);
    if (thread_auth_num.load() < 0)
        std::exit(0);
    return true;
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

gpointer process_check_thread(gpointer)
{
    // Its shells inherit the lowest priority: the worker answers first.
    (void)setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), PROCESS_CHECK_NICE);
    lowercase_process_check();
    return nullptr;
}

// The check forks a pipeline; beside the worker it never holds up the answer
// to the next key frame.
void process_check_beside_worker()
{
    GThread *t = g_thread_try_new("process-check", process_check_thread, nullptr, nullptr);
    if (t)
        g_thread_unref(t);
    else
        lowercase_process_check();
}

// What the starting thread hands its worker: the input as it was then, and
// the generation it took for it.
struct WorkerStart {
    AppContext *ctx;
    WorkerInput in;
    int generation;
    bool logging_off;  // a log-off worker neither changes the state nor stops DHCP clients
    int ended_fd;
};

// Tells ended_fd that the worker has ended, however its thread ends: by
// returning, or by g_thread_exit, which unwinds the frame that holds this.
struct EndNotice {
    int fd;
    ~EndNotice()
    {
        uint64_t one = 1;
        if (fd >= 0)
            (void)!write(fd, &one, sizeof one);
    }
};

void run_worker(const WorkerStart &w)
{
    AuthSession s{};
    fill_session(s, w.ctx, w.in);
    s.after_key_answer = process_check_beside_worker;
    s.acquire_address = address_step.acquire;
    s.stop_clients = address_step.stop_clients;
    s.generation = w.generation;
    GThread *stopping = nullptr;
    if (!w.logging_off) {
        // Superseded before it began: the DHCP clients are the next worker's to stop.
        retire_if_superseded(s.generation);
        link_set_status(STATUS_AUTHENTICATING);
        stopping = begin_stopping_dhcp_clients();
    }
    if (w.logging_off && log_off_without_link(s))
        return;
    OpenFailure failure{};
    // Closed however the thread ends: g_thread_exit unwinds this frame.
    PcapHandle handle = open_interface(s, failure);
    if (stopping)
        (void)g_thread_join(stopping);
    if (!w.logging_off)
        link_tray(TrayState::Authenticating);
    link_prepare_progress(T_TITLE_NOTICE, T_AUTHENTICATING);
    if (!handle) {
        report_error(failure.status, failure.text);
        return;
    }
    s.start_period_ms = logon_start_period();
    LinkWatchCloser closer{s};
    watch_link(s);
    run_on_capture(s, handle.get());
}

}  // namespace

gpointer authentication(gpointer data)
{
    auto *raw = static_cast<WorkerStart *>(data);
    // Destroyed last: the record and every handle of the attempt are gone by then.
    EndNotice notice{raw->ended_fd};
    std::unique_ptr<WorkerStart> start(raw);
    run_worker(*start);
    return nullptr;
}

LogonRefusal logon_input_refusal(const std::string &account, const std::string &password)
{
    if (account.size() < ACCOUNT_MIN_BYTES || account.size() > ACCOUNT_MAX_BYTES)
        return LogonRefusal::Account;
    if (password.size() < PASSWORD_MIN_BYTES || password.size() > PASSWORD_MAX_BYTES)
        return LogonRefusal::Password;
    return LogonRefusal::None;
}

void report_logon_refusal(LogonRefusal refusal)
{
    switch (refusal) {
    case LogonRefusal::None:
        break;
    case LogonRefusal::Account:
        link_show_message(T_TITLE_REMINDER, user_text(T_ACCOUNT_EMPTY), 1, 1);
        break;
    case LogonRefusal::Password:
        link_show_message(T_TITLE_REMINDER, user_text(T_PASSWORD_LENGTH), 1, 1);
        break;
    case LogonRefusal::Device:
        report_error(STATUS_ERROR, T_NIC_MISSING);
        break;
    }
}

void set_address_step(const AddressStep &step)
{
    address_step = step;
}

void auth_error_handle(AppContext *, const uint8_t failure_code[4])
{
    link_set_status(STATUS_FAILED);
    link_show_message(T_TITLE_AUTH_FAILED, server_failure_text(failure_code), 1, 0);
}

bool start_auth_worker(AppContext *ctx, int ended_fd)
{
    // Read here, by the thread that was handed the request, not by the worker.
    WorkerInput in = link_read_input();
    if (!input_valid(in))
        return false;
    auto *start = new WorkerStart{ctx, in, 0, status.load() == STATUS_LOGOFF, ended_fd};
    // Taken before the thread exists: two starts in a row never share a generation.
    start->generation = next_generation();
    // A thread that can't be created is not reported, as with every start of a worker.
    GThread *thread = g_thread_try_new("authentication", authentication, start, nullptr);
    if (!thread) {
        delete start;
        return false;
    }
    g_thread_unref(thread);
    return true;
}
