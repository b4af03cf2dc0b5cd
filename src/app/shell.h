// SPDX-License-Identifier: GPL-2.0-or-later
// Running fixed shell command lines, and quoting values put into them.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// value wrapped in single quotes so that no character in it can end the
// quoting or start a command.
std::string shell_quote(const std::string &value);
// Runs the line through /bin/sh and waits; the exit status, or -1.
int shell_run(const std::string &line);
// Runs the pipeline and keeps the first 63 bytes of its output; false when it
// cannot be started.
bool shell_output(const std::string &line, std::string &output);

// The ids of a user, looked up by login name before any child is forked.
struct UserIds {
    uid_t uid = 0;
    gid_t gid = 0;
    std::vector<gid_t> groups;  // supplementary groups
};
// False when the name is empty or no user has it.
bool user_ids(const char *login_name, UserIds *out);
// Runs the line through /bin/sh in a child that takes the user's groups, group
// and user id before it runs anything, so the line acts with that user's
// rights only; waits and returns the exit status, or -1.
int shell_run_as(const UserIds &ids, const std::string &line);
