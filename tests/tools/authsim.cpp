// SPDX-License-Identifier: GPL-2.0-or-later
// authsim: the lab's own 802.1X authenticator for what hostapd does not do:
// EAP-Failure frames that carry a failure code, RC4-descriptor EAPOL-Key
// frames after success, silence, requests sent to the group address. It
// checks the client's answers with libgcrypt only, never with the client's
// own code, and logs one line per event: "<monotonic ms> EVENT args".
//
//   authsim --iface IF [--password PW] [--fail CODE4] [--silent] [--group]
//           [--keys SECONDS] [--reauth SECONDS] [--stop-after-success]
//           [--eapol-version 1|2] [--private] [--flood PER_SECOND] [--forge-success]
//
// --private: the server wants private authentication, whose MD5 response is
// taken over the password followed by the private suffix; a response over
// the bare password is then a wrong digest.
//
// --forge-success: each Identity answer is followed, before the challenge,
// by an EAP-Success from another address and one from the simulator's own
// (event FORGED SUCCESS), as a hostile station on the cable would send them.
//
// --flood: while online, also this many bogus key frames a second from the
// same address (replay counters with the top bit set); their answers are
// dropped unlogged, so KEY1/KEY2 events and dt_us are the real frames' alone.
//
// Events: READY <if> <mac>; START <mac>; SEND IDENTITY <id>; IDENTITY
// <account> extra=<hex>; SEND MD5 <id> <challenge>; MD5 OK <name> | MD5 BAD
// <why>; SUCCESS; FAILURE [<code>]; KEYSENT <replay> index=<hex>; KEY1 OK
// <replay> dt_us=<n> | KEY1 BAD <why> (KEY2 alike); POSTKEY OK | POSTKEY BAD
// <why>; REAUTH; LOGOFF <mac>; EXIT. dt_us is the time from the key frame's
// sending to the answer's arrival.
#include <cerrno>
#include <cinttypes>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include <gcrypt.h>
#include <net/if.h>
#include <pcap/pcap.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include "../../src/auth/key_values.h"

