#include "harmonize/components/PlaneMath.h"
#include "harmonize/extensions/ContactRules.h"
#include "harmonize/systems/AppContext.h"
#include "harmonize/systems/SoundSystem.h"

#include "quern/entity/World.h"

namespace harmonize {
namespace {

using quern::entity::World;
using quern::math::Vector3;

// The pad axis, of its four in the plane, that points most towards `towards`;
// the up axis when no axis does better (a player at the pad's centre).
Vec2f padAxisTowards(World& world, const Transform& pad, Vec2f towards)
{
    static constexpr Vec2f kAxes[4] = { { 0.0f, 1.0f }, { -1.0f, 0.0f }, { 0.0f, -1.0f }, { 1.0f, 0.0f } };
    const quern::math::Matrix3 r = worldRotationOf(world, pad).toMatrix3();
    Vec2f best {};
    f32 bestDot = 0.0f;
    for (u64 i = 0; i < 4; ++i) {
        const Vector3 t = r * Vector3 { kAxes[i].x, kAxes[i].y, 1.0f };
        const Vec2f axis { t.x, t.y };
        const f32 d = dot(towards, axis);
        if (i == 0 || d > bestDot) {
            best = axis;
            bestDot = d;
        }
    }
    return best;
}

} // namespace

bool matchPlayerAnd(const PairEvent& pair, World& world, const ComponentMask& mask, EntityHandle& player,
    EntityHandle& other)
{
    const EntityHandle a = currentHandleOf(world, EntityHandle { pair.entityA });
    const EntityHandle b = currentHandleOf(world, EntityHandle { pair.entityB });
    for (const auto& [first, second] : { std::pair { a, b }, std::pair { b, a } }) {
        if (hasComponents(world, first, kPlayerMask) && hasComponents(world, second, mask)) {
            player = first;
            other = second;
            return true;
        }
    }
    return false;
}

bool matchPlayerAndPad(const PairEvent& pair, World& world, PlayerView& player, PadView& pad)
{
    EntityHandle playerEntity;
    EntityHandle padEntity;
    if (!matchPlayerAnd(pair, world, kPushPadMask, playerEntity, padEntity))
        return false;
    player = playerViewAt(world, playerEntity.index());
    pad.entity = padEntity;
    pad.transform = componentOf<Transform>(world, padEntity);
    pad.race = componentOf<Race>(world, padEntity);
    pad.collider = componentOf<Collider>(world, padEntity);
    pad.pad = componentOf<PushPad>(world, padEntity);
    return true;
}

void pushPlayer(World& world, const PlayerView& player, const PadView& pad, SoundSystem* sound)
{
    const PushPad& rule = *pad.pad;
    const Vector3 at = worldPositionOf(world, *pad.transform);
    if (rule.sound != 0 && sound) {
        SoundRequest& request = sound->playSound(rule.sound);
        request.position = at;
        request.positional = 1;
    }
    Vec2f direction;
    if (rule.useUpAxis != 0) {
        const Vector3 up = worldUpAxisOf(world, *pad.transform);
        direction = { up.x, up.y };
    } else {
        const Vector3 offset = worldPositionOf(world, *player.transform) - at;
        direction = padAxisTowards(world, *pad.transform, normalize(Vec2f { offset.x, offset.y }));
    }
    PlayerMovement& movement = *player.movement;
    movement.pushVelocity = direction * rule.pushSpeed;
    movement.pushDecay = rule.airSpeedDivisor;
    // A pad that is also a platform is ground the player stands on, and a
    // ground tick drops any push: this one outlives the first two.
    movement.pushCountdown = enabledComponentOf<Platform>(world, pad.entity) ? 2 : 0;
    movement.velocity = {};
}

void onPushPadContact(const PairEvent& pair, World& world, AppContext& context)
{
    PlayerView player;
    PadView pad;
    if (matchPlayerAndPad(pair, world, player, pad))
        pushPlayer(world, player, pad, context.sound);
}

} // namespace harmonize
