// SPDX-License-Identifier: GPL-2.0-or-later
// What the worker reads from rtnetlink link messages and the clocks.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>
// net/if.h first: the kernel header then leaves out what the C library defined.
#include <net/if.h>
#include <linux/if.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>

#include "auth/link_watch.h"

namespace {

// One link message for ifindex, with an operational state attribute unless it is -1.
void append_link(std::vector<uint8_t> &buf, uint16_t type, int ifindex, unsigned flags,
                 int operstate)
{
    size_t at = buf.size();
    size_t attr = operstate >= 0 ? RTA_SPACE(1) : 0;
    buf.resize(at + NLMSG_SPACE(sizeof(ifinfomsg)) + attr, 0);
    auto *h = reinterpret_cast<nlmsghdr *>(buf.data() + at);
    h->nlmsg_len = static_cast<uint32_t>(NLMSG_LENGTH(sizeof(ifinfomsg)) + attr);
    h->nlmsg_type = type;
    auto *ifi = static_cast<ifinfomsg *>(NLMSG_DATA(h));
    ifi->ifi_index = ifindex;
    ifi->ifi_flags = flags;
    if (operstate >= 0) {
        auto *a = IFLA_RTA(ifi);
        a->rta_type = IFLA_OPERSTATE;
        a->rta_len = RTA_LENGTH(1);
        *static_cast<uint8_t *>(RTA_DATA(a)) = static_cast<uint8_t>(operstate);
    }
}

const unsigned UP = IFF_UP | IFF_RUNNING, CARRIER = IFF_UP | IFF_RUNNING | IFF_LOWER_UP;

TEST(LinkWatch, StateFromFlagsAndOperationalState)
{
    struct Row {
        unsigned flags;
        int operstate;
        LinkState want;
    } rows[] = {
        {CARRIER, IF_OPER_UP, LinkState::Running},
        {CARRIER, IF_OPER_UNKNOWN, LinkState::Running},  // drivers that don't report it
        {CARRIER, -1, LinkState::Running},
        {UP, IF_OPER_UP, LinkState::NoCarrier},
        {CARRIER, IF_OPER_LOWERLAYERDOWN, LinkState::NoCarrier},
        {CARRIER, IF_OPER_DOWN, LinkState::NoCarrier},
        {IFF_LOWER_UP, IF_OPER_DOWN, LinkState::Disabled},
        {0, -1, LinkState::Disabled},
    };
    for (const Row &r : rows)
        EXPECT_EQ(link_state_from(r.flags, r.operstate), r.want) << r.flags << " " << r.operstate;
}

TEST(LinkWatch, MessagesForOtherInterfacesChangeNothing)
{
    std::vector<uint8_t> buf;
    append_link(buf, RTM_NEWLINK, 7, UP, IF_OPER_DOWN);
    append_link(buf, RTM_NEWADDR, 3, 0, -1);
    LinkState state = LinkState::Running;
    EXPECT_FALSE(link_parse_messages(buf.data(), buf.size(), 3, &state));
    EXPECT_EQ(state, LinkState::Running);
}

TEST(LinkWatch, LastMessageForTheInterfaceCounts)
{
    std::vector<uint8_t> buf;
    append_link(buf, RTM_NEWLINK, 3, UP, IF_OPER_DOWN);
    append_link(buf, RTM_NEWLINK, 9, CARRIER, IF_OPER_UP);
    append_link(buf, RTM_NEWLINK, 3, CARRIER, IF_OPER_UP);
    LinkState state = LinkState::NoCarrier;
    EXPECT_TRUE(link_parse_messages(buf.data(), buf.size(), 3, &state));
    EXPECT_EQ(state, LinkState::Running);

    append_link(buf, RTM_DELLINK, 3, CARRIER, IF_OPER_UP);
    EXPECT_TRUE(link_parse_messages(buf.data(), buf.size(), 3, &state));
    EXPECT_EQ(state, LinkState::Gone);
}

// A message cut short (or a length past the buffer) is not read.
TEST(LinkWatch, CutMessagesAreNotRead)
{
    std::vector<uint8_t> buf;
    append_link(buf, RTM_NEWLINK, 3, 0, -1);
    LinkState state = LinkState::Running;
    for (size_t len = 0; len < buf.size(); ++len) {
        EXPECT_FALSE(link_parse_messages(buf.data(), len, 3, &state)) << len;
        EXPECT_EQ(state, LinkState::Running);
    }
    auto *h = reinterpret_cast<nlmsghdr *>(buf.data());
    h->nlmsg_len = NLMSG_LENGTH(2);  // shorter than its link record
    EXPECT_FALSE(link_parse_messages(buf.data(), buf.size(), 3, &state));
}

TEST(LinkWatch, SleepIsAJumpOfTheOffsetPastTheThreshold)
{
    int64_t last = 1000;
    EXPECT_FALSE(clock_slept(&last, 1000 + SLEEP_THRESHOLD_MS));
    EXPECT_EQ(last, 1000 + SLEEP_THRESHOLD_MS);
    EXPECT_TRUE(clock_slept(&last, last + SLEEP_THRESHOLD_MS + 1));
    EXPECT_FALSE(clock_slept(&last, last));
    // The machine running: the offset stays still.
    int64_t now = clock_sleep_offset_ms();
    EXPECT_FALSE(clock_slept(&now, clock_sleep_offset_ms()));
}

TEST(LinkWatch, LoopbackIsRunningAndANameThatIsNoneIsGone)
{
    EXPECT_EQ(link_query("lo"), LinkState::Running);
    EXPECT_EQ(link_query("cvlnosuch0"), LinkState::Gone);
}

}  // namespace
