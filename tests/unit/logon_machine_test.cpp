// SPDX-License-Identifier: GPL-2.0-or-later
// The log-on machine's transitions, row by row: from each phase, each input
// gives these steps (frames named by what they are on the wire) and this phase.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/records.h"
#include "app/texts.h"
#include "auth/key.h"
#include "auth/logon_machine.h"

namespace {

const uint8_t kMac[6] = {0x02, 0xc0, 0x00, 0x00, 0x00, 0x01};
const uint8_t kServer[6] = {0x02, 0xa0, 0x00, 0x00, 0x00, 0x07};
constexpr int kTimeout = 5000;

// A frame from the authenticator: EAPOL type, EAP code and type, len bytes.
std::vector<uint8_t> frame(uint8_t eapol_type, uint8_t code, uint8_t type = 0, int len = 64)
{
    std::vector<uint8_t> f(static_cast<size_t>(len), 0x11);
    std::memcpy(f.data(), kMac, 6);
    std::memcpy(f.data() + 6, kServer, 6);
    uint8_t *p = f.data();
    auto put = [&](int at, uint8_t v) {
        if (at < len)
            p[at] = v;
    };
    put(12, 0x88);
    put(13, 0x8e);
    put(15, eapol_type);
    put(18, code);
    put(22, type);
    return f;
}

const std::vector<uint8_t> kIdentity = frame(0, 1, 1);
const std::vector<uint8_t> kMd5 = frame(0, 1, 4);
const std::vector<uint8_t> kKey = frame(3, 1);
const std::vector<uint8_t> kSuccess = frame(0, 3);
const std::vector<uint8_t> kFailure = frame(0, 4);
const std::vector<uint8_t> kCut = frame(0, 1, 1, 18);  // ends before the EAP code

// The same frame from another station on the cable.
std::vector<uint8_t> forged(std::vector<uint8_t> f)
{
    const uint8_t other[6] = {0x02, 0xee, 0x00, 0x00, 0x00, 0x09};
    std::memcpy(f.data() + 6, other, 6);
    return f;
}
const std::vector<uint8_t> kForgedSuccess = forged(kSuccess);
const std::vector<uint8_t> kForgedKey = forged(kKey);
const std::vector<uint8_t> kForgedMd5 = forged(kMd5);

std::string frame_name(const LogonStep &s)
{
    switch (s.frame[15]) {
    case 1: return "start";
    case 2: return "logoff";
    case 3: return "key";
    default: return s.frame[22] == 1 ? "identity" : s.frame[22] == 4 ? "md5" : "?";
    }
}

std::string describe(const LogonStep &s)
{
    switch (s.kind) {
    case StepKind::Checkpoint: return "checkpoint";
    case StepKind::Send: return "send " + frame_name(s);
    case StepKind::SetFilter: return "filter";
    case StepKind::SetStatus: return "status " + std::to_string(s.value);
    case StepKind::Progress: return "progress " + render_text(s.text);
    case StepKind::Message: return "message " + render_text(s.text);
    case StepKind::ServerFailure: return "server failure";
    case StepKind::KeyCheck: return "key check";
    case StepKind::SaveAccount: return "save";
    case StepKind::ObtainAddress: return s.value ? "address again" : "address";
    case StepKind::Tray: return "tray";
    case StepKind::End: return s.value ? "end logged off" : "end";
    case StepKind::Ignored:
        return s.value == SUCCESS_BEFORE_OUR_ANSWER ? "ignored early success" : "ignored foreign success";
    }
    return "?";
}

std::vector<std::string> describe(const LogonActions &a)
{
    std::vector<std::string> out;
    for (int i = 0; i < a.count; ++i)
        out.push_back(describe(a.steps[i]));
    return out;
}

LogonInput input(LogonEvent event, int run_status = STATUS_AUTHENTICATING,
                 const std::vector<uint8_t> *f = nullptr, bool reconnect = false, int64_t now = 1000)
{
    LogonInput in{event, now, 1700000000, run_status, reconnect};
    if (f) {
        in.frame = f->data();
        in.caplen = static_cast<int>(f->size());
    }
    return in;
}

LogonInput frame_input(const std::vector<uint8_t> &f, int run_status = STATUS_AUTHENTICATING)
{
    return input(LogonEvent::Frame, run_status, &f);
}

// Answered: in the exchange after the MD5 challenge was answered.
enum class From { NotStarted, StartWait, Exchange, Answered, GettingAddress, Online, WaitCarrier, Ended };

// A machine brought to a phase the way a log-on gets there.
LogonMachine machine_in(From from)
{
    LogonMachine m;
    logon_init(&m, "e2euser", "labpass1", kMac, kTimeout);
    if (from == From::NotStarted)
        return m;
    (void)logon_step(&m, input(LogonEvent::Begin));
    while (from == From::Ended && m.phase != LogonPhase::Ended)
        (void)logon_step(&m, input(LogonEvent::ReadTimeout));
    if (from != From::StartWait && from != From::WaitCarrier && from != From::Ended)
        (void)logon_step(&m, frame_input(kIdentity));
    if (from == From::Answered || from == From::GettingAddress || from == From::Online)
        (void)logon_step(&m, frame_input(kMd5));
    if (from == From::GettingAddress || from == From::Online)
        (void)logon_step(&m, frame_input(kSuccess));
    if (from == From::Online)
        (void)logon_step(&m, input(LogonEvent::AddressObtained, STATUS_ONLINE));
    if (from == From::WaitCarrier)
        (void)logon_step(&m, input(LogonEvent::LinkDown));
    return m;
}

const char kStart[] = "progress 正在认证中……（start）";
const char kNoAnswer[] = "message 等待服务器响应超时，可能是你没有插好网线\n\n或者选了无线网卡！";
const std::vector<std::string> kLogoff = {"send logoff", "status 2", "checkpoint", "end logged off"};
const std::vector<std::string> kNoAnswerSteps = {"checkpoint", "send start", "status 0", kNoAnswer,
                                                 "end"};

const char kCableOut[] = "progress 网线已断开，等待重新连接……";
const std::vector<std::string> kCableLost = {"checkpoint", "tray", kCableOut};
const std::vector<std::string> kCableLostOnline = {"checkpoint", "status 3", "tray", kCableOut};
const std::vector<std::string> kAgain = {"checkpoint", "filter", "checkpoint", "send start", kStart};
const std::vector<std::string> kGone = {"checkpoint", "status 5",
                                        "message 网卡已被移除，请插好网卡后重新认证！", "end"};

LogonInput without_carrier(int run_status)
{
    LogonInput in = input(LogonEvent::Begin, run_status);
    in.no_carrier = true;
    return in;
}

std::vector<std::string> then(std::vector<std::string> a, const std::vector<std::string> &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct Row {
    const char *what;
    From from;
    LogonInput in;
    std::vector<std::string> steps;
    LogonPhase after;
};

std::vector<Row> rows()
{
    using E = LogonEvent;
    using P = LogonPhase;
    const int AUTH = STATUS_AUTHENTICATING, ONLINE = STATUS_ONLINE, LOGOFF = STATUS_LOGOFF;
    return {
        {"begin", From::NotStarted, input(E::Begin),
         {"filter", "checkpoint", "send start", kStart}, P::StartWait},
        {"begin, not authenticating", From::NotStarted, input(E::Begin, ONLINE),
         {"filter", "checkpoint", "send start"}, P::StartWait},
        {"begin as a log-off worker", From::NotStarted, input(E::Begin, LOGOFF),
         then({"filter", "checkpoint"}, kLogoff), P::Ended},
        {"frame before begin", From::NotStarted, frame_input(kIdentity), {}, P::NotStarted},
        {"begin without a carrier", From::NotStarted, without_carrier(AUTH),
         {"checkpoint", "status 0", "message 网线未连接，请插好网线后重新认证！", "end"}, P::Ended},
        {"log-off worker without a carrier sends nothing", From::NotStarted, without_carrier(LOGOFF),
         {"status 2", "checkpoint", "end logged off"}, P::Ended},
        {"link events before begin", From::NotStarted, input(E::LinkDown), {}, P::NotStarted},

        {"cable out while waiting for Start's answer", From::StartWait, input(E::LinkDown),
         kCableLost, P::WaitCarrier},
        {"card set down while waiting", From::StartWait, input(E::LinkDisabled),
         {"checkpoint", "tray", "progress 网卡已停用，等待重新启用……"}, P::WaitCarrier},
        {"carrier up while it is up", From::StartWait, input(E::LinkUp), {}, P::StartWait},
        {"slept while waiting", From::StartWait, input(E::Slept), kAgain, P::StartWait},
        {"card removed while waiting", From::StartWait, input(E::LinkGone), kGone, P::Ended},
        {"cable out in the exchange", From::Exchange, input(E::LinkDown), kCableLost,
         P::WaitCarrier},
        {"cable out getting the address", From::GettingAddress, input(E::LinkDown, STATUS_GETTING_IP),
         kCableLostOnline, P::WaitCarrier},
        {"cable out online", From::Online, input(E::LinkDown, ONLINE), kCableLostOnline,
         P::WaitCarrier},
        {"slept online", From::Online, input(E::Slept, ONLINE),
         {"checkpoint", "status 3", "tray", "filter", "checkpoint", "send start", kStart},
         P::StartWait},
        {"card removed online", From::Online, input(E::LinkGone, ONLINE), kGone, P::Ended},
        {"key frame online", From::Online, frame_input(kKey, ONLINE),
         {"checkpoint", "send key", "send key", "key check"}, P::Exchange},

        {"carrier back", From::WaitCarrier, input(E::LinkUp), kAgain, P::StartWait},
        {"cable out again", From::WaitCarrier, input(E::LinkDown), kCableLost, P::WaitCarrier},
        {"no key answers without a carrier", From::WaitCarrier, frame_input(kKey, ONLINE), {},
         P::WaitCarrier},
        {"without a carrier a deadline only looks for a newer worker", From::WaitCarrier,
         input(E::ReadTimeout, AUTH, nullptr, true), {"checkpoint"}, P::WaitCarrier},
        {"slept without a carrier", From::WaitCarrier, input(E::Slept), {}, P::WaitCarrier},
        {"log-off without a carrier sends nothing", From::WaitCarrier, input(E::Logoff),
         {"status 2", "checkpoint", "end logged off"}, P::Ended},
        {"address obtained without a carrier", From::WaitCarrier, input(E::AddressObtained), {},
         P::WaitCarrier},
        {"card removed without a carrier", From::WaitCarrier, input(E::LinkGone), kGone, P::Ended},
        {"link events after the end", From::Ended, input(E::LinkUp), {}, P::Ended},

        {"first request: identity", From::StartWait, frame_input(kIdentity),
         {"checkpoint", "send identity", "progress 正在认证中……（IDENTITY）"}, P::Exchange},
        {"first request: md5 is not answered", From::StartWait, frame_input(kMd5), {"checkpoint"},
         P::Exchange},
        {"failure instead of a request", From::StartWait, frame_input(kFailure),
         {"checkpoint", "server failure", "end"}, P::Ended},
        {"success instead of a request", From::StartWait, frame_input(kSuccess), kNoAnswerSteps,
         P::Ended},
        {"cut frame instead of a request", From::StartWait, frame_input(kCut), kNoAnswerSteps,
         P::Ended},
        {"no frame: Start again", From::StartWait, input(E::ReadTimeout), {"checkpoint", "send start"},
         P::StartWait},
        {"log-off request while waiting", From::StartWait, input(E::Logoff), kLogoff, P::Ended},
        {"address obtained while waiting", From::StartWait, input(E::AddressObtained), {},
         P::StartWait},

        {"key frame before the success", From::Exchange, frame_input(kKey), {"checkpoint"},
         P::Exchange},
        {"key frame after the md5 answer, before the success", From::Answered, frame_input(kKey),
         {"checkpoint"}, P::Exchange},
        {"key frame online from another address", From::Online, frame_input(kForgedKey, ONLINE),
         {"checkpoint"}, P::Exchange},
        {"identity", From::Exchange, frame_input(kIdentity),
         {"checkpoint", "send identity", "progress 正在认证中……（IDENTITY2）"}, P::Exchange},
        {"identity while online", From::Exchange, frame_input(kIdentity, ONLINE),
         {"checkpoint", "send identity"}, P::Exchange},
        {"md5", From::Exchange, frame_input(kMd5),
         {"checkpoint", "send md5", "progress 正在认证中……（MD5-Challenge2）"}, P::Exchange},
        {"md5 while online", From::Exchange, frame_input(kMd5, ONLINE), {"checkpoint", "send md5"},
         P::Exchange},
        {"failure", From::Exchange, frame_input(kFailure, ONLINE),
         {"checkpoint", "server failure", "end"}, P::Ended},
        {"success before the md5 answer", From::Exchange, frame_input(kSuccess),
         {"checkpoint", "ignored early success"}, P::Exchange},
        {"success from another address", From::Answered, frame_input(kForgedSuccess),
         {"checkpoint", "ignored foreign success"}, P::Exchange},
        {"success", From::Answered, frame_input(kSuccess),
         {"checkpoint", "save", "checkpoint", "status 6", "progress 认证通过！正在获取IP地址……",
          "address"},
         P::GettingAddress},
        {"repeated success while online", From::Exchange, frame_input(kSuccess, ONLINE),
         {"checkpoint"}, P::Exchange},
        {"silence, reconnect off", From::Exchange, input(E::ReadTimeout, ONLINE),
         {"checkpoint", "status 0", "message 等待服务器响应超时（key）！", "end"}, P::Ended},
        {"silence, reconnect on", From::Exchange, input(E::ReadTimeout, AUTH, nullptr, true),
         {"checkpoint", "progress 等待超时，自动进行第 2 次认证！", "checkpoint", "send start", kStart},
         P::StartWait},
        {"silence, reconnect on while online", From::Exchange,
         input(E::ReadTimeout, ONLINE, nullptr, true),
         {"checkpoint", "progress 等待超时，自动进行第 2 次认证！", "checkpoint", "send start"},
         P::StartWait},
        {"silence, reconnect on, logging off", From::Exchange,
         input(E::ReadTimeout, LOGOFF, nullptr, true),
         then({"checkpoint", "progress 等待超时，自动进行第 2 次认证！", "checkpoint"}, kLogoff),
         P::Ended},
        {"begin again", From::Exchange, input(E::Begin), {}, P::Exchange},

        {"address obtained", From::GettingAddress, input(E::AddressObtained, ONLINE),
         {"checkpoint", "send key", "filter"}, P::Exchange},
        {"frame while getting the address", From::GettingAddress, frame_input(kKey, ONLINE), {},
         P::GettingAddress},
        {"silence while getting the address", From::GettingAddress, input(E::ReadTimeout), {},
         P::GettingAddress},

        {"frame after the end", From::Ended, frame_input(kIdentity), {}, P::Ended},
        {"silence after the end", From::Ended, input(E::ReadTimeout), {}, P::Ended},
        {"log-off after the end", From::Ended, input(E::Logoff), {}, P::Ended},
    };
}

TEST(LogonMachine, TransitionsRowByRow)
{
    for (const Row &row : rows()) {
        LogonMachine m = machine_in(row.from);
        LogonActions a = logon_step(&m, row.in);
        EXPECT_EQ(describe(a), row.steps) << row.what;
        EXPECT_EQ(m.phase, row.after) << row.what;
        for (int i = 0; i < a.count; ++i) {
            if (a.steps[i].kind == StepKind::Send) {
                EXPECT_EQ(std::memcmp(a.steps[i].frame + 6, kMac, 6), 0) << row.what;
            }
        }
    }
}

// Each read may last the time-out from when it began; none while the address
// step runs, and none at all with a time-out of 0.
TEST(LogonMachine, DeadlineFollowsEveryRead)
{
    LogonMachine m = machine_in(From::NotStarted);
    (void)logon_step(&m, input(LogonEvent::Begin, STATUS_AUTHENTICATING, nullptr, false, 100));
    EXPECT_EQ(m.deadline, 100 + kTimeout);
    (void)logon_step(&m, input(LogonEvent::Frame, STATUS_AUTHENTICATING, &kIdentity, false, 700));
    EXPECT_EQ(m.deadline, 700 + kTimeout);
    const std::vector<uint8_t> other = frame(0, 9);  // ignored, but it was a read
    (void)logon_step(&m, input(LogonEvent::Frame, STATUS_AUTHENTICATING, &other, false, 900));
    EXPECT_EQ(m.deadline, 900 + kTimeout);
    (void)logon_step(&m, input(LogonEvent::Frame, STATUS_AUTHENTICATING, &kMd5, false, 920));
    (void)logon_step(&m, input(LogonEvent::Frame, STATUS_AUTHENTICATING, &kSuccess, false, 950));
    EXPECT_EQ(m.deadline, LOGON_NEVER);
    (void)logon_step(&m, input(LogonEvent::AddressObtained, STATUS_ONLINE, nullptr, false, 9000));
    EXPECT_EQ(m.deadline, 9000 + kTimeout);

    LogonMachine unlimited;
    logon_init(&unlimited, "e2euser", "labpass1", kMac, 0);
    (void)logon_step(&unlimited, input(LogonEvent::Begin));
    (void)logon_step(&unlimited, frame_input(kIdentity));
    EXPECT_EQ(unlimited.deadline, LOGON_NEVER);
}

// A silent port: Starts a period apart, three in all, then the failure a
// period after the last; with a time-out of 0, too; and each new log-on after
// a carrier return counts its Starts afresh.
TEST(LogonMachine, SilentPortGetsThreeStartsThenTheMessage)
{
    for (int timeout : {0, 800000}) {
        LogonMachine m;
        logon_init(&m, "e2euser", "labpass1", kMac, timeout);
        std::vector<int64_t> starts;
        auto count_starts = [&](const LogonActions &a, int64_t at) {
            for (int i = 0; i < a.count; ++i)
                if (a.steps[i].kind == StepKind::Send && a.steps[i].frame[15] == 1)
                    starts.push_back(at);
        };
        count_starts(logon_step(&m, input(LogonEvent::Begin, STATUS_AUTHENTICATING, nullptr, false, 0)), 0);
        std::vector<std::string> last;
        while (m.phase == LogonPhase::StartWait) {
            int64_t at = m.deadline;
            LogonActions a = logon_step(&m, input(LogonEvent::ReadTimeout, STATUS_AUTHENTICATING,
                                                  nullptr, false, at));
            count_starts(a, at);
            last = describe(a);
            ASSERT_LE(at, 4 * LOGON_START_PERIOD_MS) << timeout;
        }
        EXPECT_EQ(starts, (std::vector<int64_t>{0, 30000, 60000})) << timeout;
        EXPECT_EQ(last, (std::vector<std::string>{"checkpoint", "status 0", kNoAnswer, "end"}));
    }
    // A read time-out shorter than the period is the period.
    LogonMachine quick;
    logon_init(&quick, "e2euser", "labpass1", kMac, 2000);
    (void)logon_step(&quick, input(LogonEvent::Begin, STATUS_AUTHENTICATING, nullptr, false, 0));
    EXPECT_EQ(quick.deadline, 2000);

    LogonMachine m = machine_in(From::StartWait);
    (void)logon_step(&m, input(LogonEvent::ReadTimeout));
    (void)logon_step(&m, input(LogonEvent::ReadTimeout));
    EXPECT_EQ(m.starts_sent, LOGON_MAX_STARTS);
    (void)logon_step(&m, input(LogonEvent::LinkDown));
    (void)logon_step(&m, input(LogonEvent::LinkUp));
    EXPECT_EQ(m.starts_sent, 1);
    EXPECT_EQ(describe(logon_step(&m, input(LogonEvent::ReadTimeout))),
              (std::vector<std::string>{"checkpoint", "send start"}));
}

// Online, the cable out and back: the same account logs on anew, the Success
// counts again and the address is confirmed once more, then key frames resume.
TEST(LogonMachine, CarrierReturnLogsOnAgainAndGetsTheAddress)
{
    LogonMachine m = machine_in(From::Online);
    (void)logon_step(&m, input(LogonEvent::LinkDown, STATUS_ONLINE));
    (void)logon_step(&m, input(LogonEvent::LinkUp));
    EXPECT_EQ(describe(logon_step(&m, frame_input(kIdentity))),
              (std::vector<std::string>{"checkpoint", "send identity",
                                        "progress 正在认证中……（IDENTITY）"}));
    EXPECT_EQ(describe(logon_step(&m, frame_input(kKey))), (std::vector<std::string>{"checkpoint"}))
        << "the new log-on has not succeeded yet";
    (void)logon_step(&m, frame_input(kMd5));
    LogonActions success = logon_step(&m, frame_input(kSuccess));
    EXPECT_EQ(describe(success).back(), "address again");
    EXPECT_EQ(m.phase, LogonPhase::GettingAddress);
    (void)logon_step(&m, input(LogonEvent::AddressObtained, STATUS_ONLINE));
    EXPECT_EQ(describe(logon_step(&m, frame_input(kKey, STATUS_ONLINE))),
              (std::vector<std::string>{"checkpoint", "send key", "send key", "key check"}));
    EXPECT_EQ(m.attempt_number, 2) << "a carrier return is no reconnect notice";
}

TEST(LogonMachine, ReconnectNoticeCountsOnAndNeverResets)
{
    LogonMachine m = machine_in(From::Exchange);
    for (int attempt = 2; attempt <= 4; ++attempt) {
        LogonActions a = logon_step(&m, input(LogonEvent::ReadTimeout, STATUS_ONLINE, nullptr, true));
        ASSERT_GE(a.count, 2);
        EXPECT_EQ(a.steps[1].text.id, T_RECONNECT);
        EXPECT_EQ(a.steps[1].text.number, attempt);
        (void)logon_step(&m, frame_input(kIdentity, STATUS_ONLINE));
    }
}

// The values the steps carry come from the right frame and the right input.
TEST(LogonMachine, StepsCarryTheFramesValues)
{
    LogonMachine m = machine_in(From::Exchange);
    std::vector<uint8_t> failure = kFailure;
    std::memcpy(failure.data() + 30, "303:", 4);
    LogonActions refused = logon_step(&m, frame_input(failure));
    ASSERT_EQ(refused.count, 3);
    EXPECT_EQ(std::memcmp(refused.steps[1].failure_code, "303:", 4), 0);

    LogonMachine short_failure = machine_in(From::Exchange);
    const std::vector<uint8_t> cut = frame(0, 4, 0, 33);  // too short for the code
    LogonActions a = logon_step(&short_failure, frame_input(cut));
    ASSERT_EQ(a.count, 3);
    const uint8_t zeros[4] = {};
    EXPECT_EQ(std::memcmp(a.steps[1].failure_code, zeros, 4), 0);

    // The post-success frame draws from the input's wall clock; the narrowed
    // filter names the Success's sender.
    LogonMachine online = machine_in(From::GettingAddress);
    LogonInput obtained = input(LogonEvent::AddressObtained, STATUS_ONLINE);
    LogonActions after = logon_step(&online, obtained);
    ASSERT_EQ(after.count, 3);
    uint8_t want[KEY_FRAME_BUFSIZE];
    int len = build_packet_key(want, kMac, static_cast<time_t>(obtained.wall_s));
    ASSERT_EQ(after.steps[1].len, len);
    EXPECT_EQ(std::memcmp(after.steps[1].frame, want, static_cast<size_t>(len)), 0);
    EXPECT_NE(std::string(after.steps[2].filter).find("02:a0:00:00:00:07"), std::string::npos)
        << after.steps[2].filter;
}

}  // namespace

namespace {

const std::vector<std::string> kIgnored = {"checkpoint", "ignored early success"};

// An MD5 challenge from a station other than the cycle's authenticator is
// answered as before, but it is not the challenge a Success may follow.
TEST(LogonMachine, SuccessNeedsTheAuthenticatorsOwnChallengeAnswered)
{
    LogonMachine m = machine_in(From::Exchange);
    EXPECT_EQ(describe(logon_step(&m, frame_input(kForgedMd5))),
              (std::vector<std::string>{"checkpoint", "send md5",
                                        "progress 正在认证中……（MD5-Challenge2）"}));
    EXPECT_EQ(describe(logon_step(&m, frame_input(kSuccess))), kIgnored);
    EXPECT_EQ(describe(logon_step(&m, frame_input(kForgedSuccess))),
              (std::vector<std::string>{"checkpoint", "ignored foreign success"}));
    (void)logon_step(&m, frame_input(kMd5));
    EXPECT_EQ(describe(logon_step(&m, frame_input(kSuccess))).back(), "address");
    EXPECT_EQ(std::memcmp(m.server_mac, kServer, 6), 0);
}

// A new cycle after a silence is a new exchange: the last cycle's answer does not carry over.
TEST(LogonMachine, ReconnectCycleNeedsItsOwnChallenge)
{
    LogonMachine m = machine_in(From::Answered);
    (void)logon_step(&m, input(LogonEvent::ReadTimeout, STATUS_AUTHENTICATING, nullptr, true));
    (void)logon_step(&m, frame_input(kIdentity));
    EXPECT_EQ(describe(logon_step(&m, frame_input(kSuccess))), kIgnored);
    EXPECT_EQ(m.phase, LogonPhase::Exchange);
}

// Every key frame of the authenticator is answered; the process check follows
// at most once a period, counted from the last check.
TEST(LogonMachine, ProcessCheckAtMostOncePerPeriod)
{
    LogonMachine m = machine_in(From::Online);
    const std::vector<std::string> answered = {"checkpoint", "send key", "send key"};
    const std::vector<std::string> checked = then(answered, {"key check"});
    struct At {
        int64_t now;
        const std::vector<std::string> &steps;
    };
    const int64_t p = LOGON_KEY_CHECK_PERIOD_MS;
    for (const At &at : {At{5000, checked}, At{5001, answered}, At{5000 + p - 1, answered},
                         At{5000 + p, checked}, At{5000 + p + p / 2, answered},
                         At{5000 + 3 * p, checked}}) {
        LogonActions a = logon_step(&m, input(LogonEvent::Frame, STATUS_ONLINE, &kKey, false, at.now));
        EXPECT_EQ(describe(a), at.steps) << "at " << at.now;
    }
}

}  // namespace
