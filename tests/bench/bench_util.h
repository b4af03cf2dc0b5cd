// SPDX-License-Identifier: GPL-2.0-or-later
// Small helpers the benchmark drivers share.
#pragma once

#include <cstdlib>
#include <ctime>

// A whole-number knob from the environment (BENCH_RUNS and the like).
inline int env_int(const char *name, int fallback)
{
    const char *v = std::getenv(name);
    return v && *v ? std::atoi(v) : fallback;
}

// Wall-clock milliseconds, comparable with the kernel's capture time stamps.
inline double realtime_ms()
{
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}
