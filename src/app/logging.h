// SPDX-License-Identifier: GPL-2.0-or-later
// The engine's lines in the system log (ident "Corvix", facility daemon), for
// whoever has to find out why a log-on went wrong. What is logged is the run
// state, the kinds of frames, the server's failure, the address and the
// texts the user is shown: never a password, a digest or a frame's payload.
#pragma once

#include <cstdint>
#include <string>

#include "app/texts.h"

// One line at priority (LOG_INFO, LOG_WARNING, ...); printf-style.
void log_line(int priority, const char *format, ...) __attribute__((format(printf, 2, 3)));
// The name of a run state ("online", "authenticating", ...).
const char *status_name(int run_state);
void log_status(int run_state);
// The kind of an 802.1X frame: "EAPOL-Start", "EAP-Request/Identity", ...
std::string frame_kind(const uint8_t *frame, int len);
// A frame received or sent. While online the key frames are only counted,
// and the counts logged once a minute at most.
void log_frame(bool sent, const uint8_t *frame, int len, bool online);
// A text the user is shown, with what it is ("progress", "message", ...).
void log_user_text(const char *what, const UserText &text);
// An EAP-Failure's code (bytes 30..33) and the server's message for it.
void log_server_failure(const uint8_t code[4]);
