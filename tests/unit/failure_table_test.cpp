// SPDX-License-Identifier: GPL-2.0-or-later
// The server's failure codes and the messages the user sees.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <string>

#include "app/records.h"
#include "app/texts.h"
#include "auth/dispatch.h"

namespace {

const std::string kDefault = "该错误不存在提示信息！";

std::string message_for(const char code[4])
{
    return failure_message(reinterpret_cast<const uint8_t *>(code));
}

TEST(FailureTable, KnownCodesWithColon)
{
    EXPECT_EQ(message_for("303:"), "密码错误！");
    EXPECT_EQ(message_for("301:"), "无效的用户信息！");  // first row
    EXPECT_EQ(message_for("127:"), "通用帐号余额不足支付所有的月租之和！");  // last row
    EXPECT_EQ(message_for("314:"), "Domain is not allowed！");
    EXPECT_EQ(message_for("331:"), "请与管理员联系，相关用户组属性错误!！");
    EXPECT_EQ(message_for("370:"), "账号登录忙,请稍后再试！");
}

TEST(FailureTable, DefaultMessage)
{
    EXPECT_EQ(message_for("999:"), kDefault);  // unknown code
    EXPECT_EQ(message_for("3031"), kDefault);  // four digits, no colon
    EXPECT_EQ(message_for("303 "), kDefault);
    const char nul[4] = {'3', '0', '3', '\0'};
    EXPECT_EQ(message_for(nul), kDefault);
    EXPECT_EQ(message_for("309:"), kDefault);  // a gap in the table
    EXPECT_EQ(message_for("30:3"), kDefault);
}

TEST(FailureTable, ThirtyFiveCodesAndEveryMessageFitsTheDialog)
{
    std::set<std::string> known;
    for (int n = 0; n < 1000; ++n) {
        char code[5];
        std::snprintf(code, sizeof code, "%03d:", n);
        std::string msg = message_for(code);
        EXPECT_LT(msg.size(), sizeof(ClientSettings{}.msg_text)) << code;
        if (msg != kDefault)
            known.insert(code);
    }
    EXPECT_EQ(known.size(), 35u);
    EXPECT_TRUE(known.count("123:") && known.count("360:") && known.count("334:"));
    EXPECT_FALSE(known.count("315:") || known.count("316:") || known.count("335:"));
}

}  // namespace
