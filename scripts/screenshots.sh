#!/usr/bin/env bash
# Regenerates the README's pictures in docs/screenshots/ from a headless demo
# run (as root; --no-setup uses what is built already).
#   sudo scripts/screenshots.sh [--no-setup]
set -euo pipefail
cd "$(dirname "$0")/.."
DEMO_OUT=$PWD/docs/screenshots scripts/demo.sh --headless "$@"
