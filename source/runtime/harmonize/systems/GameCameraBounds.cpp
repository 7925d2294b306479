// The game camera's view and projection, and the clamp rectangle they give:
// where the follow camera may go so that the rendered view stays inside the
// level bounds on the ground plane.
#include "harmonize/systems/GameCameraSystem.h"

#include "harmonize/systems/AppContext.h"
#include "harmonize/systems/EntityScenePass.h"
#include "harmonize/systems/RenderSystem.h"

#include "quern/entity/World.h"
#include "quern/math/Ray.h"

#include <algorithm>
#include <cmath>

namespace harmonize {

using quern::i64;
using quern::u64;
using quern::entity::World;
using quern::math::Matrix4;
using quern::math::Ray;
using quern::math::Vector3;

void GameCameraSystem::computeViewProjection(
    Matrix4& view, Matrix4& projection, const GameCameraRig* rig, World& world)
{
    const auto* rigs = static_cast<const quern::u8*>(world.getComponent(0, GameCameraRig::kType));
    const u64 index = static_cast<u64>(reinterpret_cast<const quern::u8*>(rig) - rigs) / sizeof(GameCameraRig);
    const auto& lens = *static_cast<const CameraLens*>(world.getComponent(index, CameraLens::kType));
    const Transform& transform = transformAt(world, index);

    const f32 f = 1.0f / std::tan(lens.fieldOfView * 3.1415927f * (1.0f / 180.0f) * 0.5f);
    const f32 depth = lens.farPlane - lens.nearPlane;
    projection = Matrix4 {};
    projection.m[0] = 0.5625f * f; // the frame is always drawn 16:9
    projection.m[5] = f;
    projection.m[10] = (lens.farPlane + lens.nearPlane) / depth;
    projection.m[11] = -1.0f;
    projection.m[14] = 2.0f * lens.nearPlane * lens.farPlane / depth;
    projection.m[15] = 0.0f;

    Matrix4 m;
    const i64 parent = parentIndexOf(transform, world);
    if (parent >= 0)
        Transform::accumulateWorldMatrix(transformAt(world, static_cast<u64>(parent)), m, EntityHandle {}, world);
    // Level cameras look along their +Z: the flipped Z turns that into the
    // view's -Z.
    Transform flipped = transform;
    flipped.scale.z = -flipped.scale.z;
    view = m * localMatrix(flipped);
    invertInPlace(view);
}

void GameCameraSystem::computeBounds(GameCameraRig& rig, World& world, FrameSizeF frame, const ViewportRect& viewport)
{
    if (static_cast<i64>(viewport.width) * viewport.height < 1)
        return;
    Matrix4 view;
    Matrix4 projection;
    computeViewProjection(view, projection, &rig, world);
    const f32 vx = static_cast<f32>(viewport.x);
    const f32 vy = static_cast<f32>(viewport.y);
    const f32 vw = static_cast<f32>(viewport.width);
    const f32 vh = static_cast<f32>(viewport.height);
    const auto groundAt = [&](f32 sx, f32 sy) {
        const Ray ray = Ray::fromScreenPoint(vx + sx, vy + vh - frame.height + sy, view, projection, vw, vh);
        return intersectGroundPlane(ray.origin, ray.direction);
    };
    const Vector3 topLeft = groundAt(0.0f, 0.0f);
    const Vector3 bottomRight = groundAt(frame.width, frame.height);
    const Vector3 centre = groundAt(frame.width * 0.5f, frame.height * 0.5f);

    const f32 x1 = (centre.x - topLeft.x) + rig.boundsLeft + rig.offsetX;
    const f32 x2 = rig.boundsRight - (bottomRight.x - centre.x) + rig.offsetX;
    const f32 y1 = rig.boundsBottom - (centre.y - topLeft.y) + rig.offsetY;
    const f32 y2 = (bottomRight.y - centre.y) + rig.boundsTop + rig.offsetY;
    // A level narrower than the view gives limits that cross: the range lies
    // between them.
    rig.clampMinX = std::min(x1, x2);
    rig.clampMinY = std::min(y1, y2);
    rig.clampMaxX = std::max(x1, x2);
    rig.clampMaxY = std::max(y1, y2);
}

void GameCameraSystem::refreshBounds(World& world)
{
    const FrameSizeF frame = computeFrameSize();
    ViewportRect viewport {};
    if (const EntityScenePass* pass = m_context->render ? m_context->render->pass(0) : nullptr)
        viewport = { pass->viewport[0], pass->viewport[1], pass->viewport[2], pass->viewport[3] };
    if (static_cast<i64>(viewport.width) * viewport.height < 1)
        viewport = { 0, 0, static_cast<quern::i32>(frame.width), static_cast<quern::i32>(frame.height) };
    computeBounds(*m_state.rig, world, frame, viewport);
}

} // namespace harmonize
