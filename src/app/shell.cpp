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

int shell_first_char(const std::string &line)
{
    FILE *pipe = popen(line.c_str(), "r");
    if (!pipe)
        return -1;
    int c = std::fgetc(pipe);
    // Drain so the writer never dies of SIGPIPE before pclose reaps it.
    while (std::fgetc(pipe) != EOF) {
    }
    pclose(pipe);
    return c == EOF ? 0 : c;
}
