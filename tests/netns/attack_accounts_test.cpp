// SPDX-License-Identifier: GPL-2.0-or-later
// Two ordinary local users of one machine and the installed set-user-ID
// client: what one of them stored stays theirs when the other starts it.
#include <gtest/gtest.h>

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "config/settings.h"
#include "support/attack.h"
#include "support/sandbox.h"
#include "support/scratch.h"

namespace {

const char kConf[] = "/usr/share/Corvix2/Corvix.conf";

std::string scrambled(const char *clear)
{
    char text[21];
    g_strlcpy(text, clear, sizeof text);
    encrypt(text);
    return text;
}

std::string hex(const std::string &text)
{
    std::string out;
    char two[3];
    for (unsigned char ch : text) {
        std::snprintf(two, sizeof two, "%02x", ch);
        out += two;
    }
    return out;
}

bool has_line(const std::string &text, const std::string &line)
{
    return ("\n" + text).find("\n" + line + "\n") != std::string::npos;
}

class SharedMachine : public ScratchTest {
protected:
    void SetUp() override
    {
        ASSERT_EQ(0u, geteuid()) << "needs root for namespaces and the test users";
        ASSERT_EQ(0, access(CORVIX_BINARY_DIR "/Corvix", X_OK)) << "build the Corvix target";
        ScratchTest::SetUp();
    }
};

// A has stored a password and asked for automatic log-on; B starts the client
// with a GTK module of their own that types A's account into the account box
// and then looks at every widget and at the whole memory of B's window.
TEST_F(SharedMachine, AnotherUsersWindowNeverHoldsTheirPassword)
{
    std::string scratch = dir_;
    EXPECT_EQ("", run_in_child(CLONE_NEWNS | CLONE_NEWNET, [&](ChildChecks &c) {
        c.setup(mount("tmpfs", scratch.c_str(), "tmpfs", 0, "mode=0755") == 0, "tmpfs scratch");
        install_client(c, scratch);
        AttackUser a = attack_user_add(c, scratch, 0), b = attack_user_add(c, scratch, 1);
        // An interface to log on with, in this test's own network namespace.
        c.setup(std::system("ip link add cvxsm0 type veth peer name cvxsm1 && ip link set cvxsm0 up") == 0,
                "an interface");
        const std::string a_uid = std::to_string(a.uid), b_uid = std::to_string(b.uid);
        const std::string conf =
            "[OPTION]\nUSER = 3\nAutoLogon = 0\nLassUserName = \nLassPassWord = \n"
            "LassDeviceName = cvxsm0\nusername1 = alice-acct\npassword1 = " + scrambled("alicepass9") +
            "\nowner1 = " + a_uid + "\nusername2 = bob-acct\npassword2 = " + scrambled("bobpass77") +
            "\nowner2 = " + b_uid + "\nusername3 = old-acct\npassword3 = " + scrambled("oldpass55") +
            "\n\n[UID" + a_uid + "]\nLassUserName = alice-acct\nLassPassWord = " +
            scrambled("alicepass9") + "\nAutoLogon = 1\n";
        std::ofstream(kConf) << conf;
        c.setup(chmod(kConf, 0600) == 0, "settings file root's alone");

        std::string probe = b.home + "/libsecret.so";
        c.setup(std::system(("cp " CORVIX_BINARY_DIR "/tests/libcvx_secret_probe.so " + probe +
                             " && chown " + b_uid + " " + probe).c_str()) == 0,
                "the module in B's home");
        std::ofstream(probe + ".needles") << hex("alicepass9") << "\n" << hex(scrambled("alicepass9"))
                                          << "\n" << hex("oldpass55") << "\n";
        std::ofstream(probe + ".type") << "alice-acct\n";
        c.setup(std::system(("chown " + b_uid + " " + probe + ".needles " + probe + ".type").c_str()) == 0,
                "the module's files B's");
        UserDisplay d = user_display_up(c, b, "Gtk/Modules \"" + probe + "\"\n");
        pid_t client = spawn_as(b, {"/usr/share/Corvix2/Corvix"},
                                {"DISPLAY=" + d.display, "HOME=" + b.home, "PATH=/usr/bin:/bin",
                                 "ASAN_OPTIONS=detect_leaks=0"});
        for (int waited = 0; waited < 20000 && access((probe + ".done").c_str(), F_OK) != 0; waited += 100)
            usleep(100 * 1000);
        pid_t engine = child_of(client);
        stop_group(client);
        if (engine > 0)
            kill(engine, SIGKILL);
        user_display_down(d);

        c.expect(access((probe + ".done").c_str(), F_OK) == 0, "the module looked at B's window");
        std::string texts = file_text(probe + ".texts");
        c.expect(has_line(texts, "label:bob-acct"), "B's drop-down lists B's account: " + texts);
        c.expect(!has_line(texts, "label:alice-acct") && !has_line(texts, "label:old-acct"),
                 "B's drop-down lists other accounts: " + texts);
        c.expect(has_line(texts, "entry:alice-acct") && has_line(texts, "entry:"),
                 "A's account typed, the password box empty: " + texts);
        c.expect(texts.find("alicepass9") == std::string::npos, "A's password in a widget");
        c.expect(file_text(probe + ".found").empty(),
                 "another user's password in B's window memory: " + file_text(probe + ".found"));
        // B's start changed nothing of A's: no log-on as A, no store, no claim.
        c.expect(file_text(kConf) == conf, "the settings file changed:\n" + file_text(kConf));
    }));
}

}  // namespace
