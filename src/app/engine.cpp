// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/engine.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <syslog.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/engine_request.h"
#include "app/install.h"
#include "app/ipc.h"
#include "app/logging.h"
#include "auth/auth.h"
#include "auth/worker_link.h"
#include "config/config_save.h"
#include "config/settings.h"
#include "dhcp/request_ip.h"

namespace {

// How long an exit (or the window's end) waits for the Logoff worker to end
// the process before the engine ends it itself: an interface that has gone
// meanwhile must not keep a root process alive.
constexpr int LOGOFF_GRACE_MS = 5000;

// The worker a request asked for, started once the one before it has ended.
enum class Pending { None, Logon, Logoff };

struct Engine {
    int fd = -1;
    uid_t real_uid = 0;
    ClientSettings *settings = nullptr;
    AppContext ctx{nullptr, nullptr};
    GMutex lock;        // guards input against the workers' reads
    WorkerInput input;  // the last accepted log-on; log-offs use it too
    bool have_input = false;
    bool ending = false;
    // The window asks to stop the DHCP clients after its disconnect; at any
    // other time the request would stop other interfaces' clients for nothing.
    bool disconnect_pending = false;
    // An address came since the last disconnect: a DHCP client may still
    // hold it, and the port is open until a Logoff closes it.
    std::atomic<bool> address_obtained{false};  // set by the worker
    std::atomic<void (*)()> stop_clients{stop_dhcp_clients};  // run by workers too
    // One worker at a time: a request while one runs retires it and waits
    // here, the last request deciding; its end, told on worker_ended, starts it.
    int worker_ended = -1;
    bool worker_running = false;
    Pending pending = Pending::None;
    gint64 end_deadline = 0;  // monotonic microseconds: when ending, the process' limit
};

Engine engine;

void send_record(const IpcRecord &r)
{
    // A window that has gone is noticed by the request loop; a worker's
    // report to it is simply lost.
    (void)ipc_send(engine.fd, r);
}

void send_dialog(TextId title, const UserText &text, int kind, int buttons, bool hide_main)
{
    IpcRecord r = ipc_record(MSG_SHOW_DIALOG);
    ipc_set_user_text(r, title, text);
    r.num[0] = kind;
    r.num[1] = buttons;
    r.num[2] = hide_main ? 1 : 0;
    send_record(r);
}

// The worker's link: every report becomes a message to the window.
WorkerInput link_input(void *)
{
    g_mutex_lock(&engine.lock);
    WorkerInput in = engine.input;
    g_mutex_unlock(&engine.lock);
    in.timeout = engine.settings->timeout;
    in.private_auth = engine.settings->private_auth;
    return in;
}

AddressSettings link_address_settings(void *)
{
    const ClientSettings *cs = engine.settings;
    return AddressSettings{cs->use_own_dhcp, cs->open_url, cs->url, cs->login_name};
}

void link_message(void *, TextId title, const UserText &text, int kind, int buttons)
{
    send_dialog(title, text, kind, buttons, false);
}

void link_progress_fields(void *, TextId title, TextId text)
{
    IpcRecord r = ipc_record(MSG_DIALOG_FIELDS);
    ipc_set_user_text(r, title, user_text(text));
    send_record(r);
}

void link_progress(void *, const UserText &text)
{
    IpcRecord r = ipc_record(MSG_UPDATE_INFO);
    ipc_set_user_text(r, T_NONE, text);
    send_record(r);
}

void link_tray_state(void *, TrayState state)
{
    IpcRecord r = ipc_record(MSG_TRAY);
    r.num[0] = state == TrayState::Online ? TRAY_ONLINE : TRAY_SHOW;
    if (state == TrayState::Online)
        engine.address_obtained = true;
    send_record(r);
}

void link_status(void *, int new_status)
{
    IpcRecord r = ipc_record(MSG_STATUS);
    r.num[0] = new_status;
    send_record(r);
}

void link_page(void *, const std::string &url)
{
    IpcRecord r = ipc_record(MSG_OPEN_PAGE);
    copy_field(r.text[0], url.c_str());
    send_record(r);
}

void stop_clients_now()
{
    engine.stop_clients.load()();
}

// The status the worker starts in decides whether it logs on or off; an
// older worker may have changed it since the request.
void start_pending()
{
    Pending kind = engine.pending;
    engine.pending = Pending::None;
    if (kind == Pending::None)
        return;
    status = kind == Pending::Logoff ? STATUS_LOGOFF : STATUS_IDLE;
    bool started = start_auth_worker(&engine.ctx, engine.worker_ended);
    // Without the eventfd no end could be told: workers then overlap, each
    // retiring the one before it by the generation alone.
    engine.worker_running = started && engine.worker_ended >= 0;
}

void request_worker(Pending kind)
{
    engine.pending = kind;
    if (engine.worker_running)
        (void)next_generation();  // retires the running worker; its end starts this one
    else
        start_pending();
}

// Takes the running worker's end off worker_ended; true when there was one.
bool take_worker_end()
{
    uint64_t count = 0;
    if (read(engine.worker_ended, &count, sizeof count) != sizeof count)
        return false;
    engine.worker_running = false;
    return true;
}

// The password a request asks the engine to use: the one the requesting user
// stored for the account. False when there is none of theirs.
bool stored_password_of(const std::string &account, std::string &password)
{
    char clear[21] = "";
    bool found = stored_password(account.c_str(), engine.real_uid, clear) == 1 && clear[0];
    password = found ? clear : "";
    explicit_bzero(clear, sizeof clear);
    return found &&
           logon_input_refusal(account, password) == LogonRefusal::None;
}

void start_logon(const LogonRequest &req)
{
    std::string password = req.password;
    if (req.use_stored && !stored_password_of(req.account, password)) {
        log_line(LOG_INFO, "log-on refused: no stored password of this user for the account");
        report_logon_refusal(LogonRefusal::Password);
        return;
    }
    g_mutex_lock(&engine.lock);
    engine.input.account = req.account;
    engine.input.password = password;
    engine.input.device = req.device;
    engine.have_input = true;
    engine.disconnect_pending = false;
    g_mutex_unlock(&engine.lock);
    ClientSettings *cs = engine.settings;
    cs->remember_password = req.remember_password;
    cs->auto_logon = req.auto_logon;
    // The window has already reset its state for the new attempt.
    status = STATUS_IDLE;
    log_line(LOG_INFO, "log-on asked for on %s", req.device.c_str());
    request_worker(Pending::Logon);
}

// A log-on the worker would refuse at its start is refused here with the same words.
void refuse_logon(Verdict v)
{
    if (v == Verdict::AccountBad)
        report_logon_refusal(LogonRefusal::Account);
    else if (v == Verdict::PasswordBad)
        report_logon_refusal(LogonRefusal::Password);
    else if (v == Verdict::DeviceBad)
        report_logon_refusal(LogonRefusal::Device);
}

// Sends the Logoff through a worker that then ends the process, as the
// tray's exit does; without a log-on to end, the process ends at once.
void log_off_and_end()
{
    engine.ending = true;
    engine.end_deadline = g_get_monotonic_time() + gint64(LOGOFF_GRACE_MS) * 1000;
    if (!engine.have_input) {
        stop_clients_now();
        std::exit(0);
    }
    status = STATUS_LOGOFF;
    log_line(LOG_INFO, "exit asked for: logging off");
    set_generation(-100);
    request_worker(Pending::Logoff);
    // While the Logoff worker runs (or the one before it retires), as the tray's exit does.
    stop_clients_now();
}

// Milliseconds left until the end's deadline.
int ms_to_end_deadline()
{
    gint64 left = engine.end_deadline - g_get_monotonic_time();
    return left <= 0 ? 0 : static_cast<int>((left + 999) / 1000);
}

// A worker has ended: the pending one starts. While ending, a Logoff worker
// ends the process itself; when none is left to, the process ends here.
void worker_ended()
{
    if (!take_worker_end())
        return;
    start_pending();
    if (engine.ending && !engine.worker_running)
        std::exit(0);
}

bool log_on_running()
{
    int s = status.load();
    return s == STATUS_ONLINE || s == STATUS_AUTHENTICATING || s == STATUS_GETTING_IP;
}

SaveVerdict verdict_of(ConfigSave result)
{
    switch (result) {
    case ConfigSave::Saved:
        return SAVE_DONE;
    case ConfigSave::ProgramRefused:
        return SAVE_PROGRAM_REFUSED;
    case ConfigSave::WriteFailed:
        return SAVE_WRITE_FAILED;
    case ConfigSave::AutostartFailed:
        return SAVE_AUTOSTART_FAILED;
    case ConfigSave::FileUnreadable:
        break;
    }
    return SAVE_FILE_UNREADABLE;
}

// The settings dialog's save, done where the file is: the same rules as in
// one process, with the user who started the client deciding whose options
// change. The autostart entry follows before the answer, so the verdict
// says whether it did.
void save_settings(const SaveRequest &req)
{
    ConfigChoice c;
    c.open_url = req.open_url != 0;
    c.url = req.url;
    c.use_own_dhcp = req.use_own_dhcp != 0;
    c.timeout_reconnect = req.timeout_reconnect != 0;
    c.timeout = req.timeout_text;
    c.auto_start = req.auto_start != 0;
    c.private_auth = req.private_auth != 0;
    ClientSettings *cs = engine.settings;
    ConfigSave result = save_config(c, cs, engine.real_uid);
    if (result == ConfigSave::Saved && !set_autostart_for(engine.real_uid, cs->auto_start != 0)) {
        log_line(LOG_WARNING, "the start at desktop login could not be changed");
        result = ConfigSave::AutostartFailed;
    }
    if (result == ConfigSave::WriteFailed)
        log_line(LOG_WARNING, "the settings file could not be written: the settings were not saved");
    IpcRecord done = ipc_record(MSG_SETTINGS_SAVED);
    done.num[0] = verdict_of(result);
    if (result == ConfigSave::Saved || result == ConfigSave::AutostartFailed) {
        done.num[1 + OPT_OPEN_URL] = cs->open_url;
        done.num[1 + OPT_USE_OWN_DHCP] = cs->use_own_dhcp;
        done.num[1 + OPT_TIMEOUT_RECONNECT] = cs->timeout_reconnect;
        done.num[1 + OPT_AUTO_START] = cs->auto_start;
        done.num[1 + OPT_PRIVATE_AUTH] = cs->private_auth;
        done.num[SAVED_TIMEOUT] = cs->timeout;
        (void)ipc_set_text(done, 0, cs->url);
    }
    send_record(done);
}

// Whether the requesting user has the account stored, and with a password:
// the password itself never leaves this process.
void answer_password(const std::string &account)
{
    char clear[21] = "";
    IpcRecord r = ipc_record(MSG_ACCOUNT_PASSWORD);
    r.num[0] = stored_password(account.c_str(), engine.real_uid, clear);
    r.num[1] = r.num[0] == 1 && clear[0] ? 1 : 0;
    explicit_bzero(clear, sizeof clear);
    (void)ipc_set_text(r, 0, account.c_str());
    send_record(r);
}

void delete_account(const std::string &account)
{
    std::vector<std::string> names;
    int deleted = delete_stored_account(account, engine.real_uid, names);
    if (deleted == -2) {
        send_dialog(T_TITLE_ERROR, user_text(T_SETTINGS_WRITE_FAILED), 1, 1, true);
        return;
    }
    if (deleted < 0) {
        send_dialog(T_TITLE_ERROR, user_text(T_SETTINGS_UNREADABLE), 1, 1, true);
        return;
    }
    if (deleted == 0)
        return;
    send_record(ipc_record(MSG_ACCOUNTS_RESET));
    for (const std::string &name : names) {
        IpcRecord r = ipc_record(MSG_ACCOUNT_NAME);
        // A name too long for the record was never stored by a log-on.
        if (ipc_set_text(r, 0, name.c_str()))
            send_record(r);
    }
    send_record(ipc_record(MSG_ACCOUNTS_DONE));
}

void act(const EngineRequest &req)
{
    switch (req.kind) {
    case REQ_LOGON:
        start_logon(req.logon);
        break;
    case REQ_DISCONNECT:
        status = STATUS_LOGOFF;
        log_line(LOG_INFO, "disconnect asked for: logging off");
        engine.disconnect_pending = true;
        engine.address_obtained = false;
        request_worker(Pending::Logoff);
        break;
    case REQ_EXIT:
        log_off_and_end();
        break;
    case REQ_STOP_DHCP:
        // The exit stops them itself; a log-on's attempt start does too.
        if (engine.disconnect_pending)
            stop_clients_now();
        engine.disconnect_pending = false;
        break;
    case REQ_SAVE_SETTINGS:
        save_settings(req.save);
        break;
    case REQ_SET_AUTO_LOGON: {
        engine.settings->auto_logon = req.flag;
        int stored = store_auto_logon(req.flag, engine.real_uid);
        if (stored == 0)
            send_dialog(T_TITLE_ERROR, user_text(T_SETTING_NOT_SAVED), 1, 1, true);
        else if (stored < 0)
            send_dialog(T_TITLE_ERROR, user_text(T_SETTINGS_WRITE_FAILED), 1, 1, true);
        break;
    }
    case REQ_DELETE_ACCOUNT:
        delete_account(req.account);
        break;
    case REQ_ACCOUNT_PASSWORD:
        answer_password(req.account);
        break;
    }
}

void refuse(const EngineRequest &req, Verdict v)
{
    if (req.kind == REQ_LOGON) {
        refuse_logon(v);
    } else if (v == Verdict::ProgramLineRefused) {
        IpcRecord done = ipc_record(MSG_SETTINGS_SAVED);
        done.num[0] = SAVE_PROGRAM_REFUSED;
        send_record(done);
    }
    // Anything else is no request the window makes: dropped without an answer.
}

// The window's end, whatever ended it: the Logoff when a log-on runs or an
// address was obtained, the DHCP clients stopped in every case (as the exit
// does), then the process' end.
[[noreturn]] void window_gone()
{
    if (!engine.ending && (log_on_running() || engine.address_obtained))
        log_off_and_end();
    if (!engine.ending) {
        log_line(LOG_INFO, "window gone: stopping the DHCP clients");
        stop_clients_now();
        std::exit(0);
    }
    // The Logoff worker ends the process, once the worker before it has
    // retired; the deadline set at the end's start is only the limit.
    for (int ms; (ms = ms_to_end_deadline()) > 0;) {
        struct pollfd p{engine.worker_ended, POLLIN, 0};
        if (poll(&p, 1, ms) > 0)
            worker_ended();
    }
    std::exit(0);
}

}  // namespace

