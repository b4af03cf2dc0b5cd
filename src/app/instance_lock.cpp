// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

int lock_fd = -1;

// A descriptor of root's run-time folder, made when missing; -1 unless it is
// a folder of root's that nobody else may enter.
int open_runtime_dir()
{
    if (mkdir(RUNTIME_DIR, 0700) != 0 && errno != EEXIST)
        return -1;
    int fd = open(RUNTIME_DIR, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st{};
    if (fd < 0)
        return -1;
    if (fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != 0 ||
        ((st.st_mode & 07777) != 0700 && fchmod(fd, 0700) != 0)) {
        close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

InstanceLock take_instance_lock()
{
    release_instance_lock();
    int dir = open_runtime_dir();
    if (dir < 0)
        return InstanceLock::Unavailable;
    int fd = openat(dir, INSTANCE_LOCK_NAME, O_RDONLY | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC,
                    0600);
    close(dir);
    struct stat st{};
    if (fd < 0)
        return InstanceLock::Unavailable;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != 0) {
        close(fd);
        return InstanceLock::Unavailable;
    }
    int rc;
    while ((rc = flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (rc != 0) {
        bool held = errno == EWOULDBLOCK;
        close(fd);
        return held ? InstanceLock::Held : InstanceLock::Unavailable;
    }
    lock_fd = fd;
    return InstanceLock::Taken;
}

void release_instance_lock()
{
    if (lock_fd >= 0)
        close(lock_fd);
    lock_fd = -1;
}
