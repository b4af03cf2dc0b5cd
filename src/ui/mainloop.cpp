// SPDX-License-Identifier: GPL-2.0-or-later
#include "ui/mainloop.h"

#include <atomic>
#include <utility>
#include <glib.h>

// GLib's mutexes and its main-context lock are futexes that ThreadSanitizer
// cannot see; these marks tell it about the hand-off that they order.
#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_acquire(void *addr);
extern "C" void __tsan_release(void *addr);
#define HANDOFF_ACQUIRE(p) __tsan_acquire(p)
#define HANDOFF_RELEASE(p) __tsan_release(p)
#else
#define HANDOFF_ACQUIRE(p) ((void)(p))
#define HANDOFF_RELEASE(p) ((void)(p))
#endif

namespace {

std::atomic<GThread *> main_thread{nullptr};

// One hand-off: the worker waits on cond until the main thread has run fn.
struct SyncCall {
    const std::function<void()> *fn;
    GMutex lock;
    GCond cond;
    std::atomic<bool> done;
};

gboolean run_sync_call(gpointer data)
{
    auto *call = static_cast<SyncCall *>(data);
    HANDOFF_ACQUIRE(call);
    (*call->fn)();
    HANDOFF_RELEASE(call);
    g_mutex_lock(&call->lock);
    call->done = true;
    g_cond_signal(&call->cond);
    g_mutex_unlock(&call->lock);
    return G_SOURCE_REMOVE;
}

gboolean run_async_call(gpointer data)
{
    HANDOFF_ACQUIRE(data);
    (*static_cast<std::function<void()> *>(data))();
    return G_SOURCE_REMOVE;
}

void free_async_call(gpointer data)
{
    delete static_cast<std::function<void()> *>(data);
}

}  // namespace

// Marks the calling thread as the one that runs the main loop.
void mainloop_init()
{
    main_thread = g_thread_self();
}

// Whether the caller is the main-loop thread.
bool on_main_thread()
{
    return main_thread.load() == g_thread_self();
}

// Runs fn on the main thread, after everything queued there before it, and waits.
void main_call_sync(const std::function<void()> &fn)
{
    if (on_main_thread()) {
        fn();
        return;
    }
    SyncCall call{&fn, {}, {}, {false}};
    g_mutex_init(&call.lock);
    g_cond_init(&call.cond);
    // Same priority as g_idle_add, so requests from a worker (idle tasks and
    // these calls alike) run on the main loop in the order they were made.
    // An idle source rather than g_main_context_invoke: invoke would run fn
    // on this thread whenever the main loop happens to be between iterations.
    HANDOFF_RELEASE(&call);
    g_idle_add_full(G_PRIORITY_DEFAULT_IDLE, run_sync_call, &call, nullptr);
    g_mutex_lock(&call.lock);
    while (!call.done)
        g_cond_wait(&call.cond, &call.lock);
    g_mutex_unlock(&call.lock);
    HANDOFF_ACQUIRE(&call);
    g_cond_clear(&call.cond);
    g_mutex_clear(&call.lock);
}

void main_call_async(std::function<void()> fn)
{
    auto *call = new std::function<void()>(std::move(fn));
    HANDOFF_RELEASE(call);
    // Same priority as main_call_sync and g_idle_add: one queue, in call order.
    g_idle_add_full(G_PRIORITY_DEFAULT_IDLE, run_async_call, call, free_async_call);
}
