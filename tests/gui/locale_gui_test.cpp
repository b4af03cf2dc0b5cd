// SPDX-License-Identifier: GPL-2.0-or-later
// The windows in every locale: the main window's title, labels and caption
// pictures, a failure dialog, the tray icon's tooltip and menu, and the
// settings dialog show the catalogue's texts in the locale's language, never
// blank and never garbled; the window and its dialogs carry the icon list;
// a screen reader finds each picture button by its caption.
#include <algorithm>
#include <cstring>

#include <gtest/gtest.h>

#include "app/texts.h"
#include "gui_harness.h"
#include "support/pixels.h"
#include "support/locales.h"
#include "ui/config_dialog.h"
#include "ui/images.h"
#include "ui/main_window.h"
#include "ui/msg_dialog.h"
#include "ui/status_surface.h"
#include "ui/tray.h"

namespace {

// Which language's caption a button shows: "zh", "en", or "?" for neither.
std::string caption_language(GtkWidget *button, Caption caption)
{
    GtkWidget *image = button ? gtk_bin_get_child(GTK_BIN(button)) : nullptr;
    if (!image || !GTK_IS_IMAGE(image) || gtk_image_get_storage_type(GTK_IMAGE(image)) != GTK_IMAGE_PIXBUF)
        return "?";
    GdkPixbuf *shown = gtk_image_get_pixbuf(GTK_IMAGE(image));
    for (bool english : {false, true}) {
        GdkPixbuf *want = pixbuf_from_inline(caption_picture(caption, english));
        bool same = same_pixels(shown, want);
        g_object_unref(want);
        if (same)
            return english ? "en" : "zh";
    }
    return "?";
}

std::string button_label(GtkWidget *check)
{
    return label_text(gtk_bin_get_child(GTK_BIN(check)));
}

// The widgets under a widget whose type is `type` (not looking inside them), in tree order.
void collect(GtkWidget *widget, GType type, std::vector<GtkWidget *> &out)
{
    if (G_TYPE_CHECK_INSTANCE_TYPE(widget, type)) {
        out.push_back(widget);
    } else if (GTK_IS_CONTAINER(widget)) {
        GList *children = gtk_container_get_children(GTK_CONTAINER(widget));
        for (GList *l = children; l; l = l->next)
            collect(GTK_WIDGET(l->data), type, out);
        g_list_free(children);
    }
}

// Texts of the labels found under a widget, in tree order.
void collect_labels(GtkWidget *widget, std::vector<std::string> *out)
{
    std::vector<GtkWidget *> labels;
    collect(widget, GTK_TYPE_LABEL, labels);
    for (GtkWidget *label : labels)
        out->push_back(gtk_label_get_text(GTK_LABEL(label)));
}

// The expected text, checked not to be empty itself (a text missing from the
// catalogue would otherwise pass against a blank widget).
std::string want(TextId id, const LocaleCase &c)
{
    std::string text = expected_text(id, c);
    EXPECT_FALSE(text.empty()) << source_text(id);
    return text;
}

// The captions as a screen reader must find them (accessible_button_names).
std::vector<std::string> want_names(std::initializer_list<const char *> captions, const LocaleCase &c)
{
    std::vector<std::string> out;
    for (const char *caption : captions)
        out.push_back(expected_text(caption, c));
    std::sort(out.begin(), out.end());
    return out;
}

// With CORVIX_SHOTS_DIR set, a window's picture goes to
// DIR/<locale>/<name>.png once it is drawn (scripts/screenshots.sh). From the
// script thread.
void save_shot(GtkWidget *window, const std::string &name, const LocaleCase &c)
{
    const char *dir = getenv("CORVIX_SHOTS_DIR");
    if (!dir || !*dir)
        return;
    g_usleep(300000);  // mapped, then drawn by the main loop
    on_main([&] {
        GdkWindow *w = gtk_widget_get_window(window);
        gdk_window_process_updates(w, TRUE);
        gdk_flush();
        int width = 0, height = 0;
        gdk_drawable_get_size(GDK_DRAWABLE(w), &width, &height);
        GdkPixbuf *shot = gdk_pixbuf_get_from_drawable(nullptr, GDK_DRAWABLE(w), nullptr, 0, 0, 0, 0, width, height);
        std::string folder = std::string(dir) + "/" + locale_case_name(c);
        g_mkdir_with_parents(folder.c_str(), 0755);
        ASSERT_NE(shot, nullptr);
        EXPECT_TRUE(gdk_pixbuf_save(shot, (folder + "/" + name + ".png").c_str(), "png", nullptr, nullptr));
        g_object_unref(shot);
    });
}

class Windows : public testing::TestWithParam<LocaleCase> {
protected:
    void SetUp() override
    {
        // The accessibility tree, as a desktop's assistive technologies load it
        // (libgail-common).
        setenv("GTK_MODULES", "gail", 1);
        gui_init();
        ASSERT_TRUE(enter_locale(GetParam())) << GetParam().lang << " is not generated: run scripts/packages.sh";
        choose_text_language(CORVIX_BINARY_DIR "/locale");
        // The client's own look (its buttons' borders decide the captions' room).
        gtk_rc_parse(CORVIX_SOURCE_DIR "/data/Corvixrc");
    }
    const char *lang() const { return GetParam().english ? "en" : "zh"; }
};

}  // namespace