void engine_set_stop_clients(void (*stop)())
{
    engine.stop_clients = stop;
}

EngineTurn engine_turn(int timeout_ms)
{
    struct pollfd p[2] = {{engine.fd, POLLIN, 0}, {engine.worker_ended, POLLIN, 0}};
    int n = poll(p, 2, timeout_ms);
    if (n == 0)
        return EngineTurn::TimedOut;
    if (n < 0)
        return errno == EINTR ? EngineTurn::Handled : EngineTurn::WindowGone;
    // Requests first: a burst of them ends in one pending worker, started
    // only once the window has nothing more waiting.
    if (p[0].revents == 0) {
        worker_ended();
        return EngineTurn::Handled;
    }
    uint8_t buf[sizeof(IpcRecord) + 1];
    ssize_t got = recv(engine.fd, buf, sizeof buf, MSG_TRUNC | MSG_DONTWAIT);
    if (got < 0 && (errno == EINTR || errno == EAGAIN))
        return EngineTurn::Handled;
    if (got <= 0)
        return EngineTurn::WindowGone;
    // An oversized datagram keeps its true length, so the check refuses it.
    size_t len = static_cast<size_t>(got) > sizeof buf ? sizeof buf : static_cast<size_t>(got);
    (void)engine_handle(engine.fd, buf, len);
    return EngineTurn::Handled;
}

