// SPDX-License-Identifier: GPL-2.0-or-later
#include "auth/worker_link.h"

#include <glib.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

#include "app/logging.h"
#include "app/records.h"

namespace {

// Written at start-up before any worker exists; only read afterwards.
WorkerLink installed{};

void wake_waiters()
{
    int fd = generation_wake_fd();
    uint64_t one = 1;
    if (fd >= 0)
        (void)!write(fd, &one, sizeof one);
}

}  // namespace

void set_worker_link(const WorkerLink &link)
{
    installed = link;
}

const WorkerLink &worker_link()
{
    return installed;
}

WorkerInput link_read_input()
{
    return installed.read_input ? installed.read_input(installed.ui) : WorkerInput{};
}

AddressSettings link_read_address_settings()
{
    return installed.read_address_settings ? installed.read_address_settings(installed.ui)
                                           : AddressSettings{};
}

void link_show_message(TextId title, const UserText &text, int kind, int buttons)
{
    log_user_text(source_text(title), text);
    if (installed.show_message)
        installed.show_message(installed.ui, title, text, kind, buttons);
}

void link_prepare_progress(TextId title, TextId text)
{
    if (installed.prepare_progress)
        installed.prepare_progress(installed.ui, title, text);
}

void link_progress_text(const UserText &text)
{
    log_user_text("progress", text);
    if (installed.progress_text)
        installed.progress_text(installed.ui, text);
}

void link_tray(TrayState state)
{
    if (installed.tray)
        installed.tray(installed.ui, state);
}

void link_open_page(const std::string &url)
{
    if (installed.open_page)
        installed.open_page(installed.ui, url);
}

void link_set_status(int new_status)
{
    if (status.exchange(new_status) != new_status)
        log_status(new_status);
    if (installed.status_changed)
        installed.status_changed(installed.ui, new_status);
}

void retire_if_superseded(int generation)
{
    if (thread_auth_num.load() != generation)
        end_worker_thread();
}

int next_generation()
{
    int generation = thread_auth_num.fetch_add(1) + 1;
    wake_waiters();
    return generation;
}

void set_generation(int value)
{
    thread_auth_num = value;
    wake_waiters();
}

int generation_wake_fd()
{
    // Made on first use, by whichever thread comes first; never closed.
    static const int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    return fd;
}

void generation_wake_take()
{
    uint64_t count = 0;
    int fd = generation_wake_fd();
    if (fd >= 0)
        (void)!read(fd, &count, sizeof count);
}

void end_worker_thread()
{
    g_thread_exit(nullptr);
    g_assert_not_reached();
}
