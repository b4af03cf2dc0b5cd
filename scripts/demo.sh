#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The client's whole job on this machine, against a local authenticator:
# installs the Debian packages it needs, builds (scripts/setup.sh), brings up
# the lab (tests/lab/lab.sh: hostapd with EAP-MD5 and dnsmasq in one network
# namespace, a veth pair to a client namespace), installs the client with its
# own "-install" into a private mount namespace (nothing of the machine's
# /usr, /etc or resolv.conf changes, nothing is sent on its interfaces) and
# starts it, set-user-ID, as an ordinary user in the client namespace.
#
#   scripts/demo.sh               on your display when DISPLAY is usable:
#                                 click 认证 and watch the tray icon go online;
#                                 Ctrl-C (or the tray menu's exit) ends it
#   scripts/demo.sh --headless    on a private X server with a notification
#                                 area: logs on automatically, writes
#                                 screenshots to build/demo/ and a summary
#   scripts/demo.sh --no-setup    use what is built already (BUILD, default
#                                 build) instead of running scripts/setup.sh
#
# Exit status 0 when the client went online, non-zero with the reason
# otherwise. Everything started is stopped by its PID on every way out.
# Needs root (namespaces, mounts). DEMO_OUT=DIR puts the screenshots elsewhere;
# DEMO_LANG=en_US.UTF-8 (or another locale) runs the client in that locale.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD

ACCOUNT=demo
PASSWORD=corvix2demo   # 6..20 letters and digits: the lab's EAP-MD5 password
CLIENT_MAC=02:c0:00:00:00:01
CLIENT_IF=labc0
ONLINE_TIMEOUT=${DEMO_TIMEOUT:-30}

die() { echo "demo: $*" >&2; exit 1; }

# The settings file the client reads: the demo account stored with its
# password remembered, the lab's interface, the companion DHCP program.
# shellcheck source=../tests/lab/settings.sh
. tests/lab/settings.sh
write_settings() {
    write_client_settings /usr/share/Corvix2/Corvix.conf "$1" "$ACCOUNT" "$PASSWORD" "$CLIENT_IF" "$RUN_UID"
}

# ---------------------------------------------------------------------------
# Inside: PID 1 of a private PID namespace, in a private mount namespace, in
# the lab's client network namespace. Everything here dies with it.

# wait_x SECONDS ARGS...: until "xdotool search ARGS" finds a window; prints it.
wait_x() {
    local secs=$1 i id
    shift
    for ((i = 0; i < secs * 20; i++)); do
        id=$(xdotool search "$@" 2>/dev/null | head -n 1) || true
        if [ -n "$id" ]; then echo "$id"; return 0; fi
        sleep 0.05
    done
    return 1
}

# When hostapd received the client's first EAPOL-Key frame (its log's time
# stamp), which the client sends only once it is online; nothing before.
key_frame_time() {
    awk -v mac="$CLIENT_MAC" '
        index($0, "bytes from " mac) { from = 1; t = $1 + 0; next }
        from && /type=3 / { printf "%.6f\n", t; exit }
        { from = 0 }' "$HOSTAPD_LOG"
}

key_frame_seen() { [ -n "$(key_frame_time)" ]; }

overlay() {
    local dir=$1 n=$2
    mkdir -p "$RUN/scratch/$n/upper" "$RUN/scratch/$n/work"
    mount -t overlay overlay \
        -o "lowerdir=$dir,upperdir=$RUN/scratch/$n/upper,workdir=$RUN/scratch/$n/work" "$dir"
}

start_client() {
    setpriv --reuid="$RUN_UID" --regid="$RUN_GID" "${RUN_GROUPS[@]}" \
        env -i DISPLAY="$DISPLAY" XAUTHORITY="$CLIENT_XAUTH" LANG="$CLIENT_LANG" \
        HOME="$RUN_HOME" PATH=/usr/bin:/bin /usr/bin/Corvix >>"$RUN/client.log" 2>&1 &
    CLIENT_PID=$!
}

