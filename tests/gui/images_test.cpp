// SPDX-License-Identifier: GPL-2.0-or-later
// Every compiled-in picture loads, with the size and format its role needs.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "gui_harness.h"
#include "ui/images.h"
#include <images.h>

namespace {

struct ImageCase {
    const char *name;
    const guint8 *data;
    int width, height;
    bool alpha;
};

const ImageCase kImages[] = {
    {"tray", tray_inline, 20, 20, true},
    {"traybegin", traybegin_inline, 20, 20, true},
    {"logo3", logo3_inline, 334, 64, false},
    {"save", save_inline, 20, 20, true},
    {"exit", exit_inline, 22, 11, true},
    {"logon", logon_inline, 23, 11, true},
    {"config", config_inline, 23, 11, true},
    {"about", about_inline, 23, 11, true},
    {"mes", mes_inline, 40, 40, true},
    {"err", err_inline, 40, 40, true},
    {"hide", hide_inline, 23, 11, true},
    {"disconnect", disconnect_inline, 23, 11, true},
    {"reconnect", reconnect_inline, 47, 11, true},
    {"return", return_inline, 23, 11, true},
    {"ok", ok_inline, 23, 11, true},
    {"popmenu_status", popmenu_status_inline, 20, 20, true},
    {"popmenu_disconnect", popmenu_disconnect_inline, 20, 20, true},
    {"popmenu_exit", popmenu_exit_inline, 20, 20, true},
    {"saveit", saveit_inline, 23, 11, true},
    {"cancel", cancel_inline, 22, 11, true},
    // The English captions: the room a 60x20 button leaves its picture.
    {"exit_en", exit_en_inline, 50, 11, true},
    {"logon_en", logon_en_inline, 50, 11, true},
    {"config_en", config_en_inline, 50, 11, true},
    {"about_en", about_en_inline, 50, 11, true},
    {"hide_en", hide_en_inline, 50, 11, true},
    {"disconnect_en", disconnect_en_inline, 50, 11, true},
    {"reconnect_en", reconnect_en_inline, 50, 11, true},
    {"return_en", return_en_inline, 50, 11, true},
    {"ok_en", ok_en_inline, 50, 11, true},
    {"saveit_en", saveit_en_inline, 50, 11, true},
    {"cancel_en", cancel_en_inline, 50, 11, true},
};

guint32 be32(const guint8 *p)
{
    return guint32(p[0]) << 24 | guint32(p[1]) << 16 | guint32(p[2]) << 8 | guint32(p[3]);
}

// Something is drawn: some pixel is (all but) opaque (or, without alpha, not
// the background); smoothed Latin strokes may stop just short of full cover.
bool has_picture(GdkPixbuf *pb)
{
    const guint8 *px = gdk_pixbuf_get_pixels(pb);
    int n = gdk_pixbuf_get_n_channels(pb), stride = gdk_pixbuf_get_rowstride(pb);
    for (int y = 0; y < gdk_pixbuf_get_height(pb); ++y)
        for (int x = 0; x < gdk_pixbuf_get_width(pb); ++x) {
            const guint8 *p = px + y * stride + x * n;
            if (n == 4 ? p[3] >= 0xf0 : p[0] < 0x80)
                return true;
        }
    return false;
}

}  // namespace

TEST(Images, EveryStreamLoadsWithItsSizeAndFormat)
{
    for (const ImageCase &c : kImages) {
        SCOPED_TRACE(c.name);
        // Header: magic, total length, type (RGB or RGBA, 8 bits, raw), rowstride, size.
        EXPECT_EQ(be32(c.data), 0x47646b50u);
        guint32 rowstride = be32(c.data + 12);
        EXPECT_EQ(be32(c.data + 4), 24 + rowstride * guint32(c.height));
        EXPECT_EQ(be32(c.data + 8), (c.alpha ? 0x02u : 0x01u) | 0x01u << 16 | 0x01u << 24);
        EXPECT_EQ(rowstride, c.alpha ? guint32(c.width) * 4 : 1004u);
        GdkPixbuf *pb = pixbuf_from_inline(c.data);
        ASSERT_NE(pb, nullptr);
        EXPECT_EQ(gdk_pixbuf_get_width(pb), c.width);
        EXPECT_EQ(gdk_pixbuf_get_height(pb), c.height);
        EXPECT_EQ(gdk_pixbuf_get_has_alpha(pb), c.alpha);
        EXPECT_TRUE(has_picture(pb));
        g_object_unref(pb);
    }
}

