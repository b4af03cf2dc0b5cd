#include "ui/images.h"

// A new pixbuf copied from a GdkPixdata stream, or null.
GdkPixbuf *pixbuf_from_inline(const guint8 *data)
{
    if (!data)
        return nullptr;
    GError *error = nullptr;
// gdk_pixbuf_new_from_inline is deprecated in favour of GResource, but the
// pictures are GdkPixdata streams by design, and it is the loader for them.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    GdkPixbuf *pixbuf = gdk_pixbuf_new_from_inline(-1, data, TRUE, &error);
#pragma GCC diagnostic pop
    if (error)
        g_error_free(error);
    return pixbuf;
}

// An image widget of the picture (empty when it cannot be loaded).
GtkWidget *image_from_inline(const guint8 *data)
{
    GdkPixbuf *pixbuf = pixbuf_from_inline(data);
    if (!pixbuf)
        return gtk_image_new();
    GtkWidget *image = gtk_image_new_from_pixbuf(pixbuf);
    g_object_unref(pixbuf);  // the image holds its own reference
    return image;
}
