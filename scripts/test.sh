#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Installs what the tests need, builds everything with AddressSanitizer and
# UndefinedBehaviorSanitizer (warnings are errors) and runs every test.
# Needs root: the network tests build namespaces and veth pairs.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/packages.sh
if [ "$(id -u)" -ne 0 ]; then
  echo "scripts/test.sh must run as root (network namespaces, raw frames)" >&2
  exit 1
fi
BUILD=${BUILD:-build-asan}
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Debug -DCORVIX_SANITIZE=ON -DCORVIX_WERROR=ON >/dev/null
cmake --build "$BUILD" -j"$(nproc)"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
cd "$BUILD"
# One X server for the whole run: GUI tests need a display, others ignore it.
xvfb-run -a -s "-screen 0 1024x768x24 -noreset" ctest --output-on-failure -j"${CTEST_JOBS:-2}" "$@"