namespace {

struct GeneratorRun {
    int status = -1;
    std::string err;
};

// Runs the build's picture generator into a fresh folder, with extra
// environment entries.
GeneratorRun run_generator(const std::vector<std::string> &extra_env)
{
    char dir[] = "/tmp/cve-mkimages-XXXXXX";
    EXPECT_NE(mkdtemp(dir), nullptr);
    std::string out = dir;
    std::vector<std::string> args{CORVIX_BINARY_DIR "/data/mkimages", out + "/images.h", out + "/icons.h",
                                  out + "/icons"};
    std::vector<gchar *> argv, envp;
    for (std::string &a : args)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    gchar **env = g_get_environ();
    for (const std::string &e : extra_env) {
        std::string name = e.substr(0, e.find('='));
        env = g_environ_setenv(env, name.c_str(), e.substr(e.find('=') + 1).c_str(), TRUE);
    }
    GeneratorRun r;
    gchar *err = nullptr;
    GError *error = nullptr;
    EXPECT_TRUE(g_spawn_sync(nullptr, argv.data(), env, G_SPAWN_STDOUT_TO_DEV_NULL, nullptr, nullptr, nullptr, &err,
                             &r.status, &error))
        << (error ? error->message : "");
    r.err = err ? err : "";
    g_free(err);
    g_strfreev(env);
    if (error)
        g_error_free(error);
    std::string rm = "rm -rf " + out;
    EXPECT_EQ(std::system(rm.c_str()), 0);
    return r;
}

}  // namespace

// Both caption sets pass the generator's checks (intended face, every glyph,
// every caption fits), and the checks do stop it.
TEST(Images, GeneratorDrawsBothLanguagesAndRefusesAStandInFace)
{
    GeneratorRun ok = run_generator({});
    EXPECT_TRUE(WIFEXITED(ok.status) && WEXITSTATUS(ok.status) == 0) << ok.err;
    EXPECT_EQ(ok.err, "");

    // A font configuration without the faces: fontconfig would substitute.
    char conf[] = "/tmp/cve-fonts-XXXXXX";
    int fd = mkstemp(conf);
    ASSERT_GE(fd, 0);
    const char empty[] = "<?xml version=\"1.0\"?>\n<fontconfig><cachedir>/tmp/cve-fc-cache</cachedir></fontconfig>\n";
    ASSERT_EQ(write(fd, empty, sizeof empty - 1), ssize_t(sizeof empty - 1));
    close(fd);
    GeneratorRun bad = run_generator({std::string("FONTCONFIG_FILE=") + conf});
    unlink(conf);
    EXPECT_FALSE(WIFEXITED(bad.status) && WEXITSTATUS(bad.status) == 0);
    EXPECT_NE(bad.err.find("not found"), std::string::npos) << bad.err;
}

TEST(Images, AMalformedStreamGivesNoPixbufAndAnEmptyImage)
{
    gui_init();
    guint8 bad[24] = {'G', 'd', 'k', 'P', 0, 0, 0, 24};  // no type, no pixels
    EXPECT_EQ(pixbuf_from_inline(bad), nullptr);
    EXPECT_EQ(pixbuf_from_inline(nullptr), nullptr);
    GtkWidget *image = image_from_inline(bad);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(gtk_image_get_storage_type(GTK_IMAGE(image)), GTK_IMAGE_EMPTY);
    gtk_widget_destroy(image);
}

TEST(Images, FooterIsATwoColourXpmOf334By20)
{
    EXPECT_STREQ(copyright_xpm[0], "334 20 2 1");
    GdkPixbuf *pb = gdk_pixbuf_new_from_xpm_data(const_cast<const char **>(copyright_xpm));
    ASSERT_NE(pb, nullptr);
    EXPECT_EQ(gdk_pixbuf_get_width(pb), 334);
    EXPECT_EQ(gdk_pixbuf_get_height(pb), 20);
    EXPECT_TRUE(gdk_pixbuf_get_has_alpha(pb));
    EXPECT_TRUE(has_picture(pb));
    g_object_unref(pb);
}