# Ends the client and whatever of it runs as root beside the window: the next
# start must not find one of them and refuse as a second instance. This shell
# is the namespace's init, so every Corvix it sees is the demo's.
stop_client() {
    local i pids
    kill "$CLIENT_PID" 2>/dev/null || true
    wait "$CLIENT_PID" 2>/dev/null || true
    for ((i = 0; i < 100; i++)); do
        mapfile -t pids < <(pgrep -x Corvix || true)
        ((${#pids[@]})) || return 0
        ((i == 40)) && kill "${pids[@]}" 2>/dev/null
        ((i == 80)) && kill -KILL "${pids[@]}" 2>/dev/null
        sleep 0.05
    done
}

inside() {
    RUN=$1
    # As the namespace's init this shell ends only through a handled signal.
    trap 'exit 143' TERM
    # shellcheck disable=SC1091
    . "$RUN/env"
    if [ "$RUN_USER_GROUPS" = init ]; then RUN_GROUPS=(--init-groups); else RUN_GROUPS=(--clear-groups); fi
    export DISPLAY XAUTHORITY=$RUN/xauth

    # The folders the installer writes, as private copies without any
    # installation the machine may hold.
    mount -t tmpfs -o mode=0755 tmpfs "$RUN/scratch"
    # The client's instance lock and DHCP stop sockets, apart from any other run.
    mkdir -m 0700 /run/corvix 2>/dev/null || [ -d /run/corvix ]
    mount -t tmpfs -o mode=0700 tmpfs /run/corvix
    local n=0 dir
    for dir in /usr/share /usr/bin /usr/lib /etc/xdg; do overlay "$dir" $((n++)); done
    rm -rf /usr/share/Corvix2 /usr/bin/Corvix /usr/share/applications/Corvix.desktop \
        /etc/xdg/autostart/Corvix.desktop
    mkdir -p /usr/share/applications /etc/xdg/autostart
    (cd "$RUN/pkg" && ./Corvix -install) >"$RUN/install.log" 2>&1 ||
        die "the installer failed: $(cat "$RUN/install.log")"
    { [ -u /usr/share/Corvix2/Corvix ] && [ -L /usr/bin/Corvix ]; } ||
        die "the installer left no set-user-ID client: $(cat "$RUN/install.log")"
    # The message catalogues and the icon, where the package installs them.
    mkdir -p /usr/share/locale /usr/share/icons/hicolor
    cp -r "$RUN/pkg/locale/." /usr/share/locale/
    cp -r "$RUN/pkg/icons/hicolor/." /usr/share/icons/hicolor/

    if [ "$MODE" = display ]; then
        write_settings 0
        start_client
        echo "started $EPOCHREALTIME" >"$RUN/started"
        wait "$CLIENT_PID" || true
        return 0
    fi

    # 1. The main window as the user first sees it (no automatic log-on).
    write_settings 0
    start_client
    local win dialog panel
    win=$(wait_x 20 --onlyvisible --name "^$MAIN_TITLE\$") ||
        die "the main window did not appear: $(tail -n 5 "$RUN/client.log")"
    sleep 0.5   # drawn
    import -strip -window "$win" "$OUT/main-window.png"
    stop_client

    # 2. Automatic log-on, from the settings file.
    write_settings 1
    echo "started $EPOCHREALTIME" >"$RUN/started"
    start_client
    local i
    for ((i = 0; i < ONLINE_TIMEOUT * 20; i++)); do
        key_frame_seen && break
        kill -0 "$CLIENT_PID" 2>/dev/null || die "the client ended: $(tail -n 5 "$RUN/client.log")"
        if grep -q CTRL-EVENT-EAP-FAILURE "$HOSTAPD_LOG"; then
            sleep 0.5
            import -window root "$OUT/failure.png" || true
            die "the authenticator refused the log-on (EAP-Failure); the screen is in $OUT/failure.png"
        fi
        sleep 0.05
    done
    key_frame_seen || die "the client did not go online within ${ONLINE_TIMEOUT}s ($(tail -n 3 "$RUN/client.log"))"

    # 3. A click on the tray icon opens the progress window, as for a user.
    panel=$(wait_x 10 --onlyvisible --name '^panel$') || die "no notification area"
    # shellcheck disable=SC2034 # the eval below sets all six; local keeps them here
    local X Y WIDTH HEIGHT WINDOW SCREEN
    eval "$(xdotool getwindowgeometry --shell "$panel")"
    xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click 1 mousemove 0 0
    dialog=$(wait_x 10 --onlyvisible --name "^$NOTICE_TITLE\$") ||
        die "the progress window did not open: $(tail -n 5 "$RUN/client.log")"
    sleep 0.5
    import -strip -window "$dialog" "$OUT/progress-window.png"
    import -strip -window "$panel" "$OUT/tray-icon.png"
    import -strip -window root "$OUT/desktop.png"
    # The authenticator's view of the station while the client is online, and
    # the address, which the client's end gives back.
    hostapd_cli -p "$HOSTAPD_CTRL" -i laba0 sta "$CLIENT_MAC" >"$RUN/station" 2>&1 || true
    ip -4 -o addr show dev "$CLIENT_IF" | awk '{print $4; exit}' >"$RUN/address"
    stop_client
}

if [ "${1:-}" = --inside ]; then
    inside "$2"
    exit 0
fi

# ---------------------------------------------------------------------------
# Outside: the lab, the X server and the summary.

MODE=auto SETUP=1
for arg in "$@"; do
    case $arg in
    --headless) MODE=headless ;;
    --no-setup) SETUP=0 ;;
    -h | --help) awk 'NR > 1 && !/^#/ { exit } NR > 1' "$0"; exit 0 ;;
    *) die "unknown argument $arg (see --help)" ;;
    esac
