// SPDX-License-Identifier: GPL-2.0-or-later
#include "gui_harness.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

#include "app/window_half.h"
#include "config/settings.h"
#include "support/engine_fixture.h"
#include "ui/main_window.h"

// GTK keeps process-lifetime allocations that the leak checker would report
// at every exit; the suite's runner switches it off too.
extern "C" const char *__asan_default_options();
extern "C" const char *__asan_default_options()
{
    return "detect_leaks=0";
}

namespace {

std::string settings_file;
GuiApp *made = nullptr;

void remove_settings_file()
{
    if (!settings_file.empty() && !in_engine_process())
        (void)unlink(settings_file.c_str());
}

// A private settings file, so nothing a test does can reach the installed one.
void use_private_settings_file()
{
    char path[] = "/tmp/corvix-gui-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0)
        throw std::runtime_error("cannot create a temporary settings file");
    close(fd);
    settings_file = path;
    settings_path = settings_file.c_str();
    std::atexit(remove_settings_file);
}

bool in_death_test_child()
{
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    std::string line((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return line.find("gtest_internal_run_death_test") != std::string::npos;
}

// The window's process ends with 0 when the engine it asked to exit has gone.
// Inside a test that would read as a pass: say so and fail instead.
void refuse_end_inside_a_test()
{
    if (in_engine_process() || in_death_test_child())
        return;
    const ::testing::TestInfo *t = ::testing::UnitTest::GetInstance()->current_test_info();
    if (!t)
        return;
    std::fprintf(stderr, "the window's process ended inside %s.%s\n", t->test_suite_name(),
                 t->name());
    std::_Exit(2);
}

void collect_buttons(GtkWidget *widget, gpointer out)
{
    if (GTK_IS_BUTTON(widget))
        static_cast<std::vector<GtkWidget *> *>(out)->push_back(widget);
    else if (GTK_IS_CONTAINER(widget))
        gtk_container_forall(GTK_CONTAINER(widget), collect_buttons, out);
}

}  // namespace

void gui_init()
{
    static bool done = false;
    if (done)
        return;
    // The engine's process first, while this one has no thread and no display.
    engine_fork();
    std::atexit(refuse_end_inside_a_test);
    // `_` converts from the locale's encoding: the texts are UTF-8.
    setenv("LC_ALL", "C.UTF-8", 1);
    int argc = 0;
    char **argv = nullptr;
    // Xvfb refuses connections for a moment while it resets after its last
    // client left (tests run one process each): try again for a while.
    bool opened = gtk_init_check(&argc, &argv);
    for (int i = 0; !opened && i < 100; ++i) {
        g_usleep(50000);
        opened = gtk_init_check(&argc, &argv);
    }
    if (!opened)
        throw std::runtime_error("no X display: run the GUI tests under xvfb-run");
    mainloop_init();
    use_private_settings_file();
    done = true;
}

bool pump_until(const std::function<bool()> &done, int timeout_ms)
{
    const gint64 deadline = g_get_monotonic_time() + gint64(timeout_ms) * 1000;
    while (!done()) {
        if (g_get_monotonic_time() > deadline)
            return done();
        gtk_main_iteration_do(FALSE);
        if (!g_main_context_pending(nullptr))
            g_usleep(500);  // idle tick, so the loop does not spin a core
    }
    return true;
}

void gui_start_engine()
{
    static const ClientSettings none{};
    engine_go(made ? made->settings : none);
}

bool pump_engine(int timeout_ms)
{
    gui_start_engine();
    // The engine handles requests in order and always answers this one, for
    // an account no entry can show: once its answer is here, so is every
    // answer to what the window asked before.
    static int probes = 0;
    const std::string probe = "\x01probe" + std::to_string(++probes);
    request_password(probe.c_str());
    const gint64 deadline = g_get_monotonic_time() + gint64(timeout_ms) * 1000;
    while (!message_seen(MSG_ACCOUNT_PASSWORD, probe.c_str())) {
        if (g_get_monotonic_time() > deadline)
            return false;
        while (g_main_context_pending(nullptr))
            gtk_main_iteration_do(FALSE);
        g_usleep(1000);
    }
    // The tap passes a record on before it keeps it: all of them are queued here.
    while (g_main_context_pending(nullptr))
        gtk_main_iteration_do(FALSE);
    return true;
}

void run_script(const std::function<void()> &script, int timeout_ms)
{
    gui_start_engine();
    std::atomic<bool> finished{false}, pumped{false};
    std::mutex lock;
    std::condition_variable over;
    // A modal run (a dialog left open, a handler that hangs) can hold this
    // thread below pump_until: the watchdog ends such a test loudly.
    std::thread watchdog([&] {
        std::unique_lock<std::mutex> guard(lock);
        if (!over.wait_for(guard, std::chrono::milliseconds(timeout_ms), [&] { return pumped.load(); })) {
            std::fprintf(stderr, "GUI script not over after %d ms (script %s)\n", timeout_ms,
                         finished ? "done, main loop held by a modal run" : "still running");
            std::_Exit(3);
        }
    });
    std::thread player([&] {
        script();
        // A script that stopped early (a failed ASSERT) may leave a modal
        // dialog open: close what is left so the loop below can return.
        main_call_sync([] {
            for (GtkWidget *dialog : visible_dialogs())
                gtk_widget_destroy(dialog);
        });
        finished = true;
        g_main_context_wakeup(nullptr);
    });
    if (!pump_until([&] { return finished.load(); }, timeout_ms)) {
        std::fprintf(stderr, "GUI script still running after %d ms\n", timeout_ms);
        std::_Exit(3);
    }
    {
        std::lock_guard<std::mutex> guard(lock);
        pumped = true;
        over.notify_all();
    }
    watchdog.join();
    player.join();
}

bool wait_for(const std::function<bool()> &pred, int timeout_ms)
{
    const gint64 deadline = g_get_monotonic_time() + gint64(timeout_ms) * 1000;
    for (;;) {
        if (on_main(pred))
            return true;
        if (g_get_monotonic_time() > deadline)
            return false;
        g_usleep(5000);
    }
}

GuiApp &gui_app()
{
    static GuiApp *app = [] {
        gui_init();
        auto *a = new GuiApp;
        a->widgets = main_widgets_initial();
        build_main_window(&a->ctx);
        set_window_context(&a->ctx);
        made = a;
        return a;
    }();
    return *app;
}

std::vector<GtkWidget *> visible_dialogs()
{
    std::vector<GtkWidget *> out;
    GList *windows = gtk_window_list_toplevels();
    for (GList *l = windows; l; l = l->next) {
        auto *w = static_cast<GtkWidget *>(l->data);
        if (GTK_IS_DIALOG(w) && gtk_widget_get_visible(w))
            out.push_back(w);
    }
    g_list_free(windows);
    return out;
}

bool main_window_visible(const AppContext &ctx)
{
    return ctx.widgets->window && gtk_widget_get_visible(ctx.widgets->window);
}

bool message_shown(const ClientSettings &s, const char *text)
{
    return s.msg_dialog && !mutex.load() && gtk_widget_get_visible(s.msg_dialog) &&
           (!text || std::strcmp(s.msg_text, text) == 0);
}

std::string label_text(GtkWidget *label)
{
    return label ? gtk_label_get_text(GTK_LABEL(label)) : "";
}

GtkWidget *dialog_button_at(const ClientSettings &s, int x)
{
    if (!s.msg_dialog)
        return nullptr;
    std::vector<GtkWidget *> buttons;
    collect_buttons(s.msg_dialog, &buttons);
    for (GtkWidget *b : buttons) {
        GtkWidget *parent = gtk_widget_get_parent(b);
        gint bx = -1;
        if (GTK_IS_FIXED(parent))
            gtk_container_child_get(GTK_CONTAINER(parent), b, "x", &bx, nullptr);
        if (bx == x)
            return b;
    }
    return nullptr;
}

namespace {

void collect_named_buttons(AtkObject *object, std::vector<std::string> &out)
{
    const char *name = atk_object_get_name(object);
    if (atk_object_get_role(object) == ATK_ROLE_PUSH_BUTTON && name && *name) {
        gchar *tip = gtk_widget_get_tooltip_text(GTK_ACCESSIBLE(object)->widget);
        out.push_back(tip && std::strcmp(tip, name) == 0 ? name : std::string(name) + "|" + (tip ? tip : ""));
        g_free(tip);
    }
    for (int i = 0; i < atk_object_get_n_accessible_children(object); i++) {
        AtkObject *child = atk_object_ref_accessible_child(object, i);
        collect_named_buttons(child, out);
        g_object_unref(child);
    }
}

}  // namespace

std::vector<std::string> accessible_button_names(GtkWidget *window)
{
    std::vector<std::string> names;
    collect_named_buttons(gtk_widget_get_accessible(window), names);
    std::sort(names.begin(), names.end());
    return names;
}

void send_delete_event(GtkWidget *window)
{
    GdkEvent *event = gdk_event_new(GDK_DELETE);
    event->any.window = GDK_WINDOW(g_object_ref(window->window));
    event->any.send_event = TRUE;
    gtk_main_do_event(event);
    gdk_event_free(event);
}

void click(GtkWidget *button)
{
    gtk_button_clicked(GTK_BUTTON(button));
}

namespace {

void on_recorded_dialog_destroyed(GtkWidget *, gpointer entry)
{
    static_cast<MappedDialogs::Entry *>(entry)->destroyed = true;
}

gboolean record_mapped_dialog(GSignalInvocationHint *, guint, const GValue *params, gpointer data)
{
    auto *self = static_cast<MappedDialogs *>(data);
    GObject *object = static_cast<GObject *>(g_value_get_object(&params[0]));
    if (GTK_IS_DIALOG(object)) {
        for (const auto &e : self->entries)
            if (e.dialog == GTK_WIDGET(object) && !e.destroyed)
                return TRUE;  // mapped again, already recorded
        self->entries.push_back({GTK_WIDGET(object), false});
        g_signal_connect(object, "destroy", G_CALLBACK(on_recorded_dialog_destroyed), &self->entries.back());
    }
    return TRUE;  // stay installed
}

}  // namespace

MappedDialogs::MappedDialogs()
    : signal_id(g_signal_lookup("map", GTK_TYPE_WIDGET)),
      hook_id(g_signal_add_emission_hook(signal_id, 0, record_mapped_dialog, this, nullptr))
{
}

MappedDialogs::~MappedDialogs()
{
    g_signal_remove_emission_hook(signal_id, hook_id);
    for (auto &e : entries)
        if (!e.destroyed)
            g_signal_handlers_disconnect_by_func(e.dialog, (gpointer)on_recorded_dialog_destroyed, &e);
}

bool in_private_pid_namespace()
{
    char init_exe[4096] = {0}, self_exe[4096] = {0};
    ssize_t a = readlink("/proc/1/exe", init_exe, sizeof init_exe - 1);
    ssize_t b = readlink("/proc/self/exe", self_exe, sizeof self_exe - 1);
    return a > 0 && b > 0 && std::string(init_exe) == self_exe;
}
