// SPDX-License-Identifier: GPL-2.0-or-later
// Hands work to the GTK main loop. Workers never touch widgets themselves:
// they run the widget work on the main thread, in call order, and wait for it.
#pragma once

#include <functional>

// The thread that runs the main loop (set by mainloop_init on that thread).
void mainloop_init();
bool on_main_thread();
// Runs fn on the main thread and returns after it ran; runs it at once when
// already there. Never call from the main thread expecting a wait.
void main_call_sync(const std::function<void()> &fn);
// Queues fn for the main thread and returns at once, for reports that need no
// answer: it runs in call order with main_call_sync calls and idle tasks.
void main_call_async(std::function<void()> fn);
