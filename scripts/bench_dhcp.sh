#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Benchmark of address acquisition: CorvixDHCP, "dhclient -1" and busybox
# "udhcpc -q -n", RUNS runs each (default 20, taken in turns), against
# dnsmasq --no-ping across a veth pair between two network namespaces that
# this script creates and removes. Two times per run, from the program's
# start: until the kernel reports the address on the interface (ip monitor),
# and until the foreground process has exited (the address is checked to
# be there then). "spawn-floor" times /bin/true the same way: what starting
# any program costs here. Prints every run, then lines
# "BENCH <program> to-address|to-exit <median> <min> <max>" (milliseconds).
#
# DNS servers go only to clients that send a client identifier (CorvixDHCP
# and udhcpc), and no host name to anyone: so Debian's dhclient-script,
# which dhclient runs as it is, leaves the machine's /etc and host name
# alone; it also has less to do than the others. udhcpc gets a minimal
# script (address, default route, resolver file). Needs root.
#   scripts/bench_dhcp.sh [RUNS]
# CORVIXDHCP=path uses a built executable; otherwise one is built without
# sanitizers in $BUILD (default build-bench).
set -euo pipefail
cd "$(dirname "$0")/.."
RUNS=${1:-20}
[[ "$RUNS" =~ ^[1-9][0-9]*$ ]] || { echo "usage: $0 [RUNS]" >&2; exit 2; }
[ "$(id -u)" -eq 0 ] || { echo "$0 must run as root (network namespaces)" >&2; exit 1; }
for tool in ip dnsmasq dhclient busybox; do
  command -v "$tool" >/dev/null || { echo "$tool is missing (scripts/packages.sh)" >&2; exit 1; }
done

if [ -z "${CORVIXDHCP:-}" ]; then
  BUILD=${BUILD:-build-bench}
  cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DCORVIX_TESTS=OFF >/dev/null
  cmake --build "$BUILD" -j2 --target CorvixDHCP >/dev/null
  CORVIXDHCP=$PWD/$BUILD/src/corvixdhcp/CorvixDHCP
fi
[ -x "$CORVIXDHCP" ] || { echo "no executable at $CORVIXDHCP" >&2; exit 1; }

TAG=bd$$
SNS=$TAG-s CNS=$TAG-c SIF=${TAG}s CIF=${TAG}c
WORK=$(mktemp -d /tmp/corvixdhcp-bench-XXXXXX)
DNSMASQ_PID=
MONITOR_PID=

# Ended, or a zombie that its parent has yet to reap.
pid_gone() {
  local st
  st=$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null) || return 0
  [ -z "$st" ] || [ "$st" = Z ] || [ "$st" = X ]
}

# Our processes in the client namespace that outlived a run (renewers,
# dhclient's daemon), stopped by PID after checking they are ours.
stop_leftovers() {
  local pid i
  for pid in $(pgrep -x -d ' ' 'CorvixDHCP|dhclient' || true); do
    [ "$(ip netns identify "$pid" 2>/dev/null)" = "$CNS" ] || continue
    kill "$pid" 2>/dev/null || true
    for ((i = 0; i < 200; i++)); do pid_gone "$pid" && break; sleep 0.01; done
  done
}

# shellcheck disable=SC2317 # run by the EXIT trap, which shellcheck does not follow
cleanup() {
  stop_leftovers
  if [ -n "$MONITOR_PID" ]; then kill "$MONITOR_PID" 2>/dev/null || true; fi
  if [ -n "$DNSMASQ_PID" ]; then kill "$DNSMASQ_PID" 2>/dev/null || true; wait "$DNSMASQ_PID" 2>/dev/null || true; fi
  ip netns del "$SNS" 2>/dev/null || true
  ip netns del "$CNS" 2>/dev/null || true
  rm -rf "/etc/netns/$CNS" "$WORK"
}
trap cleanup EXIT

ip netns add "$SNS"
ip netns add "$CNS"
ip link add "$SIF" netns "$SNS" type veth peer name "$CIF" netns "$CNS"
ip -n "$SNS" addr add 10.66.0.1/24 dev "$SIF"
ip -n "$SNS" link set "$SIF" up
ip -n "$CNS" link set "$CIF" up
# ip netns exec puts this file over /etc/resolv.conf for everything it runs.
mkdir -p "/etc/netns/$CNS"
echo "# bench placeholder" >"/etc/netns/$CNS/resolv.conf"

ip netns exec "$SNS" dnsmasq --no-daemon --conf-file=/dev/null --port=0 --no-ping \
  --interface="$SIF" --bind-interfaces --dhcp-range=10.66.0.10,10.66.0.200,255.255.255.0,600 \
  --dhcp-option=option:router,10.66.0.1 --dhcp-match=set:cid,61 \
  --dhcp-option=tag:cid,option:dns-server,10.66.0.53 --dhcp-ignore-names \
  --dhcp-leasefile="$WORK/leases" --pid-file="$WORK/dnsmasq.pid" \
  --log-facility="$WORK/dnsmasq.log" >/dev/null 2>&1 &
DNSMASQ_PID=$!
for _ in $(seq 100); do grep -q "DHCP, IP range" "$WORK/dnsmasq.log" 2>/dev/null && break; sleep 0.05; done
grep -q "DHCP, IP range" "$WORK/dnsmasq.log" || { echo "dnsmasq did not start" >&2; exit 1; }

