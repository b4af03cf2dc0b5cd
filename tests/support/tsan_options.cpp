// SPDX-License-Identifier: GPL-2.0-or-later
// Options of a ThreadSanitizer build (CORVIX_TSAN) for every test program.
// GTK, GLib and the font libraries are not instrumented, and GLib's locks are
// futexes the sanitizer cannot see: the allocations and string reads those
// libraries make would be judged without the locks that order them. Only
// accesses made by our own (instrumented) code are judged; the main-loop
// hand-off carries its own annotations (src/ui/mainloop.cpp).
extern "C" const char *__tsan_default_options();
extern "C" const char *__tsan_default_options()
{
    return "ignore_noninstrumented_modules=1:halt_on_error=1:second_deadlock_stack=1";
}
