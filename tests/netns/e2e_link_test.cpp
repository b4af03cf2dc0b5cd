// SPDX-License-Identifier: GPL-2.0-or-later
// The cable, the switch and a silent port in the lab: the link of either end
// of the veth pair set down and up while online, hostapd restarted, no
// authenticator at all, and the test authenticator's key rounds across a
// carrier return. The real worker threads, the GTK main loop under Xvfb.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "app/records.h"
#include "auth/logon_driver.h"
#include "netns/e2e_support.h"
#include "ui/tray.h"

namespace {

const char kCableOut[] = "网线已断开，等待重新连接……";
const char kCardDown[] = "网卡已停用，等待重新启用……";
const char kNoAnswer[] = "等待服务器响应超时，可能是你没有插好网线\n\n或者选了无线网卡！";

bool status_is(int want) { return status.load() == want; }

void pause_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

class E2eLink : public ::testing::Test {
  protected:
    Lab lab;
    LabGuard guard{lab};
    E2eClient *c = nullptr;

    void bring_up(const LabOptions &opt = {})
    {
        e2e_isolate_process();
        ASSERT_FALSE(HasFatalFailure());
        ASSERT_TRUE(lab_up(lab, opt)) << lab.error;
        c = e2e_client(lab, "e2euser", "labpass1");
        ASSERT_NE(c, nullptr);
    }

    void TearDown() override { set_logon_start_period(0); }

    void silent_port_timeline(int period_ms);

    // Sets one end of the pair down or up: the switch's port or the client's card.
    void set_link(bool switch_side, bool up)
    {
        std::string line = "ip link set " + (switch_side ? lab.auth_if : lab.client_if) +
                           (up ? " up" : " down");
        int rc = switch_side ? lab_exec_auth(lab, line) : lab_exec(lab, line);
        ASSERT_EQ(rc, 0) << line;
    }

    bool go_online()
    {
        e2e_start_worker(c);
        return e2e_wait([] { return status_is(STATUS_ONLINE); }, 30000);
    }

