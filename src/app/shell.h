// Running fixed shell command lines, and quoting values put into them.
#pragma once

#include <string>

// value wrapped in single quotes so that no character in it can end the
// quoting or start a command.
std::string shell_quote(const std::string &value);
// Runs the line through /bin/sh and waits; the exit status, or -1.
int shell_run(const std::string &line);
// Runs the pipeline and returns the first character of its output, or -1
// when it cannot be started (0 when it printed nothing).
int shell_first_char(const std::string &line);
