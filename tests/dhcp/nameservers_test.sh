#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Where CorvixDHCP puts a lease's name servers, with the real managers: in a
# private mount namespace whose /usr, /etc and /var are overlays and whose
# /run and /dev are its own (a busybox syslogd takes the system log there),
# against dnsmasq across a veth pair:
#   1. no manager: /etc/resolv.conf replaced by a new file; through a link
#      only when it leads under /etc or /run, into a folder only root changes;
#   2. the resolvconf package installed: "resolvconf -a IF.corvix", and
#      "-d" when the client logs off (killall CorvixDHCP);
#   3. the systemd-resolved package with the daemon running (on a private
#      system bus): the interface's servers and domain, reverted at log-off;
#      found by its folder in /run, and by its name on the bus alone.
# The packages are the Debian ones that scripts/packages.sh downloads.
#   tests/dhcp/nameservers_test.sh CORVIXDHCP
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
DEBS=${CORVIX_TEST_DEBS:-/var/cache/corvix-test-debs}
DNS=10.88.0.53
WANT_TEXT=$(printf '# Written by CorvixDHCP\nnameserver %s\nsearch lab.test' "$DNS")

# ---------------------------------------------------------------------------
if [ "${1:-}" = --inside ]; then
    WORK=$2
    # shellcheck disable=SC1091
    . "$WORK/env"
    failures=0
    fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
    S=$WORK/scratch
    mount -t tmpfs -o mode=0755 tmpfs "$S" || exit 2
    n=0
    for dir in /usr /etc /var; do
        mkdir -p "$S/$n/upper" "$S/$n/work"
        mount -t overlay overlay -o "lowerdir=$dir,upperdir=$S/$n/upper,workdir=$S/$n/work" "$dir" || exit 2
        n=$((n + 1))
    done
    mount -t tmpfs -o mode=0755 tmpfs /run || exit 2
    # A /dev of its own, so that the system log is this test's.
    mkdir -p "$S/hostdev" && mount --rbind /dev "$S/hostdev" || exit 2
    mount -t tmpfs -o mode=0755 tmpfs /dev || exit 2
    for node in null zero full random urandom tty; do
        touch "/dev/$node" && mount --bind "$S/hostdev/$node" "/dev/$node" || exit 2
    done
    ln -s /proc/self/fd /dev/fd
    busybox syslogd -n -O "$WORK/syslog" &
    for _ in $(seq 100); do [ -S /dev/log ] && break; sleep 0.05; done
    ip link set lo up

    # run_client: one run of CorvixDHCP; it must put the address on.
    run_client() {
        "$CORVIXDHCP" -e "$IF" >"$WORK/client.out" 2>&1 || fail "CorvixDHCP: $(cat "$WORK/client.out")"
        ip -4 -o addr show dev "$IF" 2>/dev/null | grep -q ' 10\.88\.0\.' || fail "no address on $IF"
    }
    # log_off: what the client does when it logs off; the renewer must end.
    log_off() {
        killall CorvixDHCP 2>/dev/null
        for _ in $(seq 60); do pgrep -x CorvixDHCP >/dev/null || return 0; sleep 0.05; done
        fail "the renewer outlived the log-off"
    }
    # logged TEXT: the system log has a line with TEXT, and CorvixDHCP wrote it.
    logged() {
        for _ in $(seq 20); do grep -qF "CorvixDHCP" "$WORK/syslog" 2>/dev/null &&
            grep -F "CorvixDHCP" "$WORK/syslog" | grep -qF -- "$1" && return 0; sleep 0.05; done
        fail "not in the system log: [$1]: $(tail -n 3 "$WORK/syslog" 2>/dev/null)"
    }
    forget_log() { : >"$WORK/syslog"; }

    # 1. The file.
    rm -f /etc/resolv.conf
    echo "# before" >/etc/resolv.conf
    inode=$(stat -c %i /etc/resolv.conf)
    run_client
    [ "$(cat /etc/resolv.conf)" = "$WANT_TEXT" ] || fail "file: $(cat /etc/resolv.conf)"
    [ "$(stat -c %i /etc/resolv.conf)" != "$inode" ] || fail "file: written in place, not replaced"
    [ "$(stat -c '%a %U' /etc/resolv.conf)" = "644 root" ] || fail "file: $(stat -c '%a %U' /etc/resolv.conf)"
    leftovers=$(find /etc -maxdepth 1 -name '.resolv.conf.*' | wc -l)
    ((leftovers == 0)) || fail "file: a temporary file was left in /etc"
    logged "$IF: name servers go to the resolver file /etc/resolv.conf"
    log_off
    [ "$(cat /etc/resolv.conf)" = "$WANT_TEXT" ] || fail "file: log-off changed it"

    # Through a link into /run: the file it leads to is made.
    mkdir -p /run/cvdnet
    rm -f /etc/resolv.conf && ln -s ../run/cvdnet/resolv.conf /etc/resolv.conf
    forget_log
    run_client
    [ -L /etc/resolv.conf ] || fail "link into /run: the link was replaced"
    [ "$(cat /run/cvdnet/resolv.conf 2>&1)" = "$WANT_TEXT" ] || fail "link into /run: $(cat /run/cvdnet/resolv.conf 2>&1)"
    log_off

    # Nor into a folder of /run that others may change.
    mkdir -m 1777 /run/cvdopen && echo "# open" >/run/cvdopen/resolv.conf
    rm -f /etc/resolv.conf && ln -s /run/cvdopen/resolv.conf /etc/resolv.conf
    run_client
    [ "$(cat /run/cvdopen/resolv.conf)" = "# open" ] || fail "written into a folder anyone may change"
    log_off

    # A link that leads elsewhere is not written through.
    echo "# elsewhere" >"$S/elsewhere.conf"
    rm -f /etc/resolv.conf && ln -s "$S/elsewhere.conf" /etc/resolv.conf
    forget_log
    run_client
    [ "$(cat "$S/elsewhere.conf")" = "# elsewhere" ] || fail "a link outside /etc and /run was written through"
    [ "$(readlink /etc/resolv.conf)" = "$S/elsewhere.conf" ] || fail "the outside link was replaced"
    logged "cannot write /etc/resolv.conf (a link that leads outside /etc and /run)"
    log_off

    # 2. resolvconf, as its package installs and its service enables it.
    rm -f /etc/resolv.conf && echo "# before resolvconf" >/etc/resolv.conf
    export DEBIAN_FRONTEND=noninteractive
    dpkg -i "$DEBS"/resolvconf_*.deb >"$WORK/dpkg-resolvconf.log" 2>&1 ||
        fail "dpkg -i resolvconf: $(tail -n 3 "$WORK/dpkg-resolvconf.log")"
    /sbin/resolvconf --enable-updates || fail "resolvconf --enable-updates"
    forget_log
    run_client
    record=/run/resolvconf/interface/$IF.corvix
    grep -qx "nameserver $DNS" "$record" 2>/dev/null || fail "resolvconf: no record $record"
    grep -qx "nameserver $DNS" /etc/resolv.conf || fail "resolvconf: $(cat /etc/resolv.conf)"
    grep -qx "search lab.test" /etc/resolv.conf || fail "resolvconf: no search line"
    [ -L /etc/resolv.conf ] || fail "resolvconf: its link was replaced"
    logged "$IF: name servers go to resolvconf"
    log_off
    [ ! -e "$record" ] || fail "resolvconf: the record outlived the log-off"
    grep -q "$DNS" /etc/resolv.conf && fail "resolvconf: the server outlived the log-off"
    dpkg -P resolvconf >>"$WORK/dpkg-resolvconf.log" 2>&1 || fail "dpkg -P resolvconf"

    # 3. systemd-resolved, run as its unit would run it.
    dpkg -i "$DEBS/systemd-resolved_${SYSTEMD_VERSION//:/%3a}_"*.deb >"$WORK/dpkg-resolved.log" 2>&1 ||
        fail "dpkg -i systemd-resolved: $(tail -n 3 "$WORK/dpkg-resolved.log")"
    mkdir -p /run/dbus /run/systemd/resolve
    chown systemd-resolve: /run/systemd/resolve
    dbus-daemon --system --fork --print-pid >"$WORK/dbus.pid" || fail "dbus-daemon"
    /lib/systemd/systemd-resolved >"$WORK/resolved.log" 2>&1 &
    resolved=$!
    for _ in $(seq 100); do resolvectl dns "$IF" >/dev/null 2>&1 && break; sleep 0.05; done
    resolvectl dns "$IF" >/dev/null 2>&1 || fail "systemd-resolved did not start: $(cat "$WORK/resolved.log")"
    forget_log
    run_client
    [ "$(resolvectl dns "$IF" 2>&1)" = "Link $IFINDEX ($IF): $DNS" ] || fail "resolved: $(resolvectl dns "$IF" 2>&1)"
    [ "$(resolvectl domain "$IF" 2>&1)" = "Link $IFINDEX ($IF): lab.test" ] || fail "resolved: $(resolvectl domain "$IF" 2>&1)"
    grep -qx "nameserver $DNS" /run/systemd/resolve/resolv.conf || fail "resolved: not in its resolv.conf"
    logged "$IF: name servers go to systemd-resolved (resolvectl)"
    log_off
    [ "$(resolvectl dns "$IF" 2>&1)" = "Link $IFINDEX ($IF):" ] || fail "resolved after log-off: $(resolvectl dns "$IF" 2>&1)"
    [ "$(resolvectl domain "$IF" 2>&1)" = "Link $IFINDEX ($IF):" ] || fail "resolved after log-off: $(resolvectl domain "$IF" 2>&1)"
    # Known by its name on the system bus alone (its folder set aside).
    mv /run/systemd/resolve /run/systemd/resolve.aside
    forget_log
    run_client
    [ "$(resolvectl dns "$IF" 2>&1)" = "Link $IFINDEX ($IF): $DNS" ] || fail "resolved on the bus: $(resolvectl dns "$IF" 2>&1)"
    logged "$IF: name servers go to systemd-resolved (resolvectl)"
    log_off
    [ "$(resolvectl dns "$IF" 2>&1)" = "Link $IFINDEX ($IF):" ] || fail "resolved on the bus after log-off: $(resolvectl dns "$IF" 2>&1)"
    kill "$resolved" "$(cat "$WORK/dbus.pid")" 2>/dev/null
    exit $((failures ? 1 : 0))
