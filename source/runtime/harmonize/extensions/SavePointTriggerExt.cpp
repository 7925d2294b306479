// Save points: a trigger volume where the player pays one collectible to
// store the progress. Each save point runs one coroutine for the whole level;
// it reads the flags the game events set (inside, race match) and the
// collectibles in hand, and shows its states on a frame animation below it:
// "wrong" for a player of the other race, "nomoney" for one with nothing to
// pay, "right" and then "saved" after paying. Once saved it ignores the
// player until a quick-save restore makes it the respawn point, after which
// it plays "respawn" and is saved again.

#include "harmonize/components/Components.h"
#include "harmonize/events/GameEvents.h"
#include "harmonize/extensions/PlayerView.h"
#include "harmonize/extensions/RaceLook.h"
#include "harmonize/systems/AnimationSystem.h"
#include "harmonize/systems/AppContext.h"
#include "harmonize/systems/CollectibleSystem.h"
#include "harmonize/systems/CoroutineSystem.h"
#include "harmonize/systems/SaveGameSystem.h"
#include "harmonize/systems/SoundSystem.h"
#include "harmonize/utils/AppEventQueue.h"

#include "quern/entity/World.h"
#include "quern/platform/ErrorReporting.h"

namespace harmonize {

using quern::entity::World;

namespace {

enum SavePointState : i32 {
    kIdle = 0,
    kWrong = 1,
    kNoMoney = 2,
    kPaying = 3,
    kSavedState = 4,
    kRespawning = 5,
};

// Resume points of the save-point coroutine.
constexpr i32 kWhileSaved = 56;
constexpr i32 kAfterRespawn = 63;
constexpr i32 kWrongShown = 92;
constexpr i32 kNoMoneyShown = 104;
constexpr i32 kShowRight = 110;
constexpr i32 kRightFirstTick = 112;
constexpr i32 kRightSecondTick = 113;
constexpr i32 kAfterRight = 114;
constexpr i32 kToSaved = 118;
constexpr i32 kMainCheck = 132;

struct SavePointLocals {
    EntityHandle savePoint;
    f32 messageTimer;
    i32 state;
    i32 previous;
    i32 changed;
};

// One step of the coroutine: what every part of it reads and writes.
struct Step {
    Coroutine& coroutine;
    SavePointLocals& locals;
    SavePointTrigger& trigger;
    World& world;
    AppContext& context;

    bool has(u32 flag) const { return (trigger.flags & flag) != 0; }
    bool hasMoney() const { return context.collectible && context.collectible->collectedCount() > 0; }

    bool resumeAt(i32 point, f32 wait = 0.0f)
    {
        coroutine.resumePoint = point;
        coroutine.wait = wait;
        return true;
    }

    void enter(i32 state)
    {
        if (locals.state == state)
            return;
        locals.previous = locals.state;
        locals.state = state;
        locals.changed = 1;
    }

    void select(const char* name)
    {
        if (!isSomeEntity(trigger.frameAnimation))
            return;
        if (FrameAnimation* animation = componentOf<FrameAnimation>(world, trigger.frameAnimation))
            selectFrameAnimationState(*animation, name, world);
    }

    void playSound(u64 soundId)
    {
        if (context.sound)
            context.sound->playAtPositionOf(soundId, locals.savePoint, world);
    }

