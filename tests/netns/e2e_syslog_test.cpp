// SPDX-License-Identifier: GPL-2.0-or-later
// What a failed log-on leaves in the system log, read from a /dev/log of the
// test's own: a wrong password against hostapd and a port where nothing
// answers. Every line carries the ident, the steps are all there, and the
// password is in none of them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/records.h"
#include "auth/logon_driver.h"
#include "netns/e2e_support.h"
#include "support/private_syslog.h"

namespace {

bool status_is(int want) { return status.load() == want; }

struct SyslogCase {
    const char *name;
    const char *auth;      // the lab's authenticator
    int start_period_ms;   // 0: the client's own
    std::vector<const char *> want;  // in this order
};

const SyslogCase kCases[] = {
    {"WrongPassword", "hostapd", 0,
     {"log-on asked for on", "run state: authenticating", "sent EAPOL-Start",
      "progress: 正在认证中", "received EAP-Request/Identity", "sent EAP-Response/Identity",
      "received EAP-Request/MD5-Challenge", "sent EAP-Response/MD5-Challenge",
      "received EAP-Failure", "server failure ", "run state: failed", "认证失败: 该错误不存在提示信息！",
      "the attempt ended"}},
    {"SilentAuthenticator", "none", 1000,
     {"log-on asked for on", "run state: authenticating", "sent EAPOL-Start",
      "time-out waiting for the authenticator", "sent EAPOL-Start", "sent EAPOL-Start",
      "run state: failed", "认证失败: 等待服务器响应超时", "the attempt ended"}},
};

class E2eSyslog : public ::testing::TestWithParam<SyslogCase> {
  protected:
    void TearDown() override { set_logon_start_period(0); }
};

TEST_P(E2eSyslog, LeavesTheStepsAndNoPassword)
{
    const SyslogCase &k = GetParam();
    const std::string password = "cvgSecret42";
    Lab lab;
    LabGuard guard{lab};
    e2e_isolate_process();
    ASSERT_FALSE(HasFatalFailure());
    PrivateSyslog log;
    ASSERT_TRUE(log.start()) << log.error;
    LabOptions opt;
    opt.auth = k.auth;
    ASSERT_TRUE(lab_up(lab, opt)) << lab.error;
    E2eClient *c = e2e_client(lab, "e2euser", password);
    ASSERT_NE(c, nullptr);
    if (k.start_period_ms > 0) {
        set_logon_start_period(k.start_period_ms);
        c->settings.timeout = 0;
    }
    e2e_drive([&] {
        e2e_start_worker(c);
        ASSERT_TRUE(e2e_wait([] { return status_is(STATUS_FAILED); }, 15000)) << status;
        // The worker's last lines come after the state it reports.
        EXPECT_TRUE(e2e_wait([&] { return log.lines().find("the attempt ended") != std::string::npos; },
                             5000));
    });
    const std::string lines = log.lines();
    size_t at = 0;
    for (const char *want : k.want) {
        size_t found = lines.find(want, at);
        ASSERT_NE(found, std::string::npos) << "no \"" << want << "\" after offset " << at << " in\n"
                                            << lines;
        at = found + 1;
    }
    // The lab's hostapd writes to the same log; the client's lines are the
    // daemon facility's (3 << 3) at notice, info or warning.
    int count = 0;
    for (size_t start = 0; start < lines.size(); start = lines.find('\n', start) + 1) {
        std::string line = lines.substr(start, lines.find('\n', start) - start);
        if (line.find(" Corvix[") == std::string::npos)
            continue;
        EXPECT_TRUE(line.rfind("<28>", 0) == 0 || line.rfind("<29>", 0) == 0 || line.rfind("<30>", 0) == 0)
            << line;
        ++count;
    }
    EXPECT_GE(count, static_cast<int>(k.want.size()));
    std::printf("%d lines of the client:\n%s", count, lines.c_str());
    EXPECT_EQ(lines.find(password), std::string::npos) << lines;
}

INSTANTIATE_TEST_SUITE_P(Logon, E2eSyslog, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<SyslogCase> &i) { return std::string(i.param.name); });

}  // namespace
