// SPDX-License-Identifier: GPL-2.0-or-later
// The lab itself: hostapd and dnsmasq serve ordinary 802.1X and DHCP clients
// and the client's own identity; the simulator answers a scripted client
// built from the client's frame builders and catches answers that are wrong.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "app/records.h"
#include "auth/hmac_md5.h"
#include "auth/key.h"
#include "auth/packets.h"
#include "support/lab.h"

namespace {

using Frame = std::vector<uint8_t>;

const uint8_t kZero4[4] = {};

// A lab with a capture handle in its client namespace.
struct Peer {
    Lab lab;
    pcap_t *pc = nullptr;
    int home = -1;
    uint8_t eth[14] = {};
};

void open_peer(Peer &p, const LabOptions &opt)
{
    ASSERT_TRUE(lab_up(p.lab, opt)) << p.lab.error;
    p.home = lab_enter_client(p.lab);
    ASSERT_GE(p.home, 0) << "cannot enter " << p.lab.client_ns;
    std::string err;
    p.pc = lab_open_eapol(p.lab.client_if, &err);
    ASSERT_NE(p.pc, nullptr) << err;
    memcpy(p.eth, MultcastAddr, 6);
    memcpy(p.eth + 6, p.lab.client_mac, 6);
    p.eth[12] = 0x88;
    p.eth[13] = 0x8e;
}

void close_peer(Peer &p)
{
    if (p.pc)
        pcap_close(p.pc);
    p.pc = nullptr;
    if (p.home >= 0) {
        EXPECT_TRUE(lab_leave(p.home));
    }
    p.home = -1;
    lab_down(p.lab);
}

struct PeerGuard {
    Peer &p;
    ~PeerGuard() { close_peer(p); }
};

// Next frame that matches, skipping the others, within timeout_ms.
Frame await_frame(Peer &p, const std::function<bool(const Frame &)> &match, int timeout_ms)
{
    for (int left = timeout_ms; left > 0; left -= 50) {
        Frame f = lab_recv(p.pc, left < 50 ? left : 50);
        if (!f.empty() && match(f))
            return f;
    }
    return {};
}

std::function<bool(const Frame &)> eap(int code, int type = 0)
{
    return [=](const Frame &f) {
        return f.size() >= 22 && f[15] == 0 && f[18] == code && (type == 0 || (f.size() >= 23 && f[22] == type));
    };
}

std::function<bool(const Frame &)> key_frame()
{
    return [](const Frame &f) { return f.size() >= 46 && f[15] == 3 && f[18] == 1; };
}

void send_start(Peer &p)
{
    uint8_t buf[EAPOL_FRAME_BUFSIZE] = {};
    int n = build_start_pkt(buf, p.lab.client_mac);
    ASSERT_TRUE(lab_send(p.pc, buf, n));
}

// Start, Identity and MD5 through the client's builders; the frame that
// ended the exchange (Success or Failure), or empty.
Frame log_on(Peer &p, const char *account, const char *password)
{
    uint8_t buf[EAPOL_FRAME_BUFSIZE] = {};
    send_start(p);
    Frame req = await_frame(p, eap(REQUEST, IDENTITY), 3000);
    EXPECT_FALSE(req.empty()) << "no Identity request";
    if (req.empty())
        return {};
    int n = build_response_identity(buf, req.data(), p.eth, kZero4, account);
    EXPECT_TRUE(lab_send(p.pc, buf, n));
    Frame ch = await_frame(p, eap(REQUEST, MD5), 3000);
    EXPECT_GE(ch.size(), 40u) << "no MD5-Challenge request";
    if (ch.size() < 40)
        return {};
    n = build_response_md5(buf, ch.data(), p.eth, account, password);
    EXPECT_TRUE(lab_send(p.pc, buf, n));
    return await_frame(p, [](const Frame &f) { return eap(SUCCESS)(f) || eap(FAILURE)(f); }, 3000);
}

void answer_key(Peer &p, const Frame &key)
{
    uint8_t buf[KEY_FRAME_BUFSIZE] = {};
    int n = build_packet_key1(buf, key.data(), p.lab.client_mac);
    ASSERT_TRUE(lab_send(p.pc, buf, n));
    n = build_packet_key2(buf, key.data(), p.lab.client_mac);
    ASSERT_TRUE(lab_send(p.pc, buf, n));
}

std::string hex(const uint8_t *b, int n)
{
    std::string s;
    char t[3];
    for (int i = 0; i < n; i++) {
        snprintf(t, sizeof t, "%02x", b[i]);
        s += t;
    }
    return s;
}

std::string event(const Lab &lab, int index)
{
    std::vector<LabEvent> ev = lab_sim_events(lab);
    return index >= 0 && static_cast<size_t>(index) < ev.size() ? ev[index].text : "";
}

bool exists(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// HMAC-MD5 signature of an answer under its own key index, as the client signs.
void resign(uint8_t *frame, int len)
{
    memset(frame + 46, 0, 16);
    uint8_t mac[16];
    hmac_md5(frame + 14, len - 14, frame + 45, 1, mac);
    memcpy(frame + 46, mac, 16);
}

}  // namespace

TEST(LabHostapd, WpaSupplicantAuthenticatesAndDhclientGetsAnAddress)
{
    Lab lab;
    ASSERT_TRUE(lab_up(lab, LabOptions{})) << lab.error;
    LabGuard guard{lab};
    std::string resolv = lab_read_file("/etc/resolv.conf");
    std::string conf = lab.state_dir + "/wpa-test.conf";
    FILE *f = fopen(conf.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fprintf(f, "ap_scan=0\nnetwork={\n key_mgmt=IEEE8021X\n eap=MD5\n identity=\"labuser\"\n"
               " password=\"labpass1\"\n eapol_flags=0\n}\n");
    fclose(f);
    std::string out;
    int rc = lab_exec(lab,
                      "wpa_supplicant -D wired -i labc0 -c " + conf + " > " + lab.state_dir +
                          "/wpa.log 2>&1 & "
                          "for i in $(seq 200); do grep -qs CTRL-EVENT-EAP-SUCCESS " + lab.state_dir +
                          "/wpa.log && break; sleep 0.05; done; "
                          "grep -c CTRL-EVENT-EAP-SUCCESS " + lab.state_dir + "/wpa.log; "
                          "dhclient -1 -lf " + lab.state_dir + "/dhclient.leases -pf " + lab.state_dir +
                          "/dhclient.pid labc0 && ip -4 -o addr show labc0",
                      &out);
    ASSERT_EQ(rc, 0) << out;
    EXPECT_EQ(out.rfind("1\n", 0), 0u) << "wpa_supplicant did not reach EAP-Success:\n" << out;
    EXPECT_NE(out.find("inet 10.77.0."), std::string::npos) << out;
    EXPECT_NE(lab_read_file(lab.state_dir + "/hostapd.log").find("02:c0:00:00:00:01 IEEE 802.1X: authenticated"),
              std::string::npos);
    EXPECT_NE(lab_read_file(lab.state_dir + "/dnsmasq.leases").find("02:c0:00:00:00:01 10.77.0."),
              std::string::npos);
    EXPECT_EQ(lab_read_file("/etc/resolv.conf"), resolv) << "the machine's resolv.conf changed";
}

TEST(LabHostapd, AcceptsTheClientsIdentityAndRefusesAWrongPassword)
{
    Peer p;
    LabOptions opt;
    opt.eapol_version = 1;
    opt.dhcp = false;
    opt.password = "pa\"ss word";  // any byte: the user file holds it in hex
    open_peer(p, opt);
    PeerGuard guard{p};
    ASSERT_FALSE(::testing::Test::HasFatalFailure());

    Frame done = log_on(p, "alice", "pa\"ss word");
    ASSERT_FALSE(done.empty());
    EXPECT_EQ(done[18], SUCCESS);
    EXPECT_EQ(0, memcmp(done.data(), p.lab.client_mac, 6)) << "Success not unicast";
    EXPECT_EQ(0, memcmp(done.data() + 6, p.lab.auth_mac, 6));
    EXPECT_EQ(done[14], 1) << "EAPOL version option not applied";

    // A new Start after success re-authenticates; a wrong password fails.
    done = log_on(p, "alice", "wrong-password");
    ASSERT_FALSE(done.empty());
    EXPECT_EQ(done[18], FAILURE);
    EXPECT_EQ(done.size(), 22u) << "hostapd's Failure carries no failure code";
}

TEST(LabSim, ChecksAWholeSessionWithKeyFrames)
{
    Peer p;
    LabOptions opt;
    opt.auth = "sim";
    opt.dhcp = false;
    opt.password = "labpass1abc123456";  // password and a suffix
    opt.sim_args = "--keys 0.3";
    open_peer(p, opt);
    PeerGuard guard{p};
    ASSERT_FALSE(::testing::Test::HasFatalFailure());

    Frame ok = log_on(p, "alice", "labpass1abc123456");
    ASSERT_FALSE(ok.empty());
    EXPECT_EQ(ok[18], SUCCESS);
    EXPECT_EQ(0, memcmp(ok.data(), p.lab.client_mac, 6));
    EXPECT_EQ(0, memcmp(ok.data() + 6, p.lab.auth_mac, 6));
    EXPECT_GE(lab_wait_event(p.lab, "IDENTITY alice extra=00000000", 2000), 0);
    EXPECT_GE(lab_wait_event(p.lab, "MD5 OK alice", 2000), 0);
    EXPECT_GE(lab_wait_event(p.lab, "SUCCESS", 2000), 0);

    uint8_t buf[KEY_FRAME_BUFSIZE] = {};
    int n = build_packet_key(buf, p.lab.client_mac, time(nullptr));
    ASSERT_TRUE(lab_send(p.pc, buf, n));
    EXPECT_GE(lab_wait_event(p.lab, "POSTKEY OK", 2000), 0) << event(p.lab, -1);

    Frame first;
    for (int round = 0; round < 2; round++) {
        Frame key = await_frame(p, key_frame(), 3000);
        ASSERT_GE(key.size(), 46u) << "no key frame";
        EXPECT_EQ(0, memcmp(key.data(), p.lab.client_mac, 6));
        answer_key(p, key);
        std::string replay = hex(key.data() + 21, 8);
        int i1 = lab_wait_event(p.lab, "KEY1 OK " + replay, 2000);
        int i2 = lab_wait_event(p.lab, "KEY2 OK " + replay, 2000);
        EXPECT_GE(i1, 0) << event(p.lab, static_cast<int>(lab_sim_events(p.lab).size()) - 1);
        EXPECT_GT(i2, i1);
        if (round == 0) {
            first = key;
        } else {
            EXPECT_NE(0, memcmp(first.data() + 21, key.data() + 21, 25)) << "replay, IV and index repeat";
        }
    }

    ASSERT_TRUE(lab_send(p.pc, buf, build_logoff_pkt(buf, p.lab.client_mac)));
    int off = lab_wait_event(p.lab, "LOGOFF", 2000);
    ASSERT_GE(off, 0);
    usleep(800 * 1000);
    EXPECT_EQ(lab_wait_event(p.lab, "KEYSENT", 0, off), -1) << "key frames after Logoff";
}

TEST(LabSim, CatchesWrongAnswers)
{
    Peer p;
    LabOptions opt;
    opt.auth = "sim";
    opt.dhcp = false;
    opt.sim_args = "--keys 2";
    open_peer(p, opt);
    PeerGuard guard{p};
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    Frame done = log_on(p, "bob", "labpass1");
    ASSERT_FALSE(done.empty());
    ASSERT_EQ(done[18], SUCCESS);
    uint8_t *mac = p.lab.client_mac;

    uint8_t post[KEY_FRAME_BUFSIZE];
    int n = build_packet_key(post, mac, time(nullptr));
    post[70] ^= 1;  // a fixed key byte
    ASSERT_TRUE(lab_send(p.pc, post, n));
    EXPECT_GE(lab_wait_event(p.lab, "POSTKEY BAD key", 2000), 0);
    n = build_packet_key(post, mac, time(nullptr));
    post[50] ^= 1;
    ASSERT_TRUE(lab_send(p.pc, post, n));
    EXPECT_GE(lab_wait_event(p.lab, "POSTKEY BAD signature", 2000), 0);

    Frame key = await_frame(p, key_frame(), 3000);
    ASSERT_GE(key.size(), 46u);
    uint8_t a1[KEY_FRAME_BUFSIZE], a2[KEY_FRAME_BUFSIZE], bad[KEY_FRAME_BUFSIZE];
    int n1 = build_packet_key1(a1, key.data(), mac);
    int n2 = build_packet_key2(a2, key.data(), mac);
    ASSERT_TRUE(lab_send(p.pc, a2, n2));
    EXPECT_GE(lab_wait_event(p.lab, "KEY2 BAD order", 2000), 0);
    memcpy(bad, a1, n1);
    bad[70] ^= 0x40;  // encrypted key byte, signature left as it was
    ASSERT_TRUE(lab_send(p.pc, bad, n1));
    EXPECT_GE(lab_wait_event(p.lab, "KEY1 BAD signature", 2000), 0);
    resign(bad, n1);  // now signed, but it no longer decrypts to the payload
    ASSERT_TRUE(lab_send(p.pc, bad, n1));
    EXPECT_GE(lab_wait_event(p.lab, "KEY1 BAD payload", 2000), 0);
    memcpy(bad, a1, n1);
    bad[28] ^= 1;  // another replay counter
    resign(bad, n1);
    ASSERT_TRUE(lab_send(p.pc, bad, n1));
    EXPECT_GE(lab_wait_event(p.lab, "KEY1 BAD replay", 2000), 0);
    ASSERT_TRUE(lab_send(p.pc, a1, n1));
    ASSERT_TRUE(lab_send(p.pc, a2, n2));
    EXPECT_GE(lab_wait_event(p.lab, "KEY2 OK " + hex(key.data() + 21, 8), 2000), 0);

    // Truncated and inconsistent frames are logged and dropped, never read past.
    uint8_t junk[24] = {};
    memcpy(junk, p.eth, 14);
    junk[15] = 0;
    junk[17] = 200;
    junk[18] = RESPONSE;
    junk[21] = 200;  // EAP length beyond the frame
    ASSERT_TRUE(lab_send(p.pc, junk, 24));
    EXPECT_GE(lab_wait_event(p.lab, "EAP BAD length 200", 2000), 0);
    junk[15] = 3;
    ASSERT_TRUE(lab_send(p.pc, junk, 20));
    EXPECT_GE(lab_wait_event(p.lab, "KEY BAD short 20", 2000), 0);

    done = log_on(p, "bob", "not-the-password");
    ASSERT_FALSE(done.empty());
    EXPECT_EQ(done[18], FAILURE);
    EXPECT_GE(lab_wait_event(p.lab, "MD5 BAD digest", 2000), 0);
}

TEST(LabSim, ModesFailCodesGroupSilenceReauthAndStop)
{
    Peer p;
    LabOptions opt;
    opt.auth = "sim";
    opt.dhcp = false;
    opt.sim_args = "--fail 303:";
    open_peer(p, opt);
    PeerGuard guard{p};
    ASSERT_FALSE(::testing::Test::HasFatalFailure());

    for (const char *code : {"303:", "3031"}) {
        ASSERT_TRUE(lab_restart_sim(p.lab, std::string("--fail ") + code));
        Frame f = log_on(p, "carol", "labpass1");
        ASSERT_GE(f.size(), 34u) << code;
        EXPECT_EQ(f[18], FAILURE);
        EXPECT_EQ(std::string(f.begin() + 30, f.begin() + 34), code);
        EXPECT_GE(lab_wait_event(p.lab, std::string("FAILURE ") + code, 2000), 0);
    }

    ASSERT_TRUE(lab_restart_sim(p.lab, "--group"));
    send_start(p);
    Frame req = await_frame(p, eap(REQUEST, IDENTITY), 3000);
    ASSERT_FALSE(req.empty());
    EXPECT_EQ(0, memcmp(req.data(), MultcastAddr, 6)) << "request not sent to the group address";

    ASSERT_TRUE(lab_restart_sim(p.lab, "--silent"));
    send_start(p);
    EXPECT_GE(lab_wait_event(p.lab, "START", 2000), 0);
    EXPECT_TRUE(await_frame(p, eap(REQUEST), 500).empty()) << "--silent answered";

    ASSERT_TRUE(lab_restart_sim(p.lab, "--reauth 0.3"));
    ASSERT_EQ(log_on(p, "carol", "labpass1").at(18), SUCCESS);
    EXPECT_FALSE(await_frame(p, eap(REQUEST, IDENTITY), 2000).empty()) << "no re-authentication";
    EXPECT_GE(lab_wait_event(p.lab, "REAUTH", 2000), 0);

    // Private authentication: the digest covers the password and the private
    // suffix; one over the bare password is refused.
    ASSERT_TRUE(lab_restart_sim(p.lab, "--private"));
    EXPECT_EQ(log_on(p, "carol", "labpass1").at(18), FAILURE) << "bare password taken for private";
    EXPECT_GE(lab_wait_event(p.lab, "MD5 BAD digest", 2000), 0);
    EXPECT_EQ(log_on(p, "carol", "labpass1qxk203452").at(18), SUCCESS);

    ASSERT_TRUE(lab_restart_sim(p.lab, "--stop-after-success"));
    ASSERT_EQ(log_on(p, "carol", "labpass1").at(18), SUCCESS);
    send_start(p);
    EXPECT_TRUE(await_frame(p, eap(REQUEST), 500).empty()) << "answered after success";
}

TEST(Lab, ClientSideSeesOnlyItsOwnProcessesAndDownRemovesEverything)
{
    Lab lab;
    ASSERT_TRUE(lab_up(lab, LabOptions{})) << lab.error;
    LabGuard guard{lab};
    std::string out;
    ASSERT_EQ(lab_exec(lab, "ps -e -o comm= | sort -u | tr '\\n' ' '; ip -o link show labc0", &out), 0) << out;
    EXPECT_EQ(out.find("hostapd"), std::string::npos) << out;
    EXPECT_EQ(out.find("dnsmasq"), std::string::npos) << out;
    EXPECT_NE(out.find("ps "), std::string::npos) << out;
    EXPECT_NE(out.find("02:c0:00:00:00:01"), std::string::npos) << out;

    ASSERT_EQ(lab_exec_auth(lab, "ip -o link show laba0", &out), 0);
    EXPECT_NE(out.find("02:a0:00:00:00:01"), std::string::npos) << out;

    int hostapd = atoi(lab_read_file(lab.state_dir + "/hostapd.pid").c_str());
    ASSERT_GT(hostapd, 1);
    lab_down(lab);
    EXPECT_FALSE(exists("/run/netns/" + lab.client_ns));
    EXPECT_FALSE(exists("/run/netns/" + lab.auth_ns));
    EXPECT_FALSE(exists(lab.state_dir));
    EXPECT_FALSE(exists("/etc/netns/" + lab.client_ns));
    std::string stat = lab_read_file("/proc/" + std::to_string(hostapd) + "/stat");
    EXPECT_TRUE(stat.empty() || stat.find(") Z ") != std::string::npos) << "hostapd still runs: " << stat;
    EXPECT_EQ(system((lab_script() + " down " + lab.name).c_str()), 0) << "second down failed";
}

TEST(Lab, RefusesBadOptionsAndLeavesNothingBehind)
{
    ASSERT_EQ(geteuid(), 0u) << "the lab needs root";
    std::string name = "labbad" + std::to_string(getpid()) + "x" + std::to_string(time(nullptr) % 100000);
    std::string up = lab_script() + " up " + name;
    EXPECT_NE(system((up + " --auth bogus 2>/dev/null").c_str()), 0);
    EXPECT_NE(system((up + " --auth sim --authsim /nonexistent --no-dhcp 2>/dev/null").c_str()), 0);
    EXPECT_FALSE(exists("/run/corvix-lab/" + name));
    EXPECT_FALSE(exists("/run/netns/" + name + "-a"));
    EXPECT_FALSE(exists("/etc/netns/" + name + "-c"));
    EXPECT_NE(system((lab_script() + " up 'bad name;x' 2>/dev/null").c_str()), 0);
}
