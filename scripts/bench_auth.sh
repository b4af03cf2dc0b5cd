#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Benchmarks of the log-on engine in the lab (not a timed test; needs root,
# Xvfb, hostapd, dnsmasq, dhclient and wpa_supplicant from scripts/packages.sh).
# Builds a release tree and the driver in tests/bench, then reports median,
# minimum and maximum of BENCH_RUNS runs (default 20) for:
#   - log-on request (window to engine) -> EAP-Success against hostapd, beside the wpa_supplicant
#     baseline (its start -> its EAP-Success, same lab, same run)
#   - EAP-Success -> STATUS_ONLINE with dhclient
#   - simulator EAPOL-Key frame -> both answers back at the simulator
#   - CPU of the online worker thread over BENCH_IDLE_S seconds without frames
#
#   BUILD=build-bench BENCH_RUNS=20 BENCH_IDLE_S=60 scripts/bench_auth.sh
set -euo pipefail
cd "$(dirname "$0")/.."
[ "$(id -u)" -eq 0 ] || { echo "bench_auth.sh must run as root (lab namespaces)" >&2; exit 1; }

BUILD=${BUILD:-build-bench}
export BENCH_RUNS=${BENCH_RUNS:-20}
export BENCH_IDLE_S=${BENCH_IDLE_S:-60}
JOBS=${JOBS:-2}
OUT=$(mktemp -d /tmp/corvix-bench-XXXXXX)
trap 'rm -rf "$OUT"' EXIT

cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DCORVIX_SANITIZE=OFF -DCORVIX_WERROR=OFF >/dev/null
cmake --build "$BUILD" -j"$JOBS" --target corvix_window authsim >/dev/null
cmake -S tests/bench -B "$BUILD/bench" -DCMAKE_BUILD_TYPE=Release -DCORVIX_BUILD="$PWD/$BUILD" >/dev/null
cmake --build "$BUILD/bench" -j"$JOBS" >/dev/null

# One driver case in a private PID namespace under its own X server.
run_case() {
    echo "== $1" >&2
    xvfb-run -a unshare --pid --fork --mount-proc --kill-child -- \
        "$BUILD/bench/bench_auth" --gtest_filter="Bench.$1" >"$OUT/$1.log" 2>&1 ||
        { cat "$OUT/$1.log" >&2; echo "bench case $1 failed" >&2; exit 1; }
}

# summarise LOG NAME LABEL UNIT: median, min and max of the RESULT lines NAME.
summarise() {
    grep "^RESULT $2 " "$1" | awk '{print $3}' | sort -g | awk -v label="$3" -v unit="$4" '
        { v[NR] = $1 }
        END { n = NR; if (!n) { print label ": no results"; exit 1 }
              med = (n % 2) ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
              printf "%s over %d runs: median %.3f %s, min %.3f %s, max %.3f %s\n",
                     label, n, med, unit, v[1], unit, v[n], unit }'
}

run_case Logon
run_case KeyAnswers
run_case OnlineCpu

LAB=bwpa$$
echo "== wpa_supplicant baseline" >&2
tests/lab/lab.sh up "$LAB" --auth hostapd --no-dhcp >/dev/null
tests/lab/lab.sh bench-wpa "$LAB" "$BENCH_RUNS" >"$OUT/wpa.log" 2>&1 || { cat "$OUT/wpa.log" >&2; true; }
tests/lab/lab.sh down "$LAB" >/dev/null

echo
summarise "$OUT/Logon.log" start_to_success_ms "Corvix log-on request->EAP-Success" ms
grep '^wpa_supplicant' "$OUT/wpa.log" || echo "wpa_supplicant baseline: no result"
summarise "$OUT/Logon.log" success_to_online_ms "EAP-Success->STATUS_ONLINE (dhclient)" ms
summarise "$OUT/KeyAnswers.log" key_to_answers_ms "Key frame->both answers" ms
grep '^RESULT online_cpu' "$OUT/OnlineCpu.log" | sed 's/^RESULT /online worker /'
