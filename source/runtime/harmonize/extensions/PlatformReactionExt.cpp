#include "harmonize/extensions/PlatformReactionExt.h"

#include "harmonize/PlayerProfile.h"
#include "harmonize/extensions/Prefabs.h"
#include "harmonize/statemachines/MovementStateMachine.h"
#include "harmonize/systems/AnimationSystem.h"
#include "harmonize/systems/AppContext.h"
#include "harmonize/systems/CoroutineSystem.h"
#include "harmonize/systems/PlatformSystem.h"

#include "quern/entity/World.h"

namespace harmonize {

using quern::entity::World;

namespace {

// Resume points of the two coroutines.
constexpr i32 kCrumbleGiveWay = 30;
constexpr i32 kDetonatorBreak = 38;
constexpr i32 kDetonatorHitTarget = 43;

// Handles, not pointers: the player may die, and its slot be reused, while
// the platform warns.
struct CrumbleLocals {
    EntityHandle player;
    EntityHandle platform;
};

struct DetonatorLocals {
    EntityHandle platform;
};

// Standing on a solid platform of the opposite race, or where either race is
// the neutral one, hides it.
void standHide(World& world, AppContext& context, EntityHandle platform, i32 race)
{
    Collider* collider = componentOf<Collider>(world, platform);
    Platform* record = componentOf<Platform>(world, platform);
    const Race* platformRace = componentOf<Race>(world, platform);
    if (!collider || !record || !platformRace || collider->trigger != 0)
        return;
    const i32 p = platformRace->value;
    if (p != 1 && race != 1 && !racesOppose(p, race))
        return;
    if (context.coroutine)
        PlatformSystem::startHideShow(platform, world, *context.coroutine);
    record->hiddenByStanding = 1;
}

bool crumblePlatform(void* userData, Coroutine& coroutine, World& world, AppContext&)
{
    const auto& warning = *static_cast<const PlatformWarning*>(userData);
    const CrumbleLocals locals = coroutine.localsAs<CrumbleLocals>();
    switch (coroutine.resumePoint) {
    case 0:
        coroutine.wait = warning.delay;
        coroutine.resumePoint = kCrumbleGiveWay;
        return true;
    case kCrumbleGiveWay: {
        // The platform may have gone while the warning ran, and its slot
        // been taken by another entity.
        Collider* collider = componentOf<Collider>(world, locals.platform);
        if (!isAliveEntity(world, locals.platform) || !collider)
            return endCoroutine(coroutine);
        world.setComponentEnabled(locals.platform, Collider::kType, false);
        collider->trigger = 1;
        PlayerView player;
        if (isAliveEntity(world, locals.player) && findPlayerView(world, locals.player, player)
            && player.movement->cluster == locals.platform)
            fall(player.movement->movementState);
        return endCoroutine(coroutine);
    }
    default:
        return endCoroutine(coroutine);
    }
}

void breakPlatform(World& world, AppContext& context, EntityHandle platform)
{
    Platform* record = componentOf<Platform>(world, platform);
    const Transform* transform = componentOf<Transform>(world, platform);
    const Race* race = componentOf<Race>(world, platform);
    if (!record || !transform || !race)
        return;
    if (context.transformHierarchy)
        Transform::setComponentEnabledInSubtree(*transform, Renderer::kType, false, world, *context.transformHierarchy);
    for (const EntityHandle prefab : { record->breakPrefab, record->effectPrefab }) {
        if (isValidEntity(world, prefab))
            instantiatePrefabAt(prefab, *transform, world);
    }
    standHide(world, context, platform, race->value == 0 ? 2 : race->value == 2 ? 0 : 1);
    record->pending = 1;
}

void hitTarget(World& world, AppContext& context, EntityHandle target)
{
    if (!isValidEntity(world, target)) {
        PlayerProfile::addToStat(context.services.platformServices, kStatBombs, 1);
        return;
    }
    if (enabledComponentOf<FlyingEnemy>(world, target)) {
        PlayerProfile::addToStat(context.services.platformServices, kStatKills, 1);
        if (const Transform* transform = componentOf<Transform>(world, target))
            Transform::destroySubtree(*transform, world);
        else
            world.destroyEntities(&target, 1);
        return;
    }
    world.destroyEntities(&target, 1);
    PlayerProfile::addToStat(context.services.platformServices, kStatBombs, 1);
}

bool detonatePlatform(void* userData, Coroutine& coroutine, World& world, AppContext& context)
{
    auto& detonator = *static_cast<Detonator*>(userData);
    const EntityHandle platform = coroutine.localsAs<DetonatorLocals>().platform;
    if (!isActiveEntity(world, platform))
        return endCoroutine(coroutine);
    switch (coroutine.resumePoint) {
    case 0: {
        detonator.running = 1;
        const u64 clip = detonator.clip;
        const Platform* record = componentOf<Platform>(world, platform);
        if (clip != 0 && record && context.animation)
            context.animation->play(record->animated, clip, 0.0f);
        coroutine.wait = detonator.delay;
        coroutine.resumePoint = kDetonatorBreak;
        return true;
    }
    case kDetonatorBreak:
        breakPlatform(world, context, platform);
        detonator.running = 0;
        coroutine.wait = 0.0f;
        coroutine.resumePoint = kDetonatorHitTarget;
        return true;
    case kDetonatorHitTarget:
        hitTarget(world, context, detonator.target);
        return endCoroutine(coroutine);
    default:
        return endCoroutine(coroutine);
    }
}

void startCrumble(AppContext& context, const PlayerView& player, EntityHandle platform, PlatformWarning& warning)
{
    context.coroutine->start(crumblePlatform, &warning, CrumbleLocals { player.entity, platform });
}

void startDetonator(AppContext& context, EntityHandle platform, Detonator& detonator)
{
    // Marked at once: the rule may run again in this tick, before the
    // coroutine's first step.
    detonator.running = 1;
    context.coroutine->start(detonatePlatform, &detonator, DetonatorLocals { platform });
}

} // namespace

void reactToPlatformUnderPlayer(World& world, AppContext& context, const PlayerView& player, EntityHandle cluster)
{
    const u64 index = cluster.index();
    if (index < world.getSlotCount() && world.getGeneration(index) != 0
        && world.getComponentMask(index).containsAll(kSnapboxClusterMask)) {
        Platform& platform = *componentOf<Platform>(world, cluster);
        const i32 platformRace = componentOf<Race>(world, cluster)->value;
        const i32 playerRace = player.race->value;
        if (PlatformWarning* warning = componentOf<PlatformWarning>(world, cluster))
            startCrumble(context, player, cluster, *warning);
        if (Detonator* detonator = componentOf<Detonator>(world, cluster)) {
            if (detonator->running == 0 && racesOppose(platformRace, playerRace))
                startDetonator(context, cluster, *detonator);
        } else {
            if (platform.standProof == 0 && platform.hiddenByStanding == 0)
                standHide(world, context, cluster, playerRace);
            if (racesOppose(platformRace, playerRace))
                fall(player.movement->movementState);
        }
    }
    if (context.animation)
        MovingPlatform::startOnTouch(cluster, world, *context.animation, player);
}

} // namespace harmonize
