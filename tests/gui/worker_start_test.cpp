// SPDX-License-Identifier: GPL-2.0-or-later
// The start of a log-on worker in the engine, asked for by the window as the
// log-on button asks for it, as far as it goes without an interface: the
// DHCP clients are stopped while the interface is looked for, and the
// problem is told only after they are gone and the icon is up. "Told" is the
// message window going on screen: the request's fields are stored on the main
// loop a moment before the icon's build, which runs before the window's.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/window_half.h"
#include "gui_harness.h"
#include "ui/msg_dialog.h"

namespace {

void set_entry(GtkWidget *widget, const char *text)
{
    if (GTK_IS_COMBO(widget))
        widget = GTK_COMBO(widget)->entry;
    gtk_entry_set_text(GTK_ENTRY(widget), text);
}

// A copy of sleep under a DHCP client's name, started as our child.
pid_t start_fake(const std::string &dir, const char *name)
{
    std::string path = dir + "/" + name;
    if (std::system(("cp /bin/sleep " + path).c_str()) != 0)
        return -1;
    pid_t pid = fork();
    if (pid == 0) {
        execl(path.c_str(), name, "60", static_cast<char *>(nullptr));
        _exit(127);
    }
    return pid;
}

// True once the child runs under the name (killall matches names, and a
// child that has not yet reached exec still has ours).
bool runs_as(pid_t pid, const char *name)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/comm", static_cast<int>(pid));
    std::FILE *f = std::fopen(path, "r");
    char comm[32] = "";
    bool read = f && std::fgets(comm, sizeof comm, f);
    if (f)
        std::fclose(f);
    return read && std::strncmp(comm, name, std::strlen(name)) == 0;
}

// True once killall has sent the child SIGTERM. The child dies whenever it
// next runs, which on a loaded machine can be after the window is up, so the
// signal is looked for where the kernel keeps it from the sending until the
// child is reaped: the process's shared pending set.
bool sigterm_sent(pid_t pid)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/status", static_cast<int>(pid));
    std::FILE *f = std::fopen(path, "r");
    unsigned long long pending = 0;
    bool found = false;
    char line[256];
    while (f && !found && std::fgets(line, sizeof line, f))
        found = std::sscanf(line, "ShdPnd: %llx", &pending) == 1;
    if (f)
        std::fclose(f);
    return found && (pending & (1ULL << (SIGTERM - 1))) != 0;
}

// Reaps the child; true when SIGTERM is what ended it.
bool ends_by_sigterm(pid_t pid)
{
    int wstatus = 0;
    return waitpid(pid, &wstatus, 0) == pid && WIFSIGNALED(wstatus) && WTERMSIG(wstatus) == SIGTERM;
}

// What held when the first message window was mapped (on the main thread).
struct Told {
    const ClientSettings *settings = nullptr;
    const std::vector<pid_t> *fakes = nullptr;
    bool seen = false, fakes_stopped = false, icon_up = false;
    std::string text;
};

gboolean note_when_told(GSignalInvocationHint *, guint, const GValue *params, gpointer data)
{
    auto *told = static_cast<Told *>(data);
    GtkWidget *widget = GTK_WIDGET(g_value_get_object(&params[0]));
    if (told->seen || widget != told->settings->msg_dialog)
        return TRUE;
    told->seen = true;
    told->text = label_text(told->settings->msg_label);
    told->fakes_stopped = sigterm_sent((*told->fakes)[0]) && sigterm_sent((*told->fakes)[1]);
    told->icon_up = told->settings->tray_icon != nullptr;
    return TRUE;  // stay installed
}

TEST(WorkerStart, DhcpClientsAreGoneAndTheIconIsUpBeforeAnInterfaceProblemIsTold)
{
    ASSERT_TRUE(in_private_pid_namespace()) << "the worker runs killall: run this test in a private PID "
                                               "namespace (unshare --pid --fork --mount-proc), as ctest does";
    GuiApp &app = gui_app();
    ClientSettings &s = app.settings;
    char tmpl[] = "/tmp/corvix-fake-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    std::vector<pid_t> fakes;
    for (const char *name : {"dhclient", "CorvixDHCP"})
        fakes.push_back(start_fake(dir, name));
    ASSERT_GT(fakes[0], 0);
    ASSERT_GT(fakes[1], 0);
    for (int i = 0; i < 500 && !(runs_as(fakes[0], "dhclient") && runs_as(fakes[1], "CorvixDHCP")); ++i)
        g_usleep(2000);
    status = STATUS_IDLE;
    const char *const problem = "没有找到该网卡，可能已经被停用！";
    Told told;
    told.settings = &s;
    told.fakes = &fakes;
    const guint map_signal = g_signal_lookup("map", GTK_TYPE_WIDGET);
    const gulong hook = g_signal_add_emission_hook(map_signal, 0, note_when_told, &told, nullptr);
    run_script([&] {
        on_main([&] {
            set_entry(app.widgets.account_combo, "someone");
            set_entry(app.widgets.password_entry, "secret12");
            set_entry(app.widgets.device_combo, "nosuch0");
            request_logon(&app.ctx);
        });
        ASSERT_TRUE(wait_for([&] { return message_shown(s, problem); }));
        on_main([&] {
            EXPECT_EQ(status.load(), STATUS_ERROR);
            destroy_msg_dialog(&app.ctx);
        });
    });
    g_signal_remove_emission_hook(map_signal, hook);
    EXPECT_TRUE(told.seen);
    EXPECT_EQ(told.text, problem);  // the first window the user sees is this one
    EXPECT_TRUE(told.fakes_stopped);
    EXPECT_TRUE(told.icon_up);
    for (pid_t pid : fakes) {
        if (!told.fakes_stopped)
            kill(pid, SIGKILL);
        bool by_sigterm = ends_by_sigterm(pid);
        EXPECT_TRUE(by_sigterm || !told.fakes_stopped);  // the signal seen is what ended it
    }
    for (const char *name : {"dhclient", "CorvixDHCP"})
        (void)unlink((dir + "/" + name).c_str());
    (void)rmdir(dir.c_str());
}

}  // namespace
