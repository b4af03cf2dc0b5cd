// SPDX-License-Identifier: GPL-2.0-or-later
// EAPOL-Start, EAPOL-Logoff and the EAP Identity and MD5-Challenge responses.
// Builders write one frame into a caller's buffer of at least
// EAPOL_FRAME_BUFSIZE bytes and return its length; senders are thin.
#pragma once

#include <cstdint>
#include <pcap/pcap.h>

enum EAP_Code { REQUEST = 1, RESPONSE = 2, SUCCESS = 3, FAILURE = 4 };
enum EAP_Type { IDENTITY = 1, MD5 = 4, AVAILABLE = 20 };

constexpr int EAPOL_FRAME_BUFSIZE = 128;

int build_start_pkt(uint8_t *buf, const uint8_t local_mac[6]);
int build_logoff_pkt(uint8_t *buf, const uint8_t local_mac[6]);
// request must hold at least 23 bytes (code, identifier, type).
int build_response_identity(uint8_t *buf, const uint8_t *request, const uint8_t eth_header[14],
                            const uint8_t identity_extra[4], const char *account);
// request must hold at least 40 bytes (the challenge ends at byte 39).
int build_response_md5(uint8_t *buf, const uint8_t *request, const uint8_t eth_header[14],
                       const char *account, const char *password);

void SendStartPkt(pcap_t *handle, const uint8_t local_mac[6]);
void SendLogoffPkt(pcap_t *handle, const uint8_t local_mac[6]);
void SendResponseIdentity(pcap_t *handle, const uint8_t *request, const uint8_t eth_header[14],
                          const uint8_t *identity_extra, const char *account);
void SendResponseMD5(pcap_t *handle, const uint8_t *request, const uint8_t eth_header[14],
                     const char *account, const char *password);
