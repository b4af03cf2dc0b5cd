// SPDX-License-Identifier: GPL-2.0-or-later
// The text conversion `_` and owning holders for the UTF-8 copies it returns.
#pragma once

#include <memory>

#include <glib.h>

// A new UTF-8 copy of a text the client holds in UTF-8 (its compiled texts,
// stored account names), whatever the locale's encoding (g_free it); null
// for null or a text that is not UTF-8.
gchar *_(const char *text);

// A new UTF-8 copy of a name the system gives in the locale's encoding (an
// interface name), or null when it cannot be converted.
gchar *locale_name_to_utf8(const char *name);

struct GFreeText {
    void operator()(gchar *p) const { g_free(p); }
};
using Utf8Text = std::unique_ptr<gchar, GFreeText>;

// `_`(text), owned; holds null when the text is not UTF-8.
inline Utf8Text utf8(const char *text)
{
    return Utf8Text(_(text));
}

// The converted text for a GTK setter: "" when it could not be converted.
inline const char *text_or_empty(const Utf8Text &text)
{
    return text ? text.get() : "";
}
