#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# Runs a test with a /run/corvix of its own: the client's instance lock and the
# companion DHCP program's stop sockets live there, so tests that run at the
# same time don't see each other's. Must run in a private mount namespace
# (unshare --mount-proc); the empty folder it may leave on the machine is the
# one the client makes itself.
set -e
mkdir -m 0700 /run/corvix 2>/dev/null || [ -d /run/corvix ]
mount -t tmpfs -o mode=0700,nosuid,nodev,noexec,size=1m cvxtest /run/corvix
exec "$@"
