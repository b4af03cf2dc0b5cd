#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# scripts/demo.sh headless, as a newcomer runs it, on the binaries of this
# build: twice in a row (the second run must work as the first; it runs in
# English, and the demo finds the windows only by their English titles), then
# once interrupted with Ctrl-C while the client runs. Each run must leave nothing
# behind: no lab namespaces, no lab state, no temporary folder, no process.
#   tests/demo/demo_test.sh BUILD_DIR
set -uo pipefail
BUILD=$1
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
WORK=$(mktemp -d /tmp/corvix-demo-test-XXXXXX)
trap 'rm -rf "$WORK"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# The lab a run used, from its first line "Lab: ... in demoPID-a, ...".
lab_of() { sed -n 's/^Lab: .* in \(demo[0-9]*\)-a,.*/\1/p' "$1" | head -n 1; }

demo_folders() { find /tmp -maxdepth 1 -name 'corvix-demo-??????' | sort; }

# Processes that belong to a demo run: in its lab's namespaces, or naming
# (in their command line or environment) its lab or its temporary folder.
demo_processes() {
    local lab=$1 pid
    for pid in $(pgrep -x 'Corvix|CorvixDHCP|trayer|Xvfb|hostapd|dnsmasq|unshare|bash' || true); do
        [ "$pid" = $$ ] && continue
        if [[ "$(ip netns identify "$pid" 2>/dev/null)" == "$lab-"* ]] ||
            { tr '\0' '\n' <"/proc/$pid/cmdline"; } 2>/dev/null | grep -qE "/$lab/|/tmp/corvix-demo-[^t]" ||
            { tr '\0' '\n' <"/proc/$pid/environ"; } 2>/dev/null | grep -q '^XAUTHORITY=/tmp/corvix-demo-'; then
            echo "$pid"
        fi
    done
}

expect_nothing_left() {
    local lab=$1 what=$2 before=$3 left
    [ -n "$lab" ] || { fail "$what: no lab named in the output"; return; }
    ip netns list 2>/dev/null | grep -qE "^$lab-[ac]( |$)" && fail "$what: namespaces of $lab remain"
    [ -e "/run/corvix-lab/$lab" ] && fail "$what: /run/corvix-lab/$lab remains"
    [ -e "/etc/netns/$lab-c" ] && fail "$what: /etc/netns/$lab-c remains"
    left=$(comm -13 <(echo "$before") <(demo_folders))
    [ -z "$left" ] || fail "$what: temporary folder $left remains"
    left=$(demo_processes "$lab" | tr '\n' ' ')
    [ -z "$left" ] || fail "$what: processes $left remain"
}

# colour_count PNG HEX: pixels of exactly that colour.
colour_count() {
    convert "$1" -format %c histogram:info:- | awk -v hex="#$2" 'toupper($3) == hex { n += $1 } END { print n + 0 }'
}

check_run() {
    local n=$1 lang=${2:-} out log rc before
    out=$WORK/out$n log=$WORK/run$n.log
    before=$(demo_folders)
    BUILD=$BUILD DEMO_OUT=$out DEMO_LANG=$lang "$ROOT/scripts/demo.sh" --headless --no-setup >"$log" 2>&1
    rc=$?
    sed "s/^/  run $n: /" "$log"
    [ "$rc" -eq 0 ] || fail "run $n: exit status $rc"
    grep -qx 'DEMO ONLINE' "$log" || fail "run $n: no online verdict"
    # The exchange in the order the authenticator saw it, up to the Logoff
    # that stopping the client may send.
    local order
    order=$(grep -E '^ *[0-9.]+ ms  ' "$log" | sed '/EAPOL-Logoff/,$d' | grep -oE 'EAPOL-Start|EAP-Response/Identity|EAP-Response/MD5|EAP-Success|port authorized|EAPOL-Key' | tr '\n' ' ')
    [ "$order" = "EAPOL-Start EAP-Response/Identity EAP-Response/MD5 EAP-Success port authorized EAPOL-Key " ] ||
        fail "run $n: exchange [$order]"
    grep -q 'hostapd station 02:c0:00:00:00:01 while online: flags=.*AUTHORIZED' "$log" || fail "run $n: station not authorized"
    grep -qE '^Address obtained: 10\.77\.0\.(1[0-9]|20)/24 on labc0 ' "$log" || fail "run $n: no lab address"
    local ms
    ms=$(sed -n 's/^Start to online: \([0-9]*\) ms.*/\1/p' "$log")
    { [[ "$ms" =~ ^[0-9]+$ ]] && ((ms > 0 && ms < 20000)); } || fail "run $n: start to online [$ms]"

    # The main window and the progress window at their sizes, drawn (not
    # one flat colour); the tray icon with the online picture (green dot),
    # not the authenticating one (orange dot).
    local f size colours
    for f in main-window:334x220:200 progress-window:334x120:50; do
        IFS=: read -r name want_size min_colours <<<"$f"
        [ -s "$out/$name.png" ] || { fail "run $n: no $name.png"; continue; }
        size=$(identify -format '%wx%h' "$out/$name.png")
        colours=$(identify -format '%k' "$out/$name.png")
        [ "$size" = "$want_size" ] || fail "run $n: $name.png is $size"
        ((colours >= min_colours)) || fail "run $n: $name.png has $colours colours"
    done
    if [ -s "$out/tray-icon.png" ]; then
        (($(colour_count "$out/tray-icon.png" 2EA44A) >= 10)) || fail "run $n: tray icon without the online dot"
        (($(colour_count "$out/tray-icon.png" F09A1E) == 0)) || fail "run $n: tray icon still authenticating"
    else
        fail "run $n: no tray-icon.png"
    fi
    expect_nothing_left "$(lab_of "$log")" "run $n" "$before"
}

check_run 1
check_run 2 en_US.UTF-8

# Ctrl-C once the client runs. A shell starts background jobs with SIGINT
# ignored, which the demo could then not catch: perl restores it first.
log=$WORK/interrupted.log
before=$(demo_folders)
BUILD=$BUILD DEMO_OUT=$WORK/out3 perl -e '$SIG{INT} = "DEFAULT"; exec @ARGV or die' \
    "$ROOT/scripts/demo.sh" --headless --no-setup >"$log" 2>&1 &
pid=$!
for _ in $(seq 200); do grep -q '^Starting the installed client' "$log" && break; sleep 0.05; done
sleep 0.3
kill -INT "$pid"
rc=0
for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
if kill -0 "$pid" 2>/dev/null; then
    fail "interrupted run still running 5 s after Ctrl-C"
    kill -KILL "$pid"
fi
wait "$pid" || rc=$?
sed 's/^/  interrupted: /' "$log"
[ "$rc" -eq 130 ] || fail "interrupted run: exit status $rc, not 130"
grep -q 'demo: interrupted' "$log" || fail "interrupted run: no message"
expect_nothing_left "$(lab_of "$log")" "interrupted run" "$before"

if ((failures)); then
    echo "$failures failed"
    exit 1
fi
echo "demo: 3 runs checked"
