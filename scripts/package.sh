#!/usr/bin/env bash
# Builds the client (scripts/setup.sh) and gathers what the installer copies
# into build/package: the client, the companion DHCP program, the desktop
# entry, the resource file and the read-me. Install from there as root:
#   cd build/package && ./Corvix -install
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
pkg=build/package
rm -rf "$pkg"
mkdir -p "$pkg"
cp build/Corvix build/src/corvixdhcp/CorvixDHCP "$pkg/"
cp data/Corvix.desktop data/Corvixrc data/readme "$pkg/"
echo "Package: $pkg"
