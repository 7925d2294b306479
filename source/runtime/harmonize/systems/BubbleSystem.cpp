#include "harmonize/systems/BubbleSystem.h"

#include "harmonize/components/Components.h"
#include "harmonize/extensions/PlayerView.h"
#include "harmonize/systems/AppContext.h"
#include "harmonize/systems/CoroutineSystem.h"
#include "harmonize/systems/RenderSystem.h"
#include "harmonize/utils/MathUtils.h"

#include "quern/entity/World.h"

namespace harmonize {

using quern::entity::EntityState;
using quern::entity::World;
using quern::math::Vector3;

namespace {

// Resume points of the bubble coroutine.
constexpr i32 kOpening = 128;
constexpr i32 kDisplaying = 139;
constexpr i32 kClosing = 157;

// Bubbles are drawn after the post effects, over the level.
constexpr u8 kOverlayPass = 1;

// The bubble body sits this far below its anchor.
constexpr f32 kAnchorDrop = 16.0f;

struct BubbleLocals {
    EntityHandle bubble;
    Vector3 scale; // the open scale while opening, the starting scale while closing
    f32 elapsed;
    u8 opening;
    u8 stayOpen;
};

// Level data names bodies and anchors by index alone.
Transform* transformOfIndex(World& world, EntityHandle entity)
{
    return entity.index() < world.getSlotCount() ? &transformAt(world, entity.index()) : nullptr;
}

Vector3 speakerTarget(World& world, const SpeechBubble& record)
{
    return worldPositionOf(world, transformAt(world, record.speakerEntity.index())) + record.speakerOffset;
}

void follow(World& world, u64 slot, f32 step)
{
    const EntityHandle entity = EntityHandle::make(static_cast<u16>(slot), world.getGeneration(slot));
    auto* record = componentOf<SpeechBubble>(world, entity);
    Transform* root = componentOf<Transform>(world, entity);
    Transform* body = transformOfIndex(world, record->bodyEntity);
    if (!root || !body)
        return;
    if (record->anchored != 0) {
        if (const Transform* anchor = transformOfIndex(world, record->anchorEntity)) {
            Transform::setWorldPosition(*body, worldPositionOf(world, *anchor), world);
            body->position.y -= kAnchorDrop;
        }
    } else if (isActiveEntity(world, record->speakerEntity)) {
        const Vector3 target = speakerTarget(world, *record);
        // A popping bubble stays on its speaker; it lags only once fully open.
        if (root->scale.x != 1.0f)
            record->currentPosition = target;
        Vector3& current = record->currentPosition;
        current.x = DampedApproach(current.x, target.x, record->velocity.x, record->smoothTime, step);
        current.y = DampedApproach(current.y, target.y, record->velocity.y, record->smoothTime, step);
        // Depth does not lag: the body keeps its own depth beside the speaker.
        current.z = target.z;
        body->position = (current - target) + record->bodyOffset;
        Transform::setWorldPosition(*root, target, world);
    }
    if (Line* tail = componentOf<Line>(world, entity)) {
        tail->start = worldPositionOf(world, *root);
        tail->end = worldPositionOf(world, *body);
    }
}

// Opened: full scale, then the display time unless it stays open.
bool opened(Coroutine& coroutine, BubbleLocals& locals, Transform& root, const SpeechBubble& record)
{
    root.scale = locals.scale;
    if (locals.stayOpen != 0)
        return endCoroutine(coroutine);
    coroutine.resumePoint = kDisplaying;
    coroutine.wait = record.displayTime;
    return true;
}

bool opening(Coroutine& coroutine, BubbleLocals& locals, Transform& root, const SpeechBubble& record)
{
    if (locals.elapsed >= record.openDuration)
        return opened(coroutine, locals, root, record);
    root.scale = locals.scale * (locals.elapsed / record.openDuration);
    coroutine.resumePoint = kOpening;
    coroutine.wait = 0.0f;
    return true;
}

bool closed(Coroutine& coroutine, Transform& root, World& world)
{
    root.scale = Vector3 {};
    Transform::destroySubtree(root, world);
    return endCoroutine(coroutine);
}

bool closing(Coroutine& coroutine, BubbleLocals& locals, Transform& root, const SpeechBubble& record, World& world)
{
    if (locals.elapsed >= record.closeDuration)
        return closed(coroutine, root, world);
    root.scale = locals.scale + (Vector3 {} - locals.scale) * (locals.elapsed / record.closeDuration);
    coroutine.resumePoint = kClosing;
    coroutine.wait = 0.0f;
    return true;
}

void startOpening(World& world, BubbleLocals& locals, Transform& root, SpeechBubble& record)
{
    const Vector3 target = speakerTarget(world, record);
    Transform::setWorldPosition(root, target, world);
    if (Transform* body = transformOfIndex(world, record.bodyEntity))
        body->position = record.bodyOffset;
    // The lag starts from where the bubble now stands, not from the origin.
    record.currentPosition = target;
    locals.scale = Vector3 { record.openScale, record.openScale, record.openScale };
    locals.elapsed = 0.0f;
}

bool startClosing(Coroutine& coroutine, BubbleLocals& locals, Transform& root, const SpeechBubble& record, World& world)
{
    if (locals.stayOpen != 0)
        return endCoroutine(coroutine);
    locals.elapsed = 0.0f;
    if (!(record.closeDuration > 0.0f))
        return closed(coroutine, root, world);
    // Shrinks from the size it has, whatever its open scale or a pop not yet
    // finished.
    locals.scale = root.scale;
    return closing(coroutine, locals, root, record, world);
}

bool runBubble(void*, Coroutine& coroutine, World& world, AppContext&)
{
    BubbleLocals& locals = coroutine.localsAs<BubbleLocals>();
    if (!isActiveEntity(world, locals.bubble))
        return endCoroutine(coroutine);
    auto* record = componentOf<SpeechBubble>(world, locals.bubble);
    Transform* root = componentOf<Transform>(world, locals.bubble);
    if (!record || !root || !isActiveEntity(world, record->speakerEntity))
        return endCoroutine(coroutine);
    const f32 step = world.deltaTime;
    switch (coroutine.resumePoint) {
    case 0:
        if (locals.opening == 0)
            return startClosing(coroutine, locals, *root, *record, world);
        startOpening(world, locals, *root, *record);
        if (!(record->openDuration > 0.0f))
            return opened(coroutine, locals, *root, *record);
        root->scale = Vector3 {};
        return opening(coroutine, locals, *root, *record);
    case kOpening:
        locals.elapsed += step;
        return opening(coroutine, locals, *root, *record);
    case kDisplaying:
        return startClosing(coroutine, locals, *root, *record, world);
    case kClosing:
        locals.elapsed += step;
        return closing(coroutine, locals, *root, *record, world);
    default:
        return endCoroutine(coroutine);
    }
}

} // namespace

BubbleSystem::BubbleSystem(AppContext& context)
    : m_context(&context)
{
}

void BubbleSystem::fixedTick(quern::entity::UpdateContext*, World& world)
{
    if (m_context->paused)
        return;
    const f32 step = world.deltaTime;
    // A freed slot keeps its enabled mask; only its component mask is cleared.
    for (u64 slot = 0; slot < world.getSlotCount(); ++slot) {
        if (world.getState(slot) != EntityState::Free && world.getEnabledMask(slot).test(SpeechBubble::kType)
            && world.getComponentMask(slot).test(SpeechBubble::kType))
            follow(world, slot, step);
    }
}

void BubbleSystem::openBubble(bool stayOpen, EntityHandle bubble, World& world)
{
    if (m_context->render && isValidEntity(world, bubble))
        m_context->render->setVisibleRecursive(bubble.index(), kOverlayPass, world);
    if (m_context->coroutine)
        m_context->coroutine->start(
            runBubble, this, BubbleLocals { bubble, {}, 0.0f, 1, stayOpen ? u8 { 1 } : u8 { 0 } });
}

void BubbleSystem::closeBubble(EntityHandle bubble)
{
    if (m_context->coroutine)
        m_context->coroutine->start(runBubble, this, BubbleLocals { bubble, {}, 0.0f, 0, 0 });
}

} // namespace harmonize
