#include "harmonize/systems/StartupSystem.h"

#include "harmonize/extensions/LightningExt.h"
#include "harmonize/extensions/PlayerView.h"
#include "harmonize/settings/SettingsUtility.h"
#include "harmonize/systems/AppContext.h"
#include "harmonize/systems/CoroutineSystem.h"

#include "quern/entity/World.h"
#include "quern/platform/ErrorReporting.h"

namespace harmonize {
namespace {

using quern::entity::ComponentMask;
using quern::entity::EntityState;
using quern::entity::World;
using quern::math::Vector3;

// What the pass finds for the placement after it; the last of each wins, and
// a marked entity without a Transform leaves none.
struct SpawnSearch {
    Transform* spawn = nullptr;
    Transform* player = nullptr;
};

// Every live entity whose transform parent is this one moves onto its place.
void gatherChildren(World& world, u64 index)
{
    const EntityHandle parent = entityAt(world, index);
    const Transform* own = componentOf<Transform>(world, parent);
    if (!own)
        return;
    const Vector3 place = worldPositionOf(world, *own);
    for (u64 i = 0; i < world.getSlotCount(); ++i) {
        if (i == index || world.getState(i) == EntityState::Free || !world.getComponentMask(i).test(Transform::kType))
            continue;
        Transform& child = transformAt(world, i);
        if (child.parent == parent)
            Transform::setWorldPosition(child, place, world);
    }
}

} // namespace

StartupSystem::StartupSystem(AppContext& context)
    : m_context(&context)
{
}

void StartupSystem::worldStarted(World& world, quern::memory::Allocator*)
{
    SpawnSearch search;
    i32 language = -1; // asked for only when a level filters by language
    for (u64 i = 0; i < world.getSlotCount(); ++i) {
        if (world.getState(i) == EntityState::Free)
            continue;
        const ComponentMask enabled = world.getEnabledMask(i);
        const EntityHandle entity = entityAt(world, i);
        if (enabled.test(PlayerState::kType))
            static_cast<PlayerState*>(world.getComponent(i, PlayerState::kType))->currentClip = 0;
        if (enabled.test(GatherChildren::kType))
            gatherChildren(world, i);
        if (enabled.test(SavePointTrigger::kType) && m_context->coroutine)
            SavePointTrigger::start(
                *static_cast<SavePointTrigger*>(world.getComponent(i, SavePointTrigger::kType)), world, *m_context->coroutine);
        if (enabled.test(PlayerSpawn::kType))
            search.spawn = componentOf<Transform>(world, entity);
        if (enabled.test(PlayerMovement::kType))
            search.player = componentOf<Transform>(world, entity);
        if (enabled.test(Lightning::kType))
            startLightning(world, entity, *m_context);
        if (enabled.test(ShowOnStart::kType))
            setRendererShown(world, i, true);
        if (enabled.test(LanguageFilter::kType)) {
            if (language < 0)
                language = getLanguage();
            const auto& filter = *static_cast<const LanguageFilter*>(world.getComponent(i, LanguageFilter::kType));
            setRendererShown(world, i, languageFilterShows(filter, language));
        }
    }
    if (search.spawn && search.player) {
        Vector3 place = worldPositionOf(world, *search.spawn);
        place.z = 0.0f;
        Transform::setWorldPosition(*search.player, place, world);
    }
}

bool languageFilterShows(const LanguageFilter& filter, i32 language)
{
    const bool listed = ((filter.languages >> (static_cast<quern::u32>(language) % 32u)) & 1u) != 0;
    switch (filter.mode) {
    case 0:
        return listed;
    case 1:
        return !listed;
    default:
        QUERN_FATAL("Unreachable code hit");
    }
}

void setRendererShown(World& world, quern::u64 index, bool shown)
{
    if (!world.getComponentMask(index).test(Renderer::kType))
        return;
    ComponentMask& enabled = world.getEnabledMask(index);
    if (shown)
        enabled.set(Renderer::kType);
    else
        enabled.reset(Renderer::kType);
}

} // namespace harmonize