    // Online, one end down for 3 s and up again: the user is told at once,
    // and the client is online again with an address from a second DHCP run.
    void bounce_while_online(bool switch_side, const char *told)
    {
        ASSERT_TRUE(go_online()) << "status " << status << ", text " << e2e_msg_text(c);
        int runs = e2e_dhcp_runs(c);
        set_link(switch_side, false);
        EXPECT_TRUE(e2e_wait([&] { return e2e_msg_text(c) == told; }, 1000)) << e2e_msg_text(c);
        EXPECT_EQ(status.load(), STATUS_AUTHENTICATING);
        pause_ms(3000);
        EXPECT_EQ(status.load(), STATUS_AUTHENTICATING) << "nothing changes while the link is down";
        double up = e2e_now_ms();
        set_link(switch_side, true);
        ASSERT_TRUE(e2e_wait([] { return status_is(STATUS_ONLINE); }, 15000))
            << "status " << status << ", text " << e2e_msg_text(c);
        std::printf("link up -> online again: %.0f ms\n", e2e_now_ms() - up);
        EXPECT_EQ(e2e_msg_text(c), "认证成功！");
        EXPECT_EQ(e2e_dhcp_runs(c), runs + 1);
        EXPECT_EQ(e2e_client_address(lab).rfind("10.77.0.", 0), 0u) << e2e_client_address(lab);
    }
};

TEST_F(E2eLink, SwitchPortDownAndUpLogsOnAgainWithAnAddress)
{
    bring_up();
    e2e_drive([&] { bounce_while_online(true, kCableOut); });
}

TEST_F(E2eLink, OwnCardDownAndUpLogsOnAgainWithAnAddress)
{
    bring_up();
    e2e_drive([&] { bounce_while_online(false, kCardDown); });
}

// The switch restarting: hostapd stopped and started while its port is down.
TEST_F(E2eLink, HostapdRestartedWithItsPortBounced)
{
    bring_up();
    e2e_drive([&] {
        ASSERT_TRUE(go_online());
        std::string dir = lab.state_dir;
        // The lab's pid file names the hostapd it started: that one is stopped,
        // by its PID (it stays a zombie: the test is its PID namespace's init).
        std::string restart =
            "read pid rest < " + dir + "/hostapd.pid && kill $pid && "
            "i=0; while [ $i -lt 100 ] && ! awk '{exit $3 == \"Z\" ? 0 : 1}' /proc/$pid/stat 2>/dev/null && "
            "[ -e /proc/$pid ]; do sleep 0.05; i=$((i+1)); done; "
            "ip link set " + lab.auth_if + " down && sleep 1 && ip link set " + lab.auth_if +
            " up && (hostapd -t -d " + dir + "/hostapd.conf </dev/null >" + dir +
            "/hostapd2.log 2>&1 & echo \"$! hostapd " + lab.auth_ns + "\" > " + dir +
            "/hostapd.pid) && sleep 0.5";
        ASSERT_EQ(lab_exec_auth(lab, restart), 0);
        EXPECT_TRUE(e2e_wait([] { return status_is(STATUS_ONLINE); }, 15000))
            << "status " << status << ", text " << e2e_msg_text(c);
        EXPECT_EQ(e2e_dhcp_runs(c), 2);
        std::string log = lab_read_file(dir + "/hostapd2.log");
        EXPECT_NE(log.find("authorizing port"), std::string::npos) << log;
    });
}

// No authenticator: Starts a period apart, three in all, and the message a
// period after the last, on the first run's time-out of 0. period 0 is the
// client's own (30 s); a shorter one checks the same shape quickly.
void E2eLink::silent_port_timeline(int period_ms)
{
    LabOptions opt;
    opt.auth = "none";
    bring_up(opt);
    if (HasFatalFailure())
        return;
    set_logon_start_period(period_ms);
    const int period = period_ms > 0 ? period_ms : 30000;
    c->settings.timeout = 0;
    pcap_t *capture = e2e_auth_capture(lab);
    ASSERT_NE(capture, nullptr);
    e2e_drive([&] {
        double begun = e2e_now_ms();
        e2e_start_worker(c);
        std::vector<double> starts;
        double told = -1;
        // Frames and the run state side by side, until a period past the message.
        while (e2e_now_ms() - begun < 5 * period && (told < 0 || e2e_now_ms() - begun < told + period)) {
            if (e2e_wait_client_frame(lab, capture, 1, 10))
                starts.push_back(e2e_now_ms() - begun);
            if (told < 0 && status_is(STATUS_FAILED))
                told = e2e_now_ms() - begun;
        }
        ASSERT_GE(told, 0) << "no message";
        ASSERT_EQ(starts.size(), 3u) << "a fourth Start, or one missing";
        for (size_t i = 1; i < starts.size(); ++i) {
            EXPECT_NEAR(starts[i] - starts[i - 1], period, 200) << i;
        }
        EXPECT_NEAR(told - starts[0], 3 * period, 300);
        EXPECT_EQ(e2e_msg_title(c), "认证失败");
        EXPECT_EQ(e2e_msg_text(c), kNoAnswer);
    });
    pcap_close(capture);
}

TEST_F(E2eLink, SilentPortGetsThreeStartsAndTheMessage)
{
    silent_port_timeline(1000);
}

// The real period: Starts at 0, 30 and 60 s, the message at about 90 s.
TEST_F(E2eLink, SilentPortTimelineAtTheRealPeriod)
{
    silent_port_timeline(0);
}

// Disconnect while the cable is out: no Logoff on the dead link, idle at once,
// and the online worker ends without a Start when the link comes back.
TEST_F(E2eLink, DisconnectWithoutCarrierSendsNothingAndEnds)
{
    bring_up();
    e2e_drive([&] {
        ASSERT_TRUE(go_online());
        std::string error;
        pcap_t *own = lab_open_eapol(lab.client_if, &error);
        ASSERT_NE(own, nullptr) << error;
        set_link(true, false);
        ASSERT_TRUE(e2e_wait([&] { return e2e_msg_text(c) == kCableOut; }, 1000));
        e2e_on_main([this] { on_menu_item_disconnect_clicked(nullptr, &c->ctx); });
        EXPECT_TRUE(e2e_wait([] { return status_is(STATUS_IDLE); }, 2000)) << status;
        pause_ms(1500);  // the old worker's look for a newer one
        set_link(true, true);
        double until = e2e_now_ms() + 2000;
        int sent = 0;
        while (e2e_now_ms() < until) {
            std::vector<uint8_t> f = lab_recv(own, 100);
            if (f.size() >= 16 && std::memcmp(f.data() + 6, lab.client_mac, 6) == 0)
                ++sent;
        }
        EXPECT_EQ(sent, 0) << "a frame from the client after the disconnect";
        EXPECT_TRUE(status_is(STATUS_IDLE)) << status;
        pcap_close(own);
    });
}

TEST_F(E2eLink, NoCarrierAtLogOnIsToldAtOnce)
{
    bring_up();
    e2e_drive([&] {
        set_link(true, false);
        ASSERT_TRUE(e2e_wait([&] { return lab_exec(lab, "grep -qx 0 /sys/class/net/" + lab.client_if + "/carrier") == 0; }, 2000));
        double begun = e2e_now_ms();
        e2e_start_worker(c);
        ASSERT_TRUE(e2e_wait([] { return status_is(STATUS_FAILED); }, 2000)) << status;
        EXPECT_LT(e2e_now_ms() - begun, 1000);
        EXPECT_EQ(e2e_msg_title(c), "认证失败");
        EXPECT_EQ(e2e_msg_text(c), "网线未连接，请插好网线后重新认证！");
    });
}

TEST_F(E2eLink, CardDownAtLogOnIsToldAsSuch)
{
    bring_up();
    e2e_drive([&] {
        set_link(false, false);
        e2e_start_worker(c);
        ASSERT_TRUE(e2e_wait([] { return status_is(STATUS_ERROR); }, 3000)) << status;
        EXPECT_EQ(e2e_msg_title(c), "错误");
        EXPECT_EQ(e2e_msg_text(c), "网卡未启用，请先启用网卡！");
    });
}

// The test authenticator's key rounds, every second: after a carrier return
// they resume on the new log-on and each is answered.
TEST_F(E2eLink, KeyRoundsResumeAfterACarrierReturn)
{
    LabOptions opt;
    opt.auth = "sim";
    opt.sim_args = "--keys 1";
    bring_up(opt);
    c->settings.timeout = 5;
    e2e_drive([&] {
        ASSERT_TRUE(go_online());
        ASSERT_GE(lab_wait_event(lab, "KEY2 OK", 5000), 0);
        set_link(true, false);
        pause_ms(2000);
        size_t before = lab_sim_events(lab).size();
        set_link(true, true);
        ASSERT_TRUE(e2e_wait([] { return status_is(STATUS_ONLINE); }, 15000))
            << "status " << status << ", text " << e2e_msg_text(c);
        int seen = static_cast<int>(before) - 1;
        for (int i = 0; i < 3; ++i) {
            seen = lab_wait_event(lab, "KEY2 OK", 4000, static_cast<size_t>(seen + 1));
            ASSERT_GE(seen, 0) << "answer " << i << " after the return";
        }
        EXPECT_EQ(e2e_count_events(lab, "KEY1 OK"), e2e_count_events(lab, "KEY2 OK"));
        std::string log;
        for (const LabEvent &e : lab_sim_events(lab))
            log += e.text + "\n";
        EXPECT_EQ(log.find(" BAD"), std::string::npos) << log;
    });
}

}  // namespace
