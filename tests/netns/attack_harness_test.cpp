// SPDX-License-Identifier: GPL-2.0-or-later
// The attack harness itself: a user's own X settings manager makes a GTK
// program load the probe, as a module (Gtk/Modules) and as a theme engine
// (Net/ThemeName), and the probe tells the ids of whoever loaded it. Without
// this, a client test that finds no root record would prove nothing.
#include <gtest/gtest.h>

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "support/attack.h"
#include "support/sandbox.h"
#include "support/scratch.h"

namespace {

class AttackHarness : public ScratchTest, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override
    {
        ASSERT_EQ(0u, geteuid()) << "needs root for namespaces and the test user";
        ASSERT_EQ(0, access(gtk_host_path().c_str(), X_OK)) << "build cvx_gtk_host";
        ScratchTest::SetUp();
    }
};

TEST_P(AttackHarness, ProbeLoadsAndRecordsWhoLoadedIt)
{
    bool as_theme = GetParam();
    std::string scratch = dir_;
    EXPECT_EQ("", run_in_child(CLONE_NEWNS, [&](ChildChecks &c) {
        c.setup(mount("tmpfs", scratch.c_str(), "tmpfs", 0, "mode=0755") == 0, "tmpfs scratch");
        AttackUser u = attack_user_add(c, scratch);
        std::string probe = place_probe(c, u);
        std::string settings = as_theme ? "Net/ThemeName \"" + place_theme(c, u, probe) + "\"\n"
                                        : "Gtk/Modules \"" + probe + "\"\n";
        UserDisplay d = user_display_up(c, u, settings);
        std::vector<std::string> env{"DISPLAY=" + d.display, "HOME=" + u.home,
                                     "PATH=/usr/bin:/bin"};
        pid_t host = spawn_as(u, {gtk_host_path()}, env);
        std::vector<ProbeIds> got = wait_probe_records(probe, 10000);
        stop_group(host);
        c.expect(got.size() == 1 && got[0].ruid == u.uid && got[0].euid == u.uid &&
                     got[0].egid == u.gid,
                 "one load with the user's ids: " + ids_text(got));

        // The same program as root: the probe reports 0, so the client test
        // would see a root load.
        AttackUser root = u;
        root.uid = 0;
        root.gid = 0;
        pid_t as_root = spawn_as(root, {gtk_host_path()}, env);
        for (int i = 0; i < 200 && probe_records(probe).size() < 2; i++)
            usleep(50 * 1000);
        got = probe_records(probe);
        stop_group(as_root);
        c.expect(got.size() == 2 && got[1].ruid == 0 && got[1].euid == 0,
                 "a root load recorded as root: " + ids_text(got));
        user_display_down(d);
    }));
}

INSTANTIATE_TEST_SUITE_P(ModuleAndTheme, AttackHarness, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool> &i) {
                             return i.param ? std::string("ThemeEngine") : std::string("GtkModule");
                         });

}  // namespace
