// SPDX-License-Identifier: GPL-2.0-or-later
// The single-instance lock: an flock on a file that only root can open, held
// by the engine for as long as it lives. Names of programs prove nothing (any
// user can start any set-user-ID program under the client's name, and the
// client under any name); a lock in root's own folder can't be taken or held
// by anyone else.
#pragma once

// Root's folder for the client's run-time files (the lock, the companion DHCP
// program's stop sockets): made mode 0700 by root on first use.
constexpr const char RUNTIME_DIR[] = "/run/corvix";
constexpr const char INSTANCE_LOCK_NAME[] = "Corvix.lock";

enum class InstanceLock {
    Taken,        // this process holds it now
    Held,         // another instance holds it
    Unavailable,  // no root-owned lock file to be had (not root, no /run)
};

// Takes the lock without waiting. The descriptor is closed on exec, so no
// program the engine runs (a DHCP renewer that outlives it) keeps the lock;
// a forked child shares it.
InstanceLock take_instance_lock();

// Gives up this process' descriptor; the lock stays with any process that
// shares it (the window gives its copy up before it drops to the user, so the
// engine alone holds it).
void release_instance_lock();
