#include "harmonize/settings/SettingsUtility.h"

#include "harmonize/Settings.h"
#include "quern/debug/Log.h"
#include "quern/platform/SystemInfo.h"

#include <cstring>

namespace harmonize {
namespace {

i32 g_language = -1;

} // namespace

const char* const kLanguageLocales[kLanguageCount]
    = { "en_US", "fr_FR", "de_DE", "it_IT", "es_ES", "zh_CN", "zh_TW", "ja_JP", "ru_RU" };
const char* const kLanguageCodes[kLanguageCount] = { "en", "fr", "de", "it", "es", "zh", "zh", "ja", "ru" };
const char* const kLanguageNames[kLanguageCount]
    = { "english", "french", "german", "italian", "spanish", "schinese", "tchinese", "japanese", "russian" };

i32 findLanguageIndex(const char* text, const char* const* table)
{
    if (!text || text[0] == '\0')
        return -1;
    for (i32 i = 0; i < kLanguageCount; ++i)
        if (std::strcmp(table[i], text) == 0)
            return i;
    return -1;
}

i32 chooseLanguage()
{
    const char* setting = Settings::Game.language;
    if (setting && setting[0] != '\0') {
        for (const char* const* table : { kLanguageLocales, kLanguageCodes, kLanguageNames }) {
            const i32 index = findLanguageIndex(setting, table);
            if (index >= 0)
                return index;
        }
    }
    const i32 system = quern::platform::getUserLanguage();
    return system >= 0 && system < kLanguageCount ? system : 0;
}

i32 getLanguage()
{
    if (g_language >= 0)
        return g_language;
    const i32 language = chooseLanguage();
    QUERN_LOG(3) << "Language set to " << kLanguageNames[language] << std::endl;
    g_language = language;
    return language;
}

} // namespace harmonize
