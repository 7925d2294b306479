#pragma once
// Which of the game's languages texts, subtitles and localised level data use.

#include "quern/Types.h"

namespace harmonize {

using quern::i32;

inline constexpr i32 kLanguageCount = 9;

// Indexed by language: "en_US", "fr_FR", ...
extern const char* const kLanguageLocales[kLanguageCount];
// "en", "fr", ...; Chinese appears twice, so a code finds the first of them.
extern const char* const kLanguageCodes[kLanguageCount];
// "english", "french", ...
extern const char* const kLanguageNames[kLanguageCount];

// The first entry of `table` equal to `text` (case matters), or -1; -1 for an
// empty or null text.
i32 findLanguageIndex(const char* text, const char* const* table);

// Game.language looked up as a locale, a code and a name, else the session's
// interface language, else English. Decided afresh on each call.
i32 chooseLanguage();

// The process's language: chosen and logged on the first call, the same index
// on every later one.
i32 getLanguage();

} // namespace harmonize
