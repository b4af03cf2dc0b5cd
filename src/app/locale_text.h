// The text conversion `_` and owning holders for the UTF-8 copies it returns.
#pragma once

#include <memory>

#include <glib.h>

// A new UTF-8 copy of a text in the locale's encoding (g_free it), or null.
gchar *_(const char *text);

struct GFreeText {
    void operator()(gchar *p) const { g_free(p); }
};
using Utf8Text = std::unique_ptr<gchar, GFreeText>;

// `_`(text), owned; holds null when the text cannot be converted.
inline Utf8Text utf8(const char *text)
{
    return Utf8Text(_(text));
}

// The converted text for a GTK setter: "" when it could not be converted.
inline const char *text_or_empty(const Utf8Text &text)
{
    return text ? text.get() : "";
}
