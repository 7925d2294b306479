#include "harmonize/systems/CollectibleSystem.h"

#include "harmonize/Settings.h"
#include "harmonize/extensions/PlayerView.h"
#include "harmonize/extensions/Prefabs.h"
#include "harmonize/hud/OverlayBatch.h"
#include "harmonize/levels/LevelList.h"
#include "harmonize/systems/AppContext.h"
#include "harmonize/systems/GameCameraSystem.h"
#include "harmonize/systems/RenderSystem.h"
#include "harmonize/systems/TransformHierarchySystem.h"

#include "quern/entity/World.h"
#include "quern/graphics/PixelBuffer.h"
#include "quern/graphics/Texture.h"
#include "quern/math/Ray.h"
#include "quern/platform/AssertDebug.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/scene/Camera.h"
#include "quern/strings/Format.h"

namespace harmonize {

using quern::entity::World;
using quern::math::Matrix4;
using quern::math::Quaternion;
using quern::math::Ray;
using quern::math::Vector3;

namespace {

constexpr f32 kSlotMargin = 20.0f;

f32 depthPlaneOf(const Matrix4& view)
{
    return view.m[14] - CollectibleSystem::kDepthPlaneDistance * view.m[10];
}

// The entity whose component of type `Record` is `record`; 0 when the record
// does not lie in the world's store of that type.
template <class Record> EntityHandle entityOfRecord(World& world, const Record& record)
{
    const auto* first = static_cast<const quern::u8*>(world.getComponent(0, Record::kType));
    const auto* at = reinterpret_cast<const quern::u8*>(&record);
    if (at < first)
        return {};
    const u64 offset = static_cast<u64>(at - first);
    const u64 index = offset / sizeof(Record);
    if (offset % sizeof(Record) != 0 || index >= world.getSlotCount())
        return {};
    return entityAt(world, index);
}

} // namespace

CollectibleSystem::CollectibleSystem(AppContext& context)
    : m_context(&context)
{
}

void CollectibleSystem::attach(quern::memory::Allocator*)
{
    m_collectedListCount = 0;
    m_iconCount = 0;
    // Tweens point into their own records and at the icons: reserved once,
    // never grown.
    m_tweens.reserve(kTweenCapacity);
}

void CollectibleSystem::detach(quern::memory::Allocator*) { m_tweens.release(); }

void CollectibleSystem::worldStarted(World& world, quern::memory::Allocator*)
{
    m_collectedCount = Settings::Development.moneyStart;
    m_collectiblesInWorld = 0;
    acquireCounterTexture();
    moveCollectiblesToWorldSpace(world);
}

void CollectibleSystem::acquireCounterTexture()
{
    OverlayBatch* overlay = m_context->overlay;
    if (!overlay)
        return;
    const LevelList* levels = m_context->services.levelList;
    m_counterTextureId = levels ? levels->globalAssetId(LevelList::kGlobalAssetOffsets[2]) : 0;
    // A game whose level list names no counter texture plays without the
    // counter on the screen; one it names must be there.
    m_counterTexture = 0;
    m_iconSize[0] = m_iconSize[1] = 0.0f;
    if (m_counterTextureId == 0)
        return;
    m_counterTexture = overlay->acquireTexture(m_counterTextureId);
    const quern::graphics::Texture* texture = overlay->cachedTexture(m_counterTexture);
    // Anything but a texture here is a level list that names some other asset.
    if (!texture || !texture->pixelBuffer())
        QUERN_FATAL("Unreachable code hit");
    m_iconSize[0] = static_cast<f32>(texture->pixelBuffer()->format().width);
    m_iconSize[1] = static_cast<f32>(texture->pixelBuffer()->format().height);
}

void CollectibleSystem::moveCollectiblesToWorldSpace(World& world)
{
    u64 count = 0;
    for (u64 i = 0; i < world.getSlotCount(); ++i)
        if (world.getGeneration(i) != 0 && world.getEnabledMask(i).test(Collectible::kType))
            ++count;
    // The counter has a slot, and the tweens records, for so many and no more.
    if (count > kMaxIcons)
        QUERN_FATAL(quern::strings::format<128>("The level holds %llu collectibles; the counter has room for %llu",
            static_cast<unsigned long long>(count), static_cast<unsigned long long>(kMaxIcons)));
    m_collectiblesInWorld = count;
    bool moved = false;
    for (u64 i = 0; i < world.getSlotCount(); ++i) {
        if (world.getGeneration(i) == 0 || !world.getEnabledMask(i).test(Collectible::kType))
            continue;
        Transform* transform = componentOf<Transform>(world, entityAt(world, i));
        if (!transform)
            continue;
        // Its flights are tweens of its own position: in world space, they
        // go where they are meant to whatever the collectible hung from.
        const Vector3 position = Transform::localToWorld(*transform, Vector3 {}, world);
        Quaternion rotation;
        Transform::accumulateWorldRotation(*transform, rotation, EntityHandle {}, world);
        moved = moved || isSomeEntity(transform->parent);
        transform->position = position;
        transform->rotation = rotation;
        transform->parent = EntityHandle {};
    }
    if (moved && m_context->transformHierarchy)
        m_context->transformHierarchy->rebuildChildLists(world);
}

void CollectibleSystem::slotPosition(u64 n, f32 out[2]) const
{
    u64 before = 0;
    for (u64 i = 0; i < n && i < m_iconCount; ++i)
        if (m_icons[i].state < CollectibleIconState::ToSavePoint)
            ++before;
    out[0] = m_iconSize[0] * 0.5f + kSlotMargin + m_iconSize[0] * static_cast<f32>(before);
    out[1] = m_iconSize[1] * 0.5f + kSlotMargin;
}

f32 CollectibleSystem::renderDepthPlane()
{
    RenderSystem* render = m_context->render;
    if (!render || !render->currentCamera())
        return depthPlaneOf(Matrix4 {});
    return depthPlaneOf(render->getCameraViewMatrix());
}

bool CollectibleSystem::hitDepthPlane(
    const f32 slot[2], const Matrix4& view, const Matrix4& projection, f32 depth, Vector3& hit)
{
    const Ray ray = Ray::fromScreenPoint(slot[0], slot[1], view, projection, kScreenWidth, kScreenHeight);
    if (ray.direction.z == 0.0f)
        return false;
    const f32 t = (depth - ray.origin.z) / ray.direction.z;
    if (!(t >= 0.0f))
        return false;
    hit = Vector3 { ray.origin.x + t * ray.direction.x, ray.origin.y + t * ray.direction.y,
        ray.origin.z + t * ray.direction.z };
    return true;
}

void CollectibleSystem::setSubtreeActive(EntityHandle entity, bool active, World& world)
{
    const Transform* transform = componentOf<Transform>(world, entity);
    if (transform && m_context->transformHierarchy) {
        Transform::setSubtreeActive(*transform, active, world, *m_context->transformHierarchy);
        return;
    }
    if (!isValidEntity(world, entity))
        return;
    if (active)
        world.activateEntities(&entity, 1);
    else
        world.deactivateEntity(entity);
}

EntityHandle CollectibleSystem::instantiateAt(EntityHandle prefab, EntityHandle at, World& world)
{
    const Transform* reference = componentOf<Transform>(world, at);
    if (!reference || !isSomeEntity(prefab))
        return {};
    const Transform* clone = instantiatePrefabAt(prefab, *reference, world);
    return clone ? entityOfTransform(world, *clone) : EntityHandle {};
}

Tween& CollectibleSystem::startTween(f32* target, const f32* end, f32 fixedEnd, EaseFunction ease, f32 duration,
    TweenCallback onComplete, void* userData)
{
    Tween* record = nullptr;
    if (m_tweens.count() < m_tweens.capacity()) {
        record = static_cast<Tween*>(m_tweens.expand(m_tweens.count() + 1));
    } else {
        // Full: a finished record is taken again. Growing would move the busy
        // records out from under the pointers into them.
        Tween* tweens = m_tweens.dataAs<Tween>();
        for (u64 i = 0; i < m_tweens.count() && !record; ++i)
            if (!tweens[i].target)
                record = &tweens[i];
    }
    if (!record)
        QUERN_FATAL(quern::strings::format<96>(
            "Collectible tweens exceed their %llu records", static_cast<unsigned long long>(m_tweens.capacity())));
    record->target = target;
    record->fixedEnd = fixedEnd;
    record->end = end ? end : &record->fixedEnd;
    record->ease = ease;
    record->onComplete = onComplete;
    record->userData = userData;
    record->start = 0.0f;
    record->duration = duration;
    record->elapsed = 0.0f;
    return *record;
}

void CollectibleSystem::onCollected(EntityHandle collectible, World& world)
{
    Collectible* record = componentOf<Collectible>(world, collectible);
    if (!record || record->picked != 0)
        return;
    record->picked = 1;
    ++m_collectedCount;
    if (m_collectedListCount < kMaxCollected)
        m_collected[m_collectedListCount++] = collectible;
    instantiateAt(record->pickupEffect, collectible, world);
    Transform* transform = componentOf<Transform>(world, collectible);
    // World start refuses levels with more collectibles than icons; one that
    // comes later still counts, and leaves the level at once.
    if (m_iconCount == kMaxIcons || !transform) {
        setSubtreeActive(collectible, false, world);
        return;
    }
    const u64 index = m_iconCount++;
    CollectibleIcon& icon = m_icons[index];
    icon = CollectibleIcon {};
    icon.collectible = collectible;
    icon.scale = 1.0f;
    icon.state = CollectibleIconState::ToCounter;
    icon.callback = CollectibleIconCallback { this, &world, &icon };
    // The slot is known now: the flight heads for the point behind it from
    // the first tick, not for the screen's corner.
    slotPosition(index, icon.slot);

    const f32 depth = renderDepthPlane();
    startTween(&transform->position.x, &icon.target[0], 0.0f, easeLinear, kFlightSeconds, arriveAtCounter,
        &icon.callback);
    startTween(&transform->position.y, &icon.target[1], 0.0f, easeLinear, kFlightSeconds);
    startTween(&transform->position.z, nullptr, depth, easeLinear, kFlightSeconds);
}

void CollectibleSystem::arriveAtCounter(void*, void* userData)
{
    const CollectibleIconCallback& callback = *static_cast<CollectibleIconCallback*>(userData);
    CollectibleSystem& self = *callback.system;
    CollectibleIcon& icon = *callback.icon;
    World& world = *callback.world;
    if (icon.state != CollectibleIconState::ToCounter)
        return;
    icon.state = CollectibleIconState::InCounter;
    self.slotPosition(static_cast<u64>(&icon - self.m_icons), icon.slot);
    if (const Collectible* record = componentOf<Collectible>(world, icon.collectible))
        icon.counterIcon = self.instantiateAt(record->counterIcon, icon.collectible, world);
    self.setSubtreeActive(icon.collectible, false, world);
    icon.scale = 0.0f;
    self.startTween(&icon.scale, nullptr, 1.0f, easeElasticOut, kFlightSeconds);
}

void CollectibleSystem::payAtSavePoint(const SavePointTrigger& savePoint, World& world)
{
    // Nothing in hand, nothing to pay: the counter never goes below zero.
    if (m_collectedCount <= 0)
        return;
    --m_collectedCount;
    CollectibleIcon* icon = nullptr;
    for (u64 i = m_iconCount; i-- > 0 && !icon;)
        if (m_icons[i].state <= CollectibleIconState::InCounter)
            icon = &m_icons[i];
    // Start money has no icon: it is paid without a flight.
    if (!icon)
        return;
    Transform* transform = componentOf<Transform>(world, icon->collectible);
    if (!transform) {
        icon->state = CollectibleIconState::Spent;
        return;
    }
    if (icon->state == CollectibleIconState::InCounter) {
        // The clone that sat in the counter is replaced by one where the
        // collectible leaves it; left active, it would stay in the level,
        // glued to nothing, once the camera moves on.
        if (isValidEntity(world, icon->counterIcon))
            setSubtreeActive(icon->counterIcon, false, world);
        if (const Collectible* record = componentOf<Collectible>(world, icon->collectible))
            icon->counterIcon = instantiateAt(record->counterIcon, icon->collectible, world);
        setSubtreeActive(icon->collectible, true, world);
        RenderSystem* render = m_context->render;
        if (render && render->currentCamera()) {
            const Matrix4 view = render->getCameraViewMatrix();
            const Matrix4& projection = render->currentCamera()->projectionMatrix();
            Vector3 hit;
            if (hitDepthPlane(icon->slot, view, projection, depthPlaneOf(view), hit))
                transform->position = hit;
        }
    }
    icon->state = CollectibleIconState::ToSavePoint;
    Vector3 destination = transform->position;
    const EntityHandle savePointEntity = entityOfRecord(world, savePoint);
    if (const Transform* at = componentOf<Transform>(world, savePointEntity))
        destination = Transform::localToWorld(*at, Vector3 {}, world);
    icon->target[0] = destination.x;
    icon->target[1] = destination.y;

    startTween(&transform->position.x, nullptr, destination.x, easeBackInOut, kFlightSeconds, arriveAtSavePoint,
        &icon->callback);
    startTween(&transform->position.y, nullptr, destination.y, easeBackInOut, kFlightSeconds);
    startTween(&transform->position.z, nullptr, destination.z, easeLinear, kFlightSeconds);
    icon->scale = 1.0f;
    startTween(&icon->scale, nullptr, 0.0f, easeElasticIn, kShrinkSeconds);
}

void CollectibleSystem::arriveAtSavePoint(void*, void* userData)
{
    const CollectibleIconCallback& callback = *static_cast<CollectibleIconCallback*>(userData);
    CollectibleSystem& self = *callback.system;
    CollectibleIcon& icon = *callback.icon;
    World& world = *callback.world;
    icon.state = CollectibleIconState::Spent;
    if (const Collectible* record = componentOf<Collectible>(world, icon.collectible))
        self.instantiateAt(record->pickupEffect, icon.collectible, world);
    self.setSubtreeActive(icon.collectible, false, world);
    // A spent icon's clone is no longer held at its slot: it goes with it.
    if (isValidEntity(world, icon.counterIcon))
        self.setSubtreeActive(icon.counterIcon, false, world);
}

void CollectibleSystem::fixedTick(quern::entity::UpdateContext*, World& world)
{
    if (m_iconCount == 0 || !m_context->gameCamera)
        return;
    const GameCameraRig* rig = m_context->gameCamera->gameCameraRig();
    if (!rig)
        return;
    Matrix4 view;
    Matrix4 projection;
    GameCameraSystem::computeViewProjection(view, projection, rig, world);
    const f32 depth = depthPlaneOf(view);
    for (u64 i = 0; i < m_iconCount; ++i) {
        CollectibleIcon& icon = m_icons[i];
        if (icon.state == CollectibleIconState::Spent)
            continue;
        Vector3 hit;
        if (hitDepthPlane(icon.slot, view, projection, depth, hit)) {
            icon.target[0] = hit.x;
            icon.target[1] = hit.y;
        }
        if (!isSomeEntity(icon.counterIcon))
            continue;
        Transform* glued = isValidEntity(world, icon.counterIcon) ? componentOf<Transform>(world, icon.counterIcon)
                                                                   : nullptr;
        if (!glued) {
            icon.counterIcon = EntityHandle {};
            continue;
        }
        glued->position.x = icon.target[0];
        glued->position.y = icon.target[1];
    }
}

void CollectibleSystem::update(quern::entity::UpdateContext*, World& world)
{
    OverlayBatch* overlay = m_context->overlay;
    if (overlay && m_counterTexture != 0) {
        for (u64 i = 0; i < m_iconCount; ++i) {
            const CollectibleIcon& icon = m_icons[i];
            if (icon.state != CollectibleIconState::InCounter)
                continue;
            const f32 halfWidth = m_iconSize[0] * icon.scale * 0.5f;
            const f32 halfHeight = m_iconSize[1] * icon.scale * 0.5f;
            overlay->addSprite({ icon.slot[0] - halfWidth, icon.slot[1] - halfHeight, icon.slot[0] + halfWidth,
                                   icon.slot[1] + halfHeight },
                m_counterTexture);
        }
    }
    Tween* tweens = m_tweens.dataAs<Tween>();
    updateTweens(world.deltaTime, tweens, tweens + m_tweens.count());
}

void CollectibleSystem::consumeCollectible()
{
    for (u64 i = m_iconCount; i-- > 0;) {
        if (m_icons[i].state < CollectibleIconState::ToSavePoint) {
            m_icons[i].state = CollectibleIconState::Spent;
            return;
        }
    }
    QUERN_ASSERT(quern::debug::kAssertWarning, false, "No unspent collectibles in inventory");
}

void CollectibleSystem::restoreSnapshot(World& world)
{
    for (u64 i = 0; i < m_collectedListCount; ++i) {
        const EntityHandle collectible = m_collected[i];
        Collectible* record = componentOf<Collectible>(world, collectible);
        if (!record)
            continue;
        record->picked = 1;
        if (world.isActive(collectible))
            world.deactivateEntity(collectible);
        if (!m_context->transformHierarchy)
            continue;
        u64 count = 0;
        const EntityHandle* children = m_context->transformHierarchy->children(collectible.index(), count);
        for (u64 c = 0; c < count; ++c)
            if (const Transform* child = componentOf<Transform>(world, children[c]))
                Transform::setSubtreeActive(*child, false, world, *m_context->transformHierarchy);
    }
}

} // namespace harmonize
