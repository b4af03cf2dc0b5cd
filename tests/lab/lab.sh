#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The test lab: an authenticator namespace NAME-a and a client namespace
# NAME-c joined by one veth pair with fixed hardware addresses. In NAME-a it
# runs hostapd (wired driver, internal EAP-MD5 server) or the project's own
# authenticator simulator, and dnsmasq as the DHCP server. Everything it
# starts is recorded by PID in the state folder and stopped by that PID.
#
#   lab.sh up NAME [options]      build the lab and start its servers
#   lab.sh down NAME              stop them and remove the lab (safe twice)
#   lab.sh exec NAME CMD...       run CMD in NAME-c inside a private PID namespace
#   lab.sh exec-a NAME CMD...     run CMD in NAME-a (no private PID namespace)
#   lab.sh sim NAME [ARGS...]     (re)start the simulator with new arguments
#   lab.sh bench-wpa NAME [RUNS]  wpa_supplicant start-to-EAP-Success, in ms
#
# Options of "up":
#   --auth hostapd|sim|none   authenticator to start (default hostapd)
#   --eapol-version 1|2       hostapd's EAPOL version (default 2, its own)
#   --reauth SECONDS          hostapd's eap_reauth_period (default 3600)
#   --password TEXT           EAP-MD5 password for the client's identity
#                             (default "labpass1"); hostapd matches every
#                             identity that starts with the bytes 15 04
#   --test-user NAME --test-password TEXT
#                             an ordinary identity for wpa_supplicant
#                             (default "labuser" / "labpass1")
#   --sim-args "ARGS"         extra arguments for the simulator
#   --authsim PATH            simulator executable (default $AUTHSIM)
#   --no-dhcp                 do not start dnsmasq
#   --lease SECONDS           DHCP lease time (default 600, dnsmasq minimum 120)
# Fixed names: interface "labc0" (MAC 02:c0:00:00:00:01) in NAME-c and
# "laba0" (MAC 02:a0:00:00:00:01) in NAME-a; DHCP range 10.77.0.10-20/24,
# server 10.77.0.1. No DNS option is handed out, so dhclient never rewrites
# a resolv.conf; NAME-c also gets its own /etc/netns/NAME-c/resolv.conf.
set -euo pipefail

CLIENT_IF=labc0
AUTH_IF=laba0
CLIENT_MAC=02:c0:00:00:00:01
AUTH_MAC=02:a0:00:00:00:01
SERVER_IP=10.77.0.1
STATE_ROOT=/run/corvix-lab


die() { echo "lab.sh: $*" >&2; exit 1; }

check_name() {
    [[ "$1" =~ ^[A-Za-z0-9_.-]{1,40}$ ]] || die "bad lab name: '$1'"
}

# wait_for FILE TEXT SECONDS: until FILE holds TEXT.
wait_for() {
    local file=$1 text=$2 i
    for ((i = 0; i < $3 * 50; i++)); do
        grep -qF -- "$text" "$file" 2>/dev/null && return 0
        sleep 0.02
    done
    return 1
}

# A recorded PID is only ours while it still runs the program we started in
# the namespace we started it in; anything else is left alone.
pid_is_ours() {
    local pid=$1 prog=$2 ns=$3 comm
    [ -r "/proc/$pid/comm" ] || return 1
    comm=$(cat "/proc/$pid/comm" 2>/dev/null) || return 1
    [ "$comm" = "$prog" ] || return 1
    [ "$(ip netns identify "$pid" 2>/dev/null)" = "$ns" ]
}

# Dead or a zombie (our parent may be a PID-namespace init that never reaps).
pid_gone() {
    local st
    st=$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null) || return 0
    [ -z "$st" ] || [ "$st" = Z ] || [ "$st" = X ]
}

