// The worker's receive loop over exchanges recorded in the lab (both
// directions, EAPOL only): fed through a pcap_open_offline handle with the
// worker's own filters, it must send exactly the answers the live client sent.
#include <gtest/gtest.h>

#include <cstring>
#include <gcrypt.h>
#include <memory>
#include <string>

#include "app/records.h"
#include "auth/auth.h"
#include "auth/capture.h"
#include "auth/dispatch.h"
#include "auth/filters.h"
#include "auth/worker_link.h"
#include "replay/wire_fake.h"

namespace {

const uint8_t kClient[6] = {0x02, 0xc0, 0x00, 0x00, 0x00, 0x01};
const uint8_t kServer[6] = {0x02, 0xa0, 0x00, 0x00, 0x00, 0x01};
constexpr uint8_t EAPOL_KEY = 3;

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

int key_checks = 0;
void count_key_check() { key_checks++; }

class ReceiveLoop : public ::testing::Test {
  protected:
    ClientSettings settings{};
    AppContext ctx{nullptr, &settings};
    AuthSession s{};
    Handle handle{nullptr, pcap_close};

    void SetUp() override
    {
        // Progress texts land in msg_text, as the dialog keeps them.
        WorkerLink link{};
        link.ui = &settings;
        link.progress_text = [](void *ui, const char *text) {
            copy_field(static_cast<ClientSettings *>(ui)->msg_text, text);
        };
        set_worker_link(link);
        sent_frames.clear();
        key_checks = 0;
        status = STATUS_AUTHENTICATING;
    }

    // A session as the worker prepares it, reading from a recording.
    void start(const std::string &path, const char *password = "labpass1", int private_auth = 0)
    {
        handle = open_recording(path);
        ASSERT_TRUE(handle);
        s = AuthSession{};
        s.ctx = &ctx;
        s.handle = handle.get();
        s.generation = thread_auth_num;
        s.timeout_ms = 1000;
        copy_field(s.account, "e2euser");
        copy_field(s.password, password);
        build_answer_password(s.answer_password, password, private_auth);
        std::memcpy(s.local_mac, kClient, 6);
        reset_headers(s);
        s.after_key_answer = count_key_check;
        char filter[FILTER_TEXT_SIZE];
        format_filter_before(filter, sizeof filter, kClient);
        ASSERT_EQ(capture_set_filter(s.handle, filter), 1);
    }

