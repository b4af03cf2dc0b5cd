#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# "--help" and "--version" answer on standard output and exit 0 without a
# display, in either language; any other command line goes on to the client.
#   info_commands_test.sh BINARY_DIR
set -uo pipefail
corvix=$1/Corvix
# The client reads its catalogues from the installed place: the built ones
# are bound there in a private mount namespace.
if [ -z "${CVG_INFO_PRIVATE:-}" ]; then
    # shellcheck disable=SC2016  # expanded by the inner shell
    CVG_INFO_PRIVATE=1 exec unshare -m sh -c \
        'mount --make-rprivate / && mount --bind "$1/locale" /usr/share/locale && exec "$0" "$1"' "$0" "$1"
fi
fails=0

# command | LANG | expected first line
while IFS='|' read -r cmd lang want; do
    out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u LANGUAGE -u LC_ALL -u LC_MESSAGES \
        LANG="$lang" "$corvix" "$cmd" 2>/tmp/cvg_info_err.$$)
    rc=$?
    err=$(cat /tmp/cvg_info_err.$$)
    first=${out%%$'\n'*}
    if [ "$rc" != 0 ] || [ "$first" != "$want" ] || [ -n "$err" ]; then
        echo "FAIL: $cmd LANG=$lang: rc=$rc first line '$first' stderr '$err'"
        fails=$((fails + 1))
    else
        echo "ok: $cmd LANG=$lang: $first"
    fi
done <<'TABLE'
--version|C|Corvix 2.0
--version|en_US.UTF-8|Corvix 2.0
--help|C|用法：Corvix [选项]
--help|zh_CN.UTF-8|用法：Corvix [选项]
--help|en_US.UTF-8|Usage: Corvix [OPTION]
TABLE
rm -f /tmp/cvg_info_err.$$

# The commands are whole arguments: anything else is the client's own start,
# which stops at once where the client is not installed.
if [ ! -e /usr/share/Corvix2/Corvix ]; then
    for args in "--helpx" "--help --version" "-h"; do
        # shellcheck disable=SC2086
        out=$(env -u DISPLAY "$corvix" $args 2>/dev/null)
        rc=$?
        case $out in
        *Corvix认证客户端2.0尚未安装*) echo "ok: '$args' starts the client (rc=$rc)" ;;
        *) echo "FAIL: '$args' did not start the client: rc=$rc '$out'"; fails=$((fails + 1)) ;;
        esac
    done
fi
if [ "$fails" != 0 ]; then
    echo "FAIL: $fails"
    exit 1
fi
echo "PASS"
