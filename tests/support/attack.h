// SPDX-License-Identifier: GPL-2.0-or-later
// What an ordinary local user can bring against the set-user-ID client: an
// account of their own, their own X server with an X settings manager, a
// library in their home that GTK loads as a module or as a theme engine.
// Everything here runs inside a child of run_in_child(CLONE_NEWNS ...): the
// test user exists only in copies of /etc/passwd and /etc/group bound over the
// originals in that private mount namespace.
//
//   run_in_child(CLONE_NEWNS, [&](ChildChecks &c) {
//       AttackUser u = attack_user_add(c, scratch);
//       std::string probe = place_probe(c, u);
//       UserDisplay d = user_display_up(c, u, "Gtk/Modules \"" + probe + "\"\n");
//       ... run a GTK program as u on d.display; probe_records(probe) ...
//       user_display_down(d);
//   });
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "support/sandbox.h"

// The ids of the first test user; the next ones follow.
constexpr uid_t kAttackUid = 64123;
constexpr gid_t kAttackGid = 64123;

struct AttackUser {
    uid_t uid = 0;
    gid_t gid = 0;
    std::string name, home;
};

struct UserDisplay {
    pid_t xvfb = -1, xsettingsd = -1;
    std::string display;  // ":N"
};

// The ids one load of the probe recorded.
struct ProbeIds {
    int pid = 0;
    unsigned ruid = 0, euid = 0, suid = 0, rgid = 0, egid = 0, sgid = 0;
};

// The test user "cvxattack" (or, for a second user beside it, "cvxattack1"
// and so on) with a fresh home (mode 0700, the user's) under scratch. Ends
// the child with a set-up failure when it cannot.
AttackUser attack_user_add(ChildChecks &c, const std::string &scratch, int index = 0);

// The client installed set-user-ID root in a private copy of /usr/share (an
// overlay whose changes land under scratch, a tmpfs), with the companion DHCP
// program beside it when with_dhcp.
void install_client(ChildChecks &c, const std::string &scratch, bool with_dhcp = false);

// Starts argv as the user (their groups and ids) in a process group of its
// own, with exactly env as environment, in the user's home; pass_fd, when
// given, becomes descriptor 9 of the program, and no other descriptor of
// this process but the three standard ones reaches it. -1 on failure.
pid_t spawn_as(const AttackUser &u, const std::vector<std::string> &argv,
               const std::vector<std::string> &env, int pass_fd = -1);
// Kills the process group started by spawn_as and reaps its leader.
void stop_group(pid_t pid);
// The first child process of pid (the client's engine beside its window), or -1.
pid_t child_of(pid_t pid);

// Copies the probe library into the user's home, owned by the user; its path.
std::string place_probe(ChildChecks &c, const AttackUser &u);
// A theme "CvxProbe" in ~/.themes whose gtkrc names the probe as its engine.
// The returned name reaches the theme from any theme folder (a relative path).
std::string place_theme(ChildChecks &c, const AttackUser &u, const std::string &probe);

// The user's own Xvfb and xsettingsd publishing settings_text (xsettingsd's
// configuration format), both run as the user. Set-up failure when either
// does not come up.
UserDisplay user_display_up(ChildChecks &c, const AttackUser &u, const std::string &settings_text);
void user_display_down(UserDisplay &d);

// xdotool with args on the user's display; its output.
std::string user_xdo(const UserDisplay &d, const std::vector<std::string> &args);
// The first visible window named exactly name (of process pid when pid > 0),
// waiting up to timeout_ms; "" when none.
std::string user_find_window(const UserDisplay &d, const std::string &name, pid_t pid,
                             int timeout_ms);

// Every load the probe at probe_path has recorded so far.
std::vector<ProbeIds> probe_records(const std::string &probe_path);
// The records as text for a failure's report: pid, uids / gids.
std::string ids_text(const std::vector<ProbeIds> &records);
// Waits up to timeout_ms for at least one record.
std::vector<ProbeIds> wait_probe_records(const std::string &probe_path, int timeout_ms);

// Where the build put the probe and the bare GTK program.
std::string probe_library_path();
std::string gtk_host_path();
