#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Runs clang-tidy with the checks of .clang-tidy (each one explained there)
# over the client's and the companion program's sources; exits non-zero on
# any finding.
#   scripts/tidy.sh [-p BUILD-DIR] [files or path regexes...]   default: everything under src/
# Without -p it configures build-tidy (or $BUILD) and makes the generated
# picture header there; with -p it takes the compile commands of a build tree
# that is already configured and built (the test build's own ctest case does).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build-tidy}
JOBS=${JOBS:-2}
configure=1
if [ "${1:-}" = "-p" ]; then
  BUILD=${2:?"-p needs a build folder"}
  configure=0
  shift 2
fi
if ((configure)); then
  # Compile commands and the generated picture header the sources include.
  cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Debug -DCORVIX_TESTS=OFF >/dev/null
  cmake --build "$BUILD" --target corvix_images -j"$JOBS" >/dev/null
elif [ ! -f "$BUILD/compile_commands.json" ]; then
  echo "scripts/tidy.sh: no compile_commands.json in $BUILD" >&2
  exit 2
fi
if (($#)); then
  patterns=("$@")
else
  patterns=("$PWD/src/")
fi
if [ -t 1 ]; then
  run-clang-tidy -quiet -p "$BUILD" -j "$JOBS" "${patterns[@]}"
else
  # run-clang-tidy always asks for colours; a log (ctest's) gets plain text.
  run-clang-tidy -quiet -p "$BUILD" -j "$JOBS" "${patterns[@]}" | sed 's/\x1b\[[0-9;]*m//g'
fi
