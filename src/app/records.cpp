// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/records.h"

std::atomic<int> status{STATUS_IDLE};
std::atomic<int> thread_auth_num{0};
std::atomic<GMutex *> mutex{nullptr};
int is_msg_dlg_delete_event = 0;
const unsigned char MultcastAddr[6] = {0x01, 0x80, 0xc2, 0x00, 0x00, 0x03};
