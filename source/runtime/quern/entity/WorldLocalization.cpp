#include "quern/entity/WorldLocalization.h"

#include "quern/assets/Depot.h"
#include "quern/entity/World.h"
#include "quern/io/DepotStreamBuffer.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/strings/Format.h"
#include "quern/strings/ImportMO.h"
#include "quern/strings/StringInterner.h"

#include <algorithm>
#include <istream>

namespace quern::entity {

static_assert(sizeof(LanguageEntry) == sizeof(strings::TranslationKeys), "catalogues import straight into the tables");

namespace {

void checkLanguage(i32 language, const char* function)
{
    if (language < -1 || language >= static_cast<i32>(World::kLanguageCount))
        QUERN_FATAL(strings::format<128>("%s: invalid language index %d (0 to 8, or -1 for none)", function, language));
}

} // namespace

void loadLocalization(World& world, assets::Depot& depot)
{
    for (u32 slot = 0; slot < World::kLanguageCount; ++slot) {
        const u64 assetId = world.localizationAssetIds[slot];
        if (assetId == 0)
            continue;
        if (!world.texts)
            QUERN_FATAL("Failed to load localization asset");
        containers::Array& table = world.languageTables[slot];
        table.clear();
        {
            assets::DepotStreamBuffer<assets::Depot> buffer(depot, depot.open(assetId));
            std::istream input(&buffer);
            if (!strings::importMO(input, *world.texts, table))
                QUERN_FATAL("Failed to load localization asset");
        }
        LanguageEntry* entries = table.dataAs<LanguageEntry>();
        std::sort(entries, entries + table.count(),
            [](const LanguageEntry& a, const LanguageEntry& b) { return a.key < b.key; });
    }
}

u64 translateKey(const World& world, u64 key, i32 language)
{
    checkLanguage(language, "translateKey");
    if (language < 0)
        return 0;
    const containers::Array& table = world.languageTables[language];
    const LanguageEntry* begin = table.dataAs<LanguageEntry>();
    const LanguageEntry* end = begin + table.count();
    const LanguageEntry* at
        = std::lower_bound(begin, end, key, [](const LanguageEntry& entry, u64 wanted) { return entry.key < wanted; });
    return at != end && at->key == key ? at->translatedKey : 0;
}

const char* getLocalizedText(const World& world, u64 key, i32 language, bool* found)
{
    checkLanguage(language, "getLocalizedText");
    bool translated = false;
    if (language != -1) {
        const u64 translation = translateKey(world, key, language);
        if (translation != 0) {
            key = translation;
            translated = true;
        }
    }
    if (found)
        *found = translated;
    if (!world.texts)
        return nullptr;
    const i64 index = world.texts->find(key);
    return index >= 0 ? world.texts->text(static_cast<u64>(index)) : nullptr;
}

} // namespace quern::entity
