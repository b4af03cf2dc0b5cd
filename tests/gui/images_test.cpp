// Every compiled-in picture loads, with the size and format its role needs.
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
};

guint32 be32(const guint8 *p)
{
    return guint32(p[0]) << 24 | guint32(p[1]) << 16 | guint32(p[2]) << 8 | guint32(p[3]);
}

// Something is drawn: some pixel is opaque (or, without alpha, not the background).
bool has_picture(GdkPixbuf *pb)
{
    const guint8 *px = gdk_pixbuf_get_pixels(pb);
    int n = gdk_pixbuf_get_n_channels(pb), stride = gdk_pixbuf_get_rowstride(pb);
    for (int y = 0; y < gdk_pixbuf_get_height(pb); ++y)
        for (int x = 0; x < gdk_pixbuf_get_width(pb); ++x) {
            const guint8 *p = px + y * stride + x * n;
            if (n == 4 ? p[3] == 255 : p[0] < 0x80)
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
