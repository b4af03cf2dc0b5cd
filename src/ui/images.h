// Loading the compiled-in pictures. The pictures themselves are the arrays of
// the generated header <images.h> (drawn at build time by data/mkimages.cpp).
#pragma once

#include <gtk/gtk.h>

// A new pixbuf (one reference, caller unrefs) copied from a GdkPixdata stream
// of the generated header, or null when the stream is malformed.
GdkPixbuf *pixbuf_from_inline(const guint8 *data);
// A new image widget showing the picture (null data or a bad stream: empty image).
GtkWidget *image_from_inline(const guint8 *data);
