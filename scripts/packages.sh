#!/usr/bin/env bash
# Installs, non-interactively and only when missing, every Debian package that
# the build, the tests, the lab and the client need. Safe to run again.
set -euo pipefail

PACKAGES=(
  # build
  build-essential cmake pkg-config
  libgtk2.0-dev libglib2.0-dev libpcap-dev libgcrypt20-dev
  # build: the image generator sets the button captions with Pango and Cairo
  libpango1.0-dev libcairo2-dev
  # tests
  googletest libgtest-dev libgmock-dev
  xvfb xauth
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
  # Debian package: build flags, library dependencies (CPack asks file), checks
  dpkg-dev file lintian desktop-file-utils
  # the program's texts and the build's button captions: a font with Chinese glyphs
  fonts-wqy-zenhei
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if ((${#missing[@]})); then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  echo "Installing: ${missing[*]}"
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
fi
