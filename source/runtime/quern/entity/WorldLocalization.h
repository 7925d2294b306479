#pragma once
// The translations of a level's texts. A level names up to nine GNU message
// catalogues, one per language slot; once the level is loaded they are read
// into the World's language tables, which pair the key of a source text with
// the key of its translation (both texts live in the World's `texts`).
//
// Language slots run 0 to 8; -1 means untranslated.

#include "quern/Types.h"

namespace quern::assets {
class Depot;
}

namespace quern::entity {

class World;

// Fills the language table of every slot whose catalogue id is not 0 (a
// table is emptied first). A catalogue that cannot be imported is fatal
// "Failed to load localization asset".
void loadLocalization(World& world, assets::Depot& depot);

// The key of the translation of `key` in `language`, 0 when there is none
// (and for language -1). A language outside -1..8 is fatal.
u64 translateKey(const World& world, u64 key, i32 language);

// The text for `key` in `language`: its translation when the language has
// one, else the text stored under the key itself; null when there is no such
// text. `found` (may be null) tells whether a translation was used. A
// language outside -1..8 is fatal.
const char* getLocalizedText(const World& world, u64 key, i32 language, bool* found);

} // namespace quern::entity
