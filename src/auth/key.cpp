// SPDX-License-Identifier: GPL-2.0-or-later
// EAPOL-Key frames with the RC4 key descriptor (IEEE 802.1X-2001, 7.6).
#include "auth/key.h"

#include <cstdlib>
#include <cstring>

#include "app/records.h"
#include "auth/hmac_md5.h"
#include "auth/key_values.h"
#include "auth/rc4.h"
#include "auth/wire.h"

namespace {

constexpr int OFF_REPLAY = 21;     // 8 bytes
constexpr int OFF_IV = 29;         // 16 bytes
constexpr int OFF_INDEX = 45;      // 1 byte
constexpr int OFF_SIGNATURE = 46;  // 16 bytes
constexpr int OFF_KEY = 62;

// Headers shared by the three frames; every other byte stays zero.
void put_key_header(uint8_t *buf, const uint8_t local_mac[6], int key_length)
{
    std::memset(buf, 0, KEY_FRAME_BUFSIZE);
    std::memcpy(buf, MultcastAddr, 6);
    std::memcpy(buf + 6, local_mac, 6);
    buf[12] = 0x88;
    buf[13] = 0x8e;
    buf[14] = 1;  // EAPOL version
    buf[15] = 3;  // EAPOL-Key
    const int body = 44 + key_length;
    buf[16] = static_cast<uint8_t>(body >> 8);
    buf[17] = static_cast<uint8_t>(body & 0xff);
    buf[18] = 1;  // RC4 descriptor
    buf[19] = static_cast<uint8_t>(key_length >> 8);
    buf[20] = static_cast<uint8_t>(key_length & 0xff);
}

// Copies the received Replay Counter, Key IV and Key Index (bytes 21..45),
// encrypts plain into the Key field with the keystream of the received IV
// and signs the EAPOL packet under the one-byte Key Index.
int build_answer(uint8_t *buf, const uint8_t *received, const uint8_t local_mac[6],
                 const uint8_t *plain, int key_length)
{
    put_key_header(buf, local_mac, key_length);
    std::memcpy(buf + OFF_REPLAY, received + OFF_REPLAY, OFF_SIGNATURE - OFF_REPLAY);

    // rc4_frame_key: the IV followed by its last four bytes again.
    uint8_t rc4_frame_key[20];
    std::memcpy(rc4_frame_key, received + OFF_IV, 16);
    std::memcpy(rc4_frame_key + 16, received + OFF_IV + 12, 4);
    rc4_state state;
    rc4_setup(&state, rc4_frame_key, sizeof rc4_frame_key);
    std::memcpy(buf + OFF_KEY, plain, key_length);
    rc4_crypt(&state, buf + OFF_KEY, key_length);

    const int frame_len = OFF_KEY + key_length;
    hmac_md5(buf + 14, frame_len - 14, buf + OFF_INDEX, 1, buf + OFF_SIGNATURE);
    return frame_len;
}

// One byte from the C library's generator: value * 2^-23 in single precision, truncated.
uint8_t draw_random_byte()
{
    const float scaled = static_cast<float>(std::rand()) * 1.1920928955078125e-07f;
    return static_cast<uint8_t>(static_cast<int>(scaled) & 0xff);
}

}  // namespace

int build_packet_key1(uint8_t *buf, const uint8_t *received, const uint8_t local_mac[6])
{
    return build_answer(buf, received, local_mac, answer_key_payload, 16);
}

int build_packet_key2(uint8_t *buf, const uint8_t *received, const uint8_t local_mac[6])
{
    return build_answer(buf, received, local_mac, short_key_payload, 4);
}

int build_packet_key(uint8_t *buf, const uint8_t local_mac[6], time_t now_seconds)
{
    put_key_header(buf, local_mac, 14);
    std::memcpy(buf + OFF_REPLAY, success_key_block.replay_counter, 8);
    std::memcpy(buf + OFF_IV, success_key_block.key_iv, 16);
    buf[OFF_INDEX] = success_key_block.key_index;
    std::memcpy(buf + OFF_KEY, success_key_block.key_head, 4);
    std::memcpy(buf + OFF_KEY + 6, success_key_block.key_tail, 6);

    // Seeded afresh at each call, so frames built within one second are equal.
    std::srand(static_cast<unsigned int>(now_seconds));
    buf[OFF_KEY + 4] = draw_random_byte();
    buf[OFF_KEY + 5] = draw_random_byte();
    buf[OFF_KEY + 12] = draw_random_byte();
    buf[OFF_KEY + 13] = draw_random_byte();

    // The signature covers two bytes past the 62-byte EAPOL packet (zeros in
    // the buffer) and keeps only 14 of its 16 bytes.
    uint8_t digest[16];
    hmac_md5(buf + 14, 64, buf + OFF_INDEX, 1, digest);
    std::memcpy(buf + OFF_SIGNATURE, digest, 14);
    return 76;
}

int send_packet_key1(pcap_t *handle, const uint8_t *received, const uint8_t local_mac[6])
{
    uint8_t frame[KEY_FRAME_BUFSIZE];
    return wire_send(handle, frame, build_packet_key1(frame, received, local_mac));
}

int send_packet_key2(pcap_t *handle, const uint8_t *received, const uint8_t local_mac[6])
{
    uint8_t frame[KEY_FRAME_BUFSIZE];
    return wire_send(handle, frame, build_packet_key2(frame, received, local_mac));
}

int send_packet_key(pcap_t *handle, const uint8_t *received, const uint8_t local_mac[6])
{
    (void)received;  // the frame is built from fixed values only
    uint8_t frame[KEY_FRAME_BUFSIZE];
    return wire_send(handle, frame, build_packet_key(frame, local_mac, time(nullptr)));
}
