// SPDX-License-Identifier: GPL-2.0-or-later
// Checks of conditions that callers guarantee: a failure is a programming
// error, so the checked expression's text is printed and the process stops.
#pragma once

[[noreturn]] void check_failed(const char *expr, const char *file, int line);

#define CHECK(expr) ((expr) ? (void)0 : check_failed(#expr, __FILE__, __LINE__))