namespace {

const uint8_t kGroup[6] = {0x01, 0x80, 0xc2, 0x00, 0x00, 0x03};
// What private authentication appends to the password.
const char kPrivateSuffix[] = "qxk203452";
constexpr int kMinFrame = 60;  // Ethernet minimum; a switch pads to it

struct Options {
    const char *iface = nullptr;
    std::string password = "labpass1";
    bool fail = false;
    char fail_code[4] = {};
    bool silent = false;
    bool group = false;
    bool stop_after_success = false;
    bool private_form = false;
    bool forge_success = false;
    double keys_s = 0;
    double reauth_s = 0;
    double flood_per_s = 0;
    int eapol_version = 1;
};

enum Phase { IDLE, IDENTITY_SENT, CHALLENGE_SENT, ONLINE, QUIET };

// The one key frame whose answers are awaited.
struct PendingKey {
    bool active = false;
    bool key1_seen = false;
    uint8_t fields[25];  // replay counter, IV, key index: frame bytes 21..45
    double sent_ms = 0;
};

struct Sim {
    Options opt;
    pcap_t *pc = nullptr;
    uint8_t own_mac[6] = {};
    uint8_t client[6] = {};
    Phase phase = IDLE;
    bool online = false;  // Success sent and no Failure or Logoff since
    uint8_t id = 0;
    uint8_t challenge[16] = {};
    double next_key_ms = -1;
    double next_flood_ms = -1;
    uint64_t flooded = 0;
    double next_reauth_ms = -1;
    uint64_t replay = 0;
    PendingKey key;
};

double now_ms()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

// One log line: monotonic milliseconds, then the event.
void log_event(const char *fmt, ...)
{
    char text[512];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    printf("%.3f %s\n", now_ms(), text);
    fflush(stdout);
}

std::string hex(const uint8_t *p, int n)
{
    std::string s;
    char b[3];
    for (int i = 0; i < n; i++) {
        snprintf(b, sizeof b, "%02x", p[i]);
        s += b;
    }
    return s;
}

// Printable ASCII as is, every other byte (and the backslash) as \xNN, so a
// log line stays one line whatever the client sent.
std::string escaped(const uint8_t *p, int n)
{
    std::string s;
    char b[5];
    for (int i = 0; i < n; i++) {
        if (p[i] > 0x20 && p[i] < 0x7f && p[i] != '\\') {
            s += static_cast<char>(p[i]);
        } else {
            snprintf(b, sizeof b, "\\x%02x", p[i]);
            s += b;
        }
    }
    return s;
}

int be16(const uint8_t *p) { return (p[0] << 8) | p[1]; }

void put16(uint8_t *p, int v)
{
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

// Ethernet and EAPOL headers of a frame from the simulator to the client.
void put_headers(const Sim &s, uint8_t *f, int eapol_type, int body_len)
{
    memcpy(f, s.opt.group ? kGroup : s.client, 6);
    memcpy(f + 6, s.own_mac, 6);
    f[12] = 0x88;
    f[13] = 0x8e;
    f[14] = static_cast<uint8_t>(s.opt.eapol_version);
    f[15] = static_cast<uint8_t>(eapol_type);
    put16(f + 16, body_len);
}

void send_frame(Sim &s, const uint8_t *f, int len)
{
    if (pcap_inject(s.pc, f, len) != len)
        log_event("SENDFAIL %s", pcap_geterr(s.pc));
}

// An EAP packet of eap_len bytes whose type data the caller has written.
void send_eap(Sim &s, uint8_t *f, int code, int eap_len)
{
    put_headers(s, f, 0, eap_len);
    f[18] = static_cast<uint8_t>(code);
    f[19] = s.id;
    put16(f + 20, eap_len);
    int len = 18 + eap_len;
    send_frame(s, f, len < kMinFrame ? kMinFrame : len);
}

void send_identity_request(Sim &s)
{
    uint8_t f[kMinFrame] = {};
    s.id++;
    f[22] = 1;
    send_eap(s, f, 1, 5);
    s.phase = IDENTITY_SENT;
    log_event("SEND IDENTITY %u", s.id);
}

void send_challenge(Sim &s)
{
    uint8_t f[kMinFrame] = {};
    s.id++;
    gcry_create_nonce(s.challenge, sizeof s.challenge);
    f[22] = 4;
    f[23] = 16;
    memcpy(f + 24, s.challenge, 16);
    send_eap(s, f, 1, 22);
    s.phase = CHALLENGE_SENT;
    log_event("SEND MD5 %u %s", s.id, hex(s.challenge, 16).c_str());
}

void stop_timers(Sim &s)
{
    s.online = false;
    s.next_key_ms = s.next_reauth_ms = s.next_flood_ms = -1;
    s.key.active = false;
}

void send_success(Sim &s)
{
    uint8_t f[kMinFrame] = {};
    send_eap(s, f, 3, 4);
    log_event("SUCCESS");
    double t = now_ms();
    if (!s.online && s.opt.keys_s > 0)
        s.next_key_ms = t + s.opt.keys_s * 1000;
    s.next_reauth_ms = s.opt.reauth_s > 0 ? t + s.opt.reauth_s * 1000 : -1;
    if (!s.online && s.opt.flood_per_s > 0)
        s.next_flood_ms = t;
    s.online = true;
    s.phase = s.opt.stop_after_success ? QUIET : ONLINE;
}

// A plain Failure is the bare 4-byte EAP packet; with --fail, bytes 30..33
// carry the code as a server's reason text does.
void send_failure(Sim &s)
{
    uint8_t f[kMinFrame] = {};
    int eap_len = 4;
    if (s.opt.fail) {
        memcpy(f + 30, s.opt.fail_code, 4);
        eap_len = 16;
    }
    send_eap(s, f, 4, eap_len);
    log_event(s.opt.fail ? "FAILURE %.4s" : "FAILURE", s.opt.fail_code);
    stop_timers(s);
    s.phase = IDLE;
}

void on_start(Sim &s, const uint8_t *f)
{
    log_event("START %s", hex(f + 6, 6).c_str());
    if (s.opt.silent || s.phase == QUIET)
        return;
    memcpy(s.client, f + 6, 6);
    send_identity_request(s);
}

// Successes nobody has earned: one from a made-up neighbour, one from us before any challenge.
void send_forged_successes(Sim &s)
{
    uint8_t f[kMinFrame] = {};
    put_headers(s, f, 0, 4);
    f[18] = 3;
    f[19] = s.id;
    put16(f + 20, 4);
    f[11] ^= 0x5a;
    send_frame(s, f, sizeof f);
    f[11] ^= 0x5a;
    send_frame(s, f, sizeof f);
    log_event("FORGED SUCCESS");
}

void on_identity(Sim &s, const uint8_t *f, int eap_len)
{
    const uint8_t *data = f + 23;
    int n = eap_len - 5;
    if (n >= 6 && data[0] == 0x15 && data[1] == 0x04)
        log_event("IDENTITY %s extra=%s", escaped(data + 6, n - 6).c_str(), hex(data + 2, 4).c_str());
    else
        log_event("IDENTITY %s", escaped(data, n).c_str());
    if (s.phase != IDENTITY_SENT || f[19] != s.id) {
        log_event("IDENTITY BAD id %u want %u", f[19], s.id);
        return;
    }
    if (s.opt.forge_success)
        send_forged_successes(s);
    if (!s.opt.silent)
        send_challenge(s);
}

// Why an MD5 response is wrong, or null when it is right: MD5 over
// identifier, password and challenge (RFC 1994) with libgcrypt.
const char *md5_fault(const Sim &s, const uint8_t *f, int eap_len)
{
    if (s.phase != CHALLENGE_SENT)
        return "no-challenge";
    if (f[19] != s.id)
        return "id";
    if (eap_len < 22 || f[23] != 16)
        return "size";
    std::string msg(1, static_cast<char>(s.id));
    msg += s.opt.password;
    if (s.opt.private_form)
        msg += kPrivateSuffix;
    msg.append(reinterpret_cast<const char *>(s.challenge), 16);
    uint8_t want[16];
    gcry_md_hash_buffer(GCRY_MD_MD5, want, msg.data(), msg.size());
    return memcmp(want, f + 24, 16) == 0 ? nullptr : "digest";
}

void on_md5(Sim &s, const uint8_t *f, int eap_len)
{
    const char *fault = md5_fault(s, f, eap_len);
    if (fault)
        log_event("MD5 BAD %s", fault);
    else
        log_event("MD5 OK%s%s", eap_len > 22 ? " " : "", escaped(f + 40, eap_len - 22).c_str());
    if (s.opt.silent || (fault && strcmp(fault, "digest") != 0))
        return;
    if (s.opt.fail || fault)
        send_failure(s);
    else
        send_success(s);
}

void on_eap(Sim &s, const uint8_t *f, int caplen)
{
    if (caplen < 22)
        return log_event("EAP BAD short %d", caplen);
    int eap_len = be16(f + 20);
    if (eap_len > caplen - 18 || eap_len > be16(f + 16))
        return log_event("EAP BAD length %d in %d", eap_len, caplen);
    if (f[18] != 2 || eap_len < 5)
        return log_event("EAP OTHER code %u", f[18]);
    if (f[22] == 1)
        on_identity(s, f, eap_len);
    else if (f[22] == 4)
        on_md5(s, f, eap_len);
    else
        log_event("EAP OTHER type %u", f[22]);
}

// HMAC-MD5 with a one-byte key over n bytes.
void hmac_md5(uint8_t key, const uint8_t *data, size_t n, uint8_t out[16])
{
    gcry_mac_hd_t h;
    size_t len = 16;
    memset(out, 0, 16);
    if (gcry_mac_open(&h, GCRY_MAC_HMAC_MD5, 0, nullptr) != 0)
        return log_event("ERROR hmac unavailable");
    gcry_mac_setkey(h, &key, 1);
    gcry_mac_write(h, data, n);
    gcry_mac_read(h, out, &len);
    gcry_mac_close(h);
}

// RC4 (libgcrypt ARCFOUR) in place, key = IV || IV[12..15].
void arcfour(const uint8_t iv[16], uint8_t *buf, size_t n)
{
    uint8_t key[20];
    memcpy(key, iv, 16);
    memcpy(key + 16, iv + 12, 4);
    gcry_cipher_hd_t h;
    if (gcry_cipher_open(&h, GCRY_CIPHER_ARCFOUR, GCRY_CIPHER_MODE_STREAM, 0) != 0)
        return log_event("ERROR arcfour unavailable");
    gcry_cipher_setkey(h, key, sizeof key);
    gcry_cipher_decrypt(h, buf, n, nullptr, 0);
    gcry_cipher_close(h);
}

// Header fields every client key frame shares.
const char *key_header_fault(const Sim &s, const uint8_t *f, int key_len)
{
    if (memcmp(f, kGroup, 6) != 0)
        return "destination";
    if (memcmp(f + 6, s.client, 6) != 0)
        return "source";
    if (f[14] != 1)
        return "version";
    if (be16(f + 16) != 44 + key_len)
        return "body-length";
    return f[18] == 1 ? nullptr : "descriptor";
}

// Checks one answer (key1: 16-byte key, key2: 4-byte key) to the pending key
// frame; null when right.
const char *answer_fault(const Sim &s, const uint8_t *f, int key_len)
{
    const char *fault = key_header_fault(s, f, key_len);
    if (fault)
        return fault;
    if (!s.key.active || memcmp(f + 21, s.key.fields, 25) != 0)
        return "replay";
    if ((key_len == 4) != s.key.key1_seen)
        return "order";
    uint8_t packet[64], mac[16];
    int n = 48 + key_len;  // bytes 14..end
    memcpy(packet, f + 14, n);
    memset(packet + 32, 0, 16);
    hmac_md5(f[45], packet, n, mac);
    if (memcmp(mac, f + 46, 16) != 0)
        return "signature";
    uint8_t plain[16];
    memcpy(plain, f + 62, key_len);
    arcfour(f + 29, plain, key_len);
    const uint8_t *want = key_len == 16 ? answer_key_payload : short_key_payload;
    return memcmp(plain, want, key_len) == 0 ? nullptr : "payload";
}

// The one frame the client sends after it has its address.
const char *postkey_fault(const Sim &s, const uint8_t *f)
{
    const char *fault = key_header_fault(s, f, 14);
    if (fault)
        return fault;
    const SuccessKeyBlock &b = success_key_block;
    if (memcmp(f + 21, b.replay_counter, 8) || memcmp(f + 29, b.key_iv, 16) || f[45] != b.key_index)
        return "fields";
    if (memcmp(f + 62, b.key_head, 4) || memcmp(f + 68, b.key_tail, 6))
        return "key";
    if (f[60] || f[61])
        return "signature-tail";
    uint8_t packet[64] = {}, mac[16];
    memcpy(packet, f + 14, 62);  // and two zero bytes after the frame
    memset(packet + 32, 0, 16);
    hmac_md5(f[45], packet, 64, mac);
    return memcmp(mac, f + 46, 14) == 0 ? nullptr : "signature";
}

void on_key(Sim &s, const uint8_t *f, int caplen)
{
    if (caplen < 21)
        return log_event("KEY BAD short %d", caplen);
    int key_len = be16(f + 19);
    const char *name = key_len == 16 ? "KEY1" : key_len == 4 ? "KEY2" : key_len == 14 ? "POSTKEY" : nullptr;
    if (!name)
        return log_event("KEY BAD key-length %d", key_len);
    if (caplen < 62 + key_len)
        return log_event("%s BAD short %d", name, caplen);
    if (key_len != 14 && (f[21] & 0x80))
        return;  // an answer to a flood frame
    if (key_len == 14) {
        const char *fault = postkey_fault(s, f);
        return fault ? log_event("POSTKEY BAD %s", fault) : log_event("POSTKEY OK");
    }
    const char *fault = answer_fault(s, f, key_len);
    if (fault)
        return log_event("%s BAD %s", name, fault);
    long dt_us = static_cast<long>((now_ms() - s.key.sent_ms) * 1000);
    log_event("%s OK %s dt_us=%ld", name, hex(f + 21, 8).c_str(), dt_us);
    if (key_len == 16)
        s.key.key1_seen = true;
    else
        s.key.active = false;
}

// An RC4-descriptor key frame with a fresh replay counter, random IV and
// key index and a random 16-byte key, signed as the client signs.
void send_key_frame(Sim &s)
{
    uint8_t f[78] = {};
    put_headers(s, f, 3, 60);
    f[18] = 1;
    put16(f + 19, 16);
    s.replay++;
    for (int i = 0; i < 8; i++)
        f[21 + i] = static_cast<uint8_t>(s.replay >> (56 - 8 * i));
    gcry_create_nonce(f + 29, 17);  // IV and key index
    gcry_create_nonce(f + 62, 16);
    hmac_md5(f[45], f + 14, 64, f + 46);
    memcpy(s.key.fields, f + 21, 25);
    s.key.active = true;
    s.key.key1_seen = false;
    s.key.sent_ms = now_ms();
    send_frame(s, f, sizeof f);
    log_event("KEYSENT %s index=%02x", hex(f + 21, 8).c_str(), f[45]);
}

// A key frame like the real ones, whose answers nobody waits for.
void send_flood_frame(Sim &s)
{
    uint8_t f[78] = {};
    put_headers(s, f, 3, 60);
    f[18] = 1;
    put16(f + 19, 16);
    s.flooded++;
    uint64_t replay = s.flooded | (uint64_t{1} << 63);
    for (int i = 0; i < 8; i++)
        f[21 + i] = static_cast<uint8_t>(replay >> (56 - 8 * i));
    gcry_create_nonce(f + 29, 17);
    gcry_create_nonce(f + 62, 16);
    send_frame(s, f, sizeof f);
}

void on_frame(u_char *user, const pcap_pkthdr *h, const u_char *f)
{
    Sim &s = *reinterpret_cast<Sim *>(user);
    int caplen = static_cast<int>(h->caplen);
    if (caplen < 18 || memcmp(f + 6, s.own_mac, 6) == 0)
        return;
    switch (f[15]) {
    case 0: return on_eap(s, f, caplen);
    case 1: return on_start(s, f);
    case 2:
        log_event("LOGOFF %s", hex(f + 6, 6).c_str());
        stop_timers(s);
        if (s.phase != QUIET)
            s.phase = IDLE;
        return;
    case 3: return on_key(s, f, caplen);
    default: log_event("EAPOL OTHER type %u", f[15]);
    }
}

void run_timers(Sim &s)
{
    double t = now_ms();
    if (s.next_key_ms >= 0 && t >= s.next_key_ms) {
        s.next_key_ms += s.opt.keys_s * 1000;
        if (s.phase != QUIET)
            send_key_frame(s);
    }
    if (s.next_flood_ms >= 0 && t >= s.next_flood_ms) {
        double period = 1000 / s.opt.flood_per_s;
        // Behind by more than 100 ms (a stall): go on from now, no burst.
        if (t - s.next_flood_ms > 100)
            s.next_flood_ms = t;
        while (s.next_flood_ms <= t) {
            s.next_flood_ms += period;
            if (s.phase != QUIET)
                send_flood_frame(s);
        }
    }
    if (s.next_reauth_ms >= 0 && t >= s.next_reauth_ms) {
        s.next_reauth_ms = -1;
        if (s.phase != QUIET) {
            log_event("REAUTH");
            send_identity_request(s);
        }
    }
}

int poll_timeout(const Sim &s)
{
    double next = -1;
    for (double t : {s.next_key_ms, s.next_reauth_ms, s.next_flood_ms})
        if (t >= 0 && (next < 0 || t < next))
            next = t;
    if (next < 0)
        return -1;
    double wait = next - now_ms();
    return wait <= 0 ? 0 : static_cast<int>(wait) + 1;
}

bool read_mac(const char *iface, uint8_t mac[6])
{
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    ifreq ifr = {};
    snprintf(ifr.ifr_name, sizeof ifr.ifr_name, "%s", iface);
    bool ok = fd >= 0 && ioctl(fd, SIOCGIFHWADDR, &ifr) == 0;
    if (ok)
        memcpy(mac, ifr.ifr_hwaddr.sa_data, 6);
    if (fd >= 0)
        close(fd);
    return ok;
}

// pcap_create with immediate mode: every frame is handed over at once, and
// poll() on the selectable descriptor never misses one.
pcap_t *open_capture(const char *iface)
{
    char err[PCAP_ERRBUF_SIZE] = {};
    pcap_t *pc = pcap_create(iface, err);
    if (!pc) {
        fprintf(stderr, "authsim: %s\n", err);
        return nullptr;
    }
    bpf_program prog;
    bool ok = pcap_set_snaplen(pc, 65536) == 0 && pcap_set_promisc(pc, 1) == 0 &&
              pcap_set_immediate_mode(pc, 1) == 0 && pcap_activate(pc) >= 0 &&
              pcap_setdirection(pc, PCAP_D_IN) == 0 &&
              pcap_compile(pc, &prog, "ether proto 0x888e", 1, PCAP_NETMASK_UNKNOWN) == 0;
    if (ok) {
        ok = pcap_setfilter(pc, &prog) == 0 && pcap_setnonblock(pc, 1, err) == 0;
        pcap_freecode(&prog);
    }
    if (!ok) {
        fprintf(stderr, "authsim: %s: %s\n", iface, pcap_geterr(pc));
        pcap_close(pc);
        return nullptr;
    }
    return pc;
}

[[noreturn]] void usage(const char *why)
{
    fprintf(stderr, "authsim: %s\nusage: authsim --iface IF [--password PW] [--fail CODE4] [--silent]"
                    " [--group] [--keys S] [--reauth S] [--stop-after-success] [--eapol-version V]"
                    " [--private]\n",
            why);
    exit(2);
}

double seconds_arg(const char *v)
{
    char *end = nullptr;
    double d = strtod(v, &end);
    if (!end || *end || !(d > 0) || d > 86400)
        usage("a time must be a positive number of seconds");
    return d;
}

Options parse_args(int argc, char **argv)
{
    Options o;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        bool has_value = i + 1 < argc;
        if (a == "--silent") o.silent = true;
        else if (a == "--group") o.group = true;
        else if (a == "--stop-after-success") o.stop_after_success = true;
        else if (a == "--private") o.private_form = true;
        else if (a == "--forge-success") o.forge_success = true;
        else if (!has_value) usage(("missing value or unknown option " + a).c_str());
        else if (a == "--iface") o.iface = argv[++i];
        else if (a == "--password") o.password = argv[++i];
        else if (a == "--keys") o.keys_s = seconds_arg(argv[++i]);
        else if (a == "--reauth") o.reauth_s = seconds_arg(argv[++i]);
        else if (a == "--flood") o.flood_per_s = seconds_arg(argv[++i]);
        else if (a == "--eapol-version") o.eapol_version = atoi(argv[++i]) == 2 ? 2 : 1;
        else if (a == "--fail") {
            const char *c = argv[++i];
            if (strlen(c) != 4)
                usage("--fail takes exactly four characters");
            memcpy(o.fail_code, c, 4);
            o.fail = true;
        } else usage(("unknown option " + a).c_str());
    }
    if (!o.iface)
        usage("--iface is required");
    return o;
}

int signal_fd()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    sigprocmask(SIG_BLOCK, &set, nullptr);
    return signalfd(-1, &set, SFD_CLOEXEC);
}

