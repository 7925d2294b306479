#include "harmonize/systems/PlatformSystem.h"

#include "harmonize/components/TransformChain.h"
#include "harmonize/extensions/PlayerView.h"
#include "harmonize/extensions/Prefabs.h"
#include "harmonize/extensions/RaceLook.h"
#include "harmonize/systems/AnimationSystem.h"
#include "harmonize/systems/AppContext.h"
#include "harmonize/systems/CoroutineSystem.h"
#include "harmonize/systems/SoundSystem.h"

#include "quern/entity/World.h"

#include <cmath>

namespace harmonize {

using quern::entity::World;
using quern::math::Vector3;

namespace {

// Resume points of the hide/show coroutine.
constexpr i32 kHideAfterWarning = 65;
constexpr i32 kHidden = 83;
constexpr i32 kWaitToShow = 88;

// A hidden platform lets the player through on its own layer; a solid one
// collides on the platforms' layer.
constexpr u32 kHiddenLayer = 2;
constexpr u32 kSolidLayer = 14;
constexpr f32 kClipFade = 0.1f;

// Offsets this small move nothing; their squares would be denormals, whose
// use traps when the game runs with floating-point traps.
constexpr f32 kNegligibleOffset = 1e-18f;

// The world's store of one record type, indexed by slot.
template <class Record> Record* storeOf(World& world)
{
    return reinterpret_cast<Record*>(world.store + world.componentOffsets[Record::kType]);
}

struct HideShowLocals {
    EntityHandle platform;
};

// A root's origin is its position: only platforms below a parent pay for the
// matrix walk.
Vector3 worldOriginOf(World& world, const Transform& transform)
{
    if (linkedSlot(transform.parent, world.getSlotCount()) < 0)
        return transform.position;
    return worldPositionOf(world, transform);
}

f32 significant(f32 offset) { return std::fabs(offset) < kNegligibleOffset ? 0.0f : offset; }

// The player counts as in range only strictly inside it.
bool isWithin(const Vector3& platform, const Vector3& player, f32 range)
{
    const f32 dx = significant(platform.x - player.x);
    const f32 dy = significant(platform.y - player.y);
    const f32 dz = significant(platform.z - player.z);
    return std::sqrt(dx * dx + dy * dy + dz * dz) < range;
}

void playNamedClip(AppContext& context, World& world, EntityHandle animated, const char* name, f32 fade)
{
    if (context.animation)
        context.animation->play(animated, context.animation->findClip(animated, worldTextKey(world, name)), fade);
}

void playSoundAt(AppContext& context, World& world, u64 soundId, EntityHandle platform)
{
    if (context.sound)
        context.sound->playAtPositionOf(soundId, platform, world);
}

void spawnEffect(World& world, const Platform& record, EntityHandle platform)
{
    const Transform* transform = componentOf<Transform>(world, platform);
    if (transform && isSomeEntity(record.effectPrefab))
        instantiatePrefabAt(record.effectPrefab, *transform, world);
}

void setSolid(World& world, EntityHandle platform, bool solid)
{
    if (CollisionLayer* layer = componentOf<CollisionLayer>(world, platform))
        layer->layer = solid ? kSolidLayer : kHiddenLayer;
    if (Collider* collider = componentOf<Collider>(world, platform))
        collider->trigger = solid ? 0 : 1;
}

void hide(AppContext& context, World& world, Platform& record, EntityHandle platform)
{
    playNamedClip(context, world, record.animated, "hide", kClipFade);
    setSolid(world, platform, false);
    playSoundAt(context, world, record.hideSound, platform);
    spawnEffect(world, record, platform);
    record.hiddenRemaining = record.hiddenTime;
    record.release = 0;
}

void show(AppContext& context, World& world, Platform& record, EntityHandle platform)
{
    playNamedClip(context, world, record.animated, "show", kClipFade);
    setSolid(world, platform, true);
    playSoundAt(context, world, record.showSound, platform);
    spawnEffect(world, record, platform);
    record.hiddenByStanding = 0;
    record.running = 0;
}

bool waitToShow(Coroutine& coroutine, World& world, AppContext& context, Platform& record, EntityHandle platform)
{
    if (record.occupancy > 0 || record.pending != 0) {
        coroutine.resumePoint = kWaitToShow;
        coroutine.wait = 0.0f;
        return true;
    }
    show(context, world, record, platform);
    return endCoroutine(coroutine);
}

bool stayHidden(Coroutine& coroutine, World& world, AppContext& context, Platform& record, EntityHandle platform)
{
    if (record.hiddenRemaining > 0.0f && record.release == 0) {
        record.hiddenRemaining -= world.deltaTime;
        coroutine.resumePoint = kHidden;
        coroutine.wait = 0.0f;
        return true;
    }
    return waitToShow(coroutine, world, context, record, platform);
}

bool hideAndStay(Coroutine& coroutine, World& world, AppContext& context, Platform& record, EntityHandle platform)
{
    hide(context, world, record, platform);
    return stayHidden(coroutine, world, context, record, platform);
}

bool begin(Coroutine& coroutine, World& world, AppContext& context, Platform& record, EntityHandle platform)
{
    record.running = 1;
    if (const PlatformWarning* warning = componentOf<PlatformWarning>(world, platform)) {
        record.pending = 1;
        record.hideDelay = warning->delay;
        const u64 clip = warning->clip;
        if (clip != 0 && context.animation)
            context.animation->play(record.animated, clip, 0.0f);
    }
    if (record.hideDelay > 0.0f) {
        coroutine.resumePoint = kHideAfterWarning;
        coroutine.wait = record.hideDelay;
        return true;
    }
    return hideAndStay(coroutine, world, context, record, platform);
}

// A platform that went away or was switched off ends its sequence where it
// is; its running flag stays set, so it starts no other until a restore.
bool hideShow(void* userData, Coroutine& coroutine, World& world, AppContext& context)
{
    const EntityHandle platform = coroutine.localsAs<HideShowLocals>().platform;
    if (!isActiveEntity(world, platform))
        return endCoroutine(coroutine);
    Platform& record = *static_cast<Platform*>(userData);
    switch (coroutine.resumePoint) {
    case 0:
        return begin(coroutine, world, context, record, platform);
    case kHideAfterWarning:
        return hideAndStay(coroutine, world, context, record, platform);
    case kHidden:
        return stayHidden(coroutine, world, context, record, platform);
    case kWaitToShow:
        return waitToShow(coroutine, world, context, record, platform);
    default:
        return endCoroutine(coroutine);
    }
}

} // namespace

PlatformSystem::PlatformSystem(AppContext& context)
    : m_context(&context)
{
}

void PlatformSystem::worldStarted(World& world, quern::memory::Allocator*)
{
    m_player = EntityHandle {};
    for (u64 slot = 0; slot < world.getSlotCount(); ++slot) {
        const u16 generation = world.getGeneration(slot);
        if (generation != 0 && world.getComponentMask(slot).containsAll(kPlayerMask))
            m_player = EntityHandle::make(static_cast<u16>(slot), generation);
    }
    for (u64 slot = 0; slot < world.getSlotCount(); ++slot) {
        const EntityHandle entity = EntityHandle::make(static_cast<u16>(slot), world.getGeneration(slot));
        const RaceLook* look = componentOf<RaceLook>(world, entity);
        // A look on an entity without a race has nothing to show.
        const Race* race = componentOf<Race>(world, entity);
        if (look && race)
            applyRaceLook(*look, race->value, world);
    }
}

void PlatformSystem::fixedTick(quern::entity::UpdateContext*, World& world)
{
    const bool playerFound = isPlayerEntity(world, m_player);
    Vector3 playerPosition;
    i32 playerRace = 0;
    if (playerFound) {
        playerPosition = worldPositionOf(world, *componentOf<Transform>(world, m_player));
        playerRace = componentOf<Race>(world, m_player)->value;
    }
    // Every slot is looked at each tick: the stores are walked as the arrays
    // they are, the records of a slot at its index in each.
    const u64 slots = world.getSlotCount();
    const u16* generations = world.generations.dataAs<u16>();
    const ComponentMask* masks = world.componentMasks.dataAs<ComponentMask>();
    const Transform* transforms = storeOf<Transform>(world);
    const PlatformSensor* sensors = storeOf<PlatformSensor>(world);
    const Race* races = storeOf<Race>(world);
    Platform* records = storeOf<Platform>(world);
    for (u64 slot = 0; slot < slots; ++slot) {
        if (generations[slot] == 0 || !masks[slot].containsAll(kPlatformMask))
            continue;
        const bool inRange
            = playerFound && isWithin(worldOriginOf(world, transforms[slot]), playerPosition, sensors[slot].range);
        const bool triggered = inRange ? racesOppose(races[slot].value, playerRace) : sensors[slot].hideWhenAway != 0;
        // Marked without branching: which platforms are triggered is as good
        // as random from one slot to the next.
        Platform& record = records[slot];
        record.pending = triggered ? 1 : 0;
        record.release = triggered ? record.release : 1;
        if (triggered && record.running == 0 && m_context->coroutine) {
            record.pending = 0;
            startHideShow(EntityHandle::make(static_cast<u16>(slot), generations[slot]), world, *m_context->coroutine);
        }
    }
}

void PlatformSystem::describe(quern::entity::SystemInfo* info) { info->name = "PlatformSystem"; }

void PlatformSystem::startHideShow(EntityHandle platform, World& world, CoroutineSystem& coroutines)
{
    // One sequence a platform: the player's standing and the platform's own
    // triggering may both ask in one tick, before the first step marks it
    // running, and two sequences would hide and show it twice over.
    Platform* record = componentOf<Platform>(world, platform);
    if (!record || record->running != 0)
        return;
    record->running = 1;
    coroutines.start(hideShow, record, HideShowLocals { platform });
}

void PlatformSystem::restoreSnapshot(World& world)
{
    for (u64 slot = 0; slot < world.getSlotCount(); ++slot) {
        const quern::entity::ComponentMask& enabled = world.getEnabledMask(slot);
        if (!enabled.test(Platform::kType) || enabled.test(Detonator::kType) || enabled.test(PlatformWarning::kType))
            continue;
        const EntityHandle platform = EntityHandle::make(static_cast<u16>(slot), world.getGeneration(slot));
        auto& record = *static_cast<Platform*>(world.getComponent(slot, Platform::kType));
        record.running = 0;
        if (Collider* collider = componentOf<Collider>(world, platform))
            collider->trigger = 0;
        if (record.occupancy != 0) {
            playNamedClip(*m_context, world, record.animated, "show", 0.0f);
            record.occupancy = 0;
        }
    }
}

} // namespace harmonize
