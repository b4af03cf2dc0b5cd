#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Runs shellcheck over the project's shell scripts (scripts/, every *.sh under
# tests/, the CI entry point and the package's maintainer script), following
# the files they source; exits non-zero on any finding, notes included.
# A finding that is meant carries "# shellcheck disable=SCnnnn # why" above it.
#   scripts/shellcheck.sh [files...]   default: all of them
set -euo pipefail
cd "$(dirname "$0")/.."
if (($#)); then
  files=("$@")
else
  mapfile -t files < <({
    printf '%s\n' scripts/*.sh .ci/run debian/postrm
    find tests -name '*.sh' -type f
  } | sort)
fi
exec shellcheck --external-sources --source-path=SCRIPTDIR "${files[@]}"
