// SPDX-License-Identifier: GPL-2.0-or-later
// The built client, installed in a private mount namespace and started with
// a caller's environment and command line that ask GTK to load code: only the
// theme engine that the installed resource file names may load.
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include "support/sandbox.h"

namespace {

// A shared library that leaves marker when the dynamic loader opens it.
bool build_marker_lib(const std::string &so, const std::string &marker)
{
    std::string src = so + ".c";
    std::ofstream(src) << "#include <fcntl.h>\n#include <unistd.h>\n"
                          "__attribute__((constructor)) static void loaded(void)\n"
                          "{ close(open(\"" << marker << "\", O_CREAT | O_WRONLY, 0644)); }\n";
    std::string cc = "cc -shared -fPIC -o '" + so + "' '" + src + "'";
    return std::system(cc.c_str()) == 0;
}

bool exists(const std::string &path)
{
    return access(path.c_str(), F_OK) == 0;
}

bool wait_for_file(const std::string &path, int timeout_ms)
{
    for (int waited = 0; waited < timeout_ms; waited += 20) {
        if (exists(path))
            return true;
        usleep(20 * 1000);
    }
    return exists(path);
}

class EntrySequence : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(0u, geteuid()) << "needs root for namespaces";
        ASSERT_NE(nullptr, getenv("DISPLAY")) << "run under xvfb-run";
        ASSERT_EQ(0, access(CORVIX_BINARY_DIR "/Corvix", X_OK)) << "build the Corvix target";
        char tmpl[] = "/tmp/corvix-entry-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(tmpl));
        dir_ = tmpl;
        ASSERT_EQ(0, chmod(tmpl, 0755));
        ASSERT_EQ(0, mkdir((dir_ + "/scratch").c_str(), 0755));
        ASSERT_EQ(0, mkdir((dir_ + "/evilpath").c_str(), 0755));
        ASSERT_EQ(0, std::system(("mkdir -p '" + dir_ + "/evilpath/2.10.0/engines'").c_str()));
        ASSERT_TRUE(build_marker_lib(dir_ + "/libgood.so", dir_ + "/good-engine"));
        ASSERT_TRUE(build_marker_lib(dir_ + "/libmodarg.so", dir_ + "/evil-module-arg"));
        ASSERT_TRUE(build_marker_lib(dir_ + "/libmodenv.so", dir_ + "/evil-module-env"));
        ASSERT_TRUE(build_marker_lib(dir_ + "/evilpath/2.10.0/engines/libcorvixevil.so",
                                     dir_ + "/evil-engine"));
        std::ofstream(dir_ + "/evil.rc")
            << "style \"e\" { engine \"corvixevil\" {} }\nwidget_class \"*\" style \"e\"\n";
        ASSERT_EQ(0, mkdir((dir_ + "/home").c_str(), 0755));
        std::ofstream(dir_ + "/home/.gtkrc-2.0")
            << "style \"h\" { engine \"corvixevil\" {} }\nwidget_class \"*\" style \"h\"\n";
    }
    void TearDown() override
    {
        ASSERT_EQ(0, std::system(("rm -rf '" + dir_ + "'").c_str()));
    }
    std::string dir_;
};

// Installs the client with a resource file that names the "corvixgood" engine.
void install_client(ChildChecks &c, const std::string &dir)
{
    std::string scratch = dir + "/scratch";
    c.setup(mount("tmpfs", scratch.c_str(), "tmpfs", 0, "mode=0755") == 0, "tmpfs scratch");
    c.setup(mount_overlay("/usr/share", scratch) && mount_overlay("/usr/lib", scratch),
            "overlays");
    gchar *module_dir = gtk_rc_get_module_dir();
    std::string engines = module_dir;
    g_free(module_dir);
    std::string cmd = "rm -rf /usr/share/Corvix2 && mkdir -p /usr/share/Corvix2 " + engines +
                      " && cp " CORVIX_BINARY_DIR "/Corvix /usr/share/Corvix2/Corvix && cp '" +
                      dir + "/libgood.so' " + engines + "/libcorvixgood.so";
    c.setup(std::system(cmd.c_str()) == 0, "installing: " + cmd);
    std::ofstream("/usr/share/Corvix2/Corvixrc")
        << "style \"g\" { engine \"corvixgood\" {} }\nwidget_class \"*\" style \"g\"\n";
}

pid_t start_client(const std::string &dir)
{
    pid_t pid = fork();
    if (pid != 0)
        return pid;
    setenv("GTK_MODULES", (dir + "/libmodenv.so").c_str(), 1);
    setenv("GTK2_RC_FILES", (dir + "/evil.rc").c_str(), 1);
    setenv("GTK_PATH", (dir + "/evilpath").c_str(), 1);
    setenv("HOME", (dir + "/home").c_str(), 1);
    int null_fd = open("/dev/null", O_RDWR);
    dup2(null_fd, 0);
    dup2(null_fd, 1);
    std::string arg = "--gtk-module=" + dir + "/libmodarg.so";
    execl("/usr/share/Corvix2/Corvix", "Corvix", arg.c_str(), "--g-fatal-warnings",
          static_cast<char *>(nullptr));
    _exit(127);
}

TEST_F(EntrySequence, CallerCannotMakeTheRootProcessLoadCode)
{
    std::string dir = dir_;
    EXPECT_EQ("", run_in_child(CLONE_NEWNS | CLONE_NEWPID | CLONE_NEWNET, [&](ChildChecks &c) {
        install_client(c, dir);
        pid_t client = start_client(dir);
        c.setup(client > 0, "starting the client");
        // The installed resource file's engine proves GTK is up and styling widgets.
        bool up = wait_for_file(dir + "/good-engine", 20000);
        usleep(300 * 1000);
        bool alive = waitpid(client, nullptr, WNOHANG) == 0;
        kill(client, SIGKILL);
        waitpid(client, nullptr, 0);
        c.expect(up, "the client never loaded the engine its own resource file names");
        c.expect(alive, "the client ended early");
        for (const char *m : {"/evil-module-arg", "/evil-module-env", "/evil-engine"})
            c.expect(!exists(dir + m), std::string("loaded code chosen by the caller: ") + m);
        c.expect(exists("/usr/share/Corvix2/Corvix.conf"), "first run wrote the settings file");
    }));
}

}  // namespace
