#include "harmonize/extensions/AnimationHandlerExt.h"

#include "harmonize/components/PlaneMath.h"
#include "harmonize/statemachines/MovementStateMachine.h"
#include "harmonize/systems/AnimationSystem.h"
#include "harmonize/systems/AppContext.h"

#include "quern/entity/World.h"
#include "quern/platform/ErrorReporting.h"

#include <cmath>
#include <cstddef>
#include <cstring>

namespace harmonize {

using quern::entity::World;
using quern::math::Quaternion;

namespace {

constexpr i32 kMaxClipsPerKind = 5;

// xorshift never leaves 0, and a variation draw from 0 would repeat one
// candidate forever; a cleared state starts again from this seed.
constexpr u32 kRandomSeed = 2463534242u;

// A kind's clip list, copied out: the stored u64 ids are not 8-aligned.
struct ClipList {
    u64 clips[kMaxClipsPerKind] = {};
    i32 count = 0;
};

// The list of `count` ids at the record's byte offset.
ClipList listAt(const PlayerState& state, std::size_t offset, i32 count)
{
    ClipList list;
    std::memcpy(list.clips, reinterpret_cast<const u8*>(&state) + offset, sizeof(u64) * static_cast<u64>(count));
    list.count = count;
    return list;
}

ClipList clipsOfKind(const PlayerState& state, i32 kind)
{
    switch (kind) {
    case kAnimationIdle:
        return listAt(state, offsetof(PlayerState, idleClips), 5);
    case kAnimationWalk:
        return listAt(state, offsetof(PlayerState, walkClips), 2);
    case kAnimationFall:
        return listAt(state, offsetof(PlayerState, fallClips), 2);
    case kAnimationJump:
        return listAt(state, offsetof(PlayerState, jumpClips), 2);
    case kAnimationLand:
        return listAt(state, offsetof(PlayerState, landClips), 2);
    case kAnimationStop:
        return listAt(state, offsetof(PlayerState, stopClips), 2);
    case kAnimationAirSide:
        return listAt(state, offsetof(PlayerState, airSideClips), 2);
    case kAnimationKind8:
        return listAt(state, offsetof(PlayerState, kind8Clips), 2);
    case kAnimationKind9:
        return listAt(state, offsetof(PlayerState, kind9Clips), 2);
    default:
        QUERN_FATAL("Unreachable code hit");
    }
}

u32 nextRandom(PlayerState& state)
{
    const u32 x = xorshiftStep(state.randomState != 0 ? state.randomState : kRandomSeed);
    state.randomState = x;
    return x;
}

// Cross-fades the pick in on both models, the race-0 model first.
void playPick(PlayerState& state, AnimationSystem& animation, u64 pick)
{
    if (pick == state.currentClip)
        return;
    const f32 fade = state.crossFade;
    animation.play(state.modelRace0, animation.findClip(state.modelRace0, pick), fade);
    animation.play(state.modelRace2, animation.findClip(state.modelRace2, pick), fade);
    state.currentClip = pick;
    state.clipTime = 0.0f;
}

// Seconds left of the current clip on the model. A model without that clip
// never played it, so it counts as ended and the next rule picks anew.
f32 timeLeft(const PlayerState& state, const AnimationSystem& animation, EntityHandle model)
{
    const u64 clip = animation.findClip(model, state.currentClip);
    if (clip == 0)
        return 0.0f;
    return animation.clipDuration(model, clip) - state.clipTime;
}

void setModelActive(World& world, AppContext& context, EntityHandle model, bool active)
{
    const Transform* transform = componentOf<Transform>(world, model);
    if (!transform || !context.transformHierarchy)
        return;
    Transform::setSubtreeActive(*transform, active, world, *context.transformHierarchy);
}

} // namespace

u64 AnimationHandler::pickClip(PlayerState& state, const u64* clips, i32 count, bool variations)
{
    if (count <= 0)
        return 0;
    i32 n = 0;
    while (n < count && clips[n] != 0)
        ++n;
    if (n == 1 || !variations)
        return clips[0];
    const u32 x = nextRandom(state);
    if (static_cast<i64>(x % 100) >= state.variationChance || n < 2)
        return clips[0];
    if (n == 2)
        return clips[1];
    // With every variation equal to the current clip the draw below would
    // never end; the second clip then stands for all of them.
    bool anotherExists = false;
    for (i32 i = 1; i < n; ++i)
        anotherExists = anotherExists || clips[i] != state.currentClip;
    if (!anotherExists)
        return clips[1];
    u64 pick = 0;
    do
        pick = clips[1 + nextRandom(state) % static_cast<u32>(n - 1)];
    while (pick == state.currentClip);
    return pick;
}

void AnimationHandler::playKind(PlayerState& state, AnimationSystem& animation, i32 kind, bool variations)
{
    const ClipList list = clipsOfKind(state, kind);
    state.currentKind = kind;
    playPick(state, animation, pickClip(state, list.clips, list.count, variations));
}

void AnimationHandler::playIdle(PlayerState& state, AnimationSystem& animation)
{
    playKind(state, animation, kAnimationIdle, true);
}

EntityHandle AnimationHandler::activeModel(const PlayerState& state, i32 race)
{
    switch (race) {
    case 0:
        return state.modelRace0;
    case 2:
        return state.modelRace2;
    default:
        QUERN_FATAL("Unreachable code hit");
    }
}

f32 AnimationHandler::restHeight(World& world, PlayerState& state, i32 race)
{
    const EntityHandle model = activeModel(state, race);
    f32 stored = race == 0 ? state.restHeightRace0 : state.restHeightRace2;
    if (stored != -1.0f)
        return stored;
    const Transform* transform = componentOf<Transform>(world, model);
    if (!transform)
        return 0.0f;
    stored = transform->position.y;
    (race == 0 ? state.restHeightRace0 : state.restHeightRace2) = stored;
    return stored;
}

void AnimationHandler::onMovementStateChanged(World& world, AppContext& context, const PlayerEvent& event)
{
    PlayerView player;
    if (!findPlayerView(world, EntityHandle { event.player }, player))
        return;
    PlayerState& state = *player.state;
    state.lastMovementState = event.value;
    const i32 previous = player.movement->movementState[kMachinePrevious];
    i32 kind = 0;
    switch (event.value) {
    case WAITING:
        kind = isAirborne(previous) ? kAnimationLand : previous == WALKING ? kAnimationStop : kAnimationIdle;
        break;
    case WALKING:
        kind = isAirborne(previous) ? kAnimationLand : kAnimationWalk;
        break;
    case FALLING:
        kind = kAnimationFall;
        break;
    case JUMPING:
        // A jump off a ceiling starts by falling away from it.
        kind = (state.facingCode & 0xf) == 2 ? kAnimationFall : kAnimationJump;
        break;
    default:
        return;
    }
    playKind(state, *context.animation, kind, true);
}

void AnimationHandler::onRaceChanged(World& world, AppContext& context, const RaceChangedEvent& event)
{
    PlayerView player;
    if (!findPlayerView(world, EntityHandle { event.player }, player))
        return;
    PlayerState& state = *player.state;
    const EntityHandle shown = activeModel(state, event.race);
    const EntityHandle hidden = event.race == 0 ? state.modelRace2 : state.modelRace0;
    // A stale handle's slot may hold another entity by now: only a live model
    // is switched on.
    if (isAliveEntity(world, shown) && !isActiveEntity(world, shown))
        setModelActive(world, context, shown, true);
    if (isActiveEntity(world, hidden))
        setModelActive(world, context, hidden, false);
    playKind(state, *context.animation, state.currentKind != 0 ? state.currentKind : kAnimationIdle, true);
}

void AnimationHandler::facingTurn(World& world, const PlayerView& player, i32 code)
{
    const PlayerMovement& movement = *player.movement;
    PlayerState& state = *player.state;
    // 90 degrees while the snap box's X axis stands along the up direction,
    // 40 while it lies along the surface.
    const f32 b = std::fabs(dot(movement.clusterUp, movement.snapPath[2]));
    const f32 h = (1.0f - b) * 40.0f + b * 90.0f;
    Transform* model2 = componentOf<Transform>(world, state.modelRace2);
    Transform* model0 = componentOf<Transform>(world, state.modelRace0);
    const f32 m = model2 ? worldRotationOf(world, *model2).toMatrix3().m[3] : 0.0f;
    f32 degrees = 0.0f;
    switch (code) {
    case 17:
    case 34:
        degrees = -h;
        break;
    case 18:
    case 33:
        degrees = h;
        break;
    case 76:
        degrees = m >= 0.0f ? -h : h;
        break;
    case 140:
        degrees = m > 0.0f ? h : -h;
        break;
    default:
        return;
    }
    // The codes' angles run the other way round from the engine's
    // right-handed turn about Y.
    const Quaternion turn = Quaternion::fromEulerAngles(0.0f, -(degrees * 3.1415927f * 0.0055555557f), 0.0f);
    if (model0)
        model0->rotation = turn;
    if (model2)
        model2->rotation = turn;
}

void AnimationHandler::tick(World& world, AppContext& context, const PlayerView& player, f32 step)
{
    PlayerState& state = *player.state;
    const PlayerMovement& movement = *player.movement;
    if (state.currentClip == 0)
        return;
    AnimationSystem& animation = *context.animation;
    switch (movement.movementState[kMachineState]) {
    case WAITING: {
        const bool idle = state.currentKind == kAnimationIdle;
        if ((!idle && timeLeft(state, animation, activeModel(state, player.race->value)) < state.crossFade)
            || (idle && state.clipTime > state.idleVariationTime)) {
            playKind(state, animation, kAnimationIdle, true);
            return;
        }
        break;
    }
    case WALKING: {
        const u64 firstWalk = state.walkClips[0];
        const bool variationEnding = state.currentKind == kAnimationWalk && state.currentClip != firstWalk
            && timeLeft(state, animation, activeModel(state, player.race->value)) < state.crossFade;
        if (variationEnding || state.currentKind == kAnimationKind9) {
            playKind(state, animation, kAnimationWalk, false);
            return;
        }
        break;
    }
    case FALLING:
    case JUMPING: {
        const Vec2f g = movement.gravityDirection;
        if (-g.y >= 0.99f) {
            if (dot(movement.velocity + movement.pushVelocity, g) > 0.0f && state.currentKind != kAnimationFall) {
                playKind(state, animation, kAnimationFall, true);
                return;
            }
        } else if (state.currentKind != kAnimationAirSide) {
            // Unlike the fall above, the change counts this step's clip time.
            playKind(state, animation, kAnimationAirSide, true);
        }
        break;
    }
    default:
        QUERN_FATAL("Unreachable code hit");
    }
    state.clipTime += step;
    facingTurn(world, player, state.facingCode);
}

} // namespace harmonize
