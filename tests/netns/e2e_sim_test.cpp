// SPDX-License-Identifier: GPL-2.0-or-later
// What hostapd doesn't do, from the lab's simulator: failure codes, silence,
// a request to the group address, key frames while online, and two workers
// at once. The simulator checks every answer with libgcrypt.
#include <gtest/gtest.h>

#include <vector>

#include "app/records.h"
#include "netns/e2e_support.h"

namespace {

const char kNoAnswer[] = "等待服务器响应超时，可能是你没有插好网线\n\n或者选了无线网卡！";

bool status_is(int want) { return status.load() == want; }

E2eClient *sim_client(Lab &lab, const std::string &sim_args)
{
    LabOptions opt;
    opt.auth = "sim";
    opt.sim_args = sim_args;
    if (!e2e_lab_up(lab, opt))
        return nullptr;
    return e2e_client(lab, "e2euser", "labpass1");
}

std::string events_text(const Lab &lab)
{
    std::string text;
    for (const LabEvent &e : lab_sim_events(lab))
        text += e.text + "\n";
    return text;
}

// Restarts the simulator failing with code, runs one worker, and returns the message shown.
std::string failure_message_for(Lab &lab, E2eClient *c, const std::string &code)
{
    if (!lab_restart_sim(lab, "--fail " + code)) {
        ADD_FAILURE() << "simulator restart failed";
        return "";
    }
    e2e_on_main([] { status = STATUS_IDLE; });
    e2e_start_worker(c);
    bool failed = e2e_wait([] { return status_is(STATUS_FAILED); }, 10000);
    EXPECT_TRUE(failed) << code << ": status " << status << "\n" << events_text(lab);
    EXPECT_GE(lab_wait_event(lab, "FAILURE " + code, 3000), 0) << events_text(lab);
    EXPECT_TRUE(e2e_wait([c] { return e2e_dialog_shown(c); }, 5000));
    EXPECT_EQ(e2e_msg_title(c), "认证失败");
    return e2e_msg_text(c);
}

TEST(E2eSim, FailureCodesGiveTheirMessages)
{
    Lab lab;
    LabGuard guard{lab};
    E2eClient *c = sim_client(lab, "");
    ASSERT_NE(c, nullptr);
    e2e_drive([&] {
        EXPECT_EQ(failure_message_for(lab, c, "303:"), "密码错误！");
        EXPECT_EQ(failure_message_for(lab, c, "999:"), "该错误不存在提示信息！");
        EXPECT_EQ(failure_message_for(lab, c, "3031"), "该错误不存在提示信息！");
        EXPECT_EQ(failure_message_for(lab, c, "127:"), "通用帐号余额不足支付所有的月租之和！");
    });
}

// A read time-out shorter than the Start period is the period: Starts 2 s
// apart, three in all, and the message 2 s after the last.
TEST(E2eSim, NoAnswerToStartSendsThreeStartsATimeOutApart)
{
    Lab lab;
    LabGuard guard{lab};
    E2eClient *c = sim_client(lab, "--silent");
    ASSERT_NE(c, nullptr);
    c->settings.timeout = 2;
    e2e_drive([&] {
        e2e_start_worker(c);
        ASSERT_TRUE(e2e_wait([] { return status_is(STATUS_FAILED); }, 10000)) << status;
        EXPECT_EQ(e2e_msg_title(c), "认证失败");
        EXPECT_EQ(e2e_msg_text(c), kNoAnswer);
        int at = -1;
        std::vector<int> starts;
        while ((at = lab_wait_event(lab, "START", 1000, static_cast<size_t>(at + 1))) >= 0)
            starts.push_back(at);
        ASSERT_EQ(starts.size(), 3u) << events_text(lab);
        std::vector<LabEvent> ev = lab_sim_events(lab);
        for (size_t i = 1; i < starts.size(); ++i) {
            double gap = ev[static_cast<size_t>(starts[i])].ms - ev[static_cast<size_t>(starts[i - 1])].ms;
            EXPECT_GE(gap, 1900) << "the Start wait ended early";
            EXPECT_LE(gap, 3000) << "the Start wait lasted past its time-out";
        }
    });
}

TEST(E2eSim, RequestToTheGroupAddressIsNotAnswered)
{
    Lab lab;
    LabGuard guard{lab};
    E2eClient *c = sim_client(lab, "--group");
    ASSERT_NE(c, nullptr);
    c->settings.timeout = 2;
    e2e_drive([&] {
        e2e_start_worker(c);
        ASSERT_TRUE(e2e_wait([] { return status_is(STATUS_FAILED); }, 10000)) << status;
        EXPECT_EQ(e2e_msg_text(c), kNoAnswer);
        EXPECT_GE(e2e_count_events(lab, "SEND IDENTITY"), 1) << events_text(lab);
        EXPECT_EQ(e2e_count_events(lab, "IDENTITY "), 0) << events_text(lab);
        EXPECT_EQ(e2e_count_events(lab, "START"), 3) << events_text(lab);
    });
}

TEST(E2eSim, KeyFramesAreAnsweredWhileOnlineAndKeepTheLinkUp)
{
    Lab lab;
    LabGuard guard{lab};
    E2eClient *c = sim_client(lab, "--keys 1");
    ASSERT_NE(c, nullptr);
    c->settings.timeout = 3;
    e2e_drive([&] {
        e2e_start_worker(c);
        ASSERT_TRUE(e2e_wait([] { return status_is(STATUS_ONLINE); }, 30000)) << status;
        EXPECT_GE(lab_wait_event(lab, "POSTKEY OK", 3000), 0) << events_text(lab);
        // Five key frames a second apart: more than the 3 s time-out in all.
        int seen = -1;
        for (int i = 0; i < 5; ++i) {
            seen = lab_wait_event(lab, "KEY2 OK", 3000, static_cast<size_t>(seen + 1));
            ASSERT_GE(seen, 0) << "answer " << i << "\n" << events_text(lab);
        }
        EXPECT_EQ(e2e_count_events(lab, "KEY1 OK"), e2e_count_events(lab, "KEY2 OK"));
        std::string log = events_text(lab);
        EXPECT_EQ(log.find(" BAD"), std::string::npos) << log;
        EXPECT_EQ(e2e_count_events(lab, "START"), 1) << "no reconnect while key frames come";
        EXPECT_TRUE(status_is(STATUS_ONLINE));
        EXPECT_EQ(e2e_msg_text(c), "认证成功！");
    });
}

// Successes before the challenge, one from another address, change nothing:
// the real one after the MD5 answer counts, and the filter follows its sender,
// whose key frames are then answered.
TEST(E2eSim, ForgedSuccessesAreIgnored)
{
    Lab lab;
    LabGuard guard{lab};
    E2eClient *c = sim_client(lab, "--forge-success --keys 1");
    ASSERT_NE(c, nullptr);
    c->settings.timeout = 3;
    e2e_drive([&] {
        e2e_start_worker(c);
        ASSERT_TRUE(e2e_wait([] { return status_is(STATUS_ONLINE); }, 30000)) << status;
        EXPECT_EQ(e2e_count_events(lab, "FORGED SUCCESS"), 1) << events_text(lab);
        EXPECT_GE(e2e_count_events(lab, "MD5 OK"), 1) << events_text(lab);
        int seen = -1;
        for (int i = 0; i < 2; ++i) {
            seen = lab_wait_event(lab, "KEY2 OK", 3000, static_cast<size_t>(seen + 1));
            ASSERT_GE(seen, 0) << "answer " << i << "\n" << events_text(lab);
        }
        EXPECT_EQ(e2e_count_events(lab, "START"), 1) << events_text(lab);
    });
}

TEST(E2eSim, NewerWorkerRetiresTheOlderAtItsNextCheckpoint)
{
    Lab lab;
    LabGuard guard{lab};
    E2eClient *c = sim_client(lab, "--silent");
    ASSERT_NE(c, nullptr);
    c->settings.timeout = 3;
    e2e_drive([&] {
        e2e_start_worker(c);
        ASSERT_GE(lab_wait_event(lab, "START", 3000), 0);
        double first = e2e_now_ms();
        g_usleep(G_USEC_PER_SEC);
        e2e_start_worker(c);
        // The older worker's Start period ends at 3 s: a checkpoint, so no
        // further Start and no failure from it.
        e2e_wait([] { return false; }, static_cast<int>(first + 3500 - e2e_now_ms()));
        EXPECT_TRUE(status_is(STATUS_AUTHENTICATING)) << status;
        EXPECT_EQ(e2e_count_events(lab, "START"), 2) << events_text(lab);
        // The newer one reports the silence after its three Starts.
        EXPECT_TRUE(e2e_wait([] { return status_is(STATUS_FAILED); }, 9000)) << status;
        g_usleep(G_USEC_PER_SEC / 2);
        EXPECT_EQ(e2e_count_events(lab, "START"), 4) << events_text(lab);
    });
}

}  // namespace
