#include "harmonize/extensions/LightningExt.h"

#include "harmonize/extensions/PlayerView.h"
#include "harmonize/extensions/RaceLook.h"
#include "harmonize/systems/AppContext.h"
#include "harmonize/systems/CoroutineSystem.h"
#include "harmonize/systems/RenderSystem.h"
#include "harmonize/systems/SoundSystem.h"
#include "harmonize/systems/StartupSystem.h"

#include "quern/debug/MutexImpl.h"
#include "quern/entity/World.h"
#include "quern/physics/particles/ParticleEmitter.h"
#include "quern/platform/Clock.h"
#include "quern/platform/ErrorReporting.h"

#include <cmath>

namespace harmonize {
namespace {

using quern::entity::EntityState;
using quern::entity::World;
using quern::math::Vector3;

// Resume points of the three coroutines; each also starts at 0.
constexpr i32 kNextScroll = 49;
constexpr i32 kNextMove = 79;
constexpr i32 kFlashOver = 100;

// A flash lasts 0.3 s plus up to 0.5 s more.
constexpr f32 kFlashMinimum = 0.3f;
constexpr f32 kFlashSpread = 0.5f;

// Every lightning coroutine carries the entity its record (the user data)
// belongs to.
struct LightningLocals {
    EntityHandle entity;
};

// One of the process-wide generators. Worlds may tick on different threads,
// so every draw takes the lock.
struct SharedRandom {
    u64 state = 0;
    bool seeded = false;
};

SharedRandom g_placement;
SharedRandom g_thunder;

quern::debug::MutexImpl& randomLock()
{
    static quern::debug::MutexImpl lock;
    return lock;
}

u64& placementState()
{
    if (!g_placement.seeded) {
        g_placement.state = quern::platform::getCalendarSeconds() * 4561u + 234202789u;
        g_placement.seeded = true;
    }
    return g_placement.state;
}

u64& thunderState()
{
    if (!g_thunder.seeded) {
        g_thunder.state = 42;
        g_thunder.seeded = true;
    }
    return g_thunder.state;
}

u64 nextPlacementNumber()
{
    quern::debug::MutexLock lock(randomLock());
    u64& state = placementState();
    quern::particles::nextUnit(state);
    return state;
}

// The offset from the reference: a random point of the lightning's range,
// x drawn first.
Vec2f nextPlacementOffset(const Lightning& lightning)
{
    quern::debug::MutexLock lock(randomLock());
    u64& state = placementState();
    const f32 x = quern::particles::randomBetween(state, lightning.minX, lightning.maxX);
    const f32 y = quern::particles::randomBetween(state, lightning.minY, lightning.maxY);
    return { x, y };
}

f32 nextThunderUnit()
{
    quern::debug::MutexLock lock(randomLock());
    return quern::particles::nextUnit(thunderState());
}

bool isEnabledWith(World& world, u64 index, u8 type)
{
    return world.getState(index) != EntityState::Free && world.getEnabledMask(index).test(type);
}

// Where the lightning moves around: the entity it names, else a random camera.
// None when that has no Transform, or when the level has no camera to pick.
const Transform* referenceOf(World& world, const Lightning& lightning)
{
    if (isSomeEntity(lightning.reference))
        return componentOf<Transform>(world, lightning.reference);
    const EntityHandle camera = pickEnabledEntity(world, CameraLens::kType, nextPlacementNumber());
    return camera.isNull() ? nullptr : componentOf<Transform>(world, camera);
}

// Keeps its own depth: only the plane place follows the reference.
void moveNearReference(World& world, EntityHandle entity, const Lightning& lightning)
{
    Transform* own = componentOf<Transform>(world, entity);
    const Transform* reference = referenceOf(world, lightning);
    if (!own || !reference)
        return;
    const Vector3 centre = worldPositionOf(world, *reference);
    const Vec2f offset = nextPlacementOffset(lightning);
    const f32 depth = worldPositionOf(world, *own).z;
    Transform::setWorldPosition(*own, Vector3 { centre.x + offset.x, centre.y + offset.y, depth }, world);
}

void setFlashLight(World& world, const Lightning& lightning, f32 intensity)
{
    if (Light* light = validComponentOf<Light>(world, lightning.flashLight))
        light->intensity = intensity;
}

void playThunder(World& world, EntityHandle entity, AppContext& context)
{
    if (!context.sound)
        return;
    SoundRequest& request = context.sound->playSound(worldTextKey(world, "Thunder"));
    request.entity = entity.value;
    request.positional = 1;
    if (const Transform* at = componentOf<Transform>(world, entity))
        request.position = worldPositionOf(world, *at);
}

// A coroutine whose lightning went away with its entity ends: the slot, and
// the record the user data points at, may belong to another entity by now.
bool isLightningGone(Coroutine& coroutine, World& world)
{
    return !isValidEntity(world, coroutine.localsAs<LightningLocals>().entity);
}

bool runThunder(void* userData, Coroutine& coroutine, World& world, AppContext& context)
{
    if (isLightningGone(coroutine, world))
        return endCoroutine(coroutine);
    const Lightning& lightning = *static_cast<const Lightning*>(userData);
    const EntityHandle entity = coroutine.localsAs<LightningLocals>().entity;
    switch (coroutine.resumePoint) {
    case 0:
        if (isLightningFlash(lightning.flashChance, nextThunderUnit())) {
            setRendererShown(world, entity.index(), true);
            setFlashLight(world, lightning, lightning.flashIntensity);
            playThunder(world, entity, context);
        }
        coroutine.resumePoint = kFlashOver;
        coroutine.wait = nextThunderUnit() * kFlashSpread + kFlashMinimum;
        return true;
    case kFlashOver:
        setRendererShown(world, entity.index(), false);
        setFlashLight(world, lightning, 0.0f);
        return endCoroutine(coroutine);
    default:
        return endCoroutine(coroutine);
    }
}

bool runPlacement(void* userData, Coroutine& coroutine, World& world, AppContext& context)
{
    if ((coroutine.resumePoint != 0 && coroutine.resumePoint != kNextMove) || isLightningGone(coroutine, world))
        return endCoroutine(coroutine);
    const Lightning& lightning = *static_cast<const Lightning*>(userData);
    const LightningLocals locals = coroutine.localsAs<LightningLocals>();
    if (lightning.disabled == 0) {
        context.coroutine->start(runThunder, userData, locals);
        moveNearReference(world, locals.entity, lightning);
    }
    coroutine.resumePoint = kNextMove;
    coroutine.wait = lightning.moveInterval;
    return true;
}

bool runScroll(void* userData, Coroutine& coroutine, World& world, AppContext& context)
{
    if ((coroutine.resumePoint != 0 && coroutine.resumePoint != kNextScroll) || isLightningGone(coroutine, world))
        return endCoroutine(coroutine);
    const Lightning& lightning = *static_cast<const Lightning*>(userData);
    if (lightning.disabled == 0 && context.render) {
        const EntityHandle entity = coroutine.localsAs<LightningLocals>().entity;
        context.render->scrollMainTexture(entity.index(), lightning.offsetStep.x, lightning.offsetStep.y);
    }
    coroutine.resumePoint = kNextScroll;
    coroutine.wait = lightning.scrollInterval;
    return true;
}

} // namespace

void startLightning(World& world, EntityHandle entity, AppContext& context)
{
    Lightning* lightning = componentOf<Lightning>(world, entity);
    if (!lightning)
        return;
    if (lightning->disabled != 0)
        setRendererShown(world, entity.index(), false);
    if (!context.coroutine)
        return;
    const LightningLocals locals { entity };
    context.coroutine->start(runScroll, lightning, locals);
    context.coroutine->start(runPlacement, lightning, locals);
}

// The quiet comparison: a chance that is not a number never flashes and never
// raises the invalid-operation trap.
bool isLightningFlash(f32 percent, f32 r) { return std::isgreaterequal(percent * 0.01f, r); }

EntityHandle pickEnabledEntity(World& world, u8 type, u64 random)
{
    i64 count = 0;
    for (u64 i = 0; i < world.getSlotCount(); ++i)
        if (isEnabledWith(world, i, type))
            ++count;
    // Nothing to pick from: no remainder to take.
    if (count == 0)
        return {};
    i64 k = static_cast<i64>(random) % count;
    if (k < 0)
        k += count;
    for (u64 i = 0; i < world.getSlotCount(); ++i)
        if (isEnabledWith(world, i, type) && k-- == 0)
            return entityAt(world, i);
    QUERN_FATAL("Unreachable code hit");
}

void resetLightningRandom()
{
    quern::debug::MutexLock lock(randomLock());
    g_placement = SharedRandom {};
    g_thunder = SharedRandom {};
}

} // namespace harmonize