fi

# ---------------------------------------------------------------------------
CORVIXDHCP=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
[ "$(id -u)" = 0 ] || { echo "FAIL: needs root (namespaces, mounts, packages)"; exit 1; }
# systemd-resolved only as the installed systemd's own version.
SYSTEMD_VERSION=$(dpkg-query -W -f='${Version}' systemd 2>/dev/null)
for pkg in resolvconf_ "systemd-resolved_${SYSTEMD_VERSION//:/%3a}_"; do
    ls "$DEBS/$pkg"*.deb >/dev/null 2>&1 || { echo "FAIL: no ${pkg%_} package in $DEBS: run scripts/packages.sh"; exit 1; }
done
TAG=cvd$$
WORK=$(mktemp -d /tmp/corvix-ns-test-XXXXXX)
DNSMASQ=""
# shellcheck disable=SC2317 # run by the EXIT trap, which shellcheck does not follow
cleanup() {
    [ -n "$DNSMASQ" ] && kill "$DNSMASQ" 2>/dev/null && wait "$DNSMASQ" 2>/dev/null
    ip netns del "$TAG-s" 2>/dev/null
    ip netns del "$TAG-c" 2>/dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT
if ! { ip netns add "$TAG-s" && ip netns add "$TAG-c" &&
    ip link add "${TAG}s" netns "$TAG-s" type veth peer name "${TAG}c" netns "$TAG-c" &&
    ip -n "$TAG-s" addr add 10.88.0.1/24 dev "${TAG}s" && ip -n "$TAG-s" link set "${TAG}s" up &&
    ip -n "$TAG-c" link set "${TAG}c" up; }; then
    echo "FAIL: cannot build the namespaces"
    exit 1
fi
ip netns exec "$TAG-s" dnsmasq --no-daemon --conf-file=/dev/null --port=0 --no-ping \
    --interface="${TAG}s" --bind-interfaces --dhcp-leasefile="$WORK/leases" \
    --dhcp-range=10.88.0.10,10.88.0.20,255.255.255.0,600 --dhcp-option=option:router,10.88.0.1 \
    --dhcp-option=option:dns-server,$DNS --dhcp-option=option:domain-name,lab.test \
    --log-facility="$WORK/dnsmasq.log" >/dev/null 2>&1 &
DNSMASQ=$!
for _ in $(seq 100); do grep -q "DHCP, IP range" "$WORK/dnsmasq.log" 2>/dev/null && break; sleep 0.05; done
mkdir -p "$WORK/scratch"
cat >"$WORK/env" <<EOF
CORVIXDHCP=$CORVIXDHCP
SYSTEMD_VERSION=$SYSTEMD_VERSION
IF=${TAG}c
IFINDEX=$(ip -n "$TAG-c" -o link show "${TAG}c" 2>/dev/null | cut -d: -f1)
EOF
if ip netns exec "$TAG-c" unshare --pid --fork --mount-proc --mount --propagation private --kill-child -- \
    bash "$ROOT/tests/dhcp/nameservers_test.sh" --inside "$WORK"; then
    echo "nameservers: the file, resolvconf and systemd-resolved ways passed"
    exit 0
fi
echo "nameservers: failed"
exit 1
