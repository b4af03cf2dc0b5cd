// The windows in every locale: the main window's title, labels and caption
// pictures, a failure dialog, the tray icon's tooltip and menu, and the
// settings dialog show the catalogue's texts in the locale's language, never
// blank and never garbled; the window and its dialogs carry the icon list.
#include <algorithm>
#include <cstring>
#include <functional>

#include <gtest/gtest.h>

#include "app/texts.h"
#include "gui_harness.h"
#include "support/locales.h"
#include "ui/config_dialog.h"
#include "ui/images.h"
#include "ui/msg_dialog.h"
#include "ui/tray.h"

namespace {

bool same_pixels(GdkPixbuf *a, GdkPixbuf *b)
{
    if (!a || !b || gdk_pixbuf_get_width(a) != gdk_pixbuf_get_width(b) ||
        gdk_pixbuf_get_height(a) != gdk_pixbuf_get_height(b) ||
        gdk_pixbuf_get_rowstride(a) != gdk_pixbuf_get_rowstride(b))
        return false;
    size_t size = size_t(gdk_pixbuf_get_rowstride(a)) * size_t(gdk_pixbuf_get_height(a));
    return std::memcmp(gdk_pixbuf_get_pixels(a), gdk_pixbuf_get_pixels(b), size) == 0;
}

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

// Texts of the labels found under a widget, in tree order.
void collect_labels(GtkWidget *widget, gpointer out)
{
    if (GTK_IS_LABEL(widget))
        static_cast<std::vector<std::string> *>(out)->push_back(gtk_label_get_text(GTK_LABEL(widget)));
    else if (GTK_IS_CONTAINER(widget))
        gtk_container_forall(GTK_CONTAINER(widget), collect_labels, out);
}

// The expected text, checked not to be empty itself (a text missing from the
// catalogue would otherwise pass against a blank widget).
std::string want(TextId id, const LocaleCase &c)
{
    std::string text = expected_text(id, c);
    EXPECT_FALSE(text.empty()) << source_text(id);
    return text;
}

class Windows : public testing::TestWithParam<LocaleCase> {
protected:
    void SetUp() override
    {
        gui_init();
        ASSERT_TRUE(enter_locale(GetParam())) << GetParam().lang << " is not generated: run scripts/packages.sh";
        choose_text_language(CORVIX_BINARY_DIR "/locale");
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
}

TEST_P(Windows, FailureDialogShowsTheServersMessage)
{
    const LocaleCase &c = GetParam();
    AppContext *ctx = &gui_app().ctx;
    const uint8_t code[4] = {'3', '0', '3', ':'};
    std::string title, text, right, left, icons;
    run_script([&] {
        show_msg_dialog(ctx, text_of(T_TITLE_AUTH_FAILED), render_text(server_failure_text(code)).c_str(), 1, 0);
        ASSERT_TRUE(wait_for([&] { return message_shown(ctx->settings[0]); }));
        on_main([&] {
            ClientSettings &s = *ctx->settings;
            title = gtk_window_get_title(GTK_WINDOW(s.msg_dialog));
            text = label_text(s.msg_label);
            right = caption_language(dialog_button_at(s, 260), CAPTION_RECONNECT);
            left = caption_language(dialog_button_at(s, 10), CAPTION_RETURN);
            GList *list = gtk_window_get_icon_list(GTK_WINDOW(s.msg_dialog));
            icons = std::to_string(g_list_length(list));
            g_list_free(list);
        });
        destroy_msg_dialog(ctx);
    });
    EXPECT_EQ(title, want(T_TITLE_AUTH_FAILED, c));
    EXPECT_EQ(text, expected_text(failure_source(code), c));
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(right, lang());
    EXPECT_EQ(left, lang());
    EXPECT_EQ(icons, "8");
}

TEST_P(Windows, TrayTooltipAndMenu)
{
    const LocaleCase &c = GetParam();
    AppContext *ctx = &gui_app().ctx;
    std::string tooltip;
    std::vector<std::string> labels;
    run_script([&] {
        on_main([&] { show_tray_icon(ctx); });
        ASSERT_TRUE(wait_for([&] { return ctx->settings->tray_icon != nullptr; }));
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
            hide_tray_icon(ctx);
        });
    });
    EXPECT_EQ(tooltip, want(T_APP_NAME, c));
    EXPECT_EQ(labels, (std::vector<std::string>{want(T_MENU_HIDE, c), want(T_MENU_DISCONNECT, c),
                                                 want(T_MENU_EXIT, c)}));
}

TEST_P(Windows, SettingsDialogTexts)
{
    const LocaleCase &c = GetParam();
    AppContext *ctx = &gui_app().ctx;
    std::string title;
    std::vector<std::string> labels, captions;
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
        on_main([&] {
            title = gtk_window_get_title(GTK_WINDOW(dialog));
            collect_labels(dialog, &labels);
            std::vector<GtkWidget *> buttons;
            std::function<void(GtkWidget *)> walk = [&](GtkWidget *wd) {
                if (GTK_IS_BUTTON(wd) && !GTK_IS_TOGGLE_BUTTON(wd))
                    buttons.push_back(wd);
                else if (GTK_IS_CONTAINER(wd)) {
                    GList *kids = gtk_container_get_children(GTK_CONTAINER(wd));
                    for (GList *k = kids; k; k = k->next)
                        walk(GTK_WIDGET(k->data));
                    g_list_free(kids);
                }
            };
            walk(dialog);
            GtkWidget *cancel_button = nullptr;
            for (GtkWidget *b : buttons) {
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
    std::sort(captions.begin(), captions.end());
    EXPECT_EQ(captions, (std::vector<std::string>{std::string("cancel:") + lang(), std::string("save:") + lang()}));
}

INSTANTIATE_TEST_SUITE_P(Locales, Windows, testing::ValuesIn(kLocaleCases),
                         [](const testing::TestParamInfo<LocaleCase> &p) { return locale_case_name(p.param); });
