// SPDX-License-Identifier: GPL-2.0-or-later
#include "netns/e2e_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sched.h>
#include <sstream>
#include <sys/mount.h>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "app/window_half.h"
#include "auth/ip.h"
#include "config/settings.h"
#include "support/engine_fixture.h"
#include "ui/mainloop.h"
#include "ui/msg_dialog.h"

namespace {

E2eClient *current = nullptr;
std::string dir_to_remove;  // the client's temporary folder, removed at exit
bool wrapper_mounted = false;

int thread_count()
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("Threads:", 0) == 0)
            return std::atoi(line.c_str() + 8);
    }
    return -1;
}

bool write_file(const std::string &path, const std::string &text, mode_t mode)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    return out.good() && chmod(path.c_str(), mode) == 0;
}

bool bind_mount(const std::string &from, const std::string &to)
{
    return mount(from.c_str(), to.c_str(), nullptr, MS_BIND, nullptr) == 0;
}

// Keeps dhclient's lease and PID files in dir and logs each run in dir/runs.log.
bool install_dhclient_wrapper(const std::string &dir)
{
    const std::string real = dir + "/real";
    if (mkdir(real.c_str(), 0755) != 0 || !write_file(real + "/dhclient", "", 0755) ||
        !bind_mount("/usr/sbin/dhclient", real + "/dhclient"))
        return false;
    std::string script = "#!/bin/sh\necho \"$*\" >>" + dir + "/runs.log\nexec " + real +
                         "/dhclient -pf " + dir + "/dhclient.pid -lf " + dir +
                         "/dhclient.leases \"$@\"\n";
    wrapper_mounted = write_file(dir + "/wrapper", script, 0755) &&
                      bind_mount(dir + "/wrapper", "/usr/sbin/dhclient");
    return wrapper_mounted;
}

// What `ip netns exec` does for the namespace's own view of the system.
bool mount_namespace_view(const Lab &lab)
{
    if (mount("sysfs", "/sys", "sysfs", 0, nullptr) != 0)
        return false;
    std::string resolv = "/etc/netns/" + lab.client_ns + "/resolv.conf";
    return access(resolv.c_str(), R_OK) != 0 || bind_mount(resolv, "/etc/resolv.conf");
}

// The engine's process first (while this one has one thread and no
// display), then GTK.
bool start_gtk()
{
    static bool started = false;
    if (!started) {
        engine_fork();
        int argc = 0;
        char **argv = nullptr;
        started = gtk_init_check(&argc, &argv);
        if (started)
            mainloop_init();
    }
    return started;
}

GtkWidget *combo_with_text(const std::string &text)
{
    GtkWidget *combo = gtk_combo_new();
    gtk_entry_set_text(GTK_ENTRY(GTK_COMBO(combo)->entry), text.c_str());
    return combo;
}

// The three entries the worker reads, in a window that stays hidden.
void build_widgets(E2eClient *c, const std::string &account, const std::string &password,
                   const std::string &device)
{
    MainWidgets &w = c->widgets;
    w = main_widgets_initial();
    w.window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    GtkWidget *box = gtk_vbox_new(FALSE, 0);
    gtk_container_add(GTK_CONTAINER(w.window), box);
    w.account_combo = combo_with_text(account);
    w.password_entry = gtk_entry_new();
    gtk_entry_set_text(GTK_ENTRY(w.password_entry), password.c_str());
    w.device_combo = combo_with_text(device);
    for (GtkWidget *child : {w.account_combo, w.password_entry, w.device_combo})
        gtk_box_pack_start(GTK_BOX(box), child, FALSE, FALSE, 0);
}

// Settings file in the client's folder, created with its first-run values,
// then the options these tests run with.
void prepare_settings(E2eClient *c)
{
    settings_path = g_strdup((c->dir + "/Corvix.conf").c_str());
    get_ini_message(&c->settings);
    status = STATUS_IDLE;
    ClientSettings &s = c->settings;
    s.use_own_dhcp = 0;
    s.timeout = 8;
    s.timeout_reconnect = 0;
    s.remember_password = 1;
    copy_field(s.login_name, "nobody");
}

int remove_entry(const char *path, const struct stat *, int, FTW *)
{
    (void)remove(path);  // go on with the rest whatever happens
    return 0;
}

