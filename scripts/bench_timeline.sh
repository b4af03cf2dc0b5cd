#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Where the time goes (not a timed test; needs root, Xvfb, hostapd and dnsmasq
# from scripts/packages.sh). Builds a release tree and the drivers in
# tests/bench, then reports median, minimum and maximum over BENCH_RUNS runs
# (default 7) of:
#   - one log-on with the companion DHCP program against hostapd, from the
#     click of the main window's log-on button: worker start, Start on the
#     wire, Success on the wire, STATUS_GETTING_IP, first DHCP frame on the
#     wire, address on the interface, STATUS_ONLINE;
#   - the same log-on with the installed client itself (window and engine
#     processes), its log-on button pressed and released through the X
#     server (XTest): Start, Success, first DHCP frame and address, from the
#     release;
#   - start-up of the client and of a bare GTK 2 window started the same way
#     (exec -> first top-level window mapped), and the client's settings file
#     opened, after the exec.
#
#   BUILD=build-bench BENCH_RUNS=7 [BENCH_LOGS=dir] scripts/bench_timeline.sh
# BENCH_LOGS keeps the drivers' logs, which hold further marks (the worker's
# reports as they pass from the engine to the window) for a closer look.
set -euo pipefail
cd "$(dirname "$0")/.."
[ "$(id -u)" -eq 0 ] || { echo "bench_timeline.sh must run as root (lab namespaces)" >&2; exit 1; }

BUILD=${BUILD:-build-bench}
export BENCH_RUNS=${BENCH_RUNS:-7}
JOBS=${JOBS:-2}
OUT=$(mktemp -d /tmp/corvix-timeline-XXXXXX)
trap 'rm -rf "$OUT"' EXIT

cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DCORVIX_SANITIZE=OFF -DCORVIX_TSAN=OFF \
  -DCORVIX_WERROR=OFF >/dev/null
cmake --build "$BUILD" -j"$JOBS" --target corvix_window Corvix CorvixDHCP authsim >/dev/null
cmake -S tests/bench -B "$BUILD/bench" -DCMAKE_BUILD_TYPE=Release -DCORVIX_BUILD="$PWD/$BUILD" >/dev/null
cmake --build "$BUILD/bench" -j"$JOBS" --target bench_timeline bare_window >/dev/null

# One driver case in a private PID namespace under its own X server.
run_case() {
    echo "== $1" >&2
    xvfb-run -a -s "-screen 0 1024x768x24" unshare --pid --fork --mount-proc --kill-child -- \
        "$BUILD/bench/bench_timeline" --gtest_filter="Timeline.$1" >"$OUT/$1.log" 2>&1 ||
        { cat "$OUT/$1.log" >&2; echo "bench case $1 failed" >&2; exit 1; }
}

# summarise LOG MARK LABEL: median, min and max of the MARK lines named MARK.
summarise() {
    grep "^MARK [0-9]* $2 " "$1" | awk '{print $4}' | sort -g | awk -v label="$3" '
        { v[NR] = $1 }
        END { n = NR; if (!n) { printf "%-40s no results\n", label; exit }
              med = (n % 2) ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
              printf "%-40s median %8.3f ms  min %8.3f  max %8.3f  (%d runs)\n",
                     label, med, v[1], v[n], n }'
}

run_case Logon
run_case ClientLogon
run_case Startup
[ -z "${BENCH_LOGS:-}" ] || cp "$OUT"/*.log "$BENCH_LOGS"/

echo
echo "Log-on, ms after the click of the log-on button:"
summarise "$OUT/Logon.log" worker "  worker start (STATUS_AUTHENTICATING)"
summarise "$OUT/Logon.log" start_sent "  EAPOL-Start on the wire"
summarise "$OUT/Logon.log" success "  EAP-Success on the wire"
summarise "$OUT/Logon.log" getting_ip "  STATUS_GETTING_IP"
summarise "$OUT/Logon.log" dhcp_first_frame "  first DHCP frame on the wire"
summarise "$OUT/Logon.log" address "  address on the interface"
summarise "$OUT/Logon.log" online "  STATUS_ONLINE"
echo "Log-on of the installed client, ms after the release of its log-on button:"
summarise "$OUT/ClientLogon.log" start_sent "  EAPOL-Start on the wire"
summarise "$OUT/ClientLogon.log" success "  EAP-Success on the wire"
summarise "$OUT/ClientLogon.log" dhcp_first_frame "  first DHCP frame on the wire"
summarise "$OUT/ClientLogon.log" address "  address on the interface"
echo "Start-up, ms after the exec:"
summarise "$OUT/Startup.log" client_settings_opened "  client: settings file opened"
summarise "$OUT/Startup.log" client_mapped "  client: main window mapped"
summarise "$OUT/Startup.log" bare_mapped "  bare GTK 2 window mapped"
paste <(grep -E '^MARK [0-9]+ client_mapped ' "$OUT/Startup.log" | awk '{print $4}') \
      <(grep -E '^MARK [0-9]+ bare_mapped ' "$OUT/Startup.log" | awk '{print $4}') |
    awk '{print $1 - $2}' | sort -g | awk '
        { v[NR] = $1 }
        END { n = NR; if (!n) exit
              med = (n % 2) ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
              printf "%-40s median %8.3f ms  min %8.3f  max %8.3f  (%d pairs)\n",
                     "  client above the bare window", med, v[1], v[n], n }'
