#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Not a script of the project: the input of the case that shows that
# scripts/shellcheck.sh reports a finding (the unquoted argument below).
rm -rf $1/tmp