// At exit, whatever ends the process: the wrapper's mounts first, then the folder.
void remove_client_dir()
{
    if (dir_to_remove.empty() || in_engine_process())
        return;
    if (wrapper_mounted) {
        (void)umount2("/usr/sbin/dhclient", MNT_DETACH);
        (void)umount2((dir_to_remove + "/real/dhclient").c_str(), MNT_DETACH);
    }
    (void)nftw(dir_to_remove.c_str(), remove_entry, 8, FTW_DEPTH | FTW_PHYS);
}

E2eClient *new_client()
{
    auto *c = new E2eClient{};
    char dir[] = "/tmp/corvix-e2e-XXXXXX";
    if (!mkdtemp(dir)) {
        ADD_FAILURE() << "mkdtemp: " << std::strerror(errno);
        return nullptr;
    }
    c->dir = dir;
    dir_to_remove = dir;
    std::atexit(remove_client_dir);
    c->ctx = AppContext{&c->widgets, &c->settings};
    set_window_context(&c->ctx);
    current = c;
    return c;
}

void finish_client(E2eClient *c, const std::string &account, const std::string &password,
                   const std::string &device)
{
    prepare_settings(c);
    build_widgets(c, account, password, device);
}

// Closes the dialog and drops one still pending: a window built after this
// would run its modal loop with nobody left to close it.
gboolean close_and_quit(gpointer)
{
    if (current)
        destroy_msg_dialog(&current->ctx);
    gtk_main_quit();
    return G_SOURCE_REMOVE;
}

gpointer run_body(gpointer data)
{
    (*static_cast<const std::function<void()> *>(data))();
    g_idle_add(close_and_quit, nullptr);
    return nullptr;
}

}  // namespace

bool e2e_lab_up(Lab &lab, const LabOptions &opt)
{
    e2e_isolate_process();
    if (::testing::Test::HasFatalFailure())
        return false;
    if (!lab_up(lab, opt)) {
        ADD_FAILURE() << lab.error;
        return false;
    }
    return true;
}

void e2e_isolate_process()
{
    ASSERT_EQ(geteuid(), 0u) << "end-to-end tests need root";
    ASSERT_EQ(thread_count(), 1) << "the mount namespace must be made before any thread";
    ASSERT_EQ(unshare(CLONE_NEWNS), 0) << "unshare(CLONE_NEWNS): " << std::strerror(errno);
    ASSERT_EQ(mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0)
        << "making / private: " << std::strerror(errno);
}

E2eClient *e2e_client(const Lab &lab, const std::string &account, const std::string &password)
{
    // GTK first: the X connection is made before leaving the machine's namespace.
    if (!start_gtk()) {
        ADD_FAILURE() << "GTK did not start: run under xvfb-run";
        return nullptr;
    }
    if (lab_enter_client(lab) < 0) {
        ADD_FAILURE() << "cannot enter " << lab.client_ns << ": " << std::strerror(errno);
        return nullptr;
    }
    E2eClient *c = new_client();
    if (!c)
        return nullptr;
    if (!mount_namespace_view(lab) || !install_dhclient_wrapper(c->dir)) {
        ADD_FAILURE() << "mounting the client's view failed: " << std::strerror(errno);
        return nullptr;
    }
    finish_client(c, account, password, lab.client_if);
    return c;
}

std::string e2e_engine_client(const Lab &lab)
{
    if (lab_enter_client(lab) < 0) {
        ADD_FAILURE() << "cannot enter " << lab.client_ns << ": " << std::strerror(errno);
        return "";
    }
    char dir[] = "/tmp/corvix-e2e-XXXXXX";
    if (!mkdtemp(dir)) {
        ADD_FAILURE() << "mkdtemp: " << std::strerror(errno);
        return "";
    }
    dir_to_remove = dir;
    std::atexit(remove_client_dir);
    if (!mount_namespace_view(lab) || !install_dhclient_wrapper(dir)) {
        ADD_FAILURE() << "mounting the client's view failed: " << std::strerror(errno);
        return "";
    }
    settings_path = g_strdup((dir_to_remove + "/Corvix.conf").c_str());
    return dir_to_remove;
}

E2eClient *e2e_client_offline(const std::string &account, const std::string &password,
                              const std::string &device)
{
    if (!start_gtk()) {
        ADD_FAILURE() << "GTK did not start: run under xvfb-run";
        return nullptr;
    }
    E2eClient *c = new_client();
    if (c)
        finish_client(c, account, password, device);
    return c;
}

