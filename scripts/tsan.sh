#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Builds everything with ThreadSanitizer (CORVIX_TSAN, warnings are errors)
# into build-tsan and runs the threaded tests: the replay tier (the attempt
# cycles on a thread of their own), the GUI tier (workers and the main loop)
# and the network tier (real workers against the lab). Needs root, like
# scripts/test.sh. Extra arguments go to ctest.
set -euo pipefail
cd "$(dirname "$0")/.."
[ "$(id -u)" -eq 0 ] || { echo "scripts/tsan.sh must run as root (network namespaces)" >&2; exit 1; }
BUILD=${BUILD:-build-tsan}
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Debug -DCORVIX_TSAN=ON -DCORVIX_WERROR=ON >/dev/null
cmake --build "$BUILD" -j"${JOBS:-2}"
cd "$BUILD"
xvfb-run -a -s "-screen 0 1024x768x24 -noreset" \
  ctest --output-on-failure -j"${CTEST_JOBS:-2}" -L 'replay|gui|netns' "$@"
