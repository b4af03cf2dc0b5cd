// SPDX-License-Identifier: GPL-2.0-or-later
// The worker's log-on over exchanges recorded in the lab (both directions,
// EAPOL only): the recorded frames that pass the filter the worker last
// installed are fed to its machine and driver, without a capture, on a thread
// of its own as a worker does. It must send exactly the answers the live
// client sent, and tell the user what the live client told, in the same
// order; a recording's end is the silence of a read time-out.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <gcrypt.h>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "app/records.h"
#include "auth/logon_driver.h"
#include "auth/worker_link.h"
#include "config/settings.h"
#include "replay/wire_fake.h"

namespace {

const uint8_t kClient[6] = {0x02, 0xc0, 0x00, 0x00, 0x00, 0x01};
const uint8_t kServer[6] = {0x02, 0xa0, 0x00, 0x00, 0x00, 0x01};
constexpr uint8_t EAPOL_KEY = 3;
constexpr uint8_t EAPOL_LOGOFF = 2;

const char kLinkTimeout[] = "message 掉线|等待服务器响应超时（key）！|1|0";
const char kNoAnswer[] =
    "message 认证失败|等待服务器响应超时，可能是你没有插好网线\n\n或者选了无线网卡！|1|0";

std::string data_path(const std::string &name)
{
    return CORVIX_SOURCE_DIR "/tests/replay/data/" + name;
}

using Handle = std::unique_ptr<pcap_t, void (*)(pcap_t *)>;

Handle open_recording(const std::string &path)
{
    char err[PCAP_ERRBUF_SIZE] = "";
    Handle h(pcap_open_offline(path.c_str(), err), pcap_close);
    EXPECT_TRUE(h) << path << ": " << err;
    return h;
}

// The frames the live client sent, in order.
std::vector<Bytes> client_frames(const std::string &path)
{
    std::vector<Bytes> out;
    Handle h = open_recording(path);
    pcap_pkthdr *hdr;
    const u_char *data;
    while (h && pcap_next_ex(h.get(), &hdr, &data) == 1) {
        if (hdr->caplen >= 12 && std::memcmp(data + 6, kClient, 6) == 0)
            out.emplace_back(data, data + hdr->caplen);
    }
    return out;
}

// The client's frames, compared with what the live client sent. The
// post-success key frame (at post_key) carries bytes drawn from the clock, so
// only its length and the part before them (up to the key index) must match.
::testing::AssertionResult same_as_live(const std::vector<Bytes> &sent,
                                        const std::vector<Bytes> &live, size_t post_key)
{
    constexpr size_t kClockFree = 46;
    if (sent.size() != live.size())
        return ::testing::AssertionFailure() << sent.size() << " frames sent, " << live.size() << " live";
    for (size_t i = 0; i < sent.size(); ++i) {
        bool same = i == post_key ? sent[i].size() == live[i].size() && sent[i].size() > kClockFree &&
                                        std::equal(sent[i].begin(), sent[i].begin() + kClockFree,
                                                   live[i].begin())
                                  : sent[i] == live[i];
        if (!same)
            return ::testing::AssertionFailure() << "frame " << i << " differs";
    }
    return ::testing::AssertionSuccess();
}

// Writes a copy of a recording with every frame cut to at most cut bytes.
bool write_cut_copy(const std::string &from, const std::string &to, int cut)
{
    Handle in = open_recording(from);
    if (!in)
        return false;
    pcap_dumper_t *out = pcap_dump_open(in.get(), to.c_str());
    if (!out)
        return false;
    pcap_pkthdr *hdr;
    const u_char *data;
    while (pcap_next_ex(in.get(), &hdr, &data) == 1) {
        pcap_pkthdr h = *hdr;
        h.caplen = std::min<bpf_u_int32>(h.caplen, static_cast<bpf_u_int32>(cut));
        pcap_dump(reinterpret_cast<u_char *>(out), &h, data);
    }
    pcap_dump_close(out);
    return true;
}

// What the loop told the user, one line per report, in order.
struct Recorder {
    std::vector<std::string> events;
    int key_checks = 0;
    bool supersede_in_address_step = false;
    bool supersede_after_start = false;
};
Recorder *rec = nullptr;

void record(const std::string &line)
{
    rec->events.push_back(line);
}

WorkerLink recording_link()
{
    WorkerLink link{};
    link.show_message = [](void *, TextId title, const UserText &text, int kind, int buttons) {
        record("message " + std::string(text_of(title)) + "|" + render_text(text) + "|" +
               std::to_string(kind) + "|" + std::to_string(buttons));
    };
    link.progress_text = [](void *, const UserText &t) {
        std::string text = render_text(t);
        record("progress " + text);
        if (rec->supersede_after_start && text.find("start") != std::string::npos)
            thread_auth_num++;
    };
    link.tray = [](void *, TrayState state) {
        record(state == TrayState::Online ? "tray online" : "tray authenticating");
    };
    link.status_changed = [](void *, int value) { record("status " + std::to_string(value)); };
    return link;
}

void count_key_check()
{
    rec->key_checks++;
}

// Stands in for request_ip: what the loop relies on is that it returns with
// STATUS_ONLINE set. A newer worker may start after its last checkpoint (during
// the post-login action, say).
int fake_address_step(AppContext *, const char *device, int *)
{
    record("address " + std::string(device));
    link_set_status(STATUS_ONLINE);
    if (rec->supersede_in_address_step)
        thread_auth_num++;
    return 0;
}

// The filter the worker installed last, compiled as the capture compiles it.
struct RecordingFilter {
    bpf_program program{};
    bool set = false;
    ~RecordingFilter() { clear(); }
    void clear()
    {
        if (set)
            pcap_freecode(&program);
        set = false;
    }
};
RecordingFilter *filter = nullptr;

int install_recording_filter(pcap_t *, const char *text)
{
    Handle dead(pcap_open_dead(DLT_EN10MB, 65536), pcap_close);
    filter->clear();
    filter->set = pcap_compile(dead.get(), &filter->program, text, 1, 0xff) == 0;
    return filter->set ? 1 : 0;
}

bool passes_filter(const pcap_pkthdr *hdr, const u_char *data)
{
    return !filter->set || pcap_offline_filter(&filter->program, hdr, data) != 0;
}

struct LoopRun {
    AuthSession *s;
    pcap_t *recording;
    bool returned = false;  // false: the thread ended at a checkpoint
};

gpointer loop_thread(gpointer data)
{
    auto *run = static_cast<LoopRun *>(data);
    bool going = logon_begin(*run->s);
    pcap_pkthdr *hdr;
    const u_char *frame;
    while (going && pcap_next_ex(run->recording, &hdr, &frame) == 1) {
        if (passes_filter(hdr, frame))
            going = logon_feed(*run->s, LogonEvent::Frame, frame, static_cast<int>(hdr->caplen));
    }
    // The end of the recording is silence for good.
    while (going)
        going = logon_feed(*run->s, LogonEvent::ReadTimeout);
    run->returned = true;
    return nullptr;
}

class AttemptLoop : public ::testing::Test {
  protected:
    Recorder recorder;
    ClientSettings settings{};
    AppContext ctx{nullptr, &settings};
    AuthSession s{};
    Handle handle{nullptr, pcap_close};
    RecordingFilter recording_filter;
    std::string settings_file;
    bool returned = false;