TEST_P(Windows, MainWindowTitleLabelsAndCaptions)
{
    const LocaleCase &c = GetParam();
    MainWidgets &w = gui_app().widgets;
    EXPECT_EQ(gtk_window_get_title(GTK_WINDOW(w.window)), want(T_APP_NAME, c));
    EXPECT_EQ(label_text(w.account_label), want(T_ACCOUNT_LABEL, c));
    EXPECT_EQ(label_text(w.password_label), want(T_PASSWORD_LABEL, c));
    EXPECT_EQ(label_text(w.device_label), want(T_DEVICE_LABEL, c));
    EXPECT_EQ(button_label(w.remember_check), want(T_REMEMBER_PASSWORD, c));
    EXPECT_EQ(button_label(w.auto_logon_check), want(T_AUTO_LOGON, c));
    GtkTooltipsData *tip = gtk_tooltips_data_get(gtk_widget_get_parent(w.lock_image));
    ASSERT_NE(tip, nullptr);
    EXPECT_EQ(std::string(tip->tip_text), want(T_DELETE_ACCOUNT_TIP, c));
    const std::pair<GtkWidget *, Caption> buttons[] = {{w.logon_button, CAPTION_LOGON},
                                                       {w.config_button, CAPTION_CONFIG},
                                                       {w.about_button, CAPTION_ABOUT},
                                                       {w.exit_button, CAPTION_EXIT}};
    for (const auto &[button, caption] : buttons)
        EXPECT_EQ(caption_language(button, caption), lang()) << caption;
    GList *icons = gtk_window_get_icon_list(GTK_WINDOW(w.window));
    std::vector<int> sizes;
    for (GList *l = icons; l; l = l->next)
        sizes.push_back(gdk_pixbuf_get_width(GDK_PIXBUF(l->data)));
    g_list_free(icons);
    EXPECT_EQ(sizes, (std::vector<int>{16, 22, 24, 32, 48, 64, 128, 256}));
    // Every text fits its place: labels end before the fields (x 60), the
    // check boxes inside the window, right of the lock (x 240).
    std::vector<GtkAllocation> labels, checks;
    std::vector<std::string> names;
    run_script([&] {
        on_main([&] {
            gtk_widget_show_all(w.window);
            names = accessible_button_names(w.window);
        });
        ASSERT_TRUE(wait_for([&] { return w.account_label->allocation.width > 1; }));
        save_shot(w.window, "main-window", c);
        on_main([&] {
            for (GtkWidget *l : {w.account_label, w.password_label, w.device_label})
                labels.push_back(l->allocation);
            for (GtkWidget *b : {w.remember_check, w.auto_logon_check})
                checks.push_back(b->allocation);
            gtk_widget_hide(w.window);
        });
    });
    EXPECT_EQ(names, want_names({"认证", "设置", "关于", "退出", "删除当前帐号的相关信息！"}, c));
    for (const GtkAllocation &a : labels)
        EXPECT_LE(a.x + a.width, 60) << a.x << "+" << a.width;
    for (const GtkAllocation &a : checks) {
        EXPECT_GE(a.x, 240);
        EXPECT_LE(a.x + a.width, 334) << a.x << "+" << a.width;
    }
}

