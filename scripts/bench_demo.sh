#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Benchmark of the headless demo (not a timed test): RUNS runs (default 10)
# of scripts/demo.sh --headless --no-setup on what is built in BUILD (default
# build), each timed from the client's start to its first EAPOL-Key frame at
# the authenticator (it sends that only once online, with the companion DHCP
# program's address in place). Prints each run, then median, minimum and
# maximum in milliseconds. Needs root.
#   scripts/bench_demo.sh [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
RUNS=${1:-10}
[[ "$RUNS" =~ ^[1-9][0-9]*$ ]] || { echo "usage: $0 [RUNS]" >&2; exit 2; }
OUT=$(mktemp -d /tmp/corvix-bench-demo-XXXXXX)
trap 'rm -rf "$OUT"' EXIT
for ((i = 1; i <= RUNS; i++)); do
    DEMO_OUT=$OUT scripts/demo.sh --headless --no-setup >"$OUT/run.log" 2>&1 ||
        { cat "$OUT/run.log" >&2; exit 1; }
    ms=$(sed -n 's/^Start to online: \([0-9]*\) ms.*/\1/p' "$OUT/run.log")
    echo "run $i: start to online $ms ms"
    echo "$ms" >>"$OUT/times"
done
sort -n "$OUT/times" | awk '{ v[NR] = $1 }
    END { med = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
          printf "demo start to online over %d runs: median %.1f ms, min %d ms, max %d ms\n", NR, med, v[1], v[NR] }'
