// SPDX-License-Identifier: GPL-2.0-or-later
// The settings dialog's rules that need no window: reading the time-out,
// bounding the page entry's text, and who counts as root.
#include <gtest/gtest.h>

#include <string>

#include "app/records.h"
#include "config/config_save.h"

namespace {

TEST(ConfigSave, TimeoutTextTable)
{
    struct Row {
        const char *text;
        int seconds;
    };
    const Row rows[] = {
        {"", 800},     {"7", 800},       {"8", 8},         {"3600", 3600}, {"9999", 3600},
        {"-5", 800},   {"12ab", 12},     {"  42", 42},     {"+9", 9},      {"abc", 800},
        {"3601", 3600}, {"99999999999999999999", 3600},    {"-99999999999999999999", 800},
    };
    for (const Row &r : rows)
        EXPECT_EQ(timeout_from_text(r.text), r.seconds) << "[" << r.text << "]";
    EXPECT_EQ(timeout_from_text(nullptr), 800);
}

TEST(ConfigSave, UrlIsCutToTheFieldAtACharacterBoundary)
{
    const size_t field = sizeof(ClientSettings{}.url) - 1;
    ASSERT_EQ(field, 91u);
    std::string ascii(100, 'a');
    EXPECT_EQ(url_field_text(ascii), std::string(91, 'a'));
    EXPECT_EQ(url_field_text(std::string(91, 'b')), std::string(91, 'b'));

    // Three-byte characters: 7 + 3 * 28 = 91 bytes fit, the 29th does not.
    std::string wide;
    for (int i = 0; i < 40; i++)
        wide += "网";
    std::string cut = url_field_text("http://" + wide);
    EXPECT_EQ(cut, "http://" + wide.substr(0, 3 * 28));
    // One byte less room: the character that would straddle the end goes whole.
    cut = url_field_text("http:/" + std::string("x") + "/" + wide);
    EXPECT_EQ(cut.size(), 8u + 3 * 27);
    EXPECT_TRUE(g_utf8_validate(cut.c_str(), -1, nullptr));
    // Four-byte characters at every offset: always whole characters, never more than 91 bytes.
    for (int lead = 0; lead < 4; lead++) {
        std::string text(static_cast<size_t>(lead), 'p');
        for (int i = 0; i < 30; i++)
            text += "\xF0\x9F\x98\x80";
        std::string c = url_field_text(text);
        EXPECT_LE(c.size(), 91u);
        EXPECT_GE(c.size(), 88u);
        EXPECT_TRUE(g_utf8_validate(c.c_str(), -1, nullptr)) << lead;
    }
    // A line break would end the value in the file: the text stops there.
    EXPECT_EQ(url_field_text("http://a/\nrm -rf /"), "http://a/");
    EXPECT_EQ(url_field_text("http://a/\r\n"), "http://a/");
}

TEST(ConfigSave, OnlyRootIsRoot)
{
    EXPECT_TRUE(login_is_root("root"));
    EXPECT_FALSE(login_is_root("nobody"));
    EXPECT_FALSE(login_is_root(""));
    EXPECT_FALSE(login_is_root(nullptr));
    EXPECT_FALSE(login_is_root("no-such-user-corvix"));
}

}  // namespace
