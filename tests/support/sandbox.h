// SPDX-License-Identifier: GPL-2.0-or-later
// Running a test step in a forked child with private namespaces, and running
// a program with its output captured.
//
//   std::string report = run_in_child(CLONE_NEWNS, [](ChildChecks &c) {
//       c.setup(mount_overlay("/usr/bin", upper_dir), "overlay on /usr/bin");
//       c.expect(access("/usr/bin/Corvix", F_OK) == 0, "link made");
//   });
//   EXPECT_EQ("", report);
//
// The child makes "/" private after a new mount namespace (so nothing it
// mounts reaches the machine), becomes PID 1 of a new PID namespace with its
// own /proc when CLONE_NEWPID is given, and remounts /sys for CLONE_NEWNET.
// A set-up step that fails ends the child at once with its reason: the report
// then starts with "set-up failed", a loud failure in the parent. Needs root.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

struct ChildChecks {
    std::string failures;
    // Records what when ok is false.
    void expect(bool ok, const std::string &what);
    // Ends the child with "set-up failed: what" when ok is false.
    void setup(bool ok, const std::string &what);
};

// Runs fn in a child after unshare(flags); "" when every check passed, else
// the failures (or how the child ended).
std::string run_in_child(int unshare_flags, const std::function<void(ChildChecks &)> &fn);

// Mounts an overlay on dir whose changes land in a fresh folder under
// scratch (a tmpfs); true on success.
bool mount_overlay(const std::string &dir, const std::string &scratch);

struct RunResult {
    int exit_code = -1;  // -1 when it did not exit normally
    std::string out, err;
};

// Runs argv in cwd as uid (or as this process' user when uid is -1), with
// stdin closed; waits and returns what it printed.
RunResult run_program(const std::vector<std::string> &argv, const std::string &cwd,
                      uid_t uid = static_cast<uid_t>(-1));

// Whether this process may raise hard resource limits (CAP_SYS_RESOURCE in
// its effective set); some containers withhold it even from root.
bool has_sys_resource();

// The whole content of a file, or "" when it cannot be read.
std::string file_text(const std::string &path);
