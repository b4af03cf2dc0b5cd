#include "app/shell.h"

#include <cstdio>
#include <cstdlib>
#include <sys/wait.h>

std::string shell_quote(const std::string &value)
{
    std::string out = "'";
    for (char c : value) {
        if (c == '\'')
            out += "'\\''";  // close, escaped quote, reopen
        else
            out += c;
    }
    out += '\'';
    return out;
}

int shell_run(const std::string &line)
{
    int rc = std::system(line.c_str());
    if (rc == -1 || !WIFEXITED(rc))
        return -1;
    return WEXITSTATUS(rc);
}

bool shell_output(const std::string &line, std::string &output)
{
    FILE *pipe = popen(line.c_str(), "r");
    if (!pipe)
        return false;
    char buf[64];
    size_t n = std::fread(buf, 1, sizeof buf - 1, pipe);
    output.assign(buf, n);
    // Drain so the writer never dies of SIGPIPE before pclose reaps it.
    while (std::fread(buf, 1, sizeof buf, pipe) > 0) {
    }
    pclose(pipe);
    return true;
}
