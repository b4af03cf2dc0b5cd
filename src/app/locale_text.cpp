// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/locale_text.h"

gchar *_(const char *text)
{
    // The texts are compiled and stored in UTF-8: converting them from a
    // locale's encoding would blank them in the C locale and garble them in
    // GB18030.
    if (!text || !g_utf8_validate(text, -1, nullptr))
        return nullptr;
    return g_strdup(text);
}

gchar *locale_name_to_utf8(const char *name)
{
    if (!name)
        return nullptr;
    const char *charset = nullptr;
    // In a UTF-8 locale (or for plain ASCII) the name is its own UTF-8.
    if (g_get_charset(&charset) || g_str_is_ascii(name))
        return _(name);
    return g_locale_to_utf8(name, -1, nullptr, nullptr, nullptr);
}