    void SetUp() override
    {
        rec = &recorder;
        filter = &recording_filter;
        set_worker_link(recording_link());
        sent_frames.clear();
        thread_auth_num = 0;
        status = STATUS_AUTHENTICATING;  // as the worker's start leaves it
        char path[] = "/tmp/corvix-replay-XXXXXX";
        int fd = mkstemp(path);
        ASSERT_GE(fd, 0);
        close(fd);
        settings_file = path;
        settings_path = settings_file.c_str();
    }

    void TearDown() override { (void)unlink(settings_file.c_str()); }

    // The worker's session for the recorded client, then its log-on over the
    // recording, run to its end on a thread of its own.
    void run(const std::string &path, const char *password = "labpass1", int private_auth = 0)
    {
        handle = open_recording(path);
        ASSERT_TRUE(handle);
        recorder.events.clear();
        s = AuthSession{};
        fill_session(s, &ctx, WorkerInput{"e2euser", password, "lab0", 1, private_auth});
        std::memcpy(s.local_mac, kClient, 6);  // what GetMacFromDevice reads live
        s.generation = thread_auth_num;
        s.after_key_answer = count_key_check;
        s.acquire_address = fake_address_step;
        s.install_filter = install_recording_filter;
        recording_filter.clear();
        LoopRun loop{&s, handle.get()};
        GThread *thread = g_thread_new("attempt", loop_thread, &loop);
        g_thread_join(thread);
        returned = loop.returned;
    }

