// The files that ship beside the executable: the resource file and the desktop entry.
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "gui_harness.h"

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
