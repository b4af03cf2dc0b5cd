// SPDX-License-Identifier: GPL-2.0-or-later
// The entry points libFuzzer calls in a fuzz target. The replay build
// force-includes this into each target's source (-include): g++'s
// -Wmissing-declarations wants a declaration before each definition, which
// clang's warning of that name, in the libFuzzer build, never asked for.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
// Optional: a target that defines it gets it called once before any input.
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int *argc, char ***argv);
