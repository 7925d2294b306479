#pragma once
// The player's animation handler. The body is drawn by two models, one per
// race; only the model of the player's race is active, but every clip change
// goes to both so that a race change shows the other model already in step.
// Clips are chosen by kind from the PlayerState's lists (a kind's first clip,
// or at random one of its variations) and cross-faded in; the models turn
// towards the facing code.
#include "harmonize/events/GameEvents.h"
#include "harmonize/extensions/PlayerView.h"

namespace harmonize {

struct AppContext;
class AnimationSystem;

// The clip lists of PlayerState, numbered as the handler plays them.
enum AnimationKind : i32 {
    kAnimationIdle = 1, // standing; the first clip is the main one
    kAnimationWalk = 2,
    kAnimationFall = 3,
    kAnimationJump = 4,
    kAnimationLand = 5, // landing into WAITING or WALKING
    kAnimationStop = 6, // WALKING -> WAITING
    kAnimationAirSide = 7, // airborne while gravity is not straight down
    kAnimationKind8 = 8,
    kAnimationKind9 = 9, // no rule selects it; the walking rule leaves it
};

struct AnimationHandler {
    // Game event 6: the clip kind of the new movement state.
    static void onMovementStateChanged(quern::entity::World& world, AppContext& context, const PlayerEvent& event);
    // Game event 8: shows the new race's model, hides the other and plays the
    // current kind again.
    static void onRaceChanged(quern::entity::World& world, AppContext& context, const RaceChangedEvent& event);
    // Turns both models to the facing code (game event 7 and every handler
    // tick); codes without a turn change nothing.
    static void facingTurn(quern::entity::World& world, const PlayerView& player, i32 code);
    // The last stage of the player tick: ends clips that ran out, varies the
    // idle clip, then counts the clip time and turns the models. An invalid
    // movement state is fatal.
    static void tick(quern::entity::World& world, AppContext& context, const PlayerView& player, f32 step);

    // The idle kind with variations (the level goal plays it).
    static void playIdle(PlayerState& state, AnimationSystem& animation);
    // Picks a clip of the kind and cross-fades it in on both models unless it
    // is the current clip already. A kind outside 1-9 is fatal.
    static void playKind(PlayerState& state, AnimationSystem& animation, i32 kind, bool variations);
    // The first of the leading non-zero ids of `clips` (at most `count`), or
    // by chance one of the others; a variation is never the current clip
    // while another one differs from it.
    static u64 pickClip(PlayerState& state, const u64* clips, i32 count, bool variations);

    // The model of the race: modelRace0 for race 0, modelRace2 for race 2;
    // any other race is fatal.
    static EntityHandle activeModel(const PlayerState& state, i32 race);
    // The active model's local height at rest, measured from its Transform the
    // first time it is asked for (a stored -1 is "not measured yet").
    static f32 restHeight(quern::entity::World& world, PlayerState& state, i32 race);
};

// One step of the 32-bit xorshift generator (13, 17, 5).
constexpr u32 xorshiftStep(u32 x)
{
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    return x;
}

} // namespace harmonize