    // After a Success: what the worker does once the address is there.
    void go_online()
    {
        status = STATUS_ONLINE;
        char filter[FILTER_TEXT_SIZE];
        format_filter_after(filter, sizeof filter, s.kept_frame + 6, kClient);
        ASSERT_EQ(capture_set_filter(s.handle, filter), 1) << filter;
    }
};

TEST_F(ReceiveLoop, HostapdLogonGivesTheRecordedAnswers)
{
    start(data_path("hostapd_logon.pcap"));
    std::vector<Bytes> live = client_frames(data_path("hostapd_logon.pcap"));
    ASSERT_EQ(live.size(), 4u);  // Start, Identity, MD5, post-success key frame

    ASSERT_EQ(start_wait(s), StartWaitAction::Request);
    ASSERT_EQ(sent_frames.size(), 1u);
    EXPECT_EQ(sent_frames[0], live[1]);
    EXPECT_STREQ(settings.msg_text, "正在认证中……（IDENTITY）");

    ASSERT_EQ(exchange_wait(s), WaitEnd::Success);
    ASSERT_EQ(sent_frames.size(), 2u);
    EXPECT_EQ(sent_frames[1], live[2]);
    EXPECT_STREQ(settings.msg_text, "正在认证中……（MD5-Challenge2）");
    EXPECT_EQ(std::memcmp(s.kept_frame + 6, kServer, 6), 0);

    go_online();
    EXPECT_EQ(exchange_wait(s), WaitEnd::Silence);
    EXPECT_EQ(sent_frames.size(), 2u);  // our own frames never pass the filters
}

TEST_F(ReceiveLoop, PrivateSuffixChangesOnlyTheMd5Answer)
{
    start(data_path("hostapd_logon.pcap"), "labpass1", 1);
    std::vector<Bytes> live = client_frames(data_path("hostapd_logon.pcap"));
    ASSERT_EQ(start_wait(s), StartWaitAction::Request);
    ASSERT_EQ(exchange_wait(s), WaitEnd::Success);
    ASSERT_EQ(sent_frames.size(), 2u);
    EXPECT_EQ(sent_frames[0], live[1]);  // the identity is the same
    ASSERT_EQ(sent_frames[1].size(), live[2].size());
    // MD5 over identifier, password with the suffix, and the recorded challenge.
    Handle rec = open_recording(data_path("hostapd_logon.pcap"));
    pcap_pkthdr *hdr;
    const u_char *data;
    Bytes challenge;
    while (pcap_next_ex(rec.get(), &hdr, &data) == 1) {
        if (hdr->caplen >= 40 && data[18] == 1 && data[22] == 4)
            challenge.assign(data + 19, data + 40);  // identifier .. challenge
    }
    ASSERT_EQ(challenge.size(), 21u);
    std::string msg(1, static_cast<char>(challenge[0]));
    msg += s.answer_password;
    msg.append(reinterpret_cast<const char *>(challenge.data() + 5), 16);
    uint8_t want[16];
    gcry_md_hash_buffer(GCRY_MD_MD5, want, msg.data(), msg.size());
    EXPECT_EQ(std::memcmp(sent_frames[1].data() + 24, want, 16), 0);
    EXPECT_NE(std::memcmp(sent_frames[1].data() + 24, live[2].data() + 24, 16), 0);
}

TEST_F(ReceiveLoop, HostapdFailureIsTooShortForACode)
{
    start(data_path("hostapd_failure.pcap"), "wrongpass");
    ASSERT_EQ(start_wait(s), StartWaitAction::Request);
    ASSERT_EQ(exchange_wait(s), WaitEnd::Failure);
    EXPECT_EQ(s.kept_len, 22);
    uint8_t code[4];
    read_failure_code(s.kept_frame, s.kept_len, code);
    EXPECT_STREQ(failure_message(code), "该错误不存在提示信息！");
}

TEST_F(ReceiveLoop, SimulatorFailureCarriesItsCode)
{
    start(data_path("sim_failure_303.pcap"));
    ASSERT_EQ(start_wait(s), StartWaitAction::Request);
    ASSERT_EQ(exchange_wait(s), WaitEnd::Failure);
    uint8_t code[4];
    read_failure_code(s.kept_frame, s.kept_len, code);
    EXPECT_EQ(std::memcmp(code, "303:", 4), 0);
    EXPECT_STREQ(failure_message(code), "密码错误！");
}

TEST_F(ReceiveLoop, KeyFramesWhileOnlineGetTheRecordedAnswerPairs)
{
    start(data_path("sim_keys.pcap"));
    std::vector<Bytes> live = client_frames(data_path("sim_keys.pcap"));
    ASSERT_EQ(start_wait(s), StartWaitAction::Request);
    ASSERT_EQ(exchange_wait(s), WaitEnd::Success);
    go_online();
    sent_frames.clear();
    EXPECT_EQ(exchange_wait(s), WaitEnd::Silence);
    // Live: Start, Identity, MD5, post-success key frame, then the pairs.
    ASSERT_EQ(live.size(), 4u + 6u);
    ASSERT_EQ(sent_frames.size(), 6u);
    for (size_t i = 0; i < 6; ++i)
        EXPECT_EQ(sent_frames[i], live[4 + i]) << "answer " << i;
    EXPECT_EQ(key_checks, 3);
}

// Every recorded frame cut to each length: nothing is answered from bytes
// that were not captured, and a Failure too short for its code gets the default.
TEST_F(ReceiveLoop, TruncatedFramesAreAnsweredOnlyWhenWhole)
{
    for (const char *file : {"sim_keys.pcap", "sim_failure_303.pcap", "hostapd_logon.pcap"}) {
        for (int cut = 0; cut <= 80; ++cut) {
            std::string path = testing::TempDir() + "cut.pcap";
            {
                Handle in = open_recording(data_path(file));
                ASSERT_TRUE(in);
                pcap_dumper_t *out = pcap_dump_open(in.get(), path.c_str());
                ASSERT_NE(out, nullptr);
                pcap_pkthdr *hdr;
                const u_char *data;
                while (pcap_next_ex(in.get(), &hdr, &data) == 1) {
                    pcap_pkthdr h = *hdr;
                    h.caplen = std::min<bpf_u_int32>(h.caplen, static_cast<bpf_u_int32>(cut));
                    pcap_dump(reinterpret_cast<u_char *>(out), &h, data);
                }
                pcap_dump_close(out);
            }
            SetUp();
            start(path);
            if (HasFatalFailure())
                return;
            StartWaitAction first = start_wait(s);
            WaitEnd end = WaitEnd::Silence;
            if (first == StartWaitAction::Request) {
                end = exchange_wait(s);
                if (end == WaitEnd::Success) {
                    go_online();
                    end = exchange_wait(s);
                }
            }
            int key_answers = 0;
            for (const Bytes &f : sent_frames) {
                key_answers += f[15] == EAPOL_KEY;
                if (f[15] == EAPOL_KEY)
                    EXPECT_GE(cut, 46) << file << " key answer from a cut frame";
                else if (f[22] == 4)
                    EXPECT_GE(cut, 40) << file << " MD5 answer from a cut challenge";
                else
                    EXPECT_GE(cut, 23) << file << " identity answer from a cut request";
            }
            if (std::string(file) == "sim_keys.pcap") {
                EXPECT_EQ(key_answers, cut >= 46 ? 6 : 0) << cut;
            }
            if (end == WaitEnd::Failure || first == StartWaitAction::Failure) {
                uint8_t code[4];
                read_failure_code(s.kept_frame, s.kept_len, code);
                EXPECT_EQ(std::string(failure_message(code)) == "密码错误！", cut >= 34) << cut;
            }
        }
    }
}

}  // namespace
