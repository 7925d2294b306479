#include "harmonize/systems/AnimationSystem.h"

#include "harmonize/PlayerProfile.h"
#include "harmonize/Settings.h"
#include "harmonize/components/Components.h"
#include "harmonize/systems/AppContext.h"
#include "harmonize/systems/RenderSystem.h"
#include "harmonize/systems/SoundSystem.h"
#include "quern/animate/KeyframeAnimation.h"
#include "quern/entity/World.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/platform/Clock.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/render/Gizmos.h"
#include "quern/strings/Hashes.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

namespace harmonize {
namespace {

using quern::animate::KeyframeAnimation;
using quern::animate::KeyframeEvent;
using quern::containers::Array;
using quern::entity::EntityHandle;
using quern::entity::World;

constexpr f32 kTwoTo64 = 18446744073709551616.0f;

u64 nameId(const char* text) { return quern::strings::murmurHash64A(text, std::strlen(text), quern::strings::kInternerSeed); }

u64 nextRandom(u64 state) { return state * 4561u + 51349u; }

// Every array but the frame accumulators lives in the level's allocator; a
// list holding blocks of another allocator is moved first, so each block goes
// back where it came from.
void adopt(Array& list, quern::memory::Allocator* allocator, u64 reserved = 0)
{
    if (list.allocator() != allocator) {
        Array moved(list.elementSize(), list.alignment(), allocator);
        moved.reserve(std::max(list.count(), reserved));
        if (!list.isEmpty())
            moved.assign(list.data(), list.end());
        list = std::move(moved);
    }
    list.reserve(reserved);
}

void copyList(Array& target, const Array& source)
{
    const auto* begin = static_cast<const u8*>(source.data());
    target.assign(begin, begin + source.usedBytes());
}

bool hasEnabled(World& world, u64 index, u8 type) { return world.getEnabledMask(index).test(type); }

} // namespace

u32 toClipWrapMode(i32 unityWrapMode, u32 clipMode)
{
    switch (static_cast<UnityWrapMode>(unityWrapMode)) {
    case UnityWrapMode::Default: return clipMode;
    case UnityWrapMode::Once: return 0;
    case UnityWrapMode::Loop: return quern::animate::kWrapRepeat;
    case UnityWrapMode::PingPong: return quern::animate::kWrapPingPong;
    case UnityWrapMode::ClampForever: return 0;
    }
    QUERN_FATAL_INVALID_ENUM("UnityWrapMode");
}

AnimationSystem::AnimationSystem(AppContext& context)
    : m_context(&context)
    , m_clips(sizeof(AnimationClip), alignof(AnimationClip))
    , m_clipsSnapshot(sizeof(AnimationClip), alignof(AnimationClip))
    , m_slots(sizeof(AnimationTrackSlot), alignof(AnimationTrackSlot))
    , m_slotsSnapshot(sizeof(AnimationTrackSlot), alignof(AnimationTrackSlot))
    , m_tasks(sizeof(AnimationTask), alignof(AnimationTask))
    , m_tasksSnapshot(sizeof(AnimationTask), alignof(AnimationTask))
    , m_bindings(sizeof(AnimationBinding), alignof(AnimationBinding))
    , m_bindingsSnapshot(sizeof(AnimationBinding), alignof(AnimationBinding))
    , m_frameAccumulators(sizeof(f32), alignof(f32))
    , m_cursors(sizeof(quern::animate::KeyframeCursor), alignof(quern::animate::KeyframeCursor))
    , m_random((quern::platform::getCalendarSeconds() + 51349u) * 4561u)
{
}

AnimationSystem::~AnimationSystem() = default;

void AnimationSystem::describe(quern::entity::SystemInfo* info) { info->name = "AnimationSystem"; }

void AnimationSystem::attach(quern::memory::Allocator* allocator)
{
    if (!allocator)
        allocator = quern::memory::getDefaultAllocator();
    adopt(m_clips, allocator);
    adopt(m_clipsSnapshot, allocator);
    adopt(m_slots, allocator);
    adopt(m_slotsSnapshot, allocator);
    adopt(m_tasks, allocator, kReservedTasks);
    adopt(m_tasksSnapshot, allocator);
    adopt(m_bindings, allocator);
    adopt(m_bindingsSnapshot, allocator);
    adopt(m_cursors, allocator, kReservedCursors);
}

void AnimationSystem::detach(quern::memory::Allocator*)
{
    m_cursors.release();
    m_clipLookup.clear();
    m_clipActive = {};
    m_clipWrapModes = {};
    for (Array* list : { &m_clips, &m_clipsSnapshot, &m_tasks, &m_tasksSnapshot, &m_slots, &m_slotsSnapshot,
             &m_bindings, &m_bindingsSnapshot })
        list->release();
    m_world = nullptr;
}

void AnimationSystem::worldStarted(World& world, quern::memory::Allocator*)
{
    m_world = &world;
    const u64 capacity = world.getCapacity();
    m_slots.expand(capacity);
    if (capacity != 0)
        std::memset(m_slots.data(), 0, m_slots.usedBytes());
    const u64 accumulated = m_frameAccumulators.count();
    if (capacity > accumulated) {
        m_frameAccumulators.expand(capacity);
        std::memset(m_frameAccumulators.at(accumulated), 0, (capacity - accumulated) * sizeof(f32));
    }
    m_stepId = nameId("Step");
    m_hairyStepId = nameId("HairyStep");
    saveSnapshot();
}

void AnimationSystem::entitiesCreated(const EntityHandle* handles, u64 count, World& world, quern::memory::Allocator*)
{
    m_world = &world;
    for (u64 i = 0; i < count; ++i)
        if (world.getComponentMask(handles[i].index()).test(Animation::kType))
            bindEntity(handles[i], world);
}

void AnimationSystem::entitiesDestroyed(const EntityHandle* handles, u64 count, World& world, quern::memory::Allocator*)
{
    // A whole-world clear needs no bookkeeping: the lists go at detach.
    if (count == world.getSlotCount())
        return;
    for (u64 i = 0; i < count; ++i) {
        const u64 index = handles[i].index();
        if (index < m_slots.count() && world.getComponentMask(index).test(Animation::kType))
            m_slots.at<AnimationTrackSlot>(index).activeBits = 0;
        forgetClipNames(static_cast<u32>(index));
    }
}

void AnimationSystem::forgetClipNames(u32 entityIndex)
{
    // A slot taken again must not find the clips of the entity that had it.
    m_clipLookup.erase(m_clipLookup.lower_bound({ entityIndex, 0 }), m_clipLookup.lower_bound({ entityIndex + 1, 0 }));
}

// Requests and queries ---------------------------------------------------------

AnimationTrackSlot* AnimationSystem::slotOf(EntityHandle entity)
{
    return entity.index() < m_slots.count() ? &m_slots.at<AnimationTrackSlot>(entity.index()) : nullptr;
}

const AnimationTrackSlot* AnimationSystem::slotOf(EntityHandle entity) const
{
    return entity.index() < m_slots.count() ? &m_slots.at<AnimationTrackSlot>(entity.index()) : nullptr;
}

i32 AnimationSystem::clipIndexOf(EntityHandle entity, u64 clip) const
{
    const AnimationTrackSlot* slot = slotOf(entity);
    if (!slot)
        return -1;
    for (u32 k = 0; k < slot->clipCount; ++k) {
        const u32 index = slot->firstClip + k;
        if (index < m_clips.count() && m_clips.at<AnimationClip>(index).assetId == clip)
            return static_cast<i32>(index);
    }
    return -1;
}

// Clip records of a destroyed entity stay; its slot, reused by a newer entity,
// no longer covers them, so they count as inactive.
bool AnimationSystem::isClipActive(u32 clipIndex) const
{
    const AnimationClip& clip = m_clips.at<AnimationClip>(clipIndex);
    const AnimationTrackSlot* slot = slotOf(EntityHandle { clip.entity });
    if (!slot || clipIndex < slot->firstClip || clipIndex - slot->firstClip >= slot->clipCount)
        return false;
    return (slot->activeBits >> (clipIndex - slot->firstClip)) & 1u;
}

void AnimationSystem::setClipActive(u32 clipIndex, bool active)
{
    const AnimationClip& clip = m_clips.at<AnimationClip>(clipIndex);
    AnimationTrackSlot* slot = slotOf(EntityHandle { clip.entity });
    if (!slot || clipIndex < slot->firstClip || clipIndex - slot->firstClip >= slot->clipCount)
        return;
    const u64 bit = u64 { 1 } << (clipIndex - slot->firstClip);
    slot->activeBits = active ? slot->activeBits | bit : slot->activeBits & ~bit;
}

u32 AnimationSystem::wrapModeOf(const AnimationClip& clip, World& world) const
{
    const auto& animation
        = *static_cast<const Animation*>(world.getComponent(EntityHandle { clip.entity }.index(), Animation::kType));
    return toClipWrapMode(animation.wrapMode, clip.resource->wrapMode);
}

AnimationTask& AnimationSystem::acquirePlayRequest(EntityHandle entity, u64 clip)
{
    for (u64 i = 0; i < m_tasks.count(); ++i) {
        AnimationTask& task = m_tasks.at<AnimationTask>(i);
        if (task.entity == entity.value && task.type == AnimationTask::CrossFade) {
            task.clip = clip;
            return task;
        }
    }
    AnimationTask& task = *static_cast<AnimationTask*>(m_tasks.expand(m_tasks.count() + 1));
    std::memset(&task, 0, sizeof task);
    task.entity = entity.value;
    task.clip = clip;
    return task;
}

void AnimationSystem::play(EntityHandle entity, u64 clip, f32 fade)
{
    if (m_world && !m_slots.isEmpty()) {
        const i32 index = clipIndexOf(entity, clip);
        if (index >= 0 && isClipActive(static_cast<u32>(index)) && m_clips.at<AnimationClip>(index).weight == 1.0f)
            return;
    }
    AnimationTask& task = acquirePlayRequest(entity, clip);
    task.type = AnimationTask::CrossFade;
    task.startTime = m_worldClock;
    task.duration = fade;
    task.targetWeight = 1.0f;
}

void AnimationSystem::playByName(EntityHandle entity, u64 nameId, f32 fade) { play(entity, findClip(entity, nameId), fade); }

u64 AnimationSystem::findClip(EntityHandle entity, u64 nameId) const
{
    const auto found = m_clipLookup.find({ entity.index(), nameId });
    return found == m_clipLookup.end() ? 0 : found->second;
}

bool AnimationSystem::isPlaying(EntityHandle entity, u64 clip) const
{
    const i32 index = clipIndexOf(entity, clip);
    return index >= 0 && isClipActive(static_cast<u32>(index));
}

f32 AnimationSystem::clipDuration(EntityHandle entity, u64 clip) const
{
    const i32 index = clipIndexOf(entity, clip);
    if (index < 0)
        QUERN_FATAL("Clip is not one of the entity's");
    return m_clips.at<AnimationClip>(index).resource->duration;
}

void AnimationSystem::collectActiveTracks(Array& tracks) const
{
    const u64 first = tracks.count();
    for (u32 i = 0; i < m_clips.count(); ++i) {
        if (!isClipActive(i))
            continue;
        const AnimationClip& clip = m_clips.at<AnimationClip>(i);
        tracks.append(ActiveTrack { clip.resource, clip.entity, clip.weight, clip.time });
    }
    auto* begin = tracks.dataAs<ActiveTrack>() + first;
    std::stable_sort(begin, tracks.dataAs<ActiveTrack>() + tracks.count(), [](const ActiveTrack& a, const ActiveTrack& b) {
        return EntityHandle { a.entity }.index() < EntityHandle { b.entity }.index();
    });
}

void AnimationSystem::saveSnapshot()
{
    copyList(m_bindingsSnapshot, m_bindings);
    copyList(m_clipsSnapshot, m_clips);
    copyList(m_slotsSnapshot, m_slots);
    copyList(m_tasksSnapshot, m_tasks);
}

// The cursors remember keys of the times sampled since the save: they start
// over rather than resume from there.
void AnimationSystem::restoreSnapshot()
{
    auto* cursors = m_cursors.dataAs<quern::animate::KeyframeCursor>();
    for (u64 i = 0; i < m_cursors.count(); ++i)
        cursors[i] = quern::animate::KeyframeCursor::empty();
    copyList(m_bindings, m_bindingsSnapshot);
    copyList(m_clips, m_clipsSnapshot);
    copyList(m_slots, m_slotsSnapshot);
    copyList(m_tasks, m_tasksSnapshot);
}

// Fixed tick -------------------------------------------------------------------

void AnimationSystem::fixedTick(quern::entity::UpdateContext*, World& world)
{
    m_worldClock = world.currentTime;
    if (!Settings::Animation.animationEnabled || m_context->paused)
        return;
    const f32 step = world.deltaTime * timeScale;
    runTasks(world);
    dropDeadBindings(world);
    applyBindings(world);
    advanceClips(world, step);
}

void AnimationSystem::runTasks(World& world)
{
    u64 kept = 0;
    for (u64 i = 0; i < m_tasks.count(); ++i) {
        const AnimationTask task = m_tasks.at<AnimationTask>(i);
        if (runTask(task, world))
            continue;
        m_tasks.at<AnimationTask>(kept++) = task;
    }
    m_tasks.expand(kept);
}

// True when the task is finished.
bool AnimationSystem::runTask(const AnimationTask& task, World& world)
{
    const EntityHandle entity { task.entity };
    if (!world.isValid(entity))
        return true;
    if (task.type > AnimationTask::SetTime)
        QUERN_FATAL_INVALID_ENUM("AnimationTask::Type");
    const AnimationTrackSlot* slot = slotOf(entity);
    const i32 found = clipIndexOf(entity, task.clip);
    if (!slot || slot->clipCount == 0 || found < 0)
        return true;
    const u32 target = static_cast<u32>(found);
    AnimationClip* clips = m_clips.dataAs<AnimationClip>();
    if (task.type == AnimationTask::JumpToEnd) {
        setClipActive(target, true);
        clips[target].time = clips[target].resource->duration - kAnimationEpsilon;
        return true;
    }
    if (task.type == AnimationTask::SetTime) {
        slotOf(entity)->activeBits = 0;
        setClipActive(target, true);
        clips[target].time = task.duration;
        return true;
    }
    const f32 elapsed = static_cast<f32>(static_cast<f64>(m_worldClock - task.startTime) * 1e-6);
    const bool done = elapsed >= task.duration;
    setClipActive(target, true);
    clips[target].weight = done ? task.targetWeight : elapsed * task.targetWeight / task.duration;
    if (clips[target].weight <= kAnimationEpsilon)
        clips[target].weight = 0.0f;
    for (u32 k = 0; k < slot->clipCount; ++k) {
        const u32 index = slot->firstClip + k;
        if (index == target || !isClipActive(index))
            continue;
        AnimationClip& other = clips[index];
        if (done) {
            setClipActive(index, false);
            other.weight = 1.0f;
            other.time = 0.0f;
            continue;
        }
        other.weight = (1.0f - elapsed / task.duration) * other.weight;
        if (other.weight <= kAnimationEpsilon)
            other.weight = 0.0f;
    }
    return done;
}

void AnimationSystem::dropDeadBindings(World& world)
{
    auto* bindings = m_bindings.dataAs<AnimationBinding>();
    u64 kept = 0;
    for (u64 i = 0; i < m_bindings.count(); ++i) {
        if (!world.isValid(EntityHandle { bindings[i].entity }))
            continue;
        if (kept != i)
            std::memcpy(&bindings[kept], &bindings[i], sizeof(AnimationBinding));
        ++kept;
    }
    m_bindings.expand(kept);
}

void AnimationSystem::advanceClips(World& world, f32 step)
{
    const u64 count = std::min(world.getSlotCount(), m_slots.count());
    for (u64 index = 0; index < count; ++index) {
        if (!hasEnabled(world, index, Animation::kType))
            continue;
        const AnimationTrackSlot& slot = m_slots.at<AnimationTrackSlot>(index);
        for (u32 k = 0; k < slot.clipCount; ++k) {
            const u32 clipIndex = slot.firstClip + k;
            if (!((slot.activeBits >> k) & 1u))
                continue;
            AnimationClip& clip = m_clips.at<AnimationClip>(clipIndex);
            const u32 mode = wrapModeOf(clip, world);
            playEvents(clip, mode, step, world);
            const f32 before = clip.time;
            clip.time += step;
            if (mode == 0 && before > clip.resource->duration) {
                clip.time = 0.0f;
                setClipActive(clipIndex, false);
            }
        }
    }
}

void AnimationSystem::playEvents(const AnimationClip& clip, u32 wrapMode, f32 step, World&)
{
    const KeyframeAnimation& resource = *clip.resource;
    const quern::animate::KeyframeEventRange events = resource.findEvents(clip.time, clip.time + step, wrapMode);
    if (events.total() == 0)
        return;
    const u64 playSound = quern::strings::murmurHash64A("PlaySound", 9, resource.strings.seed());
    for (u64 i = 0; i < events.total(); ++i) {
        const KeyframeEvent& event = events[i];
        if (resource.strings.key(event.nameIndex) != playSound)
            continue;
        u64 sound = 0;
        std::memcpy(&sound, event.data, sizeof sound);
        if (SoundSystem* sounds = m_context->sound)
            sounds->playAtEntity(sound, clip.entity);
        if (sound != m_stepId && sound != m_hairyStepId)
            continue;
        PlayerProfile::addToStat(m_context->services.platformServices, kStatSteps, 1);
    }
}

// Per frame --------------------------------------------------------------------

void AnimationSystem::update(quern::entity::UpdateContext*, World& world)
{
    if (!Settings::Animation.animationEnabled || m_context->paused)
        return;
    const f32 step = world.deltaTime * timeScale;
    const u64 count = std::min(world.getSlotCount(), m_frameAccumulators.count());
    for (u64 index = 0; index < count; ++index) {
        if (hasEnabled(world, index, FrameAnimation::kType))
            stepFrameAnimation(index, world, step);
        if (hasEnabled(world, index, TextureScroll::kType))
            scrollTexture(index, world);
    }
    if (Settings::Gizmo.animationSystem && Settings::Development.gizmos)
        drawAxes(world);
}

// A record without frames, or with a frame time that is not above zero, would
// divide by zero or never leave the loop: it keeps its frame.
void AnimationSystem::stepFrameAnimation(u64 index, World& world, f32 step)
{
    auto& frames = *static_cast<FrameAnimation*>(world.getComponent(index, FrameAnimation::kType));
    if (frames.frameCount <= 0 || !(frames.secondsPerFrame > 0.0f))
        return;
    f32& accumulator = m_frameAccumulators.at<f32>(index);
    f32 a = accumulator + step;
    while (a >= frames.secondsPerFrame) {
        a -= frames.secondsPerFrame;
        ++frames.currentFrame;
    }
    frames.currentFrame %= frames.frameCount;
    accumulator = a;
}

void AnimationSystem::scrollTexture(u64 index, World& world)
{
    RenderSystem* render = m_context->render;
    if (!render)
        return;
    const auto& scroll = *static_cast<const TextureScroll*>(world.getComponent(index, TextureScroll::kType));
    const f32 f = (static_cast<f32>(static_cast<f64>(world.currentTime) * 1e-6) + scroll.timeOffset) * scroll.speed;
    f32 u = scroll.uRate * f;
    f32 v = scroll.vRate * f;
    // A per-entity offset that stays put: derived from where the entity stands.
    u64 x = 0;
    std::memcpy(&x, world.getComponent(index, Transform::kType), sizeof x);
    if (scroll.randomU) {
        x = nextRandom(x);
        u += static_cast<f32>(x) / kTwoTo64 * 20.0f - 10.0f;
    }
    if (scroll.randomV) {
        x = nextRandom(x);
        v += static_cast<f32>(x) / kTwoTo64 * 20.0f - 10.0f;
    }
    render->setMainTextureOffset(index, u, v);
}

void AnimationSystem::drawAxes(World& world)
{
    auto* gizmos = m_context->gizmos.get<quern::render::Gizmos>();
    if (!gizmos)
        return;
    // One set of axes per animated entity, however many targets it has.
    std::vector<bool> drawn(world.getSlotCount(), false);
    for (u64 i = 0; i < m_bindings.count(); ++i) {
        const EntityHandle entity { m_bindings.at<AnimationBinding>(i).entity };
        if (!world.isValid(entity) || drawn[entity.index()])
            continue;
        drawn[entity.index()] = true;
        quern::math::Matrix4 matrix = quern::math::Matrix4::identity();
        Transform::accumulateWorldMatrix(transformAt(world, entity.index()), matrix, {}, world);
        gizmos->drawAxes(matrix);
    }
}

} // namespace harmonize
