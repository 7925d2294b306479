#include "harmonize/extensions/DeathTriggerExt.h"

#include "harmonize/PlayerProfile.h"
#include "harmonize/Settings.h"
#include "harmonize/extensions/Prefabs.h"
#include "harmonize/systems/AppContext.h"
#include "harmonize/systems/CoroutineSystem.h"
#include "harmonize/systems/InputSystem.h"
#include "harmonize/systems/MovementSystem.h"
#include "harmonize/systems/SaveGameSystem.h"
#include "harmonize/utils/AppEventQueue.h"

#include "quern/debug/Log.h"
#include "quern/entity/World.h"

#include <limits>
#include <ostream>

namespace harmonize {
namespace {

using quern::entity::World;

// The resume points of the death sequence.
constexpr i32 kDying = 0;
constexpr i32 kAfterDeathDelay = 56;
constexpr i32 kAfterRespawnDelay = 58;

// Everything the sequence needs, copied when the death starts: the player's
// components go with its subtree, and its slot may hold another entity by the
// time the waits end.
struct DeathLocals {
    EntityHandle player;
    EntityHandle deathEffectPrefab;
    f32 deathDelay;
    f32 respawnDelay;
};

// A cutscene that drives the player, or has its movement input switched off,
// keeps it alive.
bool isPlayerInControl(const AppContext& context)
{
    return context.movement && context.movement->playerControl && context.input && context.input->movementEnabled;
}

// The screen darkens over the death delay. A delay too short to divide by
// gives a fade that does not move; the restore replaces the effect.
f32 fadeSpeedFor(f32 deathDelay) { return deathDelay >= std::numeric_limits<f32>::min() ? 1.0f / deathDelay : 0.0f; }

void spawnDeathEffect(World& world, const DeathLocals& death, const Transform& at)
{
    const Transform* effect = instantiatePrefabAt(death.deathEffectPrefab, at, world);
    if (!effect)
        return;
    const EntityHandle clone = entityOfTransform(world, *effect);
    if (ScreenFade* fade = componentOf<ScreenFade>(world, clone)) {
        fade->direction = 1.0f;
        fade->speed = fadeSpeedFor(death.deathDelay);
        world.getEnabledMask(clone.index()).set(ScreenFade::kType);
    }
}

bool runDeath(void*, Coroutine& coroutine, World& world, AppContext& context)
{
    const DeathLocals& death = coroutine.localsAs<DeathLocals>();
    switch (coroutine.resumePoint) {
    case kDying: {
        if (!isPlayerInControl(context))
            return endCoroutine(coroutine);
        // A second death of the same player (two hazards in one tick) finds
        // it already deactivated on its way out, and adds nothing.
        PlayerView player;
        if (!isActiveEntity(world, death.player) || !findPlayerView(world, death.player, player))
            return endCoroutine(coroutine);
        PlayerProfile::addToStat(context.services.platformServices, kStatDeaths, 1);
        spawnDeathEffect(world, death, *player.transform);
        Transform::destroySubtree(*player.transform, world);
        coroutine.resumePoint = kAfterDeathDelay;
        coroutine.wait = death.deathDelay;
        return true;
    }
    case kAfterDeathDelay:
        coroutine.resumePoint = kAfterRespawnDelay;
        coroutine.wait = death.respawnDelay;
        return true;
    case kAfterRespawnDelay:
        // Grown when full: a lost request would leave the player dead for good.
        if (context.saveGame && context.saveGame->holdsQuickSave() && context.services.appEventQueue)
            context.services.appEventQueue->pushGrowing(AppEventType::LoadSaveGame, nullptr, 0);
        return endCoroutine(coroutine);
    default:
        return endCoroutine(coroutine);
    }
}

// The entity behind a pair's handle is current and has every component of
// `mask`.
bool hasAll(World& world, EntityHandle entity, const quern::entity::ComponentMask& mask)
{
    return isValidEntity(world, entity) && hasComponents(world, entity, mask);
}

// The pair as (player, death trigger), tried both ways round.
bool findDeathTrigger(World& world, const PairEvent& pair, EntityHandle& player, EntityHandle& trigger)
{
    const EntityHandle a { pair.entityA };
    const EntityHandle b { pair.entityB };
    for (const auto& [first, second] : { std::pair { a, b }, std::pair { b, a } }) {
        if (hasAll(world, first, kPlayerMask) && hasAll(world, second, kDeathTriggerMask)) {
            player = first;
            trigger = second;
            return true;
        }
    }
    return false;
}

void breakOnContact(World& world, const PairEvent& pair)
{
    void* breakable = nullptr;
    void* collider = nullptr;
    u32 object = pair.entityA;
    u32 other = pair.entityB;
    if (!findComponents(BreakOnContact::kType, Collider::kType, world, object, other, &breakable, &collider)) {
        std::swap(object, other);
        if (!findComponents(BreakOnContact::kType, Collider::kType, world, object, other, &breakable, &collider))
            return;
    }
    // The masks alone do not tell a live pair: an object broken earlier in
    // this tick waits deactivated for its destruction, and a handle that no
    // longer names its entity must not break the slot's new owner.
    const EntityHandle objectHandle { object };
    if (!isActiveEntity(world, objectHandle) || !isValidEntity(world, EntityHandle { other }))
        return;
    const auto& rule = *static_cast<const BreakOnContact*>(breakable);
    if (static_cast<const Collider*>(collider)->trigger != 0 && rule.ignoreTriggers != 0)
        return;
    const Transform* transform = componentOf<Transform>(world, objectHandle);
    if (!transform) {
        world.destroyEntities(&objectHandle, 1);
        return;
    }
    instantiatePrefabAt(rule.effectPrefab, *transform, world);
    Transform::destroySubtree(*transform, world);
}

} // namespace

void killPlayer(World& world, EntityHandle player, CoroutineSystem& coroutines)
{
    if (Settings::Development.godMode)
        return;
    PlayerView view;
    if (!findPlayerView(world, player, view)) {
        QUERN_LOG(2) << "Ignoring the death of 0x" << std::hex << player.value << std::dec << ", which is no player"
                     << std::endl;
        return;
    }
    const DeathLocals death {
        player,
        view.movement->deathEffectPrefab,
        view.movement->deathDelay,
        view.movement->respawnDelay,
    };
    coroutines.start(&runDeath, nullptr, death);
    QUERN_LOG(3) << "Player died after " << static_cast<double>(world.currentTime) / 1'000'000.0 << "s" << std::endl;
}

void onDeathTriggerContact(World& world, AppContext& context, const PairEvent& pair)
{
    EntityHandle player;
    EntityHandle trigger;
    if (!findDeathTrigger(world, pair, player, trigger)) {
        breakOnContact(world, pair);
        return;
    }
    // A trigger of the player's own race is harmless.
    if (componentOf<Race>(world, player)->value == componentOf<Race>(world, trigger)->value)
        return;
    if (context.coroutine)
        killPlayer(world, player, *context.coroutine);
}

void spawnHarmonizeEffect(World& world, const PlayerView& player)
{
    const EntityHandle prefab = player.movement->harmonizeEffectPrefab;
    const Transform* prefabTransform = componentOf<Transform>(world, prefab);
    if (!prefabTransform || !isValidEntity(world, prefab))
        return;
    const EntityHandle clone = Transform::cloneSubtree(*prefabTransform, world, player.entity);
    Transform* transform = componentOf<Transform>(world, clone);
    if (!transform || !isValidEntity(world, clone))
        return;
    transform->position = {};
    transform->rotation = {};
    transform->scale = { 1.0f, 1.0f, 1.0f };
}

} // namespace harmonize
