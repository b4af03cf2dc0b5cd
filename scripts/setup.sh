#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Installs what the client needs and builds it into build/, with Debian's
# build flags (hardening included: the client runs set-user-ID root).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/packages.sh
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
cflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVIX_TESTS=OFF \
  -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_C_FLAGS="$cflags" \
  -DCMAKE_EXE_LINKER_FLAGS="$ldflags" >/dev/null
cmake --build build -j"$(nproc)"
echo "Built: build/Corvix"
