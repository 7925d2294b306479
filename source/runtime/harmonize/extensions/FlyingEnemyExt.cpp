// Flying enemies: a body that travels along a fixed path of 32 points and a
// head, run by its own coroutine, that sweeps in turns of random length while
// no opposing player is near and keeps pointing at one that is.
#include "harmonize/components/Components.h"
#include "harmonize/extensions/PlayerView.h"
#include "harmonize/systems/CoroutineSystem.h"
#include "harmonize/utils/MathUtils.h"

#include "quern/debug/Log.h"
#include "quern/entity/World.h"

#include <cmath>
#include <ostream>

namespace harmonize {
namespace {

using quern::entity::World;
using quern::math::Quaternion;
using quern::math::Vector3;

// The head's resume points; it starts at 0.
constexpr i32 kStart = 0;
constexpr i32 kSweep = 115;
constexpr i32 kAim = 138;
constexpr i32 kScan = 140;

constexpr f32 kTurnStep = 0.025f; // radians per tick while sweeping
constexpr f32 kLostSightWait = 1.5f; // seconds
constexpr i32 kShortestSweep = 32; // ticks; longer ones add an even count below 32

constexpr u64 kLastPoint = sizeof(FlyingEnemy::path) / sizeof(Vec2f) - 1;

// By handle, not by record address: the coroutine outlives the tick, and
// quick saves copy it byte for byte.
struct HeadLocals {
    i32 count;
    u32 random;
    f32 turnStep;
    EntityHandle player;
    EntityHandle enemy;
};
static_assert(sizeof(HeadLocals) == 20);

// A 32-bit xorshift; 0 stays 0.
u32 nextRandom(u32 v)
{
    v ^= v >> 5;
    v ^= v << 13;
    v ^= v >> 17;
    return v;
}

// The head model looks along its local +Y: turning it by minus the heading
// (an angle measured from +Y towards +X) points that axis along the heading.
void turnHead(World& world, const FlyingEnemy& enemy)
{
    if (Transform* head = componentOf<Transform>(world, enemy.head))
        head->rotation = Quaternion::fromEulerAngles(0.0f, 0.0f, -enemy.heading);
}

// The first entity in slot order with an enabled PlayerMovement.
EntityHandle findPlayer(World& world)
{
    for (u64 i = 0; i < world.getSlotCount(); ++i) {
        if (world.getState(i) != quern::entity::EntityState::Free
            && world.getEnabledMask(i).test(PlayerMovement::kType))
            return entityAt(world, i);
    }
    return {};
}

bool aim(Coroutine& coroutine, World& world, FlyingEnemy& enemy);

bool countDown(Coroutine& coroutine, World& world, FlyingEnemy& enemy)
{
    HeadLocals& locals = coroutine.localsAs<HeadLocals>();
    const i32 left = locals.count;
    locals.count = left - 1;
    if (left != 0) {
        coroutine.resumePoint = kSweep;
        return true;
    }
    return aim(coroutine, world, enemy);
}

bool scan(Coroutine& coroutine, World& world, FlyingEnemy& enemy)
{
    HeadLocals& locals = coroutine.localsAs<HeadLocals>();
    if (FlyingEnemy::isPlayerInRange(locals.enemy, locals.player, world))
        return aim(coroutine, world, enemy);
    locals.turnStep = kTurnStep;
    const u32 x = nextRandom(locals.random);
    locals.count = kShortestSweep + static_cast<i32>((2u * x) % 32u);
    locals.random = nextRandom(x);
    return countDown(coroutine, world, enemy);
}

bool sweep(Coroutine& coroutine, World& world, FlyingEnemy& enemy)
{
    HeadLocals& locals = coroutine.localsAs<HeadLocals>();
    if (FlyingEnemy::isPlayerInRange(locals.enemy, locals.player, world))
        return aim(coroutine, world, enemy);
    enemy.heading += locals.turnStep;
    turnHead(world, enemy);
    return countDown(coroutine, world, enemy);
}

bool aim(Coroutine& coroutine, World& world, FlyingEnemy& enemy)
{
    const HeadLocals& locals = coroutine.localsAs<HeadLocals>();
    Vector3 player;
    Vector3 self;
    if (!FlyingEnemy::isPlayerInRange(locals.enemy, locals.player, world)
        || !worldPositionOf(world, locals.player, player) || !worldPositionOf(world, locals.enemy, self)) {
        coroutine.wait = kLostSightWait;
        coroutine.resumePoint = kScan;
        return true;
    }
    enemy.heading = std::atan2(player.x - self.x, player.y - self.y);
    turnHead(world, enemy);
    coroutine.resumePoint = kAim;
    return true;
}

bool runHead(void*, Coroutine& coroutine, World& world, AppContext&)
{
    HeadLocals& locals = coroutine.localsAs<HeadLocals>();
    FlyingEnemy* enemy = validComponentOf<FlyingEnemy>(world, locals.enemy);
    if (!enemy) {
        QUERN_LOG(3) << "Entity is dead. Abort coroutine." << std::endl;
        return endCoroutine(coroutine);
    }
    switch (coroutine.resumePoint) {
    case kStart:
        locals.random = locals.enemy.index();
        locals.player = findPlayer(world);
        turnHead(world, *enemy);
        return scan(coroutine, world, *enemy);
    case kSweep:
        return sweep(coroutine, world, *enemy);
    case kAim:
        return aim(coroutine, world, *enemy);
    case kScan:
        return scan(coroutine, world, *enemy);
    default:
        return endCoroutine(coroutine);
    }
}

void placeOnPath(World& world, EntityHandle entity, Vec2f point)
{
    if (Transform* transform = componentOf<Transform>(world, entity))
        Transform::setWorldPosition(*transform, Vector3 { point.x, point.y, 0.0f }, world);
}

} // namespace

void FlyingEnemy::start(EntityHandle enemy, World& world, CoroutineSystem& coroutines)
{
    FlyingEnemy* record = componentOf<FlyingEnemy>(world, enemy);
    if (!record)
        return;
    placeOnPath(world, enemy, record->path[0]);
    // A path without length cannot be travelled: the enemy stays put rather
    // than moving by an infinite or undefined fraction.
    record->speed = record->pathLength > 0.0f ? record->speed / record->pathLength : 0.0f;
    startHead(enemy, coroutines);
}

void FlyingEnemy::followPath(EntityHandle enemy, World& world)
{
    FlyingEnemy* record = componentOf<FlyingEnemy>(world, enemy);
    if (!record)
        return;
    f32 t = record->pathPosition + record->speed * world.deltaTime;
    if (t >= 1.0f || !(t > 0.0f)) {
        if (record->wrap) {
            if (t > 1.0f)
                t -= 1.0f;
            else if (t < 0.0f)
                t += 1.0f;
        } else {
            t = clampUnit(t);
            record->speed = -record->speed;
        }
    }
    // A speed of more than one path per tick carries t past either end even
    // after the wrap; the enemy then waits at that end of the path.
    record->pathPosition = clampUnit(t);
    placeOnPath(world, enemy, samplePath(*record, record->pathPosition));
}

Vec2f FlyingEnemy::samplePath(const FlyingEnemy& enemy, f32 t)
{
    const f32 s = static_cast<f32>(kLastPoint) * clampUnit(t);
    const f32 below = std::floor(s);
    const u64 i0 = static_cast<u64>(below);
    const u64 i1 = static_cast<u64>(std::ceil(s));
    const f32 f = s - below;
    const Vec2f a = enemy.path[i0];
    const Vec2f b = enemy.path[i1];
    return { a.x * (1.0f - f) + b.x * f, a.y * (1.0f - f) + b.y * f };
}

bool FlyingEnemy::isPlayerInRange(EntityHandle enemy, EntityHandle player, World& world)
{
    const FlyingEnemy* record = componentOf<FlyingEnemy>(world, enemy);
    const Race* playerRace = validComponentOf<Race>(world, player);
    if (!record || !playerRace)
        return false;
    const Race* ownRace = componentOf<Race>(world, record->raceEntity);
    if (!ownRace || !racesOppose(playerRace->value, ownRace->value))
        return false;
    Vector3 p;
    Vector3 e;
    if (!worldPositionOf(world, player, p) || !worldPositionOf(world, enemy, e))
        return false;
    const Vector3 d = p - e;
    return record->detectionRadius * record->detectionRadius > d.x * d.x + d.y * d.y + d.z * d.z;
}

bool FlyingEnemy::hasHead(EntityHandle enemy, CoroutineSystem& coroutines)
{
    quern::containers::Array& list = coroutines.fixedTickList();
    for (u64 i = 0; i < list.count(); ++i) {
        Coroutine& coroutine = list.at<Coroutine>(i);
        if (coroutine.callback == &runHead && coroutine.status != CoroutineStatus::Finished
            && coroutine.localsAs<HeadLocals>().enemy == enemy)
            return true;
    }
    return false;
}

void FlyingEnemy::startHead(EntityHandle enemy, CoroutineSystem& coroutines)
{
    if (hasHead(enemy, coroutines))
        return;
    HeadLocals locals {};
    locals.enemy = enemy;
    coroutines.start(&runHead, nullptr, locals);
}

} // namespace harmonize
