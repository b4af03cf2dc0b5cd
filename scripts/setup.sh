#!/usr/bin/env bash
# Installs what the client needs and builds it into build/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/packages.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVIX_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc)"
echo "Built: build/Corvix"
