#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The licence line at the top of every source file: C and C++ sources and
# headers, CMake files, shell files, and every script (a file that starts
# with "#!": the line goes right after it).
#   scripts/spdx.sh [DIR]         check: lists the files without it, exit 1 if any
#   scripts/spdx.sh --add [DIR]   add it where it is missing
# DIR defaults to this repository; in a git work tree its tracked files count,
# elsewhere every file under it.
set -euo pipefail
ID="SPDX-License-Identifier: GPL-2.0-or-later"

add=0
if [ "${1:-}" = --add ]; then
    add=1
    shift
fi
dir=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$dir"

list_files() {
    if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
        git ls-files -z
    else
        find . -path ./.git -prune -o -type f -printf '%P\0'
    fi
}

# The comment that carries the line in this file, and whether a "#!" line
# comes first; nothing for a file that is not source.
comment_of() {
    local f=$1 first
    case $f in
    *.c | *.cc | *.cpp | *.h | *.hpp) echo "//" ;;
    CMakeLists.txt | */CMakeLists.txt | *.cmake) echo "#" ;;
    *)
        IFS= read -r first <"$f" 2>/dev/null || true
        if [[ $first == '#!'* ]]; then
            echo "#!"
        elif [[ $f == *.sh ]]; then
            echo "#" # sourced, not run
        fi
        ;;
    esac
}

checked=0
missing=()
while IFS= read -r -d '' f; do
    if [ ! -f "$f" ] || [ -L "$f" ]; then continue; fi
    style=$(comment_of "$f")
    [ -n "$style" ] || continue
    checked=$((checked + 1))
    if [ "$style" = "#!" ]; then
        want="# $ID" line=2
    else
        want="$style $ID" line=1
    fi
    [ "$(sed -n "${line}p" "$f")" = "$want" ] && continue
    if ((add)); then
        tmp=$(mktemp)
        if ((line == 2)); then
            { head -n 1 "$f"; echo "$want"; tail -n +2 "$f"; } >"$tmp"
        else
            { echo "$want"; cat "$f"; } >"$tmp"
        fi
        # Written back into the same file: its mode and links stay.
        cat "$tmp" >"$f"
        rm -f "$tmp"
        echo "added: $f"
    else
        missing+=("$f")
    fi
done < <(list_files)

if ((${#missing[@]})); then
    printf 'no licence line: %s\n' "${missing[@]}"
    echo "spdx: ${#missing[@]} of $checked source files lack \"$ID\" (scripts/spdx.sh --add)"
    exit 1
fi
echo "spdx: $checked source files carry \"$ID\""
