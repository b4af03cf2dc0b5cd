// SPDX-License-Identifier: GPL-2.0-or-later
// EAPOL-Key frames (RC4 descriptor): the two answers to each key frame of the
// authenticator and the one frame sent after the address is obtained.
#pragma once

#include <cstdint>
#include <ctime>
#include <pcap/pcap.h>

// Smallest received key frame that may be answered: the answers copy bytes 21..45.
constexpr int KEY_FRAME_MIN_LEN = 46;
constexpr int KEY_FRAME_BUFSIZE = 80;  // two bytes longer than the longest frame

// Builders fill buf (KEY_FRAME_BUFSIZE bytes) and return the frame length: 78, 66, 76.
int build_packet_key1(uint8_t *buf, const uint8_t *received, const uint8_t local_mac[6]);
int build_packet_key2(uint8_t *buf, const uint8_t *received, const uint8_t local_mac[6]);
int build_packet_key(uint8_t *buf, const uint8_t local_mac[6], time_t now_seconds);

// Senders: 1 when the capture library accepted the frame, else 0.
int send_packet_key1(pcap_t *handle, const uint8_t *received, const uint8_t local_mac[6]);
int send_packet_key2(pcap_t *handle, const uint8_t *received, const uint8_t local_mac[6]);
int send_packet_key(pcap_t *handle, const uint8_t *received, const uint8_t local_mac[6]);
