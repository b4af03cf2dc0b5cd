// SPDX-License-Identifier: GPL-2.0-or-later
// What the worker learns about its interface and the clock without asking
// the authenticator: the carrier and administrative state from rtnetlink link
// messages, the interface's removal, and a sleep of the machine (the boot
// clock runs on while suspended, the monotonic one does not).
#pragma once

#include <cstddef>
#include <cstdint>

// The interface as a log-on needs it.
enum class LinkState {
    Running,   // up, with a carrier
    NoCarrier, // up, but the cable (or the switch's port) is down
    Disabled,  // administratively down
    Gone,      // no such interface any more
};

// The state that interface flags and an operational state (IF_OPER_*, -1 when
// not reported) mean.
LinkState link_state_from(unsigned flags, int operstate);

// Reads the rtnetlink messages in buf (as one recv returned them) and updates
// *state for the interface with index ifindex; true when one of them named it.
bool link_parse_messages(const uint8_t *buf, size_t len, int ifindex, LinkState *state);

// The interface's state as it stands now (one ioctl).
LinkState link_query(const char *ifname);

// A socket on the kernel's link messages for one interface.
struct LinkWatch {
    int fd = -1;
    int ifindex = 0;
    char ifname[16] = {};
    LinkState state = LinkState::Gone;
};

// Opens the socket and reads the starting state; false when no socket could be opened.
bool link_watch_open(LinkWatch *w, const char *ifname);
void link_watch_close(LinkWatch *w);
// Reads what the socket holds without blocking; true when the state changed.
// A lost message (the socket's buffer overran) is made up for by asking afresh.
bool link_watch_take(LinkWatch *w);

// The gap between the boot clock and the monotonic clock, in milliseconds:
// it grows only while the machine sleeps.
int64_t clock_sleep_offset_ms();
// A sleep longer than this is taken as one the switch has noticed.
constexpr int64_t SLEEP_THRESHOLD_MS = 5000;
// True when the offset moved by more than SLEEP_THRESHOLD_MS since last; last is updated.
bool clock_slept(int64_t *last, int64_t now);

// A descriptor that becomes readable when the machine resumes (or the wall
// clock is set), so a wait without deadline still looks at the clocks; -1 on error.
int clock_wake_fd();
// Re-arms it after it fired.
void clock_wake_rearm(int fd);
