#include "app/locale_text.h"

gchar *_(const char *text)
{
    if (!text)
        return nullptr;
    return g_locale_to_utf8(text, -1, nullptr, nullptr, nullptr);
}
