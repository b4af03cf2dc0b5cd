// SPDX-License-Identifier: GPL-2.0-or-later
// Loading the compiled-in pictures. The pictures themselves are the arrays of
// the generated headers <images.h> and <icons.h> (drawn at build time by
// data/mkimages.cpp).
#pragma once

#include <gtk/gtk.h>

// A new pixbuf (one reference, caller unrefs) copied from a GdkPixdata stream
// of the generated header, or null when the stream is malformed.
GdkPixbuf *pixbuf_from_inline(const guint8 *data);
// A new image widget showing the picture (null data or a bad stream: empty image).
GtkWidget *image_from_inline(const guint8 *data);

// The buttons' caption pictures; each is drawn once per language.
enum Caption {
    CAPTION_NONE,
    CAPTION_EXIT,
    CAPTION_LOGON,
    CAPTION_CONFIG,
    CAPTION_ABOUT,
    CAPTION_HIDE,
    CAPTION_DISCONNECT,
    CAPTION_RECONNECT,
    CAPTION_RETURN,
    CAPTION_OK,
    CAPTION_SAVE,
    CAPTION_CANCEL,
    CAPTION_COUNT
};
// The caption's picture in the language the texts are shown in (text_language()).
const guint8 *caption_picture(Caption caption);
// The caption in one language: what the window picks from. Null for CAPTION_NONE.
const guint8 *caption_picture(Caption caption, bool english);
// The caption's words in the language the texts are shown in ("" for CAPTION_NONE).
const char *caption_text(Caption caption);
// A new button showing the caption's picture, named by the caption's words
// for assistive technologies and with them as its tooltip: a picture alone
// says nothing to a screen reader or to someone who can't make it out.
GtkWidget *caption_button(Caption caption);

// The client's icon at every size drawn (16 to 256 pixels), null-terminated.
const guint8 *const *icon_pictures();
// Gives a window the client's icon list.
void set_window_icons(GtkWindow *window);
