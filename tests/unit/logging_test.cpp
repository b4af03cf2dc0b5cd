// SPDX-License-Identifier: GPL-2.0-or-later
// The names the system log gives to frames and run states.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/logging.h"
#include "app/records.h"

namespace {

// An 802.1X frame as far as its kind goes: EAPOL type, EAP code and type.
std::vector<uint8_t> frame(uint8_t eapol_type, int code = -1, int eap_type = -1)
{
    std::vector<uint8_t> f(14, 0);
    f[12] = 0x88;
    f[13] = 0x8e;
    f.push_back(1);
    f.push_back(eapol_type);
    f.push_back(0);
    f.push_back(5);
    if (code >= 0) {
        f.push_back(static_cast<uint8_t>(code));
        f.insert(f.end(), {7, 0, 5});
    }
    if (eap_type >= 0)
        f.push_back(static_cast<uint8_t>(eap_type));
    return f;
}

struct KindCase {
    std::vector<uint8_t> frame;
    const char *kind;
};

TEST(Logging, FrameKinds)
{
    const KindCase cases[] = {
        {frame(1), "EAPOL-Start"},
        {frame(2), "EAPOL-Logoff"},
        {frame(3), "EAPOL-Key"},
        {frame(9), "EAPOL type 9"},
        {frame(0, 1, 1), "EAP-Request/Identity"},
        {frame(0, 2, 1), "EAP-Response/Identity"},
        {frame(0, 1, 4), "EAP-Request/MD5-Challenge"},
        {frame(0, 2, 4), "EAP-Response/MD5-Challenge"},
        {frame(0, 1, 2), "EAP-Request/Notification"},
        {frame(0, 1, 77), "EAP-Request/type 77"},
        {frame(0, 1), "EAP-Request"},  // no room for the type
        {frame(0, 3), "EAP-Success"},
        {frame(0, 4), "EAP-Failure"},
        {frame(0, 9), "EAP-?"},
        {frame(0), "short EAP frame"},
        {std::vector<uint8_t>(15, 0), "short frame"},
    };
    for (const KindCase &k : cases) {
        EXPECT_EQ(frame_kind(k.frame.data(), static_cast<int>(k.frame.size())), k.kind) << k.kind;
    }
    EXPECT_EQ(frame_kind(nullptr, 0), "short frame");
}

TEST(Logging, EveryRunStateHasItsOwnName)
{
    std::vector<std::string> names;
    for (int s = STATUS_FAILED; s <= STATUS_ALREADY_RUNNING; ++s) {
        std::string name = status_name(s);
        EXPECT_NE(name, "unknown") << s;
        for (const std::string &seen : names)
            EXPECT_NE(name, seen) << s;
        names.push_back(name);
    }
    EXPECT_STREQ(status_name(STATUS_ALREADY_RUNNING + 1), "unknown");
}

}  // namespace