void engine_setup(int fd, ClientSettings *settings, uid_t real_uid)
{
    engine.fd = fd;
    engine.real_uid = real_uid;
    engine.settings = settings;
    // What the worker's store after a log-on files the account under.
    settings->real_uid = real_uid;
    engine.ctx = AppContext{nullptr, settings};
    engine.disconnect_pending = false;
    engine.address_obtained = false;
    engine.stop_clients = stop_dhcp_clients;
    engine.pending = Pending::None;
    engine.worker_running = false;
    if (engine.worker_ended < 0)
        engine.worker_ended = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    g_mutex_init(&engine.lock);
    // Through the engine, so that every run of the killall lines is one of its own.
    set_address_step(AddressStep{stop_clients_now, request_ip});
    set_worker_link(WorkerLink{&engine, link_input, link_address_settings, link_message,
                               link_progress_fields, link_progress, link_tray_state, link_status,
                               link_page});
}

bool engine_handle(int, const uint8_t *data, size_t len)
{
    EngineRequest req;
    IpcRecord r;
    if (!ipc_decode(data, len, r) || !is_request_kind(r.kind))
        return !engine.ending;
    Verdict v = check_request(r, engine.real_uid, engine.ending, req);
    // The program line the file already holds came from root and may stay.
    if (v == Verdict::ProgramLineRefused && req.kind == REQ_SAVE_SETTINGS &&
        req.save.url == engine.settings->url)
        v = Verdict::Accepted;
    if (v == Verdict::Accepted)
        act(req);
    else
        refuse(req, v);
    return !engine.ending;
}

void engine_main(int fd, ClientSettings *settings, uid_t real_uid)
{
    // Out of the terminal's process group: a Ctrl-C there ends the window,
    // whose end this process then sees and answers with the Logoff.
    (void)setsid();
    (void)signal(SIGPIPE, SIG_IGN);
    // Nothing the user chose as working folder is looked up by the commands run here.
    if (chdir("/") != 0)
        std::exit(1);
    engine_setup(fd, settings, real_uid);
    for (;;) {
        EngineTurn turn = engine_turn(engine.ending ? ms_to_end_deadline() : -1);
        if (turn == EngineTurn::WindowGone)
            window_gone();
        if (turn == EngineTurn::TimedOut && engine.ending)
            std::exit(0);  // the Logoff worker did not end the process in time
    }
}
