// SPDX-License-Identifier: GPL-2.0-or-later
// The title and text an engine message carries, rendered as the window shows them.
#pragma once

#include <string>

#include "app/ipc.h"

inline std::string message_title(const IpcRecord &r)
{
    TextId title;
    UserText text;
    return ipc_user_text(r, title, text) ? text_of(title) : "(no text)";
}

inline std::string message_text(const IpcRecord &r)
{
    TextId title;
    UserText text;
    return ipc_user_text(r, title, text) ? render_text(text) : "(no text)";
}