done
[ "$(id -u)" -eq 0 ] || die "run me as root (sudo scripts/demo.sh): the lab needs network namespaces"

BUILD=${BUILD:-build}
OUT=${DEMO_OUT:-$ROOT/build/demo}
if ((SETUP)); then scripts/setup.sh; fi
for f in "$BUILD/Corvix" "$BUILD/src/corvixdhcp/CorvixDHCP"; do
    [ -x "$f" ] || die "$f is not built (scripts/setup.sh)"
done
for tool in ip hostapd dnsmasq setpriv Xvfb xauth mcookie trayer xdotool import; do
    command -v "$tool" >/dev/null || die "$tool is missing (scripts/packages.sh installs it)"
done

LAB=demo$$
RUN=$(mktemp -d /tmp/corvix-demo-XXXXXX)
chmod 711 "$RUN"
LAB_UP=0 XVFB_PID="" TRAY_PID="" INSIDE_PID=""

cleanup() {
    local rc=$?
    trap - EXIT INT TERM
    # unshare ignores SIGTERM while it waits for its child, the init of the
    # private PID namespace; that init's end takes every process inside.
    if [ -n "$INSIDE_PID" ]; then
        local init i
        # shellcheck disable=SC2013 # the file is one line of blank-separated pids
        for init in $(cat "/proc/$INSIDE_PID/task/$INSIDE_PID/children" 2>/dev/null); do
            kill -TERM "$init" 2>/dev/null || true
        done
        for ((i = 0; i < 40; i++)); do kill -0 "$INSIDE_PID" 2>/dev/null || break; sleep 0.05; done
        # shellcheck disable=SC2013 # the file is one line of blank-separated pids
        for init in $(cat "/proc/$INSIDE_PID/task/$INSIDE_PID/children" 2>/dev/null); do
            kill -KILL "$init" 2>/dev/null || true
        done
        wait "$INSIDE_PID" 2>/dev/null || true
    fi
    if [ -n "$TRAY_PID" ]; then kill "$TRAY_PID" 2>/dev/null || true; wait "$TRAY_PID" 2>/dev/null || true; fi
    if [ -n "$XVFB_PID" ]; then kill "$XVFB_PID" 2>/dev/null || true; wait "$XVFB_PID" 2>/dev/null || true; fi
    if ((LAB_UP)); then tests/lab/lab.sh down "$LAB" || true; fi
    rm -rf "$RUN"
    exit "$rc"
}
trap cleanup EXIT
trap 'echo "demo: interrupted" >&2; exit 130' INT
trap 'exit 143' TERM

# Who the client runs as: the user behind sudo on their display, nobody on
# the private X server.
RUN_USER=nobody
if [ "$MODE" = auto ] && [ -n "${DISPLAY:-}" ] && [ -n "${SUDO_USER:-}" ] && [ "$SUDO_USER" != root ]; then
    RUN_USER=$SUDO_USER
fi

# Is the caller's display usable from the client namespace (a local socket)?
display_usable() {
    local xa=${XAUTHORITY:-}
    if [ -z "$xa" ] && [ "$RUN_USER" != nobody ]; then xa=$(getent passwd "$RUN_USER" | cut -d: -f6)/.Xauthority; fi
    [ -n "$xa" ] || xa=${HOME:-/root}/.Xauthority
    USER_XAUTH=$xa
    ip netns exec "$LAB-c" env DISPLAY="$DISPLAY" XAUTHORITY="$xa" xdotool getmouselocation >/dev/null 2>&1
}

