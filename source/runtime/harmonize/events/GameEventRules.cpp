#include "harmonize/events/GameEventRules.h"

#include "harmonize/components/Components.h"
#include "harmonize/events/FindPair.h"
#include "harmonize/extensions/ContactRules.h"
#include "harmonize/extensions/AnimationHandlerExt.h"
#include "harmonize/extensions/DeathTriggerExt.h"
#include "harmonize/extensions/MovingPlatformExt.h"
#include "harmonize/extensions/PlayerClusterExt.h"
#include "harmonize/systems/AppContext.h"
#include "harmonize/systems/CollectibleSystem.h"
#include "harmonize/systems/FuzzyCollisionSystem.h"
#include "harmonize/systems/SubtitleSystem.h"

#include "quern/entity/World.h"

#include <algorithm>
#include <limits>

// Each type's rules run in a fixed order, and some depend on it: a rule may
// read what an earlier one wrote for the same event. Every pair rule tries the
// pair both ways round, since contacts come in no particular order.

namespace harmonize {
namespace {

using quern::entity::World;

// Occupancy counts the player's triggers overlapping the platform; it never
// drops below zero, so an exit whose enter was missed cannot leave it owing.
void changePlatformOccupancy(World& world, const PairEvent& pair, i32 change)
{
    Platform* platform = nullptr;
    PlayerMovement* player = nullptr;
    if (!findPair(world, pair, platform, player))
        return;
    // Level files may hold any count; widened so that no value overflows.
    const i64 occupancy = i64 { platform->occupancy } + change;
    platform->occupancy = static_cast<i32>(std::clamp<i64>(occupancy, 0, std::numeric_limits<i32>::max()));
}

// The player's trigger going in or out, and whether its race may save here.
void setSavePointInside(World& world, const PairEvent& pair, bool inside)
{
    SavePointTrigger* savePoint = nullptr;
    PlayerMovement* player = nullptr;
    if (!findPair(world, pair, savePoint, player))
        return;
    savePoint->flags
        = inside ? savePoint->flags | SavePointTrigger::kInside : savePoint->flags & ~SavePointTrigger::kInside;
    SavePointTrigger::updateRaceMatch(pair, *savePoint, world);
}

// The save point the player touches learns whether their races still match.
void updateTouchedSavePointRace(World& world, const RaceChangedEvent& event)
{
    SavePointTrigger* savePoint = componentOf<SavePointTrigger>(world, EntityHandle { event.touchingTrigger });
    if (!savePoint)
        return;
    // Without a race on both sides there is nothing to compare: a store row
    // the entity does not own holds another entity's leftovers.
    const Race* playerRace = componentOf<Race>(world, EntityHandle { event.player });
    const Race* savePointRace = componentOf<Race>(world, EntityHandle { event.touchingTrigger });
    if (!playerRace || !savePointRace)
        return;
    if (racesOppose(playerRace->value, savePointRace->value))
        savePoint->flags &= ~SavePointTrigger::kRaceMatch;
    else
        savePoint->flags |= SavePointTrigger::kRaceMatch;
}

// A subtitle trigger shows its line each time the player enters it, until the
// player first leaves it: that takes every shown line off and marks the
// trigger done for good.
void showSubtitle(World& world, AppContext& context, const PairEvent& pair)
{
    SubtitleTrigger* subtitle = nullptr;
    PlayerMovement* player = nullptr;
    if (!findPair(world, pair, subtitle, player) || subtitle->done != 0)
        return;
    if (context.subtitle)
        context.subtitle->pushSubtitle(subtitle->text);
}

void finishSubtitle(World& world, AppContext& context, const PairEvent& pair)
{
    SubtitleTrigger* subtitle = nullptr;
    PlayerMovement* player = nullptr;
    if (!findPair(world, pair, subtitle, player) || subtitle->done != 0)
        return;
    if (context.subtitle)
        context.subtitle->clearSubtitles();
    subtitle->done = 1;
}

// A collectible the player touches is picked up (once: the system keeps
// its picked flag).
void collect(World& world, AppContext& context, const PairEvent& pair)
{
    u32 collectible = 0;
    u32 player = 0;
    if (context.collectible && orderPair<Collectible, PlayerMovement>(world, pair, collectible, player))
        context.collectible->onCollected(EntityHandle { collectible }, world);
}

// Leaving a speech trigger takes the difference of its two times off its
// third, so that the next entry finds it further on.
void leaveSpeechTrigger(World& world, const PairEvent& pair)
{
    SpeechTrigger* speech = nullptr;
    PlayerMovement* player = nullptr;
    if (findPair(world, pair, speech, player))
        speech->value48 -= speech->value28 - speech->value32;
}

void setPlayerFacing(World& world, const PlayerEvent& event)
{
    if (PlayerState* state = componentOf<PlayerState>(world, EntityHandle { event.player }))
        state->facingCode = event.value;
}

void runContactBeginRules(const PairEvent& pair, World& world, AppContext& context)
{
    onPushPadContact(pair, world, context);
    onPlayerContact(world, context, pair, kContactBegins);
    onDeathTriggerContact(world, context, pair);
}

void runTriggerEnterRules(const PairEvent& pair, World& world, AppContext& context)
{
    onPushPadContact(pair, world, context);
    onPlayerContact(world, context, pair, kContactBegins);
    onDeathTriggerContact(world, context, pair);
    onCameraZoneEnter(pair, world, context);
    onGravityZoneEnter(pair, world);
    if (context.fuzzyCollision)
        context.fuzzyCollision->onEnter(pair, world);
    onOneShotAnimationEnter(pair, world, context);
    onMovingPlatformTouched(pair, world, context);
    changePlatformOccupancy(world, pair, +1);
    onBeamPortalEnter(pair, world, context);
    onRaceSourceContact(pair, world);
    onKillZoneEnter(pair, world, context);
    onLevelGoalEnter(pair, world, context);
    setSavePointInside(world, pair, true);
    collect(world, context, pair);
    onRaceAnimationTrigger(pair, world, context);
    onSoundTrigger(pair, world, context);
    onAchievementTrigger(pair, world, context);
    showSubtitle(world, context, pair);
}

void runTriggerExitRules(const PairEvent& pair, World& world, AppContext& context)
{
    onPlayerContact(world, context, pair, kContactEnds);
    onCameraZoneExit(pair, world, context);
    if (context.fuzzyCollision)
        context.fuzzyCollision->onExit(pair, world);
    onGravityZoneExit(pair, world);
    leaveSpeechTrigger(world, pair);
    changePlatformOccupancy(world, pair, -1);
    setSavePointInside(world, pair, false);
    finishSubtitle(world, context, pair);
}

void runRaceChangedRules(const RaceChangedEvent& event, World& world, AppContext& context)
{
    // The rules about the touched trigger need one; no trigger is handle 0.
    // A player turning to the race a death trigger kills dies inside it.
    if (isSomeEntity(EntityHandle { event.touchingTrigger })) {
        onDeathTriggerContact(world, context, PairEvent { event.player, event.touchingTrigger });
        updateTouchedSavePointRace(world, event);
    }
    AnimationHandler::onRaceChanged(world, context, event);
}

void runFacingChangedRules(const PlayerEvent& event, World& world)
{
    PlayerView player;
    if (findPlayerView(world, EntityHandle { event.player }, player))
        AnimationHandler::facingTurn(world, player, event.value);
    setPlayerFacing(world, event);
}

} // namespace

void runGameEventRules(GameEventType type, const GameEventPayload& payload, World& world, AppContext& context)
{
    switch (type) {
    case GameEventType::ContactBegin:
        runContactBeginRules(payload.pair, world, context);
        break;
    case GameEventType::ContactEnd:
        onPlayerContact(world, context, payload.pair, kContactEnds);
        break;
    case GameEventType::TriggerEnter:
        runTriggerEnterRules(payload.pair, world, context);
        break;
    case GameEventType::TriggerExit:
        runTriggerExitRules(payload.pair, world, context);
        break;
    case GameEventType::MovementStateChanged:
        AnimationHandler::onMovementStateChanged(world, context, payload.player);
        break;
    case GameEventType::FacingChanged:
        runFacingChangedRules(payload.player, world);
        break;
    case GameEventType::RaceChanged:
        runRaceChangedRules(payload.race, world, context);
        break;
    case GameEventType::TriggerStay:
        onLevelGoalStay(payload.pair, world, context);
        break;
    case GameEventType::ContactStay:
        // Only the cutscene rules react to these, and this build has no cutscenes.
        break;
    }
}

} // namespace harmonize
