#include "harmonize/settings/SettingsUtility.h"

#include "harmonize/Settings.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace harmonize {
namespace {

// The session's language variables, in the order they are consulted, set for one case.
class LanguageEnvironment {
public:
    LanguageEnvironment(const char* language, const char* all, const char* messages, const char* lang)
    {
        set("LANGUAGE", language);
        set("LC_ALL", all);
        set("LC_MESSAGES", messages);
        set("LANG", lang);
    }
    ~LanguageEnvironment()
    {
        for (const char* name : { "LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG" })
            ::unsetenv(name);
        Settings::resetToDefaults();
    }

private:
    static void set(const char* name, const char* value)
    {
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
};

TEST(Language, FindLanguageIndexMatchesWholeTextsWithCase)
{
    EXPECT_EQ(findLanguageIndex("zh", kLanguageCodes), 5);
    EXPECT_EQ(findLanguageIndex("zh_TW", kLanguageLocales), 6);
    EXPECT_EQ(findLanguageIndex("ru_RU", kLanguageLocales), 8);
    EXPECT_EQ(findLanguageIndex("EN", kLanguageCodes), -1);
    EXPECT_EQ(findLanguageIndex("e", kLanguageCodes), -1);
    EXPECT_EQ(findLanguageIndex("eng", kLanguageCodes), -1);
    EXPECT_EQ(findLanguageIndex("", kLanguageCodes), -1);
    EXPECT_EQ(findLanguageIndex(nullptr, kLanguageCodes), -1);
}

TEST(Language, SettingAndSessionDecideTheLanguage)
{
    struct Case {
        const char* setting;
        const char* language; // LANGUAGE, LC_ALL, LC_MESSAGES, LANG
        const char* all;
        const char* messages;
        const char* lang;
        i32 expected;
    };
    const Case cases[] = {
        { "zh", nullptr, nullptr, nullptr, "ja_JP.UTF-8", 5 },
        { "zh_TW", nullptr, nullptr, nullptr, nullptr, 6 },
        { "tchinese", nullptr, nullptr, nullptr, nullptr, 6 },
        { "fr_FR", nullptr, nullptr, nullptr, "de_DE.UTF-8", 1 },
        { "german", nullptr, nullptr, nullptr, nullptr, 2 },
        { "EN", nullptr, nullptr, nullptr, "ru_RU.UTF-8", 8 }, // case matters: falls back
        { "English", nullptr, nullptr, nullptr, "it_IT.UTF-8", 3 },
        { "", nullptr, nullptr, nullptr, "es_ES.UTF-8", 4 },
        { "", "fr_FR", "de_DE.UTF-8", "it_IT", "es_ES", 1 }, // LANGUAGE comes first
        { "", nullptr, "de_DE.UTF-8", "it_IT", "es_ES", 2 }, // then LC_ALL
        { "", nullptr, nullptr, "it_IT", "es_ES", 3 }, // then LC_MESSAGES
        { "", nullptr, nullptr, nullptr, "pt_BR.UTF-8", 0 }, // unmapped: English
        { "", nullptr, nullptr, nullptr, nullptr, 0 },
        { "klingon", nullptr, nullptr, nullptr, "zh_CN.UTF-8", 5 },
    };
    for (const Case& c : cases) {
        LanguageEnvironment environment(c.language, c.all, c.messages, c.lang);
        Settings::setFromIni("Game", "language", c.setting);
        EXPECT_EQ(chooseLanguage(), c.expected) << c.setting << " / " << (c.lang ? c.lang : "-");
    }
}

TEST(Language, FirstChoiceHoldsForTheProcessAndIsLogged)
{
    LanguageEnvironment environment(nullptr, nullptr, nullptr, "pt_BR.UTF-8");
    quern::testing::LogCapture log(3);
    EXPECT_EQ(getLanguage(), 0);
    EXPECT_TRUE(log.contains("Language set to english")) << log.text();

    Settings::setFromIni("Game", "language", "ja");
    EXPECT_EQ(getLanguage(), 0);
    EXPECT_EQ(log.count("Language set to"), 1u);
}

} // namespace
} // namespace harmonize