echo "Lab: hostapd (EAP-MD5) and dnsmasq in $LAB-a, the client in $LAB-c"
tests/lab/lab.sh up "$LAB" --password "$PASSWORD" >"$RUN/lab.log" 2>&1 ||
    die "the lab did not come up: $(cat "$RUN/lab.log")"
LAB_UP=1
STATE=/run/corvix-lab/$LAB
HOSTAPD_LOG=$STATE/hostapd.log

if [ "$MODE" = auto ]; then
    if [ -n "${DISPLAY:-}" ] && display_usable; then MODE=display
    else
        [ -z "${DISPLAY:-}" ] || echo "DISPLAY=$DISPLAY cannot be reached from the lab: going headless"
        MODE=headless
        RUN_USER=nobody
    fi
fi

RUN_UID=$(id -u "$RUN_USER") RUN_GID=$(id -g "$RUN_USER")
RUN_HOME=$(getent passwd "$RUN_USER" | cut -d: -f6)
RUN_USER_GROUPS=clear
[ "$RUN_USER" = nobody ] || RUN_USER_GROUPS=init
CLIENT_LANG=C.UTF-8
case ${LANG:-} in *.UTF-8 | *.utf8) CLIENT_LANG=$LANG ;; esac
CLIENT_LANG=${DEMO_LANG:-$CLIENT_LANG}
# The windows' titles the screenshots look for, in the client's language.
case $CLIENT_LANG in
en*) MAIN_TITLE="Corvix Authentication Client" NOTICE_TITLE=Notice ;;
*) MAIN_TITLE="Corvix认证客户端" NOTICE_TITLE="提示" ;;
esac

mkdir -p "$RUN/pkg" "$RUN/scratch"
cp "$BUILD/Corvix" "$BUILD/src/corvixdhcp/CorvixDHCP" data/Corvix.desktop data/Corvixrc data/readme "$RUN/pkg/"
cp -r "$BUILD/locale" "$RUN/pkg/locale"
mkdir -p "$RUN/pkg/icons"
cp -r "$BUILD/data/icons/hicolor" "$RUN/pkg/icons/"