namespace {

// The three message windows: their title, text and the captions of the
// buttons at the right (x 260) and the left (x 10).
struct DialogCase {
    const char *shot;
    int kind, buttons;
    TextId title;
    UserText text;
    Caption right, left;
    std::initializer_list<const char *> names;
};

const uint8_t kWrongPassword[4] = {'3', '0', '3', ':'};

const DialogCase kDialogs[] = {
    {"progress-window", 0, 0, T_TITLE_NOTICE, user_text(T_PASSED_GETTING_IP), CAPTION_HIDE, CAPTION_DISCONNECT, {"隐藏", "断开"}},
    {"failure-window", 1, 0, T_TITLE_AUTH_FAILED, server_failure_text(kWrongPassword), CAPTION_RECONNECT,
     CAPTION_RETURN, {"重新认证", "返回"}},
    {"notice-window", 1, 1, T_TITLE_ERROR, user_text(T_NO_ANSWER), CAPTION_OK, CAPTION_NONE, {"确定"}},
};

}  // namespace

TEST_P(Windows, MessageDialogs)
{
    const LocaleCase &c = GetParam();
    AppContext *ctx = &gui_app().ctx;
    for (const DialogCase &d : kDialogs) {
        SCOPED_TRACE(d.shot);
        std::string title, text, right, left;
        std::vector<std::string> names;
        bool focus_is_default = false;
        guint icons = 0;
        run_script([&] {
            show_msg_dialog(ctx, text_of(d.title), render_text(d.text).c_str(), d.kind, d.buttons);
            ASSERT_TRUE(wait_for([&] { return message_shown(ctx->settings[0]); }));
            save_shot(ctx->settings->msg_dialog, d.shot, c);
            on_main([&] {
                ClientSettings &s = *ctx->settings;
                title = gtk_window_get_title(GTK_WINDOW(s.msg_dialog));
                text = label_text(s.msg_label);
                right = caption_language(dialog_button_at(s, 260), d.right);
                left = d.left == CAPTION_NONE ? lang() : caption_language(dialog_button_at(s, 10), d.left);
                names = accessible_button_names(s.msg_dialog);
                GtkWindow *dialog = GTK_WINDOW(s.msg_dialog);
                focus_is_default = gtk_window_get_default_widget(dialog) == gtk_window_get_focus(dialog);
                GList *list = gtk_window_get_icon_list(GTK_WINDOW(s.msg_dialog));
                icons = g_list_length(list);
                g_list_free(list);
            });
            destroy_msg_dialog(ctx);
        });
        EXPECT_EQ(title, want(d.title, c));
        const char *source = d.text.id == T_SERVER_FAILURE ? failure_source(d.text.code) : source_text(d.text.id);
        EXPECT_EQ(text, expected_text(source, c));
        EXPECT_FALSE(text.empty());
        EXPECT_EQ(right, lang());
        EXPECT_EQ(left, lang());
        EXPECT_EQ(icons, 8u);
        EXPECT_EQ(names, want_names(d.names, c));
        EXPECT_TRUE(focus_is_default);
    }
}

TEST_P(Windows, AboutBox)
{
    const LocaleCase &c = GetParam();
    GuiApp &app = gui_app();
    std::string name, comments;
    run_script([&] {
        on_main([&] {
            g_idle_add([](gpointer w) -> gboolean {
                show_about_dlg(nullptr, static_cast<MainWidgets *>(w));
                return FALSE;
            }, &app.widgets);
        });
        GtkWidget *about = nullptr;
        ASSERT_TRUE(wait_for([&] {
            for (GtkWidget *d : visible_dialogs())
                if (GTK_IS_ABOUT_DIALOG(d))
                    about = d;
            return about != nullptr;
        }));
        save_shot(about, "about-box", c);
        on_main([&] {
            name = gtk_about_dialog_get_program_name(GTK_ABOUT_DIALOG(about));
            comments = gtk_about_dialog_get_comments(GTK_ABOUT_DIALOG(about));
            gtk_dialog_response(GTK_DIALOG(about), GTK_RESPONSE_CANCEL);
        });
        ASSERT_TRUE(wait_for([&] { return visible_dialogs().empty(); }));
        on_main([&] { gtk_widget_hide(app.widgets.window); });
    });
    EXPECT_EQ(name, want(T_APP_NAME, c));
    EXPECT_EQ(comments, want(T_ABOUT_COMMENTS, c));
}

