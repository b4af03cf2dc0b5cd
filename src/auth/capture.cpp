// SPDX-License-Identifier: GPL-2.0-or-later
#include "auth/capture.h"

#include <cerrno>
#include <fcntl.h>
#include <glib.h>
#include <poll.h>

namespace {

constexpr int SNAPLEN = 65536;

// pcap_activate reports warnings as positive values: only negatives are failures.
bool configure_and_activate(pcap_t *handle)
{
    if (pcap_set_snaplen(handle, SNAPLEN) != 0 || pcap_set_promisc(handle, 1) != 0 ||
        pcap_set_immediate_mode(handle, 1) != 0)
        return false;
    return pcap_activate(handle) >= 0;
}

// Milliseconds left until deadline (microseconds, monotonic); -1 means no deadline.
int remaining_ms(gint64 deadline)
{
    if (deadline < 0)
        return -1;
    gint64 left = deadline - g_get_monotonic_time();
    return left <= 0 ? 0 : static_cast<int>((left + 999) / 1000);
}

// 1 when the descriptor became readable (or reports an error for pcap to read), 0 on time-out.
int wait_readable(int fd, gint64 deadline)
{
    for (;;) {
        int ms = remaining_ms(deadline);
        if (ms == 0)
            return 0;
        pollfd pfd{fd, POLLIN, 0};
        int n = poll(&pfd, 1, ms);
        if (n == 0)
            return 0;
        if (n > 0 || errno != EINTR)
            return 1;  // a poll error is left for pcap_next_ex to report
    }
}

}  // namespace

pcap_t *capture_open(const char *device, char errbuf[PCAP_ERRBUF_SIZE])
{
    pcap_t *handle = pcap_create(device, errbuf);
    if (!handle)
        return nullptr;
    // Immediate mode and a non-blocking descriptor: the wait below is poll(),
    // which ends at once on a frame and after the time-out on silence.
    if (!configure_and_activate(handle) || pcap_setnonblock(handle, 1, errbuf) != 0) {
        g_strlcpy(errbuf, pcap_geterr(handle), PCAP_ERRBUF_SIZE);
        pcap_close(handle);
        return nullptr;
    }
    // The DHCP client and the post-login program must not inherit the raw socket.
    int fd = pcap_get_selectable_fd(handle);
    if (fd >= 0)
        (void)fcntl(fd, F_SETFD, fcntl(fd, F_GETFD) | FD_CLOEXEC);
    return handle;
}

int capture_set_filter(pcap_t *handle, const char *text)
{
    bpf_program program;
    if (pcap_compile(handle, &program, text, 1, 0xff) != 0)
        return 0;
    int ok = pcap_setfilter(handle, &program) == 0;
    pcap_freecode(&program);
    return ok;
}

int capture_next(pcap_t *handle, const uint8_t **frame, int *caplen)
{
    pcap_pkthdr *header = nullptr;
    const u_char *data = nullptr;
    int rc = pcap_next_ex(handle, &header, &data);
    if (rc == 1) {
        *frame = data;
        *caplen = static_cast<int>(header->caplen);
        return 1;
    }
    return rc == 0 ? 0 : -1;
}

int capture_read(pcap_t *handle, int timeout_ms, const uint8_t **frame, int *caplen)
{
    gint64 deadline = timeout_ms > 0 ? g_get_monotonic_time() + gint64(timeout_ms) * 1000 : -1;
    int fd = pcap_get_selectable_fd(handle);
    for (;;) {
        int got = capture_next(handle, frame, caplen);
        if (got != 0)
            return got > 0 ? 1 : 0;
        // A handle that can't be polled ends the wait.
        if (fd < 0 || !wait_readable(fd, deadline))
            return 0;
    }
}
