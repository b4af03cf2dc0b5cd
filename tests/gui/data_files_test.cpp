// SPDX-License-Identifier: GPL-2.0-or-later
// The files that ship beside the executable: the resource file and the desktop entry.
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "app/texts.h"
#include "gui_harness.h"
#include "support/locales.h"
#include "ui/images.h"

namespace {

std::string read_file(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool same_colour(const GdkColor &c, guint16 r, guint16 g, guint16 b)
{
    return c.red == r && c.green == g && c.blue == b;
}

}  // namespace

TEST(DataFiles, ResourceFileStylesWidgetsAndLoadsNoCode)
{
    const std::string path = CORVIX_SOURCE_DIR "/data/Corvixrc";
    std::string text = read_file(path);
    ASSERT_FALSE(text.empty());
    // Read by a root process: nothing in it may name code to load.
    for (const char *word : {"engine", "module_path", "im_module_file", "include"})
        EXPECT_EQ(text.find(std::string("\n") + word), std::string::npos) << word;

    gui_init();
    gtk_rc_parse(path.c_str());
    GtkWidget *window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    GtkWidget *button = gtk_button_new_with_label("x");
    gtk_container_add(GTK_CONTAINER(window), button);
    gtk_widget_realize(button);
    GtkStyle *style = gtk_widget_get_style(button);
    EXPECT_TRUE(same_colour(style->bg[GTK_STATE_NORMAL], 0xf4f4, 0xfbfb, 0xffff));
    EXPECT_TRUE(same_colour(style->bg[GTK_STATE_PRELIGHT], 0xd4d4, 0xecec, 0xfdfd));
    GtkWidget *label = gtk_bin_get_child(GTK_BIN(button));
    gtk_widget_realize(label);
    EXPECT_EQ(pango_font_description_get_size(gtk_widget_get_style(label)->font_desc), 9 * PANGO_SCALE);
    gtk_widget_destroy(window);
}

TEST(DataFiles, DesktopEntryStartsTheInstalledClient)
{
    GKeyFile *entry = g_key_file_new();
    GError *error = nullptr;
    ASSERT_TRUE(g_key_file_load_from_file(entry, CORVIX_SOURCE_DIR "/data/Corvix.desktop", G_KEY_FILE_NONE, &error))
        << (error ? error->message : "");
    auto value = [&](const char *key) {
        gchar *v = g_key_file_get_string(entry, G_KEY_FILE_DESKTOP_GROUP, key, nullptr);
        std::string s = v ? v : "";
        g_free(v);
        return s;
    };
    EXPECT_EQ(value("Type"), "Application");
    EXPECT_EQ(value("Exec"), "/usr/bin/Corvix");
    EXPECT_EQ(value("Terminal"), "false");
    EXPECT_FALSE(value("Name").empty());
    g_key_file_free(entry);
}

namespace {

std::string entry_value(GKeyFile *entry, const char *key, const char *locale = nullptr)
{
    gchar *v = locale ? g_key_file_get_locale_string(entry, G_KEY_FILE_DESKTOP_GROUP, key, locale, nullptr)
                      : g_key_file_get_string(entry, G_KEY_FILE_DESKTOP_GROUP, key, nullptr);
    std::string s = v ? v : "";
    g_free(v);
    return s;
}

const char *const kIconTheme = CORVIX_BINARY_DIR "/data/icons/hicolor";

}  // namespace

// English name and comment, their zh_CN translations, and the client's own icon.
TEST(DataFiles, DesktopEntryNamesTheIconInBothLanguages)
{
    GKeyFile *entry = g_key_file_new();
    ASSERT_TRUE(g_key_file_load_from_file(entry, CORVIX_SOURCE_DIR "/data/Corvix.desktop", G_KEY_FILE_KEEP_TRANSLATIONS, nullptr));
    EXPECT_EQ(entry_value(entry, "Icon"), "corvix");
    // The same names as the window's title in either language.
    EXPECT_EQ(entry_value(entry, "Name"), english_catalogue().at(source_text(T_APP_NAME)));
    EXPECT_EQ(entry_value(entry, "Name", "zh_CN"), source_text(T_APP_NAME));
    std::string comment = entry_value(entry, "Comment"), chinese = entry_value(entry, "Comment", "zh_CN");
    EXPECT_FALSE(comment.empty());
    EXPECT_TRUE(g_str_is_ascii(comment.c_str()));
    EXPECT_FALSE(chinese.empty());
    EXPECT_NE(chinese, comment);
    g_key_file_free(entry);
}

// Every size of the theme is the window's own icon at that size, and the
// vector icon draws the same emblem.
TEST(DataFiles, IconThemeHasEverySizeAndTheVectorIconMatches)
{
    gui_init();
    const guint8 *const *list = icon_pictures();
    int count = 0;
    GdkPixbuf *largest = nullptr;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        SCOPED_TRACE(size);
        std::string path = std::string(kIconTheme) + "/" + std::to_string(size) + "x" + std::to_string(size) +
                           "/apps/corvix.png";
        GdkPixbuf *file = gdk_pixbuf_new_from_file(path.c_str(), nullptr);
        ASSERT_NE(file, nullptr) << path;
        ASSERT_NE(list[count], nullptr);
        GdkPixbuf *window = pixbuf_from_inline(list[count++]);
        ASSERT_EQ(gdk_pixbuf_get_width(file), size);
        ASSERT_EQ(gdk_pixbuf_get_height(file), size);
        ASSERT_EQ(gdk_pixbuf_get_width(window), size);
        EXPECT_TRUE(gdk_pixbuf_get_has_alpha(file));
        // PNG stores straight alpha as the window's stream does: opaque pixels agree exactly.
        int differ = 0;
        for (int y = 0; y < size; y++)
            for (int x = 0; x < size; x++) {
                const guint8 *a = gdk_pixbuf_get_pixels(file) + y * gdk_pixbuf_get_rowstride(file) + x * 4;
                const guint8 *b = gdk_pixbuf_get_pixels(window) + y * gdk_pixbuf_get_rowstride(window) + x * 4;
                differ += a[3] == 255 && std::memcmp(a, b, 4) != 0;
                differ += a[3] != b[3];
            }
        EXPECT_EQ(differ, 0);
        g_object_unref(window);
        if (largest)
            g_object_unref(largest);
        largest = file;
    }
    EXPECT_EQ(list[count], nullptr);

    GError *error = nullptr;
    GdkPixbuf *svg = gdk_pixbuf_new_from_file_at_size((std::string(kIconTheme) + "/scalable/apps/corvix.svg").c_str(),
                                                      256, 256, &error);
    ASSERT_NE(svg, nullptr) << (error ? error->message : "");
    ASSERT_EQ(gdk_pixbuf_get_width(svg), 256);
    // Drawn by two renderers, the pictures differ only along the edges.
    long total = 0;
    for (int y = 0; y < 256; y++)
        for (int x = 0; x < 256; x++) {
            const guint8 *a = gdk_pixbuf_get_pixels(svg) + y * gdk_pixbuf_get_rowstride(svg) + x * 4;
            const guint8 *b = gdk_pixbuf_get_pixels(largest) + y * gdk_pixbuf_get_rowstride(largest) + x * 4;
            for (int ch = 0; ch < 4; ch++)
                total += std::abs(int(a[ch]) - int(b[ch]));
        }
    double mean = double(total) / (256.0 * 256 * 4);
    EXPECT_LT(mean, 2.0);
    g_object_unref(svg);
    g_object_unref(largest);
}
