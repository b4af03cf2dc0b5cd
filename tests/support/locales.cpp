// SPDX-License-Identifier: GPL-2.0-or-later
#include "support/locales.h"

#include <cctype>
#include <clocale>
#include <cstdlib>
#include <fstream>

const std::vector<LocaleCase> kLocaleCases = {
    {"C", false, false},
    {"C.UTF-8", false, true},
    {"zh_CN.UTF-8", false, true},
    {"zh_CN.GB18030", false, false},
    {"en_US.UTF-8", true, true},
};

void PrintTo(const LocaleCase &c, std::ostream *out)
{
    *out << "LANG=" << c.lang;
}

std::string locale_case_name(const LocaleCase &c)
{
    std::string name;
    for (const char *p = c.lang; *p; ++p)
        name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    return name;
}

bool enter_locale(const LocaleCase &c)
{
    for (const char *name : {"LC_ALL", "LC_MESSAGES", "LC_CTYPE", "LANGUAGE"})
        unsetenv(name);
    setenv("LANG", c.lang, 1);
    return std::setlocale(LC_ALL, "") != nullptr;
}

namespace {

// The text of one quoted .po string, its escapes undone.
std::string unquote(const std::string &line)
{
    size_t open = line.find('"'), close = line.rfind('"');
    std::string out;
    if (open == std::string::npos || close <= open)
        return out;
    for (size_t i = open + 1; i < close; ++i) {
        char ch = line[i];
        if (ch == '\\' && i + 1 < close) {
            char e = line[++i];
            out += e == 'n' ? '\n' : e == 't' ? '\t' : e;
        } else {
            out += ch;
        }
    }
    return out;
}

}  // namespace

std::map<std::string, std::string> read_catalogue(const std::string &path)
{
    std::map<std::string, std::string> out;
    std::ifstream in(path);
    std::string line, id, str, *field = nullptr;
    bool have = false;
    auto finish = [&] {
        if (have && !id.empty())
            out[id] = str;
        id.clear(), str.clear(), have = false, field = nullptr;
    };
    while (std::getline(in, line)) {
        if (line.rfind("msgid ", 0) == 0) {
            finish();
            have = true;
            field = &id;
            *field = unquote(line);
        } else if (line.rfind("msgstr ", 0) == 0) {
            field = &str;
            *field = unquote(line);
        } else if (!line.empty() && line[0] == '"' && field) {
            *field += unquote(line);
        }
    }
    finish();
    return out;
}

const std::map<std::string, std::string> &english_catalogue()
{
    static const auto catalogue = read_catalogue(CORVIX_SOURCE_DIR "/po/en.po");
    return catalogue;
}

std::string expected_text(const char *source, const LocaleCase &c)
{
    if (!c.english)
        return source;
    auto it = english_catalogue().find(source);
    return it == english_catalogue().end() ? "" : it->second;
}

std::string expected_text(TextId id, const LocaleCase &c)
{
    return expected_text(source_text(id), c);
}
