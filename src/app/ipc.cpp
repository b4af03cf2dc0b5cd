// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/ipc.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace {

bool text_canonical(const char *slot)
{
    const void *nul = std::memchr(slot, '\0', IPC_TEXT_SIZE);
    if (!nul)
        return false;
    const char *p = static_cast<const char *>(nul);
    for (const char *end = slot + IPC_TEXT_SIZE; p < end; p++) {
        if (*p != '\0')
            return false;
    }
    return true;
}

}  // namespace

IpcRecord ipc_record(uint16_t kind)
{
    IpcRecord r;
    std::memset(&r, 0, sizeof r);
    r.magic = IPC_MAGIC;
    r.kind = kind;
    return r;
}

bool ipc_set_text(IpcRecord &r, size_t i, const char *value)
{
    if (i >= IPC_TEXTS)
        return false;
    std::memset(r.text[i], 0, IPC_TEXT_SIZE);
    size_t len = value ? std::strlen(value) : 0;
    if (len >= IPC_TEXT_SIZE)
        return false;
    if (len)
        std::memcpy(r.text[i], value, len);
    return true;
}

void ipc_set_user_text(IpcRecord &r, TextId title, const UserText &text)
{
    r.num[IPC_TITLE_ID] = title;
    r.num[IPC_TEXT_ID] = text.id;
    r.num[IPC_TEXT_NUMBER] = text.number;
    std::memcpy(&r.num[IPC_TEXT_CODE], text.code, sizeof text.code);
}

bool ipc_user_text(const IpcRecord &r, TextId &title, UserText &text)
{
    if (!text_id_valid(r.num[IPC_TITLE_ID]) || !text_id_valid(r.num[IPC_TEXT_ID]))
        return false;
    title = static_cast<TextId>(r.num[IPC_TITLE_ID]);
    text.id = static_cast<TextId>(r.num[IPC_TEXT_ID]);
    text.number = r.num[IPC_TEXT_NUMBER];
    std::memcpy(text.code, &r.num[IPC_TEXT_CODE], sizeof text.code);
    return true;
}

bool is_message_kind(uint16_t kind)
{
    return kind >= MSG_SHOW_DIALOG && kind <= MSG_OPEN_PAGE;
}

bool is_request_kind(uint16_t kind)
{
    return kind >= REQ_LOGON && kind <= REQ_STOP_DHCP;
}

bool ipc_decode(const uint8_t *data, size_t len, IpcRecord &out)
{
    if (!data || len != sizeof(IpcRecord))
        return false;
    IpcRecord r;
    std::memcpy(&r, data, sizeof r);
    if (r.magic != IPC_MAGIC || r.reserved != 0)
        return false;
    if (!is_message_kind(r.kind) && !is_request_kind(r.kind))
        return false;
    for (size_t i = 0; i < IPC_TEXTS; i++) {
        if (!text_canonical(r.text[i]))
            return false;
    }
    out = r;
    return true;
}

bool ipc_socketpair(int fds[2])
{
    return socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) == 0;
}

bool ipc_send(int fd, const IpcRecord &r)
{
    for (;;) {
        ssize_t n = send(fd, &r, sizeof r, MSG_NOSIGNAL);
        if (n == static_cast<ssize_t>(sizeof r))
            return true;
        if (n < 0 && errno == EINTR)
            continue;
        return false;
    }
}

RecvResult ipc_recv(int fd, IpcRecord &out)
{
    // One byte more than a record: MSG_TRUNC reports the datagram's whole
    // length, so an oversized one is seen and dropped, never half-read.
    uint8_t buf[sizeof(IpcRecord) + 1];
    for (;;) {
        ssize_t n = recv(fd, buf, sizeof buf, MSG_TRUNC);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return RecvResult::Invalid;
            return RecvResult::Closed;
        }
        if (n == 0)
            return RecvResult::Closed;
        if (static_cast<size_t>(n) != sizeof(IpcRecord))
            return RecvResult::Invalid;
        return ipc_decode(buf, static_cast<size_t>(n), out) ? RecvResult::Record
                                                           : RecvResult::Invalid;
    }
}
