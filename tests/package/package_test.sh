#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The Debian packages, checked as a user meets them: CPack's of this build,
# and the source package's (debian/), built with dpkg-buildpackage in a fresh
# clone of this repository (what is committed). For each: its control fields
# and file list, lintian, the desktop entry; then, in a private mount
# namespace whose /usr, /etc and /var take every change, "dpkg -i", the
# client's own "-uninstall" and "-install" refused with "dpkg -V" still clean,
# a log-on of the installed set-user-ID client in the lab as an ordinary user,
# "dpkg -r" (the settings file stays), "dpkg -P" (it goes), and then nothing
# may be left in /usr or /etc (the overlays' upper layers).
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
                case $dir/$rel in /usr/share/applications/mimeinfo.cache | /usr/share/icons/hicolor/icon-theme.cache | /etc/ld.so.cache) continue ;; esac
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

    # The client's own installer leaves dpkg's files to dpkg.
    out=$(/usr/bin/Corvix -uninstall 2>&1)
    rc=$?
    ((rc == 255)) || fail "Corvix -uninstall over the package: exit $rc"
    [[ "$out" == *"apt remove corvix"* ]] || fail "Corvix -uninstall over the package said: $out"
    out=$(cd /usr/share/Corvix2 && ./Corvix -install 2>&1)
    rc=$?
    ((rc == 255)) || fail "Corvix -install over the package: exit $rc"
    [[ "$out" == *"apt remove corvix"* ]] || fail "Corvix -install over the package said: $out"
    verify=$(dpkg -V corvix 2>&1)
    [ -z "$verify" ] || fail "dpkg -V after the refusals: $verify"
    desktop-file-validate /usr/share/applications/Corvix.desktop || fail "desktop entry"
    exec_line=$(sed -n 's/^Exec=//p' /usr/share/applications/Corvix.desktop)
    [ -x "$exec_line" ] || fail "the desktop entry's Exec ($exec_line) is not an installed program"

    # Log on as an ordinary user, automatically, from the settings file.
    write_client_settings /usr/share/Corvix2/Corvix.conf 1 pkguser "$PASSWORD" labc0 "$(id -u nobody)"
    # Only what the authenticator logs from here on is this run's.
    HOSTAPD_SEEN=$(wc -l <"$HOSTAPD_LOG")
    cp "$WORK/xauth" "$WORK/xauth.client" && chown nobody "$WORK/xauth.client"
    setpriv --reuid=nobody --regid=nogroup --clear-groups env -i DISPLAY="$DISPLAY" \
        XAUTHORITY="$WORK/xauth.client" LANG=C.UTF-8 PATH=/usr/bin:/bin /usr/bin/Corvix \
        >"$WORK/client.log" 2>&1 &
    client=$!
    online=0
    for _ in $(seq 600); do
        if tail -n +"$((HOSTAPD_SEEN + 1))" "$HOSTAPD_LOG" | awk -v mac="$CLIENT_MAC" 'index($0, "bytes from " mac) { f = 1; next }
                f && /type=3 / { ok = 1; exit } { f = 0 } END { exit !ok }'; then
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

