// SPDX-License-Identifier: GPL-2.0-or-later
// The locales the client is tried in, and the English catalogue read
// straight from its source (po/en.po), so that a test compares what the
// client shows with the catalogue and not with gettext's own answer.
#pragma once

#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "app/texts.h"

struct LocaleCase {
    const char *lang;  // the value of LANG, with LC_ALL, LC_MESSAGES, LC_CTYPE and LANGUAGE unset
    bool english;      // the texts are English (otherwise the Chinese sources)
    bool utf8;         // the locale's encoding is UTF-8
};
extern const std::vector<LocaleCase> kLocaleCases;
// For test names and messages: the LANG value.
void PrintTo(const LocaleCase &c, std::ostream *out);
// The case's name as a test name suffix (letters, digits and '_').
std::string locale_case_name(const LocaleCase &c);

// Sets the environment to the case and calls setlocale(LC_ALL, ""); false
// when the system lacks the locale (scripts/packages.sh generates them).
bool enter_locale(const LocaleCase &c);

// msgid -> msgstr of a .po file (the header's empty msgid left out).
std::map<std::string, std::string> read_catalogue(const std::string &path);
// The English catalogue of the source tree.
const std::map<std::string, std::string> &english_catalogue();
// What the client must show for a source text in the case's language: the
// source itself, or its English from the catalogue ("" when it has none).
std::string expected_text(const char *source, const LocaleCase &c);
std::string expected_text(TextId id, const LocaleCase &c);
