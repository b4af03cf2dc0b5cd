// The start of a log-on worker, as far as it goes without an interface: the
// DHCP clients are stopped while the interface is looked for, and the
// problem is told only after they are gone and the icon is up.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "auth/auth.h"
#include "ui/account_handlers.h"
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

// True when the child has already ended by SIGTERM (what killall sends).
bool ended_by_sigterm(pid_t pid)
{
    int wstatus = 0;
    return waitpid(pid, &wstatus, WNOHANG) == pid && WIFSIGNALED(wstatus) &&
           WTERMSIG(wstatus) == SIGTERM;
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
    bool fakes_gone_when_told = false, icon_up_when_told = false;
    run_script([&] {
        on_main([&] {
            set_entry(app.widgets.account_combo, "someone");
            set_entry(app.widgets.password_entry, "secret12");
            set_entry(app.widgets.device_combo, "nosuch0");
            start_auth_worker(&app.ctx);
        });
        // The first look at the message, on the main thread, is the moment it was told.
        ASSERT_TRUE(wait_for([&] {
            if (std::strcmp(s.msg_text, "没有找到该网卡，可能已经被停用！") != 0)
                return false;
            fakes_gone_when_told = ended_by_sigterm(fakes[0]) && ended_by_sigterm(fakes[1]);
            icon_up_when_told = s.tray_icon != nullptr;
            return true;
        }));
        on_main([&] {
            EXPECT_EQ(status.load(), STATUS_ERROR);
            destroy_msg_dialog(&app.ctx);
        });
    });
    EXPECT_TRUE(fakes_gone_when_told);
    EXPECT_TRUE(icon_up_when_told);
    for (pid_t pid : fakes) {
        if (waitpid(pid, nullptr, WNOHANG) == 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    for (const char *name : {"dhclient", "CorvixDHCP"})
        (void)unlink((dir + "/" + name).c_str());
    (void)rmdir(dir.c_str());
}

}  // namespace