    void show(const char* name, u64 soundId)
    {
        select(name);
        playSound(soundId);
    }
};

bool wrongCheck(Step& step)
{
    if (step.locals.messageTimer > 0.0f && !step.has(SavePointTrigger::kRaceMatch))
        return step.resumeAt(kWrongShown);
    if (!step.has(SavePointTrigger::kRaceMatch))
        step.enter(kIdle);
    return step.resumeAt(kMainCheck);
}

bool noMoneyCheck(Step& step)
{
    if (!(step.locals.messageTimer > 0.0f))
        return step.resumeAt(kMainCheck);
    if (step.hasMoney() && step.has(SavePointTrigger::kInside))
        return step.resumeAt(kMainCheck);
    return step.resumeAt(kNoMoneyShown);
}

bool pay(Step& step)
{
    if (step.context.collectible)
        step.context.collectible->payAtSavePoint(step.trigger, step.world);
    if (step.context.saveGame)
        step.context.saveGame->lastSavePoint = step.locals.savePoint.value;
    // The collectible is paid already: a full queue grows rather than lose
    // the save it paid for.
    if (step.context.services.appEventQueue)
        step.context.services.appEventQueue->pushGrowing(AppEventType::SaveProgress, nullptr, 0);
    return step.resumeAt(kShowRight, step.trigger.payWait);
}

// Acts on a state just entered; without a change, checks again next tick.
bool apply(Step& step)
{
    if (step.locals.changed == 0)
        return step.resumeAt(kMainCheck);
    step.locals.changed = 0;
    switch (step.locals.state) {
    case kIdle:
        step.show("idle", step.trigger.idleSound);
        return step.resumeAt(kMainCheck);
    case kWrong:
        step.show("wrong", step.trigger.wrongSound);
        step.locals.messageTimer = step.trigger.messageTime;
        return wrongCheck(step);
    case kNoMoney:
        step.show("nomoney", step.trigger.wrongSound);
        step.locals.messageTimer = step.trigger.messageTime;
        return noMoneyCheck(step);
    case kPaying:
        return pay(step);
    case kSavedState:
        step.select("saved");
        step.trigger.flags |= SavePointTrigger::kSaved;
        return step.resumeAt(kMainCheck);
    case kRespawning:
        return step.resumeAt(kMainCheck);
    default:
        QUERN_FATAL("Unreachable code hit");
    }
}

bool mainCheck(Step& step)
{
    if (step.has(SavePointTrigger::kSaved))
        return step.resumeAt(kWhileSaved);
    // The respawn ends this pass: its wait runs first, and the save point
    // turns saved when it is over.
    if (step.has(SavePointTrigger::kRespawnRequest)) {
        step.trigger.flags &= ~SavePointTrigger::kRespawnRequest;
        step.enter(kRespawning);
        step.show("respawn", step.trigger.respawnSound);
        return step.resumeAt(kAfterRespawn, step.trigger.respawnWait);
    }
    if (step.has(SavePointTrigger::kInside) && step.locals.changed == 0) {
        if (!step.has(SavePointTrigger::kRaceMatch))
            step.enter(kWrong);
        else
            step.enter(step.hasMoney() ? kPaying : kNoMoney);
    } else if (step.locals.state == kNoMoney) {
        step.enter(kIdle);
    }
    return apply(step);
}

bool showRight(Step& step)
{
    step.select("right");
    if (const Animation* animation = componentOf<Animation>(step.world, step.trigger.animated)) {
        const u64 clip = animation->defaultClip;
        if (step.context.animation)
            step.context.animation->play(step.trigger.animated, clip, 0.0f);
    }
    step.playSound(step.trigger.rightSound);
    return step.resumeAt(kRightFirstTick);
}

bool afterRight(Step& step)
{
    if (step.has(SavePointTrigger::kRespawnRequest))
        return step.resumeAt(kMainCheck);
    return step.resumeAt(kToSaved, step.trigger.rightWait);
}

bool runSavePoint(void*, Coroutine& coroutine, World& world, AppContext& context)
{
    auto& locals = coroutine.localsAs<SavePointLocals>();
    SavePointTrigger* trigger = componentOf<SavePointTrigger>(world, locals.savePoint);
    if (!trigger)
        return endCoroutine(coroutine);
    Step step { coroutine, locals, *trigger, world, context };
    switch (coroutine.resumePoint) {
    case 0:
        locals.state = locals.previous = locals.changed = kIdle;
        step.show("idle", trigger->idleSound);
        locals.messageTimer = 0.0f;
        return mainCheck(step);
    case kWhileSaved:
    case kMainCheck:
        return mainCheck(step);
    case kAfterRespawn:
        step.enter(kSavedState);
        return apply(step);
    case kWrongShown:
        locals.messageTimer -= world.deltaTime;
        return wrongCheck(step);
    case kNoMoneyShown:
        locals.messageTimer -= world.deltaTime;
        return noMoneyCheck(step);
    case kShowRight:
        return showRight(step);
    case kRightFirstTick:
        return step.resumeAt(kRightSecondTick);
    case kRightSecondTick:
        return step.resumeAt(kAfterRight);
    case kAfterRight:
        return afterRight(step);
    case kToSaved:
        step.enter(kSavedState);
        return step.resumeAt(kMainCheck);
    default:
        return endCoroutine(coroutine);
    }
}

// The frame animation that shows the states: on the root itself, else the
// first one, in index order, that hangs below the root.
EntityHandle findFrameAnimation(World& world, EntityHandle rootEntity)
{
    if (rootEntity.index() >= world.getSlotCount())
        return EntityHandle {};
    const u16 rootIndex = rootEntity.index();
    if (world.getComponentMask(rootIndex).test(FrameAnimation::kType))
        return EntityHandle::make(rootIndex, world.getGeneration(rootIndex));
    const Transform& root = transformAt(world, rootIndex);
    for (u64 slot = 0; slot < world.getSlotCount(); ++slot) {
        const quern::entity::ComponentMask& mask = world.getComponentMask(slot);
        const u16 generation = world.getGeneration(slot);
        if (generation == 0 || !mask.test(Transform::kType) || !mask.test(FrameAnimation::kType))
            continue;
        const Transform& candidate = transformAt(world, slot);
        if (isSomeEntity(candidate.parent) && candidate.parent != root.parent
            && Transform::isDescendantOf(candidate, root, world))
            return EntityHandle::make(static_cast<u16>(slot), generation);
    }
    return EntityHandle {};
}

EntityHandle entityOfSavePoint(World& world, const SavePointTrigger& trigger)
{
    const auto* base = world.store + world.componentOffsets[SavePointTrigger::kType];
    const u64 slot = static_cast<u64>(reinterpret_cast<const u8*>(&trigger) - base) / sizeof(SavePointTrigger);
    return EntityHandle::make(static_cast<u16>(slot), slot < world.getSlotCount() ? world.getGeneration(slot) : 0);
}

} // namespace

void SavePointTrigger::start(SavePointTrigger& trigger, World& world, CoroutineSystem& coroutines)
{
    trigger.flags = 0;
    trigger.frameAnimation = findFrameAnimation(world, trigger.frameAnimationRoot);
    if (isSomeEntity(trigger.frameAnimation))
        if (FrameAnimation* animation = componentOf<FrameAnimation>(world, trigger.frameAnimation))
            selectFrameAnimationState(*animation, "idle", world);
    coroutines.start(runSavePoint, nullptr, SavePointLocals { entityOfSavePoint(world, trigger), 0.0f, 0, 0, 0 });
}

void SavePointTrigger::updateRaceMatch(const PairEvent& pair, SavePointTrigger& trigger, World& world)
{
    const Race* a = componentOf<Race>(world, EntityHandle { pair.entityA });
    const Race* b = componentOf<Race>(world, EntityHandle { pair.entityB });
    if (!a || !b)
        QUERN_FATAL("Unreachable code hit");
    if (racesOppose(a->value, b->value))
        trigger.flags &= ~kRaceMatch;
    else
        trigger.flags |= kRaceMatch;
}

} // namespace harmonize
