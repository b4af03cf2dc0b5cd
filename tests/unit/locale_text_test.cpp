// SPDX-License-Identifier: GPL-2.0-or-later
// The texts in every locale: `_` hands the UTF-8 texts on unchanged, names
// from the system are converted from the locale's encoding, and the language
// follows the locale variables through the build's catalogues.
#include <cstdlib>
#include <cstring>

#include <gtest/gtest.h>

#include "app/locale_text.h"
#include "app/texts.h"
#include "support/locales.h"

namespace {

const char *const kCatalogues = CORVIX_BINARY_DIR "/locale";
const char kCardGb18030[] = "\xcd\xf8\xbf\xa8";  // 网卡 in GB18030
const char kCardUtf8[] = "网卡";

std::string owned(gchar *text)
{
    std::string out = text ? text : "(null)";
    g_free(text);
    return out;
}

class InLocale : public testing::TestWithParam<LocaleCase> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(enter_locale(GetParam())) << GetParam().lang << " is not generated: run scripts/packages.sh";
        const char *charset = nullptr;
        ASSERT_EQ(g_get_charset(&charset), GetParam().utf8) << charset;
    }
};

}  // namespace

TEST_P(InLocale, UnderscoreCopiesEveryTextUnchanged)
{
    for (int id = 0; id < TEXT_COUNT; id++) {
        SCOPED_TRACE(id);
        EXPECT_EQ(owned(_(source_text(TextId(id)))), source_text(TextId(id)));
    }
    EXPECT_EQ(_("\xff\xfe"), nullptr);
    EXPECT_EQ(_(nullptr), nullptr);
}

TEST_P(InLocale, SystemNamesAreConvertedFromTheLocalesEncoding)
{
    EXPECT_EQ(owned(locale_name_to_utf8("eth0")), "eth0");
    // The same bytes are a name in GB18030 and no text at all in UTF-8 or ASCII.
    bool gb18030 = std::strstr(GetParam().lang, "GB18030") != nullptr;
    EXPECT_EQ(owned(locale_name_to_utf8(kCardGb18030)), gb18030 ? kCardUtf8 : "(null)");
    // UTF-8 bytes are a name only where the locale is UTF-8 (GB18030 reads
    // them as other characters, as it must: it takes the name for its own).
    if (!gb18030) {
        EXPECT_EQ(owned(locale_name_to_utf8(kCardUtf8)), GetParam().utf8 ? kCardUtf8 : "(null)");
    }
}

TEST_P(InLocale, TheEngineKeepsTheSourceTexts)
{
    // Nothing chose a language in this process, as in the engine's.
    EXPECT_EQ(text_language(), TextLanguage::Chinese);
    EXPECT_STREQ(text_of(T_APP_NAME), source_text(T_APP_NAME));
}

TEST_P(InLocale, EveryTextAndFailureMessageComesFromTheCatalogue)
{
    const LocaleCase &c = GetParam();
    EXPECT_EQ(choose_text_language(kCatalogues), c.english ? TextLanguage::English : TextLanguage::Chinese);
    for (int id = 0; id < TEXT_COUNT; id++) {
        SCOPED_TRACE(source_text(TextId(id)));
        std::string shown = text_of(TextId(id));
        EXPECT_TRUE(g_utf8_validate(shown.c_str(), -1, nullptr));
        // The installer's and the standard error's lines are not the window's.
        bool windows = !c.english || english_catalogue().count(source_text(TextId(id)));
        EXPECT_EQ(shown, windows ? expected_text(TextId(id), c) : source_text(TextId(id)));
    }
    for (int code = 100; code < 400; code++) {
        char digits[5];
        std::snprintf(digits, sizeof digits, "%03d:", code);
        const auto *bytes = reinterpret_cast<const uint8_t *>(digits);
        std::string want = expected_text(failure_source(bytes), c);
        ASSERT_FALSE(want.empty()) << digits;
        EXPECT_EQ(failure_message(bytes), want) << digits;
    }
    std::string reconnect = render_text(reconnect_text(3));
    EXPECT_NE(reconnect.find(" 3 "), std::string::npos) << reconnect;
    EXPECT_EQ(reconnect.find("次") == std::string::npos, c.english) << reconnect;
}

INSTANTIATE_TEST_SUITE_P(Locales, InLocale, testing::ValuesIn(kLocaleCases),
                         [](const testing::TestParamInfo<LocaleCase> &p) { return locale_case_name(p.param); });

namespace {

struct LanguageChoice {
    const char *name;
    std::vector<std::pair<const char *, const char *>> env;
    TextLanguage want;
};

const LanguageChoice kChoices[] = {
    {"LangEnglish", {{"LANG", "en_US.UTF-8"}}, TextLanguage::English},
    {"LanguageListPutsChineseFirst", {{"LANG", "en_US.UTF-8"}, {"LANGUAGE", "zh_CN:en"}}, TextLanguage::Chinese},
    {"LanguageListSkipsUnknownLanguages", {{"LANG", "zh_CN.UTF-8"}, {"LANGUAGE", "fr:en"}}, TextLanguage::English},
    {"LanguageListOfUnknownsOnly", {{"LANG", "en_US.UTF-8"}, {"LANGUAGE", "fr:de"}}, TextLanguage::Chinese},
    {"LcAllOverridesLang", {{"LANG", "en_US.UTF-8"}, {"LC_ALL", "zh_CN.UTF-8"}}, TextLanguage::Chinese},
    {"LcMessagesOverridesLang", {{"LANG", "zh_CN.UTF-8"}, {"LC_MESSAGES", "en_US.UTF-8"}}, TextLanguage::English},
    {"CIgnoresLanguage", {{"LANG", "C"}, {"LANGUAGE", "en"}}, TextLanguage::Chinese},
    {"OtherLanguagesGetChinese", {{"LANG", "zh_CN.GB18030"}}, TextLanguage::Chinese},
};

class Choice : public testing::TestWithParam<LanguageChoice> {};

void PrintTo(const LanguageChoice &c, std::ostream *out)
{
    *out << c.name;
}

}  // namespace

TEST_P(Choice, FollowsTheLocaleVariablesAsGettextDoes)
{
    for (const char *name : {"LC_ALL", "LC_MESSAGES", "LC_CTYPE", "LANGUAGE", "LANG"})
        unsetenv(name);
    for (const auto &[name, value] : GetParam().env)
        setenv(name, value, 1);
    ASSERT_NE(std::setlocale(LC_ALL, ""), nullptr) << "run scripts/packages.sh";
    EXPECT_EQ(choose_text_language(kCatalogues), GetParam().want);
    EXPECT_EQ(std::strcmp(text_of(T_APP_NAME), source_text(T_APP_NAME)) != 0,
              GetParam().want == TextLanguage::English);
}

INSTANTIATE_TEST_SUITE_P(Variables, Choice, testing::ValuesIn(kChoices),
                         [](const testing::TestParamInfo<LanguageChoice> &p) { return std::string(p.param.name); });
