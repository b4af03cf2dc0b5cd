#!/usr/bin/env bash
# The Debian package of this build, checked as a user meets it: its control
# fields and file list, lintian (errors), the desktop entry; then, in a
# private mount namespace whose /usr, /etc and /var take every change, "dpkg
# -i", a log-on of the installed set-user-ID client in the lab as an ordinary
# user, "dpkg -r" (the settings file stays), "dpkg -P" (it goes), and then
# nothing may be left in /usr or /etc (the overlays' upper layers).
#   tests/package/package_test.sh BUILD_DIR
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
CLIENT_MAC=02:c0:00:00:00:01
PASSWORD=pkgtest42

# ---------------------------------------------------------------------------
# Inside: init of a private PID namespace, private mounts, lab client namespace.
if [ "${1:-}" = --inside ]; then
    WORK=$2
    # shellcheck disable=SC1091
    . "$WORK/env"
    # shellcheck source=../lab/settings.sh
    . "$ROOT/tests/lab/settings.sh"
    failures=0
    fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
    mount -t tmpfs -o mode=0755 tmpfs "$WORK/scratch" || exit 2
    # The client's instance lock and DHCP stop sockets, apart from any other run.
    { mkdir -m 0700 /run/corvix 2>/dev/null || [ -d /run/corvix ]; } && mount -t tmpfs -o mode=0700 tmpfs /run/corvix || exit 2
    # Each folder gets an overlay whose upper layer takes every change; the
    # folder as it was stays readable under lower/.
    n=0
    for dir in /usr /etc /var; do
        mkdir -p "$WORK/scratch/$n/upper" "$WORK/scratch/$n/work" "$WORK/scratch/lower$dir"
        mount --bind "$dir" "$WORK/scratch/lower$dir" || exit 2
        mount -t overlay overlay \
            -o "lowerdir=$dir,upperdir=$WORK/scratch/$n/upper,workdir=$WORK/scratch/$n/work" "$dir" || exit 2
        n=$((n + 1))
    done
    # Whatever the machine may hold of the client is not part of the picture.
    rm -rf /usr/share/Corvix2 /usr/bin/Corvix /usr/share/applications/Corvix.desktop \
        /etc/xdg/autostart/Corvix.desktop
    # What the namespace changed in /usr and /etc: every entry of an upper
    # layer but deletions and the folders that were there before. The caches
    # that dpkg's triggers rebuild on any installation do not count.
    changed() {
        local n dir rel type
        for n in 0 1; do
            dir=$([ $n = 0 ] && echo /usr || echo /etc)
            (cd "$WORK/scratch/$n/upper" && find . -mindepth 1 -printf '%P %y\n') | while read -r rel type; do
                [ "$type" = c ] && continue                                  # a deletion
                [ "$type" = d ] && [ -d "$WORK/scratch/lower$dir/$rel" ] && continue
                case $dir/$rel in /usr/share/applications/mimeinfo.cache | /etc/ld.so.cache) continue ;; esac
                echo "$dir/$rel"
            done
        done
    }
    changed >"$WORK/before.txt"

    export DEBIAN_FRONTEND=noninteractive
    dpkg -i "$DEB" >"$WORK/dpkg-i.log" 2>&1 || fail "dpkg -i: $(tail -n 5 "$WORK/dpkg-i.log")"
    [ "$(stat -c '%a %u %g' /usr/share/Corvix2/Corvix 2>&1)" = "4755 0 0" ] ||
        fail "installed client: $(stat -c '%a %u %g' /usr/share/Corvix2/Corvix 2>&1)"
    [ "$(readlink -f /usr/bin/Corvix)" = /usr/share/Corvix2/Corvix ] || fail "/usr/bin/Corvix: $(ls -l /usr/bin/Corvix 2>&1)"
    for f in CorvixDHCP Corvix.desktop Corvixrc readme; do
        [ -s "/usr/share/Corvix2/$f" ] || fail "no /usr/share/Corvix2/$f"
    done
    desktop-file-validate /usr/share/applications/Corvix.desktop || fail "desktop entry"
    exec_line=$(sed -n 's/^Exec=//p' /usr/share/applications/Corvix.desktop)
    [ -x "$exec_line" ] || fail "the desktop entry's Exec ($exec_line) is not an installed program"

    # Log on as an ordinary user, automatically, from the settings file.
    write_client_settings /usr/share/Corvix2/Corvix.conf 1 pkguser "$PASSWORD" labc0
    cp "$WORK/xauth" "$WORK/xauth.client" && chown nobody "$WORK/xauth.client"
    setpriv --reuid=nobody --regid=nogroup --clear-groups env -i DISPLAY="$DISPLAY" \
        XAUTHORITY="$WORK/xauth.client" LANG=C.UTF-8 PATH=/usr/bin:/bin /usr/bin/Corvix \
        >"$WORK/client.log" 2>&1 &
    client=$!
    online=0
    for _ in $(seq 600); do
        if awk -v mac="$CLIENT_MAC" 'index($0, "bytes from " mac) { f = 1; next }
                f && /type=3 / { ok = 1; exit } { f = 0 } END { exit !ok }' "$HOSTAPD_LOG"; then
            online=1
            break
        fi
        kill -0 "$client" 2>/dev/null || break
        sleep 0.05
    done
    ((online)) || fail "the installed client did not go online: $(tail -n 5 "$WORK/client.log")"
    ip -4 -o addr show dev labc0 | grep -q ' 10\.77\.0\.' || fail "no address on labc0"
    # The window and the part that runs as root beside it both end before
    # the package goes (this shell is the namespace's init: every Corvix
    # here is ours).
    kill "$client" 2>/dev/null
    wait "$client" 2>/dev/null
    for i in $(seq 100); do
        mapfile -t pids < <(pgrep -x Corvix)
        ((${#pids[@]})) || break
        ((i == 40)) && kill "${pids[@]}"
        ((i == 80)) && kill -KILL "${pids[@]}"
        sleep 0.05
    done

    # The settings dialog's autostart entry is the client's; removal takes it.
    cp /usr/share/Corvix2/Corvix.desktop /etc/xdg/autostart/Corvix.desktop
    dpkg -r corvix >"$WORK/dpkg-r.log" 2>&1 || fail "dpkg -r: $(tail -n 5 "$WORK/dpkg-r.log")"
    grep -q '^LassUserName = pkguser$' /usr/share/Corvix2/Corvix.conf 2>/dev/null ||
        fail "removal did not keep the settings file with the account"
    for f in /usr/share/Corvix2/Corvix /usr/share/Corvix2/CorvixDHCP /usr/bin/Corvix \
        /usr/share/applications/Corvix.desktop /etc/xdg/autostart/Corvix.desktop /usr/share/doc/corvix; do
        { [ ! -e "$f" ] && [ ! -L "$f" ]; } || fail "removal left $f"
    done
    dpkg -P corvix >"$WORK/dpkg-p.log" 2>&1 || fail "dpkg -P: $(tail -n 5 "$WORK/dpkg-p.log")"
    [ ! -e /usr/share/Corvix2 ] || fail "purge left $(ls -A /usr/share/Corvix2)"
    dpkg-query -W -f='${db:Status-Abbrev}' corvix 2>/dev/null | grep -q '^i' && fail "still installed"
    changed >"$WORK/after.txt"
    if ! cmp -s "$WORK/before.txt" "$WORK/after.txt"; then
        fail "install, remove and purge left changes in /usr or /etc:"
        diff "$WORK/before.txt" "$WORK/after.txt" | head -n 20
    fi
    exit $((failures ? 1 : 0))
fi

# ---------------------------------------------------------------------------
BUILD=$1
WORK=$(mktemp -d /tmp/corvix-pkg-test-XXXXXX)
chmod 711 "$WORK"
LAB=pkg$$
XVFB=""
cleanup() {
    [ -n "$XVFB" ] && kill "$XVFB" 2>/dev/null && wait "$XVFB" 2>/dev/null
    "$ROOT/tests/lab/lab.sh" down "$LAB"
    rm -rf "$WORK"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# The package, made by CPack from this build tree.
cpack -G DEB -B "$WORK/deb" --config "$BUILD/CPackConfig.cmake" >"$WORK/cpack.log" 2>&1 ||
    { cat "$WORK/cpack.log"; exit 1; }
DEB=$(ls "$WORK"/deb/corvix_2.0-1_amd64.deb 2>/dev/null)
[ -n "$DEB" ] || { echo "FAIL: no corvix_2.0-1_amd64.deb"; ls "$WORK/deb"; exit 1; }

depends=$(dpkg-deb -f "$DEB" Depends)
for p in psmisc procps libgtk2.0-0 libpcap0.8 libgcrypt20 libc6; do
    [[ ", $depends," == *", $p"[\ ,]* ]] || fail "Depends lacks $p: $depends"
done
recommends=$(dpkg-deb -f "$DEB" Recommends)
for p in fonts-wqy-zenhei isc-dhcp-client; do
    [[ "$recommends" == *"$p"* ]] || fail "Recommends lacks $p: $recommends"
done
listing=$(dpkg-deb -c "$DEB")
for want in '-rwsr-xr-x root/root .* ./usr/share/Corvix2/Corvix$' \
    '-rwxr-xr-x root/root .* ./usr/share/Corvix2/CorvixDHCP$' \
    ' ./usr/bin/Corvix -> \.\./share/Corvix2/Corvix$' \
    ' ./usr/share/applications/Corvix.desktop$' ' ./usr/share/Corvix2/Corvixrc$' \
    ' ./usr/share/Corvix2/readme$' ' ./usr/share/doc/corvix/copyright$'; do
    grep -qE -- "$want" <<<"$listing" || fail "package lacks [$want]"
done
grep -q 'Corvix.conf' <<<"$listing" && fail "the package ships a settings file"
lintian --fail-on error "$DEB" >"$WORK/lintian.txt" 2>&1 ||
    fail "lintian: $(grep -v '^running' "$WORK/lintian.txt")"

# The lab, a private X server, and the inside part.
"$ROOT/tests/lab/lab.sh" up "$LAB" --password "$PASSWORD" >"$WORK/lab.log" 2>&1 ||
    { cat "$WORK/lab.log"; exit 1; }
cookie=$(mcookie)
: >"$WORK/xauth"
xauth -q -f "$WORK/xauth" add :0 . "$cookie"
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp -auth "$WORK/xauth" 3>"$WORK/display" >/dev/null 2>&1 &
XVFB=$!
for _ in $(seq 100); do [ -s "$WORK/display" ] && break; sleep 0.05; done
display=:$(head -n 1 "$WORK/display")
xauth -q -f "$WORK/xauth" add "$display" . "$cookie"
mkdir -p "$WORK/scratch"
cat >"$WORK/env" <<EOF
DEB=$DEB
DISPLAY=$display
HOSTAPD_LOG=/run/corvix-lab/$LAB/hostapd.log
EOF
ip netns exec "$LAB-c" unshare --pid --fork --mount-proc --mount --propagation private --kill-child -- \
    bash "$ROOT/tests/package/package_test.sh" --inside "$WORK" || failures=$((failures + 1))

if ((failures)); then
    echo "package: $failures failed"
    exit 1
fi
echo "package: built, installed, logged on, removed and purged"
