#!/usr/bin/env bash
# Runs clang-tidy with the checks of .clang-tidy (each one explained there)
# over the client's and the companion program's sources; exits non-zero on
# any finding.
#   scripts/tidy.sh [files or path regexes...]   default: everything under src/
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build-tidy}
JOBS=${JOBS:-2}
# Compile commands and the generated picture header the sources include.
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Debug -DCORVIX_TESTS=OFF >/dev/null
cmake --build "$BUILD" --target corvix_images -j"$JOBS" >/dev/null
if (($#)); then
  patterns=("$@")
else
  patterns=("$PWD/src/")
fi
run-clang-tidy -quiet -p "$BUILD" -j "$JOBS" "${patterns[@]}"