TEST_P(Windows, TrayTooltipMenuAndStatusWindow)
{
    const LocaleCase &c = GetParam();
    AppContext *ctx = &gui_app().ctx;
    std::string tooltip, surface_text;
    std::vector<std::string> labels;
    run_script([&] {
        on_main([&] {
            copy_field(ctx->settings->msg_text, text_of(T_AUTH_SUCCEEDED));
            show_tray_icon(ctx);
        });
        ASSERT_TRUE(wait_for([&] { return ctx->settings->tray_icon != nullptr; }));
        // No tray hosts the icon on this display: the status window stands in.
        ASSERT_TRUE(wait_for([] {
            GtkWidget *w = surface_widgets().window;
            return w && gtk_widget_get_mapped(w);
        }));
        save_shot(surface_widgets().window, "status-window", c);
        on_main([&] { surface_text = gtk_label_get_text(GTK_LABEL(surface_widgets().label)); });
        on_main([&] {
            gchar *tip = gtk_status_icon_get_tooltip_text(ctx->settings->tray_icon);
            tooltip = tip ? tip : "";
            g_free(tip);
            GList *windows = gtk_window_list_toplevels();
            for (GList *l = windows; l; l = l->next) {
                GtkWidget *child = gtk_bin_get_child(GTK_BIN(l->data));
                if (child && GTK_IS_MENU(child))
                    collect_labels(child, &labels);
            }
            g_list_free(windows);
        });
        if (getenv("CORVIX_SHOTS_DIR")) {
            GtkWidget *menu = nullptr;
            on_main([&] {
                menu = static_cast<GtkWidget *>(g_object_get_data(G_OBJECT(ctx->settings->tray_icon), "corvix-tray-menu"));
                if (menu)
                    gtk_menu_popup(GTK_MENU(menu), nullptr, nullptr, nullptr, nullptr, 0, 0);
            });
            if (menu)
                save_shot(gtk_widget_get_toplevel(menu), "tray-menu", c);
            on_main([&] {
                if (menu)
                    gtk_menu_popdown(GTK_MENU(menu));
            });
        }
        on_main([&] { hide_tray_icon(ctx); });
    });
    EXPECT_EQ(tooltip, want(T_APP_NAME, c));
    EXPECT_EQ(surface_text, want(T_AUTH_SUCCEEDED, c));
    EXPECT_EQ(labels, (std::vector<std::string>{want(T_MENU_HIDE, c), want(T_MENU_DISCONNECT, c),
                                                 want(T_MENU_EXIT, c)}));
}

TEST_P(Windows, SettingsDialogTexts)
{
    const LocaleCase &c = GetParam();
    AppContext *ctx = &gui_app().ctx;
    std::string title;
    std::vector<std::string> labels, captions, names;
    run_script([&] {
        on_main([&] { g_idle_add([](gpointer p) {
                          show_config_dialog(nullptr, static_cast<AppContext *>(p));
                          return FALSE;
                      }, ctx); });
        GtkWidget *dialog = nullptr;
        ASSERT_TRUE(wait_for([&] {
            ConfigWidgets *running = running_config_dialog();
            dialog = running ? running->dialog : nullptr;
            return dialog && gtk_widget_get_visible(dialog);
        }));
        save_shot(dialog, "settings-dialog", c);
        on_main([&] {
            title = gtk_window_get_title(GTK_WINDOW(dialog));
            collect_labels(dialog, &labels);
            names = accessible_button_names(dialog);
            std::vector<GtkWidget *> buttons;
            collect(dialog, GTK_TYPE_BUTTON, buttons);
            GtkWidget *cancel_button = nullptr;
            for (GtkWidget *b : buttons) {
                if (GTK_IS_TOGGLE_BUTTON(b))
                    continue;
                std::string save = caption_language(b, CAPTION_SAVE), cancel = caption_language(b, CAPTION_CANCEL);
                captions.push_back(save != "?" ? "save:" + save : "cancel:" + cancel);
                if (cancel != "?")
                    cancel_button = b;
            }
            if (cancel_button)
                click(cancel_button);
        });
        ASSERT_TRUE(wait_for([] { return running_config_dialog() == nullptr; }));
    });
    EXPECT_EQ(title, want(T_TITLE_SETTINGS, c));
    for (TextId id : {T_OPEN_URL, T_OWN_DHCP, T_AUTO_START, T_LAUNCHER, T_PRIVATE_AUTH, T_TIMEOUT_RECONNECT,
                      T_TIMEOUT_CAPTION}) {
        EXPECT_NE(std::find(labels.begin(), labels.end(), want(id, c)), labels.end()) << source_text(id);
    }
    EXPECT_EQ(names, want_names({"保存", "取消"}, c));
    std::sort(captions.begin(), captions.end());
    EXPECT_EQ(captions, (std::vector<std::string>{std::string("cancel:") + lang(), std::string("save:") + lang()}));
}

INSTANTIATE_TEST_SUITE_P(Locales, Windows, testing::ValuesIn(kLocaleCases),
                         [](const testing::TestParamInfo<LocaleCase> &p) { return locale_case_name(p.param); });
