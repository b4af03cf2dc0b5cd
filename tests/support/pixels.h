// SPDX-License-Identifier: GPL-2.0-or-later
// Comparing pictures pixel for pixel.
#pragma once

#include <cstring>

#include <gdk-pixbuf/gdk-pixbuf.h>

// Same size, layout and pixels (false when either is null).
inline bool same_pixels(GdkPixbuf *a, GdkPixbuf *b)
{
    if (!a || !b || gdk_pixbuf_get_width(a) != gdk_pixbuf_get_width(b) ||
        gdk_pixbuf_get_height(a) != gdk_pixbuf_get_height(b) ||
        gdk_pixbuf_get_rowstride(a) != gdk_pixbuf_get_rowstride(b))
        return false;
    size_t size = size_t(gdk_pixbuf_get_rowstride(a)) * size_t(gdk_pixbuf_get_height(a));
    return std::memcmp(gdk_pixbuf_get_pixels(a), gdk_pixbuf_get_pixels(b), size) == 0;
}
