#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The cable and the switch in the lab (needs root, Xvfb, hostapd, dnsmasq,
# dhclient and wpa_supplicant from scripts/packages.sh): the switch's port is
# set down for 1 s and up again BENCH_RUNS times (default 10) while online, and
# the time from the carrier's return to the port authorized (EAP-Success
# received) and to the address confirmed is reported, median, minimum and
# maximum, for Corvix (with its companion DHCP program) and for wpa_supplicant
# (wired driver) followed by dhclient, in one run. Then the Start-retry timeline
# of a port that never answers, on the real 30 s period (about 95 s).
#
#   BUILD=build-bench BENCH_RUNS=10 scripts/bench_link.sh [--no-timeline]
set -euo pipefail
cd "$(dirname "$0")/.."
[ "$(id -u)" -eq 0 ] || { echo "bench_link.sh must run as root (lab namespaces)" >&2; exit 1; }

BUILD=${BUILD:-build-bench}
export BENCH_RUNS=${BENCH_RUNS:-10}
JOBS=${JOBS:-2}
OUT=$(mktemp -d /tmp/corvix-benchlink-XXXXXX)
trap 'rm -rf "$OUT"' EXIT
export BENCH_SCRATCH=$OUT

cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DCORVIX_SANITIZE=OFF -DCORVIX_WERROR=OFF >/dev/null
cmake --build "$BUILD" -j"$JOBS" --target corvix_window CorvixDHCP >/dev/null
cmake -S tests/bench -B "$BUILD/bench" -DCMAKE_BUILD_TYPE=Release -DCORVIX_BUILD="$PWD/$BUILD" >/dev/null
cmake --build "$BUILD/bench" -j"$JOBS" --target bench_link >/dev/null

# One driver case in a private PID namespace under its own X server.
run_case() {
    echo "== $1" >&2
    xvfb-run -a unshare --pid --fork --mount-proc --kill-child -- \
        "$BUILD/bench/bench_link" --gtest_filter="BenchLink.$1" >"$OUT/$1.log" 2>&1 ||
        { cat "$OUT/$1.log" >&2; echo "bench case $1 failed" >&2; exit 1; }
}

# summarise LOG NAME LABEL: median, min and max of the RESULT lines NAME; sets MEDIAN.
summarise() {
    local line
    line=$(grep "^RESULT $2 " "$1" | awk '{print $3}' | sort -g | awk -v label="$3" '
        { v[NR] = $1 }
        END { n = NR; if (!n) { print label ": no results"; exit 1 }
              med = (n % 2) ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
              printf "%.3f %s over %d runs: median %.1f ms, min %.1f ms, max %.1f ms\n",
                     med, label, n, med, v[1], v[n] }')
    MEDIAN=${line%% *}
    echo "${line#* }"
}

run_case Corvix
run_case Wpa

echo
summarise "$OUT/Corvix.log" corvix_authorized "Corvix carrier up->authorized"
ca=$MEDIAN
summarise "$OUT/Corvix.log" corvix_address "Corvix carrier up->address"
cd_=$MEDIAN
if grep -q '^RESULT wpa_none_within_ms' "$OUT/Wpa.log"; then
    echo "wpa_supplicant: no new EAP-Success within $(awk '/^RESULT wpa_none_within_ms/ {print $3}' "$OUT/Wpa.log") ms of the carrier's return"
    echo "goal: authorized < 50 ms $(awk -v v="$ca" 'BEGIN {print v < 50 ? "met" : "MISSED"}'), address < 100 ms $(awk -v v="$cd_" 'BEGIN {print v < 100 ? "met" : "MISSED"}')"
else
    summarise "$OUT/Wpa.log" wpa_authorized "wpa_supplicant carrier up->authorized"
    wa=$MEDIAN
    summarise "$OUT/Wpa.log" wpa_address "wpa_supplicant+dhclient carrier up->address"
    wd=$MEDIAN
    awk -v ca="$ca" -v cd="$cd_" -v wa="$wa" -v wd="$wd" 'BEGIN {
        printf "medians: authorized %.1f ms vs %.1f ms (%.0fx), address %.1f ms vs %.1f ms (%.0fx)\n",
               ca, wa, wa / ca, cd, wd, wd / cd
        printf "goal: authorized < 50 ms %s, address < 100 ms %s, 10x faster %s\n",
               ca < 50 ? "met" : "MISSED", cd < 100 ? "met" : "MISSED",
               (wa / ca >= 10 && wd / cd >= 10) ? "met" : "MISSED" }'
fi

if [ "${1:-}" != "--no-timeline" ]; then
    run_case StartTimeline
    echo
    echo "Start-retry timeline (no authenticator, time-out 0), ms after the first Start:"
    grep '^RESULT ' "$OUT/StartTimeline.log" | sed 's/^RESULT /  /'
fi
