#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Installs, non-interactively and only when missing, every Debian package that
# the build, the tests, the lab and the client need. Safe to run again.
set -euo pipefail

PACKAGES=(
  # build
  build-essential cmake pkg-config
  libgtk2.0-dev libx11-dev libglib2.0-dev libpcap-dev libgcrypt20-dev
  # build: the image generator sets the button captions with Pango and Cairo
  libpango1.0-dev libcairo2-dev
  # tests
  googletest libgtest-dev libgmock-dev
  xvfb xauth
  # the accessibility tests walk the windows' accessible objects (GTK_MODULES=gail)
  libgail-common
  # the attack tests: a user's own X settings manager
  xsettingsd
  clang libclang-rt-14-dev
  # the lint cases: scripts/tidy.sh (clang-tidy, run-clang-tidy) and scripts/shellcheck.sh;
  # scripts/bench_timeline.sh clicks through the X server
  clang-tidy shellcheck libxtst-dev
  # lab: namespaces, authenticator, DHCP server and clients, process tools
  iproute2 util-linux hostapd dnsmasq-base isc-dhcp-client busybox wpasupplicant
  psmisc procps
  # demo: a notification area, clicks and screenshots on a private X server
  trayer xdotool imagemagick
  # Debian package: build flags, library dependencies (CPack asks file), checks;
  # the source package (debian/) builds with debhelper
  dpkg-dev file lintian desktop-file-utils debhelper fakeroot git
  # the name-server test: a private system bus for systemd-resolved, and the
  # systemd whose version the downloaded systemd-resolved must match
  dbus-daemon systemd
  # the program's texts and the build's button captions: a font with Chinese
  # glyphs, and the sans face of the English captions
  fonts-wqy-zenhei fonts-dejavu-core
  # the message catalogues (xgettext, msgfmt at build time); the locales the
  # tests run the windows in
  gettext locales
)

# The locales the tests try the texts in (beside C and C.UTF-8, which glibc has).
LOCALES=(en_US.UTF-8 zh_CN.UTF-8 zh_CN.GB18030)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
updated=0
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  updated=1
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
fi

# Generated only when missing, into the system's locale archive (as
# locale-gen does); needs root, as the tests that use them do.
if [ "$(id -u)" -eq 0 ]; then
  have=$(locale -a 2>/dev/null | tr '[:upper:]' '[:lower:]' | sed 's/utf-8/utf8/')
  for l in "${LOCALES[@]}"; do
    name=${l%%.*} charset=${l#*.}
    key=$(tr '[:upper:]' '[:lower:]' <<<"$name.${charset//-/}")
    grep -qx "$key" <<<"$have" || {
      echo "Generating the locale $l"
      localedef -i "$name" -c -f "$charset" -A /usr/share/locale/locale.alias "$l"
    }
  done
fi

# Packages that tests install only inside a private mount namespace (never on
# this machine): downloaded into a cache. systemd-resolved must match the
# installed systemd exactly.
TEST_DEBS_DIR=/var/cache/corvix-test-debs
systemd_version=$(dpkg-query -W -f='${Version}' systemd 2>/dev/null || true)
TEST_DEBS=(resolvconf)
[ -n "$systemd_version" ] && TEST_DEBS+=("systemd-resolved=$systemd_version")
$SUDO mkdir -p "$TEST_DEBS_DIR"
for item in "${TEST_DEBS[@]}"; do
  name=${item%%=*}
  version=${item#*=}
  [ "$version" = "$item" ] && version=""
  # The file name has the version with its epoch's colon written %3a.
  ls "$TEST_DEBS_DIR/${name}_${version//:/%3a}"*.deb >/dev/null 2>&1 && continue
  ((updated)) || { $SUDO apt-get update -qq; updated=1; }
  echo "Downloading for the tests: $item"
  # apt warns that it downloads as root, not as its own user, into this folder.
  (cd "$TEST_DEBS_DIR" && $SUDO apt-get download -qq "$item" 2>&1) | { grep -v "unsandboxed" || true; }
  ls "$TEST_DEBS_DIR/${name}_"*.deb >/dev/null
done
