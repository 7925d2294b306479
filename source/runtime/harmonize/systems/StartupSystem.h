#pragma once
// Prepares a freshly started level in one pass over its entities, in index
// order: clears the player's chosen clip, pulls marked groups together, starts
// the lightning effects, shows or hides renderers by flag and by language,
// and finally puts the player on the spawn point.

#include "harmonize/components/Components.h"

#include "quern/entity/System.h"

namespace harmonize {

struct AppContext;

class StartupSystem final : public quern::entity::System {
public:
    explicit StartupSystem(AppContext& context);

    void worldStarted(quern::entity::World& world, quern::memory::Allocator* allocator) override;

private:
    AppContext* m_context;
};

// Whether the filter shows its renderer for the language index; a mode other
// than show-listed (0) or hide-listed (1) is fatal.
bool languageFilterShows(const LanguageFilter& filter, i32 language);

// Switches the entity's own Renderer on or off; nothing for an entity without
// one.
void setRendererShown(quern::entity::World& world, quern::u64 index, bool shown);

} // namespace harmonize
