// SPDX-License-Identifier: GPL-2.0-or-later
// Capture filters, tested the way libpcap tests its own: compiled on a dead
// Ethernet handle and applied to a table of frames.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <pcap/pcap.h>
#include <string>
#include <vector>

#include "auth/filters.h"

namespace {

using Bytes = std::vector<uint8_t>;

const uint8_t kLocal[6] = {0x00, 0x0c, 0x29, 0xab, 0xcd, 0xef};
const uint8_t kServer[6] = {0x00, 0x1a, 0xa9, 0x12, 0x34, 0x56};
const uint8_t kOther[6] = {0x00, 0x1a, 0xa9, 0x12, 0x34, 0x57};
const uint8_t kGroup[6] = {0x01, 0x80, 0xc2, 0x00, 0x00, 0x03};
const uint8_t kBroadcast[6] = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff};

Bytes frame(const uint8_t *dst, const uint8_t *src, uint16_t ethertype)
{
    Bytes f(60, 0);
    std::memcpy(f.data(), dst, 6);
    std::memcpy(f.data() + 6, src, 6);
    f[12] = static_cast<uint8_t>(ethertype >> 8);
    f[13] = static_cast<uint8_t>(ethertype & 0xff);
    f[14] = 1;
    return f;
}

struct Program {
    bpf_program prog{};
    bool ok = false;
    ~Program()
    {
        if (ok)
            pcap_freecode(&prog);
    }
};

// Compiles as the worker does: optimisation on, netmask 0xff.
void compile(Program &p, const std::string &text)
{
    std::unique_ptr<pcap_t, void (*)(pcap_t *)> dead(pcap_open_dead(DLT_EN10MB, 65536),
                                                     pcap_close);
    ASSERT_NE(dead, nullptr);
    ASSERT_EQ(pcap_compile(dead.get(), &p.prog, text.c_str(), 1, 0xff), 0)
        << pcap_geterr(dead.get()) << " in: " << text;
    p.ok = true;
}

bool passes(const Program &p, const Bytes &f)
{
    pcap_pkthdr h{};
    h.caplen = h.len = static_cast<bpf_u_int32>(f.size());
    return pcap_offline_filter(&p.prog, &h, f.data()) != 0;
}

TEST(Filters, TextsAreExact)
{
    char out[FILTER_TEXT_SIZE];
    format_filter_before(out, sizeof out, kLocal);
    EXPECT_STREQ(out, "(ether proto 0x888e) and (ether dst host 00:0c:29:ab:cd:ef)");
    format_filter_after(out, sizeof out, kServer, kLocal);
    EXPECT_STREQ(out, "(ether proto 0x888e) and (ether src host 00:1a:a9:12:34:56)and "
                      "(ether dst host 00:0c:29:ab:cd:ef)");
    const uint8_t high[6] = {0xff, 0xfe, 0xab, 0xcd, 0xef, 0x0a};
    format_filter_after(out, sizeof out, high, high);
    EXPECT_LT(std::strlen(out), FILTER_TEXT_SIZE - 1);
    EXPECT_NE(std::string(out).find("ff:fe:ab:cd:ef:0a)and (ether dst host ff:fe:ab:cd:ef:0a)"),
              std::string::npos);
}

TEST(Filters, ShortOutputIsCutAndTerminated)
{
    char out[16];
    std::memset(out, 'x', sizeof out);
    format_filter_after(out, sizeof out, kServer, kLocal);
    EXPECT_STREQ(out, "(ether proto 0x");
}

TEST(Filters, BeforeSuccessPassesOnlyEapolToOurAddress)
{
    char text[FILTER_TEXT_SIZE];
    format_filter_before(text, sizeof text, kLocal);
    Program p;
    ASSERT_NO_FATAL_FAILURE(compile(p, text));

    EXPECT_TRUE(passes(p, frame(kLocal, kServer, 0x888e)));
    EXPECT_TRUE(passes(p, frame(kLocal, kOther, 0x888e)));
    EXPECT_FALSE(passes(p, frame(kGroup, kServer, 0x888e))) << "group-addressed request";
    EXPECT_FALSE(passes(p, frame(kBroadcast, kServer, 0x888e)));
    EXPECT_FALSE(passes(p, frame(kOther, kServer, 0x888e)));
    EXPECT_FALSE(passes(p, frame(kLocal, kServer, 0x0800))) << "IPv4";
    EXPECT_FALSE(passes(p, frame(kLocal, kServer, 0x0806))) << "ARP";
    EXPECT_FALSE(passes(p, frame(kLocal, kServer, 0x88e8)));
}

TEST(Filters, AfterSuccessPassesOnlyServerToUs)
{
    char text[FILTER_TEXT_SIZE];
    format_filter_after(text, sizeof text, kServer, kLocal);
    Program p;
    ASSERT_NO_FATAL_FAILURE(compile(p, text));

    EXPECT_TRUE(passes(p, frame(kLocal, kServer, 0x888e)));
    EXPECT_FALSE(passes(p, frame(kLocal, kOther, 0x888e))) << "another authenticator";
    EXPECT_FALSE(passes(p, frame(kGroup, kServer, 0x888e)));
    EXPECT_FALSE(passes(p, frame(kServer, kLocal, 0x888e))) << "our own frame reversed";
    EXPECT_FALSE(passes(p, frame(kLocal, kServer, 0x0800)));
}

TEST(Filters, TruncatedCaptureIsDropped)
{
    char text[FILTER_TEXT_SIZE];
    format_filter_before(text, sizeof text, kLocal);
    Program p;
    ASSERT_NO_FATAL_FAILURE(compile(p, text));
    Bytes f = frame(kLocal, kServer, 0x888e);
    f.resize(13);  // EtherType cut off: the program must reject, not read past
    EXPECT_FALSE(passes(p, f));
}

}  // namespace