if [ "$MODE" = headless ]; then
    mkdir -p "$OUT"
    rm -f "$OUT"/*.png
    # A private X server (first free display, cookie authentication) and a
    # notification area for the tray icon.
    cookie=$(mcookie)
    : >"$RUN/xauth"
    xauth -q -f "$RUN/xauth" add :0 . "$cookie"
    Xvfb -displayfd 3 -screen 0 560x360x24 -wr -nolisten tcp -auth "$RUN/xauth" \
        3>"$RUN/display" >"$RUN/xvfb.log" 2>&1 &
    XVFB_PID=$!
    for _ in $(seq 100); do [ -s "$RUN/display" ] && break; sleep 0.05; done
    [ -s "$RUN/display" ] || die "Xvfb did not start: $(cat "$RUN/xvfb.log")"
    DISPLAY=:$(head -n 1 "$RUN/display")
    xauth -q -f "$RUN/xauth" add "$DISPLAY" . "$cookie"
    DISPLAY=$DISPLAY XAUTHORITY=$RUN/xauth trayer --edge top --align right --widthtype request \
        --height 32 --SetDockType false --transparent false >"$RUN/trayer.log" 2>&1 &
    TRAY_PID=$!
    export DISPLAY
else
    if [ -r "$USER_XAUTH" ]; then cp "$USER_XAUTH" "$RUN/xauth"; else : >"$RUN/xauth"; fi
fi
# The client's own copy of the cookie: it runs as another user.
CLIENT_XAUTH=$RUN/xauth.client
cp "$RUN/xauth" "$CLIENT_XAUTH"
chown "$RUN_UID:$RUN_GID" "$CLIENT_XAUTH"

cat >"$RUN/env" <<EOF
MODE=$MODE
OUT=$(printf '%q' "$OUT")
DISPLAY=$DISPLAY
CLIENT_XAUTH=$(printf '%q' "$CLIENT_XAUTH")
CLIENT_LANG=$CLIENT_LANG
MAIN_TITLE=$(printf '%q' "$MAIN_TITLE")
NOTICE_TITLE=$(printf '%q' "$NOTICE_TITLE")
RUN_UID=$RUN_UID
RUN_GID=$RUN_GID
RUN_HOME=$(printf '%q' "$RUN_HOME")
RUN_USER_GROUPS=$RUN_USER_GROUPS
HOSTAPD_LOG=$HOSTAPD_LOG
HOSTAPD_CTRL=$STATE/ctrl
EOF

if [ "$MODE" = display ]; then
    echo "Starting the installed client as $RUN_USER on $DISPLAY."
    echo "  account: $ACCOUNT   password: $PASSWORD   interface: $CLIENT_IF"
    echo "  Click 认证; the tray icon turns blue and green when online. Ctrl-C here ends the demo."
else
    echo "Starting the installed client as $RUN_USER on a private X server ($DISPLAY), automatic log-on"
    echo "  account: $ACCOUNT   password: $PASSWORD   interface: $CLIENT_IF"
fi
ip netns exec "$LAB-c" unshare --pid --fork --mount-proc --mount --propagation private --kill-child -- \
    bash "$ROOT/scripts/demo.sh" --inside "$RUN" &
INSIDE_PID=$!

if [ "$MODE" = display ]; then
    announced=0
    while kill -0 "$INSIDE_PID" 2>/dev/null; do
        if ((!announced)) && key_frame_seen; then
            echo "online: the authenticator authorized $CLIENT_MAC and received the client's EAPOL-Key frame"
            announced=1
        fi
        sleep 0.2
    done
    wait "$INSIDE_PID" || true
    INSIDE_PID=""
    ((announced)) || die "the client ended before it went online"
    exit 0
fi

rc=0
wait "$INSIDE_PID" || rc=$?
INSIDE_PID=""
((rc == 0)) || exit "$rc"   # the reason is printed already

# ---------------------------------------------------------------------------
# Summary, from what the authenticator and the DHCP server saw.
read -r _ start <"$RUN/started"
online=$(key_frame_time)
address=$(cat "$RUN/address" 2>/dev/null)
[ -n "$address" ] || die "no address on $CLIENT_IF"
sta=$(cat "$RUN/station")
grep -q '^flags=.*AUTHORIZED' <<<"$sta" || die "hostapd had not authorized $CLIENT_MAC: $(head -n 3 <<<"$sta")"

echo
echo "== The exchange as the authenticator (hostapd) saw it, ms after the client started"
awk -v start="$start" -v mac="$CLIENT_MAC" '
    function at(t, what, way) {
        if (way != "") what = sprintf("%-22s %s", what, way)
        printf "%8.1f ms  %s\n", (t - start) * 1000, what
    }
    { t = $1 + 0 }
    index($0, "received EAPOL-Start from STA") { at(t, "EAPOL-Start", "client -> authenticator") }
    /Sending EAP Packet \(identifier/ && !success { at(t, "EAP-Request", "authenticator -> client") }
    /from STA: EAP Response-Identity/ { at(t, "EAP-Response/Identity", "client -> authenticator") }
    /from STA: EAP Response-MD5/ { at(t, "EAP-Response/MD5", "client -> authenticator") }
    /CTRL-EVENT-EAP-SUCCESS/ { success = 1; at(t, "EAP-Success", "authenticator -> client") }
    /IEEE 802.1X: authorizing port/ { at(t, "port authorized", "") }
    index($0, "bytes from " mac) { from = 1; ft = t; next }
    from && /type=3 / { at(ft, "EAPOL-Key", "client -> authenticator (sent once online)") }
    success && index($0, "received EAPOL-Logoff from STA") { at(t, "EAPOL-Logoff", "client -> authenticator (the demo ended the client)") }
    { from = 0 }' "$HOSTAPD_LOG"
echo "hostapd station $CLIENT_MAC while online: $(grep -E '^flags=' <<<"$sta" | head -n 1)"
ack=$(grep -m1 'DHCPACK' "$STATE/dnsmasq.log" | sed 's/^.*DHCPACK/DHCPACK/; s/ *$//' || true)
echo
echo "Address obtained: $address on $CLIENT_IF (dnsmasq: ${ack:-no DHCPACK logged})"
awk -v a="$start" -v b="$online" 'BEGIN {
    printf "Start to online: %.0f ms (client start to its first EAPOL-Key frame at the authenticator)\n", (b - a) * 1000 }'
echo "Screenshots:"
for f in main-window progress-window tray-icon desktop; do
    [ -s "$OUT/$f.png" ] || die "screenshot $f.png is missing"
    echo "  $OUT/$f.png ($(identify -format '%wx%h' "$OUT/$f.png"))"
done
echo "DEMO ONLINE"