stop_recorded() {
    local state=$1 f pid prog ns i
    for f in "$state"/*.pid; do
        [ -e "$f" ] || continue
        read -r pid prog ns <"$f" || true
        if [ -n "${pid:-}" ] && pid_is_ours "$pid" "$prog" "$ns"; then
            kill -TERM "$pid" 2>/dev/null || true
            for ((i = 0; i < 150; i++)); do pid_gone "$pid" && break; sleep 0.02; done
            pid_gone "$pid" || kill -KILL "$pid" 2>/dev/null || true
        fi
        rm -f "$f"
    done
}

# start_bg NAME NS LOG PROG ARGS...: run PROG in namespace NS in the
# background and record "pid prog ns" in NAME.pid. The log is emptied here,
# before the background job starts: a wait for the program's ready line must
# never find the line of the program that ran before it (a restarted simulator).
start_bg() {
    local name=$1 ns=$2 log=$3 prog=$4
    shift 4
    : >"$log"
    ip netns exec "$ns" "$prog" "$@" </dev/null >>"$log" 2>&1 &
    echo "$! $(basename "$prog" | cut -c1-15) $ns" >"$STATE/$name.pid"
}

write_hostapd_conf() {
    local hex
    hex=$(printf '%s' "$PASSWORD" | od -An -tx1 | tr -d ' \n')
    local thex
    thex=$(printf '%s' "$TEST_PASSWORD" | od -An -tx1 | tr -d ' \n')
    # The client's identity is 15 04 00 00 00 00 and the account: hostapd's
    # user file cannot hold NUL bytes or hex identities, so a prefix line
    # whose quoted text holds the raw bytes 15 04 matches it. Passwords are
    # written in hex so that any byte may appear in them.
    {
        printf '"%s" MD5 %s\n' "$TEST_USER" "$thex"
        printf '"\x15\x04"* MD5 %s\n' "$hex"
    } >"$STATE/hostapd.eap_user"
    cat >"$STATE/hostapd.conf" <<EOF
interface=$AUTH_IF
driver=wired
logger_stdout=-1
logger_stdout_level=0
ieee8021x=1
eap_server=1
eap_user_file=$STATE/hostapd.eap_user
use_pae_group_addr=0
eapol_version=$EAPOL_VERSION
eap_reauth_period=$REAUTH
ctrl_interface=$STATE/ctrl
EOF
}

start_hostapd() {
    command -v hostapd >/dev/null || die "hostapd is not installed (scripts/packages.sh)"
    write_hostapd_conf
    start_bg hostapd "$NAME-a" "$STATE/hostapd.log" "$(command -v hostapd)" -t -d "$STATE/hostapd.conf"
    wait_for "$STATE/hostapd.log" "AP-ENABLED" 10 || die "hostapd did not start: $(tail -5 "$STATE/hostapd.log")"
}

start_sim() {
    local sim=${AUTHSIM_PATH:-${AUTHSIM:-}}
    if [ -z "$sim" ] || [ ! -x "$sim" ]; then die "simulator not found: give --authsim PATH or AUTHSIM"; fi
    echo "$sim" >"$STATE/authsim.path"
    start_bg authsim "$NAME-a" "$STATE/authsim.log" "$sim" --iface "$AUTH_IF" \
        --password "$PASSWORD" "${SIM_ARGV[@]}"
    wait_for "$STATE/authsim.log" " READY " 10 || die "simulator did not start: $(tail -5 "$STATE/authsim.log")"
}

start_dnsmasq() {
    command -v dnsmasq >/dev/null || die "dnsmasq is not installed (scripts/packages.sh)"
    : >"$STATE/dnsmasq.leases"
    # --port=0: no DNS service; dhcp-option=6 and 15 with no value: no DNS
    # servers and no domain are handed out, so no resolv.conf is rewritten.
    start_bg dnsmasq "$NAME-a" "$STATE/dnsmasq.log" "$(command -v dnsmasq)" \
        --no-daemon --conf-file=/dev/null --port=0 --log-facility=- --log-dhcp \
        --interface="$AUTH_IF" --bind-interfaces --except-interface=lo \
        --dhcp-range=10.77.0.10,10.77.0.20,255.255.255.0,"$LEASE" \
        --dhcp-option=6 --dhcp-option=15 --dhcp-option=3 \
        --dhcp-leasefile="$STATE/dnsmasq.leases" --no-ping \
        --pid-file="$STATE/dnsmasq.pidfile" --dhcp-authoritative
    wait_for "$STATE/dnsmasq.log" "DHCP, IP range" 10 || die "dnsmasq did not start: $(tail -5 "$STATE/dnsmasq.log")"
}

make_links() {
    ip netns add "$NAME-a"
    ip netns add "$NAME-c"
    # Created inside the namespaces, so parallel labs never clash on names.
    ip link add "$CLIENT_IF" netns "$NAME-c" address "$CLIENT_MAC" type veth \
        peer name "$AUTH_IF" netns "$NAME-a" address "$AUTH_MAC"
    ip -n "$NAME-a" link set lo up
    ip -n "$NAME-c" link set lo up
    ip -n "$NAME-a" addr add "$SERVER_IP/24" dev "$AUTH_IF"
    ip -n "$NAME-a" link set "$AUTH_IF" up
    ip -n "$NAME-c" link set "$CLIENT_IF" up
    # No IPv6 chatter on the link: only the lab's frames pass.
    ip netns exec "$NAME-c" sysctl -qw "net.ipv6.conf.$CLIENT_IF.disable_ipv6=1" || true
    ip netns exec "$NAME-a" sysctl -qw "net.ipv6.conf.$AUTH_IF.disable_ipv6=1" || true
    mkdir -p "/etc/netns/$NAME-c"
    echo "# lab $NAME: no name servers" >"/etc/netns/$NAME-c/resolv.conf"
}

write_info() {
    cat >"$STATE/info" <<EOF
name=$NAME
client_ns=$NAME-c
auth_ns=$NAME-a
client_if=$CLIENT_IF
auth_if=$AUTH_IF
client_mac=$CLIENT_MAC
auth_mac=$AUTH_MAC
server_ip=$SERVER_IP
auth=$AUTH
EOF
    cat "$STATE/info"
}

cmd_up() {
    AUTH=hostapd EAPOL_VERSION=2 REAUTH=3600 PASSWORD=labpass1 TEST_USER=labuser
    TEST_PASSWORD=labpass1 SIM_ARGV=() DHCP=1 LEASE=600 AUTHSIM_PATH=""
    while (($#)); do
        case $1 in
        --auth) AUTH=$2; shift ;;
        --eapol-version) EAPOL_VERSION=$2; shift ;;
        --reauth) REAUTH=$2; shift ;;
        --password) PASSWORD=$2; shift ;;
        --test-user) TEST_USER=$2; shift ;;
        --test-password) TEST_PASSWORD=$2; shift ;;
        --sim-args) read -ra SIM_ARGV <<<"$2"; shift ;;
        --authsim) AUTHSIM_PATH=$2; shift ;;
        --no-dhcp) DHCP=0 ;;
        --lease) LEASE=$2; shift ;;
        *) die "unknown option $1" ;;
        esac
        shift
    done
    [[ "$AUTH" =~ ^(hostapd|sim|none)$ ]] || die "--auth must be hostapd, sim or none"
    [[ "$EAPOL_VERSION" =~ ^[12]$ ]] || die "--eapol-version must be 1 or 2"
    [[ "$REAUTH$LEASE" =~ ^[0-9]+$ ]] || die "--reauth and --lease take seconds"
    [[ "$TEST_USER" != *'"'* && "$TEST_USER" != *$'\n'* ]] || die "bad --test-user"
    [ "$(id -u)" -eq 0 ] || die "must run as root (namespaces, veth pairs)"
    [ ! -e "$STATE" ] || die "lab $NAME exists already"
    mkdir -p "$STATE"
    # Anything that fails from here on leaves nothing behind.
    trap 'cmd_down >/dev/null 2>&1' EXIT
    printf 'PASSWORD=%q\nTEST_USER=%q\nTEST_PASSWORD=%q\n' "$PASSWORD" "$TEST_USER" \
        "$TEST_PASSWORD" >"$STATE/params"
    make_links
    case $AUTH in
    hostapd) start_hostapd ;;
    sim) start_sim ;;
    esac
    if ((DHCP)); then start_dnsmasq; fi
    trap - EXIT
    write_info
}

cmd_down() {
    if [ -d "$STATE" ]; then stop_recorded "$STATE"; fi
    ip netns del "$NAME-a" 2>/dev/null || true
    ip netns del "$NAME-c" 2>/dev/null || true
    rm -rf "/etc/netns/$NAME-a" "/etc/netns/$NAME-c" "$STATE"
}

cmd_sim() {
    [ -d "$STATE" ] || die "no lab $NAME"
    local f=$STATE/authsim.pid pid prog ns i
    if [ -e "$f" ]; then
        read -r pid prog ns <"$f" || true
        if pid_is_ours "$pid" "$prog" "$ns"; then
            kill -TERM "$pid"
            for ((i = 0; i < 150; i++)); do pid_gone "$pid" && break; sleep 0.02; done
        fi
        rm -f "$f"
    fi
    AUTHSIM_PATH=$(cat "$STATE/authsim.path" 2>/dev/null || true)
    # shellcheck disable=SC1091
    . "$STATE/params"
    SIM_ARGV=("$@")
    start_sim
}

# Start of wpa_supplicant (its first -t time stamp) to its EAP-Success, for
# RUNS runs against the lab's hostapd; prints each run and the summary.
cmd_bench_wpa() {
    local runs=${1:-20} conf=$STATE/wpa.conf log=$STATE/wpa.log i
    [ -d "$STATE" ] || die "no lab $NAME"
    command -v wpa_supplicant >/dev/null || die "wpa_supplicant is not installed"
    # shellcheck disable=SC1091
    . "$STATE/params"
    cat >"$conf" <<EOF
ap_scan=0
network={
    key_mgmt=IEEE8021X
    eap=MD5
    identity="$TEST_USER"
    password="$TEST_PASSWORD"
    eapol_flags=0
}
EOF
    : >"$STATE/bench.txt"
    for ((i = 1; i <= runs; i++)); do
        run_wpa_once "$conf" "$log" >>"$STATE/bench.txt" || die "run $i: no EAP-Success"
        # wpa_supplicant sends no Logoff when stopped (hostapd would ignore the
        # next Start for about 5 s after one); a short gap keeps runs apart.
        if ((i < runs)); then sleep "${WPA_GAP:-1}"; fi
    done
    awk '{print "run " NR ": start->success " $1 " ms, first EAPOL->success " $2 " ms"}' "$STATE/bench.txt"
    summarise "$STATE/bench.txt"
}

run_wpa_once() {
    local conf=$1 log=$2 pid i
    ip netns exec "$NAME-c" wpa_supplicant -D wired -i "$CLIENT_IF" -c "$conf" -t -dd \
        </dev/null >"$log" 2>&1 &
    pid=$!
    wait_for "$log" "CTRL-EVENT-EAP-SUCCESS" 30 || { kill -TERM "$pid"; wait "$pid" || true; return 1; }
    kill -TERM "$pid"
    wait "$pid" || true
    awk -F': ' '
        /^[0-9]+\.[0-9]+: / { t = $1 + 0; if (!start) start = t }
        /TX EAPOL/ && !first { first = t }
        /CTRL-EVENT-EAP-SUCCESS/ { printf "%.3f %.3f\n", (t - start) * 1000, (t - first) * 1000; exit }
    ' "$log"
}

# Median, minimum and maximum of the first column of a file.
summarise() {
    sort -n "$1" | awk '{v[NR] = $1; w[NR] = $2}
        END { n = NR; if (!n) exit 1
              med = (n % 2) ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
              printf "wpa_supplicant start->EAP-Success over %d runs: median %.3f ms, min %.3f ms, max %.3f ms\n", n, med, v[1], v[n] }'
    sort -n -k2 "$1" | awk '{v[NR] = $2}
        END { n = NR; med = (n % 2) ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
              printf "wpa_supplicant first EAPOL frame->EAP-Success: median %.3f ms, min %.3f ms, max %.3f ms\n", med, v[1], v[n] }'
}

[ $# -ge 2 ] || die "usage: lab.sh up|down|exec|exec-a|sim|bench-wpa NAME ..."
CMD=$1 NAME=$2
shift 2
check_name "$NAME"
STATE=$STATE_ROOT/$NAME
case $CMD in
up) cmd_up "$@" ;;
down) cmd_down ;;
exec)
    [ $# -ge 1 ] || die "exec needs a command"
    exec ip netns exec "$NAME-c" unshare --pid --fork --mount-proc --kill-child -- "$@"
    ;;
exec-a)
    [ $# -ge 1 ] || die "exec-a needs a command"
    exec ip netns exec "$NAME-a" "$@"
    ;;
sim) cmd_sim "$@" ;;
bench-wpa) cmd_bench_wpa "$@" ;;
*) die "unknown command $CMD" ;;
esac
