// The cluster's landing wobble and the debug drawing of the snap path: the
// parts of the cluster rules that reach into other systems.
#include "harmonize/extensions/SnapboxClusterExt.h"

#include "harmonize/systems/AppContext.h"
#include "harmonize/systems/CoroutineSystem.h"
#include "harmonize/systems/GizmoLineSystem.h"
#include "harmonize/systems/SoundSystem.h"

#include "quern/entity/World.h"

#include <cmath>

namespace harmonize {

using quern::entity::World;
using quern::math::Matrix3;
using quern::math::Vector3;

namespace {

constexpr i32 kWobbling = 232;
constexpr f32 kWobbleRate = 1.6666666f; // the wobble lasts 0.6 s

struct WobbleLocals {
    Vec2f savedPosition;
    Vec2f direction;
    f32 progress;
    f32 startTime;
    f32 offset;
    u32 cluster;
    u32 player;
};

f32 worldSeconds(const World& world) { return static_cast<f32>(static_cast<f64>(world.currentTime) / 1'000'000.0); }

// The axis direction of the target's own axes that points most nearly from
// the player's head to the target, so that the target swings away from the
// player whichever way the cluster is turned.
Vec2f wobbleDirection(World& world, const Transform& target, EntityHandle player)
{
    Vector3 away;
    if (const Transform* body = validComponentOf<Transform>(world, player))
        away = (worldPositionOf(world, target) - (worldPositionOf(world, *body) + worldUpAxisOf(world, *body)))
                   .normalized();
    const Matrix3 r = worldRotationOf(world, target).toMatrix3();
    // Into the target's axes: the transpose of its rotation.
    const Vec2f local = normalize({ r.m[0] * away.x + r.m[1] * away.y + r.m[2] * away.z,
        r.m[3] * away.x + r.m[4] * away.y + r.m[5] * away.z });
    constexpr Vec2f kAxes[4] = { { 0.0f, 1.0f }, { 1.0f, 0.0f }, { 0.0f, -1.0f }, { -1.0f, 0.0f } };
    Vec2f best = kAxes[0];
    for (const Vec2f& axis : kAxes)
        if (dot(axis, local) > dot(best, local))
            best = axis;
    return best;
}

void startWobble(World& world, AppContext& context, WobbleLocals& locals, SnapboxCluster& cluster, Transform& target)
{
    cluster.wobbling = 1;
    if (context.sound) {
        SoundRequest& request = context.sound->playSound(cluster.wobbleSound);
        if (const Transform* at = componentOf<Transform>(world, EntityHandle { locals.cluster }))
            request.position = worldPositionOf(world, *at);
        request.positional = 1;
    }
    locals.direction = wobbleDirection(world, target, EntityHandle { locals.player });
    locals.progress = 0.0f;
    locals.startTime = worldSeconds(world);
    locals.savedPosition = planeOf(target.position);
}

bool wobbleStep(void*, Coroutine& coroutine, World& world, AppContext& context)
{
    WobbleLocals& locals = coroutine.localsAs<WobbleLocals>();
    const EntityHandle handle { locals.cluster };
    SnapboxCluster* cluster = isActiveEntity(world, handle) ? componentOf<SnapboxCluster>(world, handle) : nullptr;
    Transform* target = cluster ? validComponentOf<Transform>(world, cluster->wobbleTarget) : nullptr;
    if (!target) {
        return endCoroutine(coroutine);
    }
    if (coroutine.resumePoint == 0) {
        if (cluster->wobbling) {
            return endCoroutine(coroutine);
        }
        startWobble(world, context, locals, *cluster, *target);
    } else if (coroutine.resumePoint == kWobbling) {
        locals.progress = (worldSeconds(world) - locals.startTime) * kWobbleRate;
        if (locals.progress >= 1.0f) {
            target->position = { locals.savedPosition.x, locals.savedPosition.y, 0.0f };
            cluster->wobbling = 0;
            return endCoroutine(coroutine);
        }
    } else {
        return endCoroutine(coroutine);
    }
    const f32 p = locals.progress;
    const f32 a = (1.0f - std::log10(p * 9.0f + 1.0f)) * std::sin(p * 6.2831855f * 3.0f) * 0.8f;
    locals.offset = a;
    const Vec2f at = locals.savedPosition + locals.direction * a;
    target->position = { at.x, at.y, 0.0f };
    coroutine.resumePoint = kWobbling;
    coroutine.wait = 0.0f;
    return true;
}

Vector3 inPlane(Vec2f v) { return { v.x, v.y, 0.0f }; }

} // namespace

void startClusterWobble(CoroutineSystem& coroutines, EntityHandle cluster, EntityHandle player)
{
    WobbleLocals locals {};
    locals.cluster = cluster.value;
    locals.player = player.value;
    coroutines.start(wobbleStep, nullptr, locals);
}

void drawSnapGizmos(GizmoLineSystem& lines, World& world, const PlayerView& player)
{
    const PlayerMovement& movement = *player.movement;
    const Vec2f p0 = movement.snapPath[0];
    const Vec2f p2 = movement.snapPath[3];
    const Vec2f p1 = movement.snapPath[6];
    Vec2f from = p0;
    for (int step = 1; step <= 20; ++step) {
        const Vec2f to = pointOnQuadratic(p0, p1, p2, static_cast<f32>(step) * 0.05f);
        lines.addLine(inPlane(from), inPlane(to), 7);
        from = to;
    }
    lines.addLine(inPlane(p0), inPlane(p0 + movement.snapPath[1]), 1);
    lines.addLine(inPlane(p0), inPlane(p0 + movement.snapPath[2]), 2);
    lines.addLine(inPlane(p2), inPlane(p2 + movement.snapPath[4]), 1);
    lines.addLine(inPlane(p2), inPlane(p2 + movement.snapPath[5]), 8);

    const Vector3 at = worldPositionOf(world, *player.transform);
    const Matrix3 r = worldRotationOf(world, *player.transform).toMatrix3();
    lines.addLine(at, at + Vector3 { r.m[3], r.m[4], r.m[5] } * 10.0f, 2);
    lines.addLine(at, at + Vector3 { r.m[0], r.m[1], r.m[2] } * 10.0f, 1);
}

} // namespace harmonize
