#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Baseline for the log-on benchmark: wpa_supplicant (wired driver, EAP-MD5)
# from its start to its EAP-Success against hostapd in a fresh lab, RUNS runs
# (default 20). Prints every run, then median, minimum and maximum, and a last
# machine-readable line "BASELINE_MS <median> <min> <max>".
# "Start" is wpa_supplicant's first time-stamped log line (-t); the second
# figure is the exchange alone, from its first EAPOL frame to EAP-Success.
# Needs root; the lab is removed on every way out.
set -euo pipefail
cd "$(dirname "$0")/.."
RUNS=${1:-20}
[[ "$RUNS" =~ ^[1-9][0-9]*$ ]] || { echo "usage: $0 [RUNS]" >&2; exit 2; }
[ "$(id -u)" -eq 0 ] || { echo "$0 must run as root (network namespaces)" >&2; exit 1; }
NAME=wpabench$$
trap 'tests/lab/lab.sh down "$NAME"' EXIT
tests/lab/lab.sh up "$NAME" --auth hostapd --no-dhcp >/dev/null
tests/lab/lab.sh bench-wpa "$NAME" "$RUNS"
sort -n "/run/corvix-lab/$NAME/bench.txt" | awk '{v[NR] = $1}
    END { n = NR; med = (n % 2) ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
          printf "BASELINE_MS %.3f %.3f %.3f\n", med, v[1], v[n] }'
