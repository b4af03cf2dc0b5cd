#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Regenerates the README's pictures in docs/screenshots/: the installed
# client in the lab from a headless demo run (as root; --no-setup uses what
# is built already), and every window in Chinese (zh/) and English (en/)
# from the GUI tests' locale table on a test build (TEST_BUILD, default
# build-asan, as scripts/test.sh makes it).
#   sudo scripts/screenshots.sh [--no-setup] [--windows-only]
set -euo pipefail
cd "$(dirname "$0")/.."
DEMO=1 args=()
for arg in "$@"; do
    case $arg in
    --windows-only) DEMO=0 ;;
    *) args+=("$arg") ;;
    esac
done
if ((DEMO)); then
    DEMO_OUT=$PWD/docs/screenshots scripts/demo.sh --headless "${args[@]}"
fi

TEST_BUILD=${TEST_BUILD:-build-asan}
[ -x "$TEST_BUILD/tests/gui_tests" ] || { echo "screenshots: $TEST_BUILD/tests/gui_tests is not built" >&2; exit 1; }
shots=$(mktemp -d /tmp/corvix-shots-XXXXXX)
trap 'rm -rf "$shots"' EXIT
CORVIX_SHOTS_DIR=$shots ASAN_OPTIONS=detect_leaks=0 \
    xvfb-run -a -s "-screen 0 1024x768x24 -noreset" ctest --test-dir "$TEST_BUILD" -R '^Locales/Windows' >"$shots/ctest.log" ||
    { tail -n 20 "$shots/ctest.log" >&2; exit 1; }
for pair in zh_CN_UTF_8:zh en_US_UTF_8:en; do
    from=$shots/${pair%%:*} to=docs/screenshots/${pair#*:}
    rm -rf "$to"
    mkdir -p "$to"
    cp "$from"/*.png "$to/"
    echo "$to: $(cd "$to" && echo *.png)"
done