# check_deb DEB LINTIAN_FAIL_ON: the package's fields, files and lintian.
check_deb() {
    local deb=$1 depends recommends listing want p
    depends=$(dpkg-deb -f "$deb" Depends)
    for p in psmisc procps fonts-wqy-zenhei libgtk2.0-0 libpcap0.8 libgcrypt20 libc6; do
        [[ ", $depends," == *", $p"[\ ,]* ]] || fail "$deb: Depends lacks $p: $depends"
    done
    recommends=$(dpkg-deb -f "$deb" Recommends)
    [[ "$recommends" == *isc-dhcp-client* ]] || fail "$deb: Recommends lacks isc-dhcp-client: $recommends"
    [ "$(dpkg-deb -f "$deb" Maintainer)" = "Corvix developers <corvix@localhost>" ] ||
        fail "$deb: Maintainer $(dpkg-deb -f "$deb" Maintainer)"
    listing=$(dpkg-deb -c "$deb")
    for want in '-rwsr-xr-x root/root .* ./usr/share/Corvix2/Corvix$' \
        '-rwxr-xr-x root/root .* ./usr/share/Corvix2/CorvixDHCP$' \
        ' ./usr/bin/Corvix -> \.\./share/Corvix2/Corvix$' \
        ' ./usr/share/applications/Corvix.desktop$' ' ./usr/share/Corvix2/Corvixrc$' \
        ' ./usr/share/Corvix2/readme$' ' ./usr/share/doc/corvix/copyright$' \
        ' ./usr/share/doc/corvix/changelog.Debian.gz$' ' ./usr/share/lintian/overrides/corvix$' \
        ' ./usr/share/man/man1/Corvix.1.gz$'; do
        grep -qE -- "$want" <<<"$listing" || fail "$deb lacks [$want]"
    done
    grep -q 'Corvix.conf' <<<"$listing" && fail "$deb ships a settings file"
    dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./postrm 2>/dev/null | grep -q 'Corvix.conf' ||
        fail "$deb: no postrm that purges the settings file"
    lintian --fail-on "$2" "$deb" >"$WORK/lintian.txt" 2>&1 ||
        fail "lintian $deb: $(grep -v '^running' "$WORK/lintian.txt")"
}

# The package made by CPack from this build tree.
cpack -G DEB -B "$WORK/deb" --config "$BUILD/CPackConfig.cmake" >"$WORK/cpack.log" 2>&1 ||
    { cat "$WORK/cpack.log"; exit 1; }
CPACK_DEB=$(ls "$WORK"/deb/corvix_2.0-1_amd64.deb 2>/dev/null)
[ -n "$CPACK_DEB" ] || { echo "FAIL: no corvix_2.0-1_amd64.deb from CPack"; ls "$WORK/deb"; exit 1; }
check_deb "$CPACK_DEB" error,warning

# The source package, built in a fresh clone as a distribution would.
git clone -q "$ROOT" "$WORK/clone/corvix" >"$WORK/clone.log" 2>&1 || { cat "$WORK/clone.log"; exit 1; }
start=$(date +%s)
(cd "$WORK/clone/corvix" && dpkg-buildpackage -us -uc -b -j"$(nproc)") >"$WORK/dpkg-buildpackage.log" 2>&1 ||
    { echo "FAIL: dpkg-buildpackage in a fresh clone:"; tail -n 30 "$WORK/dpkg-buildpackage.log"; exit 1; }
echo "dpkg-buildpackage in a fresh clone: $(($(date +%s) - start)) s"
SOURCE_DEB=$(ls "$WORK"/clone/corvix_2.0-1_*.deb 2>/dev/null)
[ -n "$SOURCE_DEB" ] || { echo "FAIL: dpkg-buildpackage made no corvix_2.0-1 package"; ls "$WORK/clone"; exit 1; }
# Lintian warns, among others, about hardening flags that are missing.
check_deb "$SOURCE_DEB" error,warning
# Whatever the build leaves in the tree is ignored by git (.gitignore).
leftover=$(git -C "$WORK/clone/corvix" status --porcelain)
[ -z "$leftover" ] || fail "the build left files that git does not ignore: $leftover"

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
for DEB in "$CPACK_DEB" "$SOURCE_DEB"; do
    cat >"$WORK/env" <<EOF
DEB=$DEB
DISPLAY=$display
HOSTAPD_LOG=/run/corvix-lab/$LAB/hostapd.log
EOF
    ip netns exec "$LAB-c" unshare --pid --fork --mount-proc --mount --propagation private --kill-child -- \
        bash "$ROOT/tests/package/package_test.sh" --inside "$WORK" || fail "installed from $DEB"
done

if ((failures)); then
    echo "package: $failures failed"
    exit 1
fi
echo "package: CPack's and the source package's built, installed, logged on, removed and purged"