    std::string settings_text() const
    {
        std::ifstream in(settings_file);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
};

TEST_F(AttemptLoop, HostapdLogonSendsTheRecordedFramesAndReportsTheWayOnline)
{
    run(data_path("hostapd_logon.pcap"));
    std::vector<Bytes> live = client_frames(data_path("hostapd_logon.pcap"));
    ASSERT_EQ(live.size(), 4u);  // Start, Identity, MD5, post-success key frame
    EXPECT_TRUE(same_as_live(sent_frames, live, 3));
    EXPECT_TRUE(returned);
    const std::vector<std::string> want = {
        "progress 正在认证中……（start）",
        "progress 正在认证中……（IDENTITY）",
        "progress 正在认证中……（MD5-Challenge2）",
        "status 6",
        "progress 认证通过！正在获取IP地址……",
        "address lab0",
        "status 1",
        // The recording ends: the link time-out, reconnect off.
        "status 0",
        kLinkTimeout,
    };
    EXPECT_EQ(recorder.events, want);
    EXPECT_EQ(status.load(), STATUS_FAILED);
    // The account was saved before the address step.
    EXPECT_NE(settings_text().find("e2euser"), std::string::npos) << settings_text();
}

TEST_F(AttemptLoop, PrivateSuffixChangesOnlyTheMd5Answer)
{
    settings.remember_password = 1;
    run(data_path("hostapd_logon.pcap"), "labpass1", 1);
    // What is remembered is what the user typed, never the suffix.
    char typed[21] = "labpass1";
    encrypt(typed);
    EXPECT_NE(settings_text().find(std::string("password1 = ") + typed + "\n"), std::string::npos)
        << settings_text();
    std::vector<Bytes> live = client_frames(data_path("hostapd_logon.pcap"));
    ASSERT_EQ(sent_frames.size(), 4u);
    EXPECT_EQ(sent_frames[1], live[1]);  // the identity is the same
    ASSERT_EQ(sent_frames[2].size(), live[2].size());
    // MD5 over identifier, password with the suffix, and the recorded challenge.
    Handle recording = open_recording(data_path("hostapd_logon.pcap"));
    pcap_pkthdr *hdr;
    const u_char *data;
    Bytes challenge;
    while (pcap_next_ex(recording.get(), &hdr, &data) == 1) {
        if (hdr->caplen >= 40 && data[18] == 1 && data[22] == 4)
            challenge.assign(data + 19, data + 40);  // identifier .. challenge
    }
    ASSERT_EQ(challenge.size(), 21u);
    std::string msg(1, static_cast<char>(challenge[0]));
    msg += s.answer_password;
    ASSERT_EQ(msg.size(), 1u + 8u + 9u);
    msg.append(reinterpret_cast<const char *>(challenge.data() + 5), 16);
    uint8_t want[16];
    gcry_md_hash_buffer(GCRY_MD_MD5, want, msg.data(), msg.size());
    EXPECT_EQ(std::memcmp(sent_frames[2].data() + 24, want, 16), 0);
    EXPECT_NE(std::memcmp(sent_frames[2].data() + 24, live[2].data() + 24, 16), 0);
    EXPECT_EQ(sent_frames[3].size(), live[3].size());
}

// A Failure ends the attempt with the server's reason; the address step never runs.
TEST_F(AttemptLoop, FailuresEndWithTheServersReason)
{
    struct Case {
        const char *file;
        const char *password;
        const char *message;
    };
    const Case cases[] = {
        {"hostapd_failure.pcap", "wrongpass", "message 认证失败|该错误不存在提示信息！|1|0"},  // no code
        {"sim_failure_303.pcap", "labpass1", "message 认证失败|密码错误！|1|0"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        sent_frames.clear();
        status = STATUS_AUTHENTICATING;
        run(data_path(c.file), c.password);
        EXPECT_TRUE(same_as_live(sent_frames, client_frames(data_path(c.file)), std::string::npos));
        ASSERT_GE(recorder.events.size(), 2u);
        EXPECT_EQ(recorder.events[recorder.events.size() - 2], "status 0");
        EXPECT_EQ(recorder.events.back(), c.message);
        for (const std::string &e : recorder.events)
            EXPECT_NE(e.rfind("address", 0), 0u) << e;
        EXPECT_TRUE(returned);
    }
}

TEST_F(AttemptLoop, KeyFramesWhileOnlineGetTheRecordedAnswerPairs)
{
    run(data_path("sim_keys.pcap"));
    std::vector<Bytes> live = client_frames(data_path("sim_keys.pcap"));
    // Start, Identity, MD5, post-success key frame, then three answer pairs.
    ASSERT_EQ(live.size(), 4u + 6u);
    EXPECT_TRUE(same_as_live(sent_frames, live, 3));
    // The replay feeds the three key frames within a second: one process check.
    EXPECT_EQ(recorder.key_checks, 1);
    EXPECT_EQ(recorder.events.back(), kLinkTimeout);
}

// A newer worker (a log-off, say) takes over while this one waits for the
// authenticator: the request that then arrives gets no answer from it.
TEST_F(AttemptLoop, RetiredWhileWaitingAnswersNothing)
{
    recorder.supersede_after_start = true;
    run(data_path("hostapd_logon.pcap"));
    EXPECT_FALSE(returned);
    EXPECT_EQ(sent_frames.size(), 1u);  // the Start alone
}

// With reconnect on, the silence starts a new cycle on the same handle: the
// notice is shown although online, the run state stays, and a second
// silence (no answer to the new Start) ends the attempt.
TEST_F(AttemptLoop, ReconnectAfterSilenceStartsANewCycleOnTheSameHandle)
{
    settings.timeout_reconnect = 1;
    run(data_path("hostapd_logon.pcap"));
    std::vector<Bytes> live = client_frames(data_path("hostapd_logon.pcap"));
    ASSERT_EQ(sent_frames.size(), 7u);
    EXPECT_TRUE(same_as_live(std::vector<Bytes>(sent_frames.begin(), sent_frames.begin() + 4), live, 3));
    EXPECT_EQ(sent_frames[4], live[0]);  // the new cycle's Start
    EXPECT_EQ(sent_frames[5], live[0]);  // and one after each unanswered period
    EXPECT_EQ(sent_frames[6], live[0]);
    const std::vector<std::string> tail = {
        "status 1",
        "progress 等待超时，自动进行第 2 次认证！",  // no "（start）": not authenticating
        "status 0",
        kNoAnswer,
    };
    ASSERT_GE(recorder.events.size(), tail.size());
    EXPECT_EQ(std::vector<std::string>(recorder.events.end() - 4, recorder.events.end()), tail);
}

TEST_F(AttemptLoop, LogoffWorkerSendsLogoffAndReadsNothing)
{
    status = STATUS_LOGOFF;
    run(data_path("hostapd_logon.pcap"));
    ASSERT_EQ(sent_frames.size(), 1u);
    EXPECT_EQ(sent_frames[0][15], EAPOL_LOGOFF);
    EXPECT_EQ(std::memcmp(sent_frames[0].data() + 6, kClient, 6), 0);
    EXPECT_EQ(recorder.events, std::vector<std::string>{"status 2"});
    EXPECT_TRUE(returned);
}

// A newer worker taking over during the address step: the old one ends when
// it returns, without the post-success key frame and without a word more.
TEST_F(AttemptLoop, SupersededInTheAddressStepEndsSilently)
{
    recorder.supersede_in_address_step = true;
    run(data_path("sim_keys.pcap"));
    EXPECT_FALSE(returned);
    EXPECT_EQ(sent_frames.size(), 3u);  // Start, Identity, MD5
    EXPECT_EQ(recorder.events.back(), "status 1");
    EXPECT_EQ(recorder.key_checks, 0);
}

// Every recorded frame cut to each length: nothing is answered from bytes
// that were not captured, and a Failure too short for its code gets the default.
TEST_F(AttemptLoop, TruncatedFramesAreAnsweredOnlyWhenWhole)
{
    const std::string path = testing::TempDir() + "cut.pcap";
    struct Remove {
        const std::string &path;
        ~Remove() { (void)unlink(path.c_str()); }
    } remove_cut{path};
    for (const char *file : {"sim_keys.pcap", "sim_failure_303.pcap", "hostapd_logon.pcap"}) {
        for (int cut = 0; cut <= 80; ++cut) {
            SCOPED_TRACE(std::string(file) + " cut at " + std::to_string(cut));
            ASSERT_TRUE(write_cut_copy(data_path(file), path, cut));
            sent_frames.clear();
            recorder.key_checks = 0;
            status = STATUS_AUTHENTICATING;
            run(path);
            if (HasFatalFailure())
                return;
            int key_answers = 0;
            bool success_seen = false;
            // The first frame is our Start, built whole whatever the recording holds.
            for (size_t i = 1; i < sent_frames.size(); ++i) {
                const Bytes &f = sent_frames[i];
                if (f[15] == EAPOL_KEY && !success_seen) {
                    success_seen = true;  // the post-success frame, built from fixed values
                    EXPECT_GE(cut, 19) << "a Success taken from a cut frame";
                } else if (f[15] == EAPOL_KEY) {
                    key_answers++;
                    EXPECT_GE(cut, 46) << "key answer from a cut frame";
                } else if (f[15] == 0 && f[22] == 4) {
                    EXPECT_GE(cut, 40) << "MD5 answer from a cut challenge";
                } else if (f[15] == 0) {
                    EXPECT_GE(cut, 23) << "identity answer from a cut request";
                }
            }
            if (std::string(file) == "sim_keys.pcap") {
                EXPECT_EQ(key_answers, cut >= 46 ? 6 : 0);
                EXPECT_EQ(recorder.key_checks, cut >= 46 ? 1 : 0);  // one a second at most
            }
            bool told_code = false;
            for (const std::string &e : recorder.events)
                told_code |= e == "message 认证失败|密码错误！|1|0";
            if (std::string(file) == "sim_failure_303.pcap") {
                EXPECT_EQ(told_code, cut >= 34);
            }
            EXPECT_TRUE(returned);
        }
    }
}

}  // namespace
