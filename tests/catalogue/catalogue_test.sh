#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The English catalogue is complete: every text the sources mark has an entry
# (msgcmp against the template the build extracts), every entry is translated
# and none is fuzzy (msgfmt --statistics), and the formats agree (--check).
#   catalogue_test.sh SOURCE_DIR BINARY_DIR
set -euo pipefail
src=$1 bin=$2
export LC_ALL=C.UTF-8
po=$src/po/en.po pot=$bin/po/corvix.pot
[ -s "$pot" ] || { echo "FAIL: $pot is not built"; exit 1; }

msgcmp "$po" "$pot" || { echo "FAIL: en.po lacks texts of the sources"; exit 1; }
stats=$(msgfmt --check --statistics -o /dev/null "$po" 2>&1)
echo "$stats"
case $stats in
*untranslated* | *fuzzy*) echo "FAIL: not every text is translated"; exit 1 ;;
esac
want=$(grep -c '^msgid ' "$pot")
want=$((want - 1))   # the header
got=$(sed -n 's/^\([0-9][0-9]*\) translated messages\.$/\1/p' <<<"$stats")
[ "$got" = "$want" ] || { echo "FAIL: $got translated, the sources mark $want"; exit 1; }
# No entry is left over from a text the sources no longer have.
msgcmp --use-untranslated "$pot" "$po" >/dev/null 2>&1 ||
    { echo "FAIL: en.po holds texts the sources do not"; exit 1; }
echo "PASS: $got of $want texts translated"
