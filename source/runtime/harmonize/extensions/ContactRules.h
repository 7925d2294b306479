#pragma once
// The rules of a level's special volumes, run by the game event dispatcher
// when the player (or, for a few, any entity) touches one: push pads, gravity
// zones, camera zones, beam portals, the level goal, kill zones, one-shot
// animations, race animation triggers, race copies, sound triggers and
// achievement triggers. Each takes the event's pair in either order and does
// nothing when its components are not on it. All state lives in the
// components, so quick saves and level files carry it.
#include "harmonize/events/GameEvents.h"
#include "harmonize/extensions/PlayerView.h"

namespace harmonize {

struct AppContext;
class SoundSystem;

// A push pad as its rule sees it.
struct PadView {
    EntityHandle entity;
    Transform* transform = nullptr;
    Race* race = nullptr;
    Collider* collider = nullptr;
    PushPad* pad = nullptr;
};

// A gravity zone as its rules see it.
struct ZoneView {
    EntityHandle entity;
    Transform* transform = nullptr;
    Collider* collider = nullptr;
    GravityZone* zone = nullptr;
};

// The pair as (player, other), either way round: each handle rebuilt with its
// slot's current generation, the first with every component of the player
// mask, the second with every component of `mask`.
bool matchPlayerAnd(const PairEvent& pair, quern::entity::World& world, const ComponentMask& mask, EntityHandle& player,
    EntityHandle& other);
// The pair as (player, pad), either way round, both with their slots' current
// generations; false when neither order is a player and a push pad.
bool matchPlayerAndPad(const PairEvent& pair, quern::entity::World& world, PlayerView& player, PadView& pad);
// The same for a player and a gravity zone.
bool matchPlayerAndGravityZone(const PairEvent& pair, quern::entity::World& world, PlayerView& player, ZoneView& zone);

// Launches the player along the pad axis that points most towards it (or the
// pad's up axis), with the pad's sound when it has one and `sound` is given.
void pushPlayer(quern::entity::World& world, const PlayerView& player, const PadView& pad, SoundSystem* sound);

// Contact begin and trigger enter: a player touching a push pad is pushed.
void onPushPadContact(const PairEvent& pair, quern::entity::World& world, AppContext& context);

// Trigger enter: the zone's gravity replaces the player's, the old one saved.
void onGravityZoneEnter(const PairEvent& pair, quern::entity::World& world);
// Trigger exit: the gravity the zone saved comes back.
void onGravityZoneExit(const PairEvent& pair, quern::entity::World& world);

// Trigger enter: the game camera blends to the zone's camera.
void onCameraZoneEnter(const PairEvent& pair, quern::entity::World& world, AppContext& context);
// Trigger exit: the game camera blends back to the main camera.
void onCameraZoneExit(const PairEvent& pair, quern::entity::World& world, AppContext& context);

// Trigger enter: an armed portal beams the player to its target portal, which
// stays disarmed for a tenth of a second.
void onBeamPortalEnter(const PairEvent& pair, quern::entity::World& world, AppContext& context);

// Trigger enter: the goal's bounce rule, then its reach rule.
void onLevelGoalEnter(const PairEvent& pair, quern::entity::World& world, AppContext& context);
// Trigger stay: the reach rule only.
void onLevelGoalStay(const PairEvent& pair, quern::entity::World& world, AppContext& context);
// A player of the race the goal opposes is thrown back against its gravity.
void onLevelGoalBounce(EntityHandle goal, const PlayerView& player, quern::entity::World& world, AppContext& context);
// Any other player reaches the goal: it stops, harmonizes, vanishes from the
// level's rules and the level result is captured. Once per goal.
void onLevelGoalReach(EntityHandle goal, const PlayerView& player, quern::entity::World& world, AppContext& context);

// Trigger enter: a player inside a kill zone dies.
void onKillZoneEnter(const PairEvent& pair, quern::entity::World& world, AppContext& context);
// Trigger enter: a player fires a one-shot animation trigger.
void onOneShotAnimationEnter(const PairEvent& pair, quern::entity::World& world, AppContext& context);
// Trigger enter: any entity with a race plays the trigger's clip for its race.
void onRaceAnimationTrigger(const PairEvent& pair, quern::entity::World& world, AppContext& context);
// Trigger enter: a race source gives its race to a race look it touches.
void onRaceSourceContact(const PairEvent& pair, quern::entity::World& world);
// Trigger enter: a sound trigger plays its sound once, or stops it each time.
void onSoundTrigger(const PairEvent& pair, quern::entity::World& world, AppContext& context);
// Trigger enter: the player unlocks the trigger's achievement, once.
void onAchievementTrigger(const PairEvent& pair, quern::entity::World& world, AppContext& context);

} // namespace harmonize
