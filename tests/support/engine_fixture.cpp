// SPDX-License-Identifier: GPL-2.0-or-later
#include "support/engine_fixture.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

#include "app/engine.h"
#include "app/shell.h"
#include "app/window_half.h"
#include "auth/logon_driver.h"
#include "config/settings.h"

namespace {

// What the waiting child is handed before it becomes the engine.
struct GoMessage {
    ClientSettings settings;
    char settings_path[4096];
    char netns_path[256];
    uid_t real_uid;
    int status;
    int start_period;  // a shortened Start period a test asked for, or 0
};

pid_t child = -1;
pid_t owner = -1;  // the test process
int go_fd = -1;  // the control socket to the waiting child
bool started = false;

// Never freed: the tap thread runs until the process has gone, past the
// destructors of statics.
struct Seen {
    std::mutex lock;
    std::vector<IpcRecord> requests, messages;
};
Seen &seen = *new Seen;
std::atomic<RecordObserver> observer{nullptr};

bool read_whole(int fd, void *buf, size_t len)
{
    auto *p = static_cast<uint8_t *>(buf);
    while (len) {
        ssize_t n = read(fd, p, len);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

[[noreturn]] void run_child(int engine_fd, int go_read)
{
    GoMessage go;
    if (!read_whole(go_read, &go, sizeof go))
        _exit(0);  // the test ended without starting the engine
    int ns = open(go.netns_path, O_RDONLY | O_CLOEXEC);
    if (ns < 0 || setns(ns, CLONE_NEWNET) != 0) {
        std::perror("engine: entering the network namespace");
        _exit(1);
    }
    close(ns);
    // The caller's thread may leave the namespace once this has been said.
    const char entered = 1;
    if (write(go_read, &entered, 1) != 1)
        _exit(0);
    close(go_read);
    static ClientSettings settings;
    settings = go.settings;
    // The window's lists and widgets mean nothing here.
    settings.devices = settings.users = nullptr;
    settings.msg_dialog = settings.msg_label = nullptr;
    settings.tray_icon = nullptr;
    static std::string path;
    path = go.settings_path;
    settings_path = path.c_str();
    status = go.status;
    set_logon_start_period(go.start_period);
    engine_main(engine_fd, &settings, go.real_uid);
}

void keep(std::vector<IpcRecord> &into, const uint8_t *data, size_t len)
{
    IpcRecord r;
    if (!ipc_decode(data, len, r))
        return;
    if (RecordObserver fn = observer.load())
        fn(r, &into == &seen.requests);
    std::lock_guard<std::mutex> guard(seen.lock);
    into.push_back(r);
}

// Passes datagrams both ways until one side has gone, then closes the other.
void tap(int window_side, int engine_side)
{
    uint8_t buf[sizeof(IpcRecord) + 64];
    for (;;) {
        struct pollfd p[2] = {{window_side, POLLIN, 0}, {engine_side, POLLIN, 0}};
        if (poll(p, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        bool gone = false;
        for (int i = 0; i < 2 && !gone; i++) {
            if (!(p[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            int from = i == 0 ? window_side : engine_side;
            int to = i == 0 ? engine_side : window_side;
            ssize_t n = recv(from, buf, sizeof buf, MSG_DONTWAIT);
            if (n < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            if (n <= 0) {
                gone = true;
                break;
            }
            // Passed on first: a record seen here is already in the peer's queue.
            if (send(to, buf, static_cast<size_t>(n), MSG_NOSIGNAL) != n)
                gone = true;
            keep(i == 0 ? seen.requests : seen.messages, buf, static_cast<size_t>(n));
        }
        if (gone)
            break;
    }
    close(window_side);
    close(engine_side);
}

uid_t uid_of_login(const char *login_name)
{
    UserIds ids;
    return login_name[0] && user_ids(login_name, &ids) ? ids.uid : 0;
}

}  // namespace

void engine_fork()
{
    if (child > 0)
        return;
    int window_pair[2], engine_pair[2], go_pipe[2];
    if (!ipc_socketpair(window_pair) || !ipc_socketpair(engine_pair) ||
        socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, go_pipe) != 0) {
        std::perror("engine fixture");
        std::abort();
    }
    std::fflush(stdout);
    std::fflush(stderr);
    owner = getpid();
    pid_t pid = fork();
    if (pid < 0) {
        std::perror("engine fixture: fork");
        std::abort();
    }
    if (pid == 0) {
        close(window_pair[0]);
        close(window_pair[1]);
        close(engine_pair[0]);
        close(go_pipe[1]);
        run_child(engine_pair[1], go_pipe[0]);
    }
    child = pid;
    close(engine_pair[1]);
    close(go_pipe[0]);
    go_fd = go_pipe[1];
    std::thread(tap, window_pair[1], engine_pair[0]).detach();
    window_attach(window_pair[0]);
}

void set_record_observer(RecordObserver fn)
{
    observer = fn;
}

void engine_go(const ClientSettings &settings)
{
    if (started || go_fd < 0)
        return;
    static GoMessage go;  // large: off the stack
    std::memset(&go, 0, sizeof go);
    go.settings = settings;
    g_strlcpy(go.settings_path, settings_path, sizeof go.settings_path);
    std::snprintf(go.netns_path, sizeof go.netns_path, "/proc/%d/task/%d/ns/net",
                  static_cast<int>(getpid()), static_cast<int>(gettid()));
    go.real_uid = uid_of_login(settings.login_name);
    go.status = status.load();
    go.start_period = logon_start_period();
    const auto *p = reinterpret_cast<const uint8_t *>(&go);
    size_t left = sizeof go;
    while (left) {
        ssize_t n = write(go_fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        p += n;
        left -= static_cast<size_t>(n);
    }
    struct pollfd p_ack{go_fd, POLLIN, 0};
    char entered = 0;
    if (poll(&p_ack, 1, 10000) != 1 || read(go_fd, &entered, 1) != 1)
        std::fprintf(stderr, "engine fixture: the engine did not start\n");
    close(go_fd);
    go_fd = -1;
    started = true;
}

pid_t engine_pid()
{
    return child;
}

bool in_engine_process()
{
    return owner > 0 && getpid() != owner;
}

std::vector<IpcRecord> requests_seen()
{
    std::lock_guard<std::mutex> guard(seen.lock);
    return seen.requests;
}

std::vector<IpcRecord> messages_seen()
{
    std::lock_guard<std::mutex> guard(seen.lock);
    return seen.messages;
}

std::vector<uint16_t> request_kinds_seen()
{
    std::vector<uint16_t> kinds;
    for (const IpcRecord &r : requests_seen())
        kinds.push_back(r.kind);
    return kinds;
}

size_t messages_of_kind(uint16_t kind)
{
    size_t n = 0;
    for (const IpcRecord &r : messages_seen())
        n += r.kind == kind;
    return n;
}

bool message_seen(uint16_t kind, const char *text0)
{
    for (const IpcRecord &r : messages_seen()) {
        if (r.kind == kind && std::strcmp(r.text[0], text0) == 0)
            return true;
    }
    return false;
}
