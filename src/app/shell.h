// Running fixed shell command lines, and quoting values put into them.
#pragma once

#include <string>

// value wrapped in single quotes so that no character in it can end the
// quoting or start a command.
std::string shell_quote(const std::string &value);
// Runs the line through /bin/sh and waits; the exit status, or -1.
int shell_run(const std::string &line);
// Runs the pipeline and keeps the first 63 bytes of its output; false when it
// cannot be started.
bool shell_output(const std::string &line, std::string &output);
