#include "harmonize/systems/GameCameraSystem.h"

#include "harmonize/input/InputActions.h"
#include "harmonize/input/InputSwitcher.h"
#include "harmonize/systems/AppContext.h"
#include "harmonize/systems/GizmoLineSystem.h"
#include "harmonize/tasks/PreloadedResources.h"

#include "quern/animate/KeyframeAnimation.h"
#include "quern/debug/Log.h"
#include "quern/entity/World.h"
#include "quern/render/Gizmos.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace harmonize {

using quern::u64;
using quern::entity::World;
using quern::math::Quaternion;
using quern::math::Vector3;

namespace {

// The lens fields a mix or a blend interpolates; the others come whole from
// one of the cameras.
constexpr f32 CameraLens::* kMixedLensFields[]
    = { &CameraLens::nearPlane, &CameraLens::fieldOfView, &CameraLens::farPlane, &CameraLens::orthographicHalfHeight };

// The camera's transform and lens with its world position; not valid when the
// handle names no entity with both.
CameraPose poseOf(World& world, EntityHandle camera)
{
    CameraPose pose {};
    const Transform* transform = componentOf<Transform>(world, camera);
    const CameraLens* lens = componentOf<CameraLens>(world, camera);
    if (!transform || !lens)
        return pose;
    pose.position = worldPositionOf(world, *transform);
    pose.rotation = transform->rotation;
    pose.scale = transform->scale;
    pose.parent = transform->parent;
    pose.lens = *lens;
    pose.valid = true;
    return pose;
}

f32 lerp(f32 a, f32 b, f32 t) { return a + (b - a) * t; }

CameraPose lerpPose(const CameraPose& from, const CameraPose& to, f32 t)
{
    CameraPose pose = to;
    pose.position = from.position + (to.position - from.position) * t;
    for (f32 CameraLens::*field : kMixedLensFields)
        pose.lens.*field = lerp(from.lens.*field, to.lens.*field, t);
    // Component by component, as the cameras of one level turn little.
    pose.rotation = Quaternion(lerp(from.rotation.x, to.rotation.x, t), lerp(from.rotation.y, to.rotation.y, t),
        lerp(from.rotation.z, to.rotation.z, t), lerp(from.rotation.w, to.rotation.w, t));
    pose.rotation.normalize();
    pose.valid = from.valid && to.valid;
    return pose;
}

u32 nextRandom(u32& state)
{
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

u32 bitsOf(f32 value)
{
    u32 bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// A seed made from the shake's own parameters, so that a replay shakes alike.
u32 shakeSeed(const ShakeParameters& shake)
{
    u32 seed = 0;
    for (f32 value : { shake.duration, shake.amplitude, shake.xAmount, shake.yAmount }) {
        u32 u = bitsOf(value) | 1u;
        u ^= u << 13;
        u ^= u >> 17;
        seed ^= u ^ (u << 5);
    }
    return seed | 1u;
}

void drawBox(GizmoLineSystem& lines, f32 minX, f32 minY, f32 maxX, f32 maxY, quern::i32 colour)
{
    lines.drawRect(0.5f * (minX + maxX), 0.5f * (minY + maxY), 0.5f * (maxX - minX), 0.5f * (maxY - minY), colour);
}

} // namespace

GameCameraSystem::GameCameraSystem(AppContext& context)
    : m_context(&context)
{
}

GameCameraSystem::~GameCameraSystem() = default;

void GameCameraSystem::describe(quern::entity::SystemInfo* info)
{
    System::describe(info);
    info->name = "GameCameraSystem";
}

bool GameCameraSystem::started() const { return m_state.started != 0; }

void GameCameraSystem::setStarted(bool started) { m_state.started = started ? 1 : 0; }

f32 GameCameraSystem::tickStep(const World& world) const
{
    // The fixed step whether the call comes from a tick, a cutscene's frame
    // or a restore.
    return static_cast<f32>(world.clock.step) / 1'000'000.0f * timeScale;
}

bool GameCameraSystem::hasPlayer() const
{
    const PlayerView& player = m_state.player;
    return isSomeEntity(player.entity) && player.transform && player.state && player.movement && player.body
        && player.race && player.collider;
}

bool GameCameraSystem::hasGameCamera() const
{
    return isSomeEntity(m_state.gameCamera) && m_state.lens && m_state.transform && m_state.rig;
}

bool GameCameraSystem::findFollowCamera(World& world, FollowCamera& camera) const
{
    if (!isValidEntity(world, m_state.followCamera))
        return false;
    camera.entity = m_state.followCamera;
    camera.transform = componentOf<Transform>(world, camera.entity);
    camera.follow = componentOf<CameraFollow>(world, camera.entity);
    camera.lens = componentOf<CameraLens>(world, camera.entity);
    return camera.transform && camera.follow && camera.lens;
}

void GameCameraSystem::findEntities(World& world)
{
    for (u64 index = 0; index < world.getSlotCount(); ++index) {
        const quern::u16 generation = world.getGeneration(index);
        if (generation == 0)
            continue;
        const ComponentMask& mask = world.getComponentMask(index);
        const EntityHandle entity = EntityHandle::make(static_cast<quern::u16>(index), generation);
        if (mask.containsAll(kPlayerMask))
            m_state.player = playerViewAt(world, index);
        if (mask.containsAll(kFollowCameraMask))
            m_state.followCamera = entity;
        if (mask.containsAll(kGameCameraMask)) {
            m_state.gameCamera = entity;
            m_state.lens = static_cast<CameraLens*>(world.getComponent(index, CameraLens::kType));
            m_state.transform = &transformAt(world, index);
            m_state.rig = static_cast<GameCameraRig*>(world.getComponent(index, GameCameraRig::kType));
        }
    }
}

void GameCameraSystem::worldStarted(World& world, quern::memory::Allocator*)
{
    m_state = State {};
    m_state.started = 1;
    m_snapshot = m_state;
    m_curveAnimation = nullptr;
    findEntities(world);
    if (!hasGameCamera() || !hasPlayer())
        return;
    FollowCamera follow;
    if (findFollowCamera(world, follow))
        initFollow(follow, world);
    m_state.blendTime = 0.0f;
    m_state.blending = 0;
    m_state.returning = 0;
    applyPose(world);
}

void GameCameraSystem::fixedTick(quern::entity::UpdateContext*, World& world) { step(world); }

void GameCameraSystem::step(World& world)
{
    if (!m_state.started || !hasPlayer() || m_context->paused || !world.isActive(m_state.player.entity))
        return;
    FollowCamera follow;
    if (findFollowCamera(world, follow)) {
        followStep(world, follow);
        moveZoneCameras(world, worldPositionOf(world, *follow.transform));
        clampFollowCamera(world, *follow.transform);
    }
    applyPose(world);
    if (m_state.shaking)
        shakeStep(world);
}

void GameCameraSystem::moveZoneCameras(World& world, const Vector3& followPosition)
{
    for (u64 index = 0; index < world.getSlotCount(); ++index) {
        if (!world.getEnabledMask(index).test(CameraZone::kType))
            continue;
        const auto& zone = *static_cast<const CameraZone*>(world.getComponent(index, CameraZone::kType));
        Transform* camera = zone.cameraFollows ? componentOf<Transform>(world, zone.camera) : nullptr;
        if (!camera)
            continue;
        const Vector3 position = worldPositionOf(world, *camera);
        Transform::setWorldPosition(*camera, { followPosition.x, followPosition.y, position.z }, world);
    }
}

void GameCameraSystem::clampFollowCamera(World& world, Transform& follow)
{
    Vector3 p = worldPositionOf(world, follow);
    if (hasGameCamera()) {
        refreshBounds(world);
        const GameCameraRig& rig = *m_state.rig;
        if (p.x < rig.clampMinX)
            p.x = rig.clampMinX;
        else if (p.x > rig.clampMaxX)
            p.x = rig.clampMaxX;
        if (p.y < rig.clampMinY)
            p.y = rig.clampMinY;
        else if (p.y > rig.clampMaxY)
            p.y = rig.clampMaxY;
    }
    Transform::setWorldPosition(follow, p, world);
    moveAxisFollowers(world, p);
}

void GameCameraSystem::moveAxisFollowers(World& world, const Vector3& clamped)
{
    for (u64 index = 0; index < world.getSlotCount(); ++index) {
        if (!world.getEnabledMask(index).test(FuzzyCameraZone::kType))
            continue;
        const auto& zone = *static_cast<const FuzzyCameraZone*>(world.getComponent(index, FuzzyCameraZone::kType));
        if (!zone.followX && !zone.followY && !zone.followZ)
            continue;
        Transform* camera = componentOf<Transform>(world, zone.camera);
        if (!camera)
            continue;
        Vector3 position = worldPositionOf(world, *camera);
        if (zone.followX)
            position.x = clamped.x;
        if (zone.followY)
            position.y = clamped.y;
        if (zone.followZ)
            position.z = clamped.z;
        Transform::setWorldPosition(*camera, position, world);
    }
}

// Poses and blends ---------------------------------------------------------

CameraPose GameCameraSystem::followPose(World& world)
{
    const CameraPose base
        = isValidEntity(world, m_state.followCamera) ? poseOf(world, m_state.followCamera) : CameraPose {};
    const InputSwitcher* switcher = m_context->services.inputSwitcher;
    if (!base.valid || m_state.zoneCount == 0 || !switcher || switcher->topState() != kInputStateGame)
        return base;
    CameraPose zones[kZoneCapacity];
    const CameraPose* first = nullptr;
    f32 sum = 0.0f;
    f32 largest = 0.0f;
    for (u64 i = 0; i < m_state.zoneCount; ++i) {
        // A zone whose camera lacks a transform or a lens has nothing to add.
        zones[i] = poseOf(world, EntityHandle { m_state.zoneCameras[i] });
        if (!zones[i].valid)
            continue;
        const f32 weight = m_state.zoneWeights[i];
        sum += weight;
        largest = std::max(largest, weight);
        if (!first)
            first = &zones[i];
    }
    if (!(sum > 0.0f))
        return base;
    // The strongest zone says how much the zone cameras take; they share it
    // by weight.
    CameraPose mixed = *first;
    const f32 keep = 1.0f - largest;
    mixed.position = base.position * keep;
    for (f32 CameraLens::*field : kMixedLensFields)
        mixed.lens.*field = base.lens.*field * keep;
    for (u64 i = 0; i < m_state.zoneCount; ++i) {
        if (!zones[i].valid)
            continue;
        const f32 share = largest * m_state.zoneWeights[i] / sum;
        mixed.position += zones[i].position * share;
        for (f32 CameraLens::*field : kMixedLensFields)
            mixed.lens.*field += zones[i].lens.*field * share;
    }
    return mixed;
}

f32 GameCameraSystem::curveProgress(f32 t) const
{
    if (!m_curveAnimation || t == 0.0f || t == 1.0f || m_curveAnimation->tracks.count() == 0)
        return t;
    // A fresh cursor each time: the progress may run backwards after a restore.
    quern::animate::KeyframeCursor cursor = quern::animate::KeyframeCursor::empty();
    f32 value = 0.0f;
    constexpr u32 kNoWrap = 0;
    m_curveAnimation->sampleTracks(t, 0, { &value, 1 }, &cursor, kNoWrap, &quern::animate::interpolateScalar);
    return value > 0.0f ? std::min(value, 1.0f) : 0.0f;
}

CameraPose GameCameraSystem::blendPose(World& world)
{
    const f32 t = m_state.blendTime < m_state.blendDuration ? m_state.blendTime / m_state.blendDuration : 1.0f;
    const EntityHandle target = m_state.blendTarget;
    const CameraPose to = enabledComponentOf<CameraFollow>(world, target) ? followPose(world) : poseOf(world, target);
    return lerpPose(m_state.blendStart, to, ease(curveProgress(t), m_state.blendCurve));
}

CameraPose GameCameraSystem::currentPose(World& world)
{
    return m_state.blending ? blendPose(world) : followPose(world);
}

void GameCameraSystem::applyPose(World& world)
{
    if (m_state.returning && m_state.blendTime >= m_state.blendDuration) {
        m_state.blending = 0;
        m_state.returning = 0;
    }
    if (!isValidEntity(world, m_state.followCamera))
        return;
    m_state.blendTime += tickStep(world);
    const CameraPose pose = currentPose(world);
    // A blend towards an entity that is no camera leaves the game camera where it is.
    if (!pose.valid || !hasGameCamera())
        return;
    Transform& transform = *m_state.transform;
    transform.position = pose.position;
    transform.rotation = pose.rotation;
    transform.scale = pose.scale;
    // The clear colour is the game camera's own.
    constexpr std::size_t kFrom = offsetof(CameraLens, clearMode);
    std::memcpy(reinterpret_cast<quern::u8*>(m_state.lens) + kFrom, reinterpret_cast<const quern::u8*>(&pose.lens) + kFrom,
        sizeof(CameraLens) - kFrom);
    if (!m_state.blending)
        Transform::setWorldPosition(transform, pose.position, world);
}

void GameCameraSystem::startBlend(World& world, EntityHandle camera, f32 duration)
{
    const CameraPose pose = currentPose(world);
    m_state.blendTime = 0.0f;
    m_state.blending = 1;
    m_state.returning = 0;
    m_state.blendTarget = camera;
    m_state.blendStart = pose;
    m_state.blendDuration = duration;
}

void GameCameraSystem::takeCurveOf(World& world, EntityHandle camera)
{
    const CameraCurve* curve = enabledComponentOf<CameraCurve>(world, camera);
    LoadingWorker* worker = m_context->services.loadingWorker;
    const u64 animation = curve ? curve->animation : 0;
    m_curveAnimation = curve && worker ? getPreloadedKeyframeAnimation(*worker, animation) : nullptr;
}

void GameCameraSystem::beginBlend(World& world, EntityHandle camera, f32 duration)
{
    startBlend(world, camera, duration);
    applyPose(world);
}

// The new curve is in place before the first pose of the blend, so that its
// first step is eased like the others; the start pose is taken before, with
// the curve of the blend it interrupts.
void GameCameraSystem::switchToCamera(World& world, EntityHandle camera, f32 duration, u32 curve)
{
    startBlend(world, camera, duration);
    takeCurveOf(world, camera);
    m_state.blendCurve = curve;
    applyPose(world);
}

void GameCameraSystem::switchToMainCamera(World& world, f32 duration, u32 curve)
{
    startBlend(world, m_state.followCamera, duration);
    m_state.returning = 1;
    takeCurveOf(world, m_state.followCamera);
    m_state.blendCurve = curve;
    applyPose(world);
}

// Shake ----------------------------------------------------------------------

void GameCameraSystem::startShake(const ShakeParameters& shake)
{
    m_state.shaking = 1;
    m_state.shakeTime = 0.0f;
    m_state.shake = shake;
    m_state.shakeDuration = shake.duration;
    m_state.shakeRandom = shakeSeed(shake);
}

void GameCameraSystem::shakeStep(World& world)
{
    const f32 duration = m_state.shakeDuration;
    const f32 u = std::min(std::max(m_state.shakeTime, 0.0f), duration);
    // Full strength at the start, fading to nothing at the end.
    const f32 factor = duration == 0.0f ? 1.0f : 2.0f - 2.0f / std::sqrt(4.0f - 3.0f * u * u / (duration * duration));
    const f32 amplitude = factor * m_state.shake.amplitude;
    const auto offset = [&](f32 amount) {
        if (amount == 0.0f)
            return 0.0f;
        const f32 unit = static_cast<f32>(nextRandom(m_state.shakeRandom)) * 2.3283064e-10f;
        return (unit * 2.0f - 1.0f) * amplitude * 0.5f * amount;
    };
    const f32 dx = offset(m_state.shake.xAmount);
    const f32 dy = offset(m_state.shake.yAmount);
    if (hasGameCamera()) {
        m_state.transform->position.x += dx;
        m_state.transform->position.y += dy;
    }
    m_state.shaking = m_state.shakeTime < duration ? 1 : 0;
    m_state.shakeTime += tickStep(world);
}

// Zones ----------------------------------------------------------------------

bool GameCameraSystem::addZone(FuzzyPair pair, u32 camera)
{
    if (m_state.zoneCount == kZoneCapacity) {
        QUERN_LOG(2) << "Camera zone list full: zone " << pair.zone << " adds no camera" << std::endl;
        return false;
    }
    const u64 i = m_state.zoneCount++;
    m_state.zonePairs[i] = pair;
    m_state.zoneWeights[i] = 0.0f;
    m_state.zoneCameras[i] = camera;
    return true;
}

void GameCameraSystem::setZoneWeight(FuzzyPair pair, f32 weight)
{
    for (u64 i = 0; i < m_state.zoneCount; ++i)
        if (m_state.zonePairs[i] == pair)
            m_state.zoneWeights[i] = weight;
}

// Every entry of the pair goes, whatever the zone's component says now: an
// entry left behind would keep its camera in the mix after the player left.
void GameCameraSystem::removeZone(FuzzyPair pair, World&)
{
    u64 kept = 0;
    for (u64 i = 0; i < m_state.zoneCount; ++i) {
        if (m_state.zonePairs[i] == pair)
            continue;
        m_state.zonePairs[kept] = m_state.zonePairs[i];
        m_state.zoneWeights[kept] = m_state.zoneWeights[i];
        m_state.zoneCameras[kept] = m_state.zoneCameras[i];
        ++kept;
    }
    m_state.zoneCount = kept;
}

// Quick save -------------------------------------------------------------------

void GameCameraSystem::saveSnapshot() { m_snapshot = m_state; }

void GameCameraSystem::restoreSnapshot(World& world)
{
    m_state = m_snapshot;
    m_state.blendTime = m_state.blendDuration;
    // Settles the follow camera on the restored player.
    for (int i = 0; i < 200; ++i)
        step(world);
}

// Debug drawing ----------------------------------------------------------------

void GameCameraSystem::update(quern::entity::UpdateContext*, World& world) { drawDebug(world); }

void GameCameraSystem::drawDebug(World& world)
{
    if (!m_state.rig || !m_context->gizmoLines)
        return;
    GizmoLineSystem& lines = *m_context->gizmoLines;
    const GameCameraRig& rig = *m_state.rig;
    using quern::render::Gizmos;
    drawBox(lines, rig.clampMinX, rig.clampMinY, rig.clampMaxX, rig.clampMaxY, Gizmos::Yellow);
    drawBox(lines, rig.boundsLeft, rig.boundsBottom, rig.boundsRight, rig.boundsTop, Gizmos::Red);
    FollowCamera follow;
    if (!findFollowCamera(world, follow))
        return;
    const CameraFollow& r = *follow.follow;
    lines.drawRect(r.focus.x, r.focus.y, r.deadZone.x, r.deadZone.y, Gizmos::Red);
    lines.drawRect(r.focus.x, r.focus.y, r.maxLookOffset.x, r.maxLookOffset.y, Gizmos::Green);
}

} // namespace harmonize