# udhcpc's hook (busybox ships none on Debian): the work CorvixDHCP does on
# a new lease. dhclient runs with its own Debian script.
cat >"$WORK/udhcpc-hook.sh" <<'EOF'
#!/bin/sh
case "$1" in
bound|renew)
  ip addr add "$ip/$subnet" broadcast "$broadcast" dev "$interface"
  for r in $router; do ip route add default via "$r" dev "$interface"; break; done
  for d in $dns; do echo "nameserver $d"; done >/etc/resolv.conf ;;
esac
exit 0
EOF
chmod +x "$WORK/udhcpc-hook.sh"

# The timed loop runs inside the client namespace, so that entering it is
# no part of any run. Each run prints its start and end (microseconds).
cat >"$WORK/inner.sh" <<'EOF'
set -u
RUNS=$1 CIF=$2 WORK=$3 CORVIXDHCP=$4
reset_if() { ip addr flush dev "$CIF"; ip route flush dev "$CIF" 2>/dev/null || true; }
run_one() {
  local name=$1 start end rc
  reset_if
  rm -f "$WORK/dhclient.leases"
  start=${EPOCHREALTIME/./}
  case $name in
  spawn-floor) /bin/true; rc=0 ;;
  CorvixDHCP) "$CORVIXDHCP" -e "$CIF" >/dev/null 2>&1 </dev/null; rc=$? ;;
  dhclient) dhclient -1 -lf "$WORK/dhclient.leases" -pf "$WORK/dhclient.pid" "$CIF" \
              >/dev/null 2>&1 </dev/null; rc=$? ;;
  udhcpc) busybox udhcpc -q -n -i "$CIF" -s "$WORK/udhcpc-hook.sh" >/dev/null 2>&1 </dev/null; rc=$? ;;
  esac
  end=${EPOCHREALTIME/./}
  if [ "$name" != spawn-floor ] && { [ "$rc" -ne 0 ] || ! ip -4 -o addr show dev "$CIF" | grep -q "inet 10.66.0."; }; then
    echo "FAIL $name (exit $rc, no address)"
  else
    echo "RUN $name $start $end"
  fi
}
for ((i = 1; i <= RUNS; i++)); do
  for name in spawn-floor CorvixDHCP dhclient udhcpc; do
    run_one "$name"
    echo "STOP"  # the outer script stops what the run left behind
    read -r _
  done
done
EOF

# The kernel's own time-stamped report of each address put on the client
# interface: when the address appeared, whenever the program exits.
ip netns exec "$CNS" ip -ts monitor address >"$WORK/monitor.txt" 2>/dev/null &
MONITOR_PID=$!
sleep 0.2

# Runs the inner loop as a coprocess; after each run, stops the run's
# background processes before the next one starts.
coproc INNER { ip netns exec "$CNS" bash "$WORK/inner.sh" "$RUNS" "$CIF" "$WORK" "$CORVIXDHCP"; }
# shellcheck disable=SC2153 # INNER_PID is set by coproc
inner_pid=$INNER_PID
results=$WORK/results.txt
: >"$results"
while IFS= read -r line <&"${INNER[0]}"; do
  case $line in
  STOP) stop_leftovers; echo go >&"${INNER[1]}" ;;
  FAIL*) echo "$line"; echo "$line" >>"$results" ;;
  *) echo "$line" >>"$results" ;;
  esac
done
wait "$inner_pid" || true
sleep 0.2
kill "$MONITOR_PID" 2>/dev/null || true
wait "$MONITOR_PID" 2>/dev/null || true
MONITOR_PID=

# Address events in microseconds since the epoch, from lines that begin
# "[2026-01-31T12:00:00.123456]" (ip prints local time, as mktime reads it).
grep -F " inet 10.66.0." "$WORK/monitor.txt" | grep -v Deleted | grep -F " $CIF " |
  awk '{ t = substr($1, 2, 26); gsub(/[-T:.]/, " ", t); split(t, f, " ")
         printf "%d%06d\n", mktime(f[1] " " f[2] " " f[3] " " f[4] " " f[5] " " f[6]), f[7] }' \
  >"$WORK/events.txt"

# Per run: ms to the address (the first event after its start, if it came
# before its end) and to the exit.
awk 'FNR == NR { ev[++ne] = $1; next }
     $1 == "RUN" {
       addr = "-"
       for (i = 1; i <= ne; i++) if (ev[i] >= $3) { if (ev[i] <= $4) addr = sprintf("%.3f", (ev[i] - $3) / 1000); break }
       printf "RUN %-11s address %8s ms  exit %8.3f ms\n", $2, addr, ($4 - $3) / 1000
     }' "$WORK/events.txt" "$results" | tee "$WORK/times.txt"

status=0
for name in spawn-floor CorvixDHCP dhclient udhcpc; do
  fails=$(grep -c "^FAIL $name " "$results" || true)
  [ "$fails" -eq 0 ] || status=1
  for what in address exit; do
    [ "$name" = spawn-floor ] && [ "$what" = address ] && continue
    awk -v n="$name" -v what="$what" -v fails="$fails" '
      $2 == n { x = (what == "address") ? $4 : $7; if (x != "-") v[++c] = x + 0; else miss++ }
      END {
        if (!c) { printf "BENCH %s to-%s: no timed run (%d failed)\n", n, what, fails; exit }
        for (i = 1; i <= c; i++) for (j = i + 1; j <= c; j++) if (v[j] < v[i]) { t = v[i]; v[i] = v[j]; v[j] = t }
        med = (c % 2) ? v[(c + 1) / 2] : (v[c / 2] + v[c / 2 + 1]) / 2
        printf "BENCH %s to-%s %.3f %.3f %.3f (median min max ms, %d runs, %d failed, %d untimed)\n",
               n, what, med, v[1], v[c], c, fails, miss
      }' "$WORK/times.txt"
  done
done
exit "$status"