void serve(Sim &s, int sfd)
{
    pollfd fds[2] = {{pcap_get_selectable_fd(s.pc), POLLIN, 0}, {sfd, POLLIN, 0}};
    for (;;) {
        int r = poll(fds, 2, poll_timeout(s));
        if (r < 0 && errno != EINTR) {
            log_event("ERROR poll %s", strerror(errno));
            return;
        }
        if (fds[1].revents)
            return;
        if (fds[0].revents && pcap_dispatch(s.pc, -1, on_frame, reinterpret_cast<u_char *>(&s)) < 0) {
            log_event("ERROR capture %s", pcap_geterr(s.pc));
            return;
        }
        run_timers(s);
    }
}

}  // namespace

int main(int argc, char **argv)
{
    Sim s;
    s.opt = parse_args(argc, argv);
    int sfd = signal_fd();
    gcry_check_version(nullptr);
    gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
    gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    if (sfd < 0 || !read_mac(s.opt.iface, s.own_mac)) {
        fprintf(stderr, "authsim: cannot read the address of %s\n", s.opt.iface);
        return 1;
    }
    s.pc = open_capture(s.opt.iface);
    if (!s.pc)
        return 1;
    gcry_create_nonce(&s.replay, sizeof s.replay);
    s.replay >>= 16;  // fresh, and far from wrapping
    log_event("READY %s %s", s.opt.iface, hex(s.own_mac, 6).c_str());
    serve(s, sfd);
    log_event("EXIT");
    pcap_close(s.pc);
    return 0;
}
