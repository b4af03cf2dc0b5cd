// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/check.h"

#include <cstdio>
#include <cstdlib>

void check_failed(const char *expr, const char *file, int line)
{
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, expr);
    std::abort();
}