void e2e_drive(const std::function<void()> &body)
{
    // From this thread, in the client's namespace, with the test's settings.
    if (current)
        engine_go(current->settings);
    GThread *driver = g_thread_new("e2e-driver", run_body, const_cast<std::function<void()> *>(&body));
    gtk_main();
    g_thread_join(driver);
}

bool e2e_wait(const std::function<bool()> &pred, int timeout_ms)
{
    double end = e2e_now_ms() + timeout_ms;
    for (;;) {
        if (pred())
            return true;
        if (e2e_now_ms() >= end)
            return false;
        g_usleep(10000);
    }
}

void e2e_on_main(const std::function<void()> &fn) { main_call_sync(fn); }

void e2e_start_worker(E2eClient *c)
{
    main_call_sync([c] { request_logon(&c->ctx); });
}

std::string e2e_msg_text(E2eClient *c)
{
    std::string text;
    main_call_sync([&] { text = c->settings.msg_text; });
    return text;
}

std::string e2e_msg_title(E2eClient *c)
{
    std::string text;
    main_call_sync([&] { text = c->settings.msg_title; });
    return text;
}

bool e2e_dialog_shown(E2eClient *c)
{
    bool shown = false;
    main_call_sync([&] {
        GtkWidget *d = c->settings.msg_dialog;
        shown = d && mutex.load() == nullptr && GTK_WIDGET_VISIBLE(d);
    });
    return shown;
}

bool e2e_main_window_visible(E2eClient *c)
{
    bool shown = false;
    main_call_sync([&] { shown = GTK_WIDGET_VISIBLE(c->widgets.window); });
    return shown;
}

bool e2e_tray_shown(E2eClient *c)
{
    bool shown = false;
    main_call_sync([&] { shown = c->settings.tray_icon != nullptr; });
    return shown;
}

void e2e_set_password(E2eClient *c, const std::string &password)
{
    main_call_sync(
        [&] { gtk_entry_set_text(GTK_ENTRY(c->widgets.password_entry), password.c_str()); });
}

int e2e_dhcp_runs(E2eClient *c)
{
    std::ifstream in(c->dir + "/runs.log");
    int n = 0;
    std::string line;
    while (std::getline(in, line))
        n++;
    return n;
}

std::string e2e_settings_text(E2eClient *c)
{
    std::ifstream in(c->dir + "/Corvix.conf", std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string e2e_client_address(const Lab &lab)
{
    uint8_t ip[4];
    GetIpFromDevice(ip, lab.client_if.c_str());
    if (ip[0] == 255 && ip[1] == 255 && ip[2] == 255 && ip[3] == 255)
        return "";
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", ip[0], ip[1], ip[2], ip[3]);
    return text;
}

pcap_t *e2e_auth_capture(const Lab &lab)
{
    pcap_t *capture = nullptr;
    std::string error;
    // A thread of its own enters the namespace; the handle keeps working after.
    std::thread opener([&] {
        int fd = open(("/run/netns/" + lab.auth_ns).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || setns(fd, CLONE_NEWNET) != 0)
            error = "cannot enter " + lab.auth_ns + ": " + std::strerror(errno);
        else
            capture = lab_open_eapol(lab.auth_if, &error);
        if (fd >= 0)
            close(fd);
    });
    opener.join();
    if (!capture)
        ADD_FAILURE() << "authenticator capture: " << error;
    return capture;
}

bool e2e_wait_client_frame(const Lab &lab, pcap_t *capture, uint8_t eapol_type, int timeout_ms)
{
    double end = e2e_now_ms() + timeout_ms;
    for (;;) {
        int left = static_cast<int>(end - e2e_now_ms());
        if (left <= 0)
            return false;
        std::vector<uint8_t> f = lab_recv(capture, left);
        if (f.size() >= 18 && std::memcmp(f.data() + 6, lab.client_mac, 6) == 0 &&
            f[15] == eapol_type)
            return true;
    }
}

int e2e_count_events(const Lab &lab, const std::string &prefix)
{
    int n = 0;
    for (const LabEvent &e : lab_sim_events(lab))
        n += e.text.compare(0, prefix.size(), prefix) == 0;
    return n;
}

double e2e_now_ms()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}
