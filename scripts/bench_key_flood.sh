#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Key-frame answer delay while the switch's address floods the client with
# bogus key frames (not a timed test; needs root and the lab of bench_auth.sh).
# Reports p50, p99 and max of BENCH_KEYS real key frames -> both answers back
# at the simulator, with BENCH_FLOOD bogus key frames a second beside them.
#
#   BUILD=build-bench BENCH_KEYS=1000 BENCH_FLOOD=2000 scripts/bench_key_flood.sh
set -euo pipefail
cd "$(dirname "$0")/.."
[ "$(id -u)" -eq 0 ] || { echo "bench_key_flood.sh must run as root (lab namespaces)" >&2; exit 1; }

BUILD=${BUILD:-build-bench}
export BENCH_KEYS=${BENCH_KEYS:-1000}
export BENCH_FLOOD=${BENCH_FLOOD:-2000}
JOBS=${JOBS:-2}
LOG=$(mktemp /tmp/corvix-keyflood-XXXXXX)
trap 'rm -f "$LOG"' EXIT

cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DCORVIX_SANITIZE=OFF -DCORVIX_WERROR=OFF >/dev/null
cmake --build "$BUILD" -j"$JOBS" --target corvix_window authsim >/dev/null
cmake -S tests/bench -B "$BUILD/bench" -DCMAKE_BUILD_TYPE=Release -DCORVIX_BUILD="$PWD/$BUILD" >/dev/null
cmake --build "$BUILD/bench" -j"$JOBS" --target bench_auth >/dev/null

xvfb-run -a unshare --pid --fork --mount-proc --kill-child -- \
    "$BUILD/bench/bench_auth" --gtest_filter=Bench.KeyFlood >"$LOG" 2>&1 ||
    { cat "$LOG" >&2; echo "bench case KeyFlood failed" >&2; exit 1; }

grep '^RESULT flood_key_to_answers_ms ' "$LOG" | awk '{print $3}' | sort -g | awk -v flood="$BENCH_FLOOD" '
    { v[NR] = $1 }
    END { n = NR; if (!n) { print "no results"; exit 1 }
          p50 = v[int((n - 1) * 0.50) + 1]; p99 = v[int((n - 1) * 0.99) + 1]
          printf "Key frame->both answers under %d bogus key frames/s, %d frames: p50 %.3f ms, p99 %.3f ms, max %.3f ms\n",
                 flood, n, p50, p99, v[n] }'
