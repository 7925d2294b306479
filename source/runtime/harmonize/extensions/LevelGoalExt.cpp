#include "harmonize/components/PlaneMath.h"
#include "harmonize/events/FindPair.h"
#include "harmonize/extensions/AnimationHandlerExt.h"
#include "harmonize/extensions/ContactRules.h"
#include "harmonize/extensions/Prefabs.h"
#include "harmonize/systems/AppContext.h"
#include "harmonize/systems/LevelStatisticsSystem.h"
#include "harmonize/systems/RenderSystem.h"

#include "quern/entity/World.h"

namespace harmonize {
namespace {

using quern::entity::World;

constexpr f32 kBounceSpeed = -190.0f; // along the player's gravity: thrown upwards
constexpr f32 kBounceDecay = 1.01f;

// A goal without a race opposes nobody.
i32 goalRaceOf(World& world, EntityHandle goal)
{
    const Race* race = componentOf<Race>(world, goal);
    return race ? race->value : 1;
}

void spawnAtGoal(World& world, EntityHandle goal, EntityHandle prefab)
{
    if (const Transform* at = componentOf<Transform>(world, goal))
        instantiatePrefabAt(prefab, *at, world);
}

// The pair as (goal, player view); false unless one is a goal and the other
// a player.
bool findGoalAndPlayer(const PairEvent& pair, World& world, EntityHandle& goal, PlayerView& player)
{
    u32 goalHandle = 0;
    u32 playerHandle = 0;
    if (!orderPair<LevelGoal, PlayerMovement>(world, pair, goalHandle, playerHandle))
        return false;
    goal = EntityHandle { goalHandle };
    return findPlayerView(world, EntityHandle { playerHandle }, player);
}

} // namespace

void onLevelGoalBounce(EntityHandle goal, const PlayerView& player, World& world, AppContext&)
{
    LevelGoal* rule = componentOf<LevelGoal>(world, goal);
    const i32 goalRace = goalRaceOf(world, goal);
    if (!rule || rule->reached != 0 || !racesOppose(goalRace, player.race->value))
        return;
    spawnAtGoal(world, goal, goalRace == 2 ? rule->bounceEffectRace2 : rule->bounceEffect);
    PlayerMovement& movement = *player.movement;
    movement.pushVelocity = movement.gravityDirection * kBounceSpeed;
    movement.pushDecay = kBounceDecay;
    movement.pushCountdown = 0;
    movement.velocity = {};
}

void onLevelGoalReach(EntityHandle goal, const PlayerView& player, World& world, AppContext& context)
{
    LevelGoal* rule = componentOf<LevelGoal>(world, goal);
    const i32 goalRace = goalRaceOf(world, goal);
    if (!rule || rule->reached != 0 || racesOppose(goalRace, player.race->value))
        return;
    spawnAtGoal(world, goal, goalRace == 2 ? rule->reachEffectRace2 : rule->reachEffect);
    player.body->velocity = {};
    player.race->value = 1;
    if (context.animation)
        AnimationHandler::playIdle(*player.state, *context.animation);
    // Hiding walks the whole subtree; the player's own mask then goes back to
    // what it was, less the parts its rules run on, so only the descendants
    // keep their renderers off.
    const ComponentMask enabled = world.getEnabledMask(player.entity.index());
    if (context.render)
        context.render->setRenderEnabledRecursive(player.entity, world, false);
    // With its shape, collider, state and movement off the player stays where
    // it is and nothing touches it any more.
    ComponentMask kept = enabled;
    for (u8 type : { CapsuleShape::kType, Collider::kType, PlayerState::kType, PlayerMovement::kType })
        kept.reset(type);
    world.getEnabledMask(player.entity.index()) = kept;
    rule->reached = 1;
    rule->reachedAgain = 1;
    if (context.levelStatistics)
        context.levelStatistics->captureLevelStats(world);
}

void onLevelGoalEnter(const PairEvent& pair, World& world, AppContext& context)
{
    EntityHandle goal;
    PlayerView player;
    if (!findGoalAndPlayer(pair, world, goal, player))
        return;
    onLevelGoalBounce(goal, player, world, context);
    onLevelGoalReach(goal, player, world, context);
}

void onLevelGoalStay(const PairEvent& pair, World& world, AppContext& context)
{
    EntityHandle goal;
    PlayerView player;
    if (findGoalAndPlayer(pair, world, goal, player))
        onLevelGoalReach(goal, player, world, context);
}

} // namespace harmonize
