// SPDX-License-Identifier: GPL-2.0-or-later
#include "ui/images.h"

#include "app/locale_text.h"
#include "app/texts.h"
// The generated pictures (angle brackets: ui/images.h shares the file name).
#include <icons.h>
#include <images.h>

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

namespace {

struct CaptionPair {
    Caption caption;
    const guint8 *chinese, *english;
    TextId words;  // what the pictures say
};

// In Caption order.
const CaptionPair CAPTIONS[] = {
    {CAPTION_NONE, nullptr, nullptr, T_NONE},
    {CAPTION_EXIT, exit_inline, exit_en_inline, T_MENU_EXIT},
    {CAPTION_LOGON, logon_inline, logon_en_inline, T_CAPTION_LOGON},
    {CAPTION_CONFIG, config_inline, config_en_inline, T_TITLE_SETTINGS},
    {CAPTION_ABOUT, about_inline, about_en_inline, T_CAPTION_ABOUT},
    {CAPTION_HIDE, hide_inline, hide_en_inline, T_CAPTION_HIDE},
    {CAPTION_DISCONNECT, disconnect_inline, disconnect_en_inline, T_MENU_DISCONNECT},
    {CAPTION_RECONNECT, reconnect_inline, reconnect_en_inline, T_CAPTION_RECONNECT},
    {CAPTION_RETURN, return_inline, return_en_inline, T_CAPTION_RETURN},
    {CAPTION_OK, ok_inline, ok_en_inline, T_CAPTION_OK},
    {CAPTION_SAVE, saveit_inline, saveit_en_inline, T_CAPTION_SAVE},
    {CAPTION_CANCEL, cancel_inline, cancel_en_inline, T_CAPTION_CANCEL},
};
static_assert(sizeof CAPTIONS / sizeof CAPTIONS[0] == CAPTION_COUNT, "one pair per caption");

}  // namespace

const guint8 *caption_picture(Caption caption, bool english)
{
    if (caption <= CAPTION_NONE || caption >= CAPTION_COUNT)
        return nullptr;
    const CaptionPair &pair = CAPTIONS[caption];
    return english ? pair.english : pair.chinese;
}

const guint8 *caption_picture(Caption caption)
{
    return caption_picture(caption, text_language() == TextLanguage::English);
}

const char *caption_text(Caption caption)
{
    if (caption <= CAPTION_NONE || caption >= CAPTION_COUNT)
        return "";
    return text_of(CAPTIONS[caption].words);
}

GtkWidget *caption_button(Caption caption)
{
    GtkWidget *button = gtk_button_new();
    gtk_container_add(GTK_CONTAINER(button), image_from_inline(caption_picture(caption)));
    Utf8Text words = utf8(caption_text(caption));
    atk_object_set_name(gtk_widget_get_accessible(button), text_or_empty(words));
    gtk_widget_set_tooltip_text(button, text_or_empty(words));
    return button;
}

const guint8 *const *icon_pictures()
{
    return icon_list_inline;
}

void set_window_icons(GtkWindow *window)
{
    GList *icons = nullptr;
    for (const guint8 *const *p = icon_pictures(); *p; ++p) {
        if (GdkPixbuf *pixbuf = pixbuf_from_inline(*p))
            icons = g_list_append(icons, pixbuf);
    }
    gtk_window_set_icon_list(window, icons);  // the window takes its own references
    g_list_free_full(icons, g_object_unref);
}
