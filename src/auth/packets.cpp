// SPDX-License-Identifier: GPL-2.0-or-later
// EAPOL frames that the client originates (IEEE 802.1X-2001, RFC 3748).
#include "auth/packets.h"

#include <cstring>

#include "app/check.h"
#include "app/records.h"
#include "auth/fillmd5.h"
#include "auth/wire.h"

namespace {

constexpr uint8_t EAPOL_VERSION = 1;
constexpr uint8_t EAPOL_EAP_PACKET = 0;
constexpr uint8_t EAPOL_START = 1;
constexpr uint8_t EAPOL_LOGOFF = 2;

void put_be16(uint8_t *p, size_t value)
{
    p[0] = static_cast<uint8_t>((value >> 8) & 0xff);
    p[1] = static_cast<uint8_t>(value & 0xff);
}

// Start and Logoff: headers only, body length 0, no padding.
int build_bodyless(uint8_t *buf, const uint8_t local_mac[6], uint8_t type)
{
    std::memcpy(buf, MultcastAddr, 6);
    std::memcpy(buf + 6, local_mac, 6);
    buf[12] = 0x88;
    buf[13] = 0x8e;
    buf[14] = EAPOL_VERSION;
    buf[15] = type;
    put_be16(buf + 16, 0);
    return 18;
}

// Ethernet header, EAPOL version and type, EAP code and the request's identifier.
void put_response_head(uint8_t *response, const uint8_t *request, const uint8_t eth_header[14])
{
    std::memcpy(response, eth_header, 14);
    response[14] = EAPOL_VERSION;
    response[15] = EAPOL_EAP_PACKET;
    response[18] = RESPONSE;
    response[19] = request[19];
}

// EAPOL body length and EAP length are the same in every response.
void put_lengths(uint8_t *response, size_t eap_length)
{
    put_be16(response + 16, eap_length);
    put_be16(response + 20, eap_length);
}

}  // namespace

int build_start_pkt(uint8_t *buf, const uint8_t local_mac[6])
{
    return build_bodyless(buf, local_mac, EAPOL_START);
}

int build_logoff_pkt(uint8_t *buf, const uint8_t local_mac[6])
{
    return build_bodyless(buf, local_mac, EAPOL_LOGOFF);
}

int build_response_identity(uint8_t *buf, const uint8_t *request, const uint8_t eth_header[14],
                            const uint8_t identity_extra[4], const char *account)
{
    CHECK((EAP_Code) request[18] == REQUEST);
    CHECK((EAP_Type) request[22] == IDENTITY || (EAP_Type) request[22] == AVAILABLE);

    uint8_t response[EAPOL_FRAME_BUFSIZE] = {};
    const size_t n = std::strlen(account);
    const size_t i = 29 + n;
    CHECK(i <= sizeof (response));

    put_response_head(response, request, eth_header);
    response[22] = IDENTITY;  // also when asked with AVAILABLE
    response[23] = 0x15;
    response[24] = 0x04;
    std::memcpy(response + 25, identity_extra, 4);
    std::memcpy(response + 29, account, n);
    put_lengths(response, n + 11);

    std::memcpy(buf, response, i);
    return static_cast<int>(i);
}

int build_response_md5(uint8_t *buf, const uint8_t *request, const uint8_t eth_header[14],
                       const char *account, const char *password)
{
    CHECK((EAP_Code) request[18] == REQUEST);
    CHECK((EAP_Type) request[22] == MD5);

    uint8_t response[EAPOL_FRAME_BUFSIZE] = {};
    const size_t n = std::strlen(account);
    const size_t i = 40 + n;
    // The name field must fit the frame as well as the identity's does.
    CHECK(i <= sizeof (response));

    put_response_head(response, request, eth_header);
    response[22] = MD5;
    response[23] = 16;
    // The challenge is always bytes 24..39; the request's value-size byte is not read.
    FillMD5Area(response + 24, request[19], password, request + 24);
    std::memcpy(response + 40, account, n);
    put_lengths(response, n + 22);

    std::memcpy(buf, response, i);
    return static_cast<int>(i);
}

void SendStartPkt(pcap_t *handle, const uint8_t local_mac[6])
{
    uint8_t frame[EAPOL_FRAME_BUFSIZE];
    (void)wire_send(handle, frame, build_start_pkt(frame, local_mac));
}

void SendLogoffPkt(pcap_t *handle, const uint8_t local_mac[6])
{
    uint8_t frame[EAPOL_FRAME_BUFSIZE];
    (void)wire_send(handle, frame, build_logoff_pkt(frame, local_mac));
}

void SendResponseIdentity(pcap_t *handle, const uint8_t *request, const uint8_t eth_header[14],
                          const uint8_t *identity_extra, const char *account)
{
    uint8_t frame[EAPOL_FRAME_BUFSIZE];
    int len = build_response_identity(frame, request, eth_header, identity_extra, account);
    (void)wire_send(handle, frame, len);
}

void SendResponseMD5(pcap_t *handle, const uint8_t *request, const uint8_t eth_header[14],
                     const char *account, const char *password)
{
    uint8_t frame[EAPOL_FRAME_BUFSIZE];
    int len = build_response_md5(frame, request, eth_header, account, password);
    (void)wire_send(handle, frame, len);
}
