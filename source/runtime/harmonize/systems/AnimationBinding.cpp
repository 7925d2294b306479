// The animation system's bindings: which memory each clip track drives, made
// once when an entity is created, and the pass that writes the blended samples
// into that memory every fixed tick.

#include "harmonize/Settings.h"
#include "harmonize/components/Components.h"
#include "harmonize/systems/AnimationSystem.h"
#include "harmonize/systems/AppContext.h"
#include "harmonize/tasks/PreloadedResources.h"
#include "harmonize/tasks/TaskDispatcher.h"
#include "quern/animate/KeyframeAnimation.h"
#include "quern/debug/Log.h"
#include "quern/entity/World.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/strings/Hashes.h"
#include "quern/strings/StringInterner.h"
#include "quern/threads/Task.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ostream>
#include <vector>

namespace harmonize {
namespace {

using quern::animate::KeyframeAnimation;
using quern::animate::KeyframeCursor;
using quern::animate::KeyframeTrack;
using quern::animate::KeyframeTrackInfo;
using quern::containers::Array;
using quern::entity::ComponentMask;
using quern::entity::EntityHandle;
using quern::entity::World;

constexpr f32 kRandomStartSpan = 200.0f; // seconds

// What one track drives, before it is matched with the bindings made so far.
struct Candidate {
    AnimatedProperty::Type type = AnimatedProperty::None;
    void* pointer = nullptr;
    ComponentMask mask;
    u8 floatCount = 1;
};

bool startsWith(const char* text, const char* prefix) { return std::strncmp(text, prefix, std::strlen(prefix)) == 0; }

// The text of a key of the clip's name table, or null when the table lacks it.
const char* clipText(const KeyframeAnimation& clip, u64 key)
{
    const quern::i64 found = clip.strings.find(key);
    return found < 0 ? nullptr : clip.strings.text(static_cast<u64>(found));
}

i32 componentFromName(const char* property)
{
    switch (property[std::strlen(property) - 1]) {
    case 'x': return 0;
    case 'y': return 1;
    case 'z': return 2;
    case 'w': return 3;
    default: QUERN_FATAL("Invalid property name");
    }
}

// Colliders follow their shapes, renderers their drawables.
void addCompanionBits(ComponentMask& mask, i32 type)
{
    if (type == 2 || type == 4 || type == 10 || type == 20)
        mask.set(5);
    if (type == 9 || type == 13 || type == 16 || type == 19 || type == 22)
        mask.set(17);
}

// A vector property: `room` floats from the named component on. A selector
// whose float count or component reaches past the vector would write into the
// next field or record; such a track drives nothing.
Candidate vectorTarget(AnimatedProperty::Type type, f32* vector, i32 room, const char* property,
    const KeyframeTrackInfo* selector)
{
    Candidate candidate;
    const i32 component = selector ? selector->bytes[1] : componentFromName(property);
    const i32 count = selector ? selector->bytes[0] : 1;
    const bool fits = type == AnimatedProperty::Rotation ? component == 0
                                                          : component >= 0 && count >= 1 && component + count <= room;
    if (!fits)
        return candidate;
    candidate.type = type;
    candidate.pointer = vector + component;
    candidate.floatCount = static_cast<u8>(type == AnimatedProperty::Rotation ? 4 : count);
    return candidate;
}

Candidate resolveProperty(const char* property, const KeyframeTrack& track, const KeyframeTrackInfo* selector,
    EntityHandle target, World& world)
{
    Candidate candidate;
    if (!property)
        return candidate;
    Transform& transform = transformAt(world, target.index());
    if (startsWith(property, "m_LocalPosition."))
        return vectorTarget(AnimatedProperty::Float, &transform.position.x, 3, property, selector);
    if (startsWith(property, "m_LocalScale."))
        return vectorTarget(AnimatedProperty::Float, &transform.scale.x, 3, property, selector);
    if (startsWith(property, "m_LocalRotation."))
        return vectorTarget(AnimatedProperty::Rotation, &transform.rotation.x, 4, property, selector);
    if (std::strcmp(property, "m_Intensity") == 0) {
        candidate.type = AnimatedProperty::Float;
        candidate.pointer = &static_cast<Light*>(world.getComponent(target.index(), Light::kType))->intensity;
        if (selector && selector->bytes[0] != 1)
            candidate.type = AnimatedProperty::None;
        return candidate;
    }
    if (std::strcmp(property, "m_Emit") == 0) {
        candidate.type = AnimatedProperty::Flag;
        candidate.pointer = &static_cast<ParticleSpawner*>(world.getComponent(target.index(), ParticleSpawner::kType))->emit;
        return candidate;
    }
    if (std::strcmp(property, "m_Enabled") == 0) {
        // A type past the mask would set a bit outside it.
        if (track.targetType < 0 || static_cast<u64>(track.targetType) >= world.componentTypeCount)
            return candidate;
        candidate.type = AnimatedProperty::ComponentEnabled;
        candidate.mask.set(static_cast<u32>(track.targetType));
        addCompanionBits(candidate.mask, track.targetType);
    }
    return candidate;
}

bool sameTarget(const AnimationBinding& binding, const Candidate& candidate, u32 entity)
{
    if (candidate.type == AnimatedProperty::None || binding.type != candidate.type || binding.entity != entity)
        return false;
    switch (candidate.type) {
    case AnimatedProperty::Float:
    case AnimatedProperty::Rotation:
    case AnimatedProperty::Flag: return binding.target.pointer == candidate.pointer;
    case AnimatedProperty::ComponentEnabled:
        return binding.target.maskWords[0] == candidate.mask.words[0]
            && binding.target.maskWords[1] == candidate.mask.words[1];
    default: QUERN_FATAL_INVALID_ENUM("AnimatedProperty::Type");
    }
}

f32 randomStartTime(u64& random)
{
    random = random * 4561u + 51349u;
    const f32 t = static_cast<f32>(random) / 18446744073709551616.0f * kRandomStartSpan;
    // The conversion rounds the largest states up to the span itself.
    return std::min(t, std::nextafter(kRandomStartSpan, 0.0f));
}

} // namespace

void AnimationSystem::bindEntity(EntityHandle entity, World& world)
{
    const u64 index = entity.index();
    if (index >= m_slots.count()) {
        const u64 old = m_slots.count();
        m_slots.expand(index + 1);
        std::memset(m_slots.at(old), 0, (index + 1 - old) * sizeof(AnimationTrackSlot));
    }
    const auto& animation = *static_cast<const Animation*>(world.getComponent(index, Animation::kType));
    const bool enabled = world.getEnabledMask(index).test(Animation::kType);
    f32 start = 0.0f;
    if (world.getEnabledMask(index).test(AnimationStartTime::kType)) {
        const auto& startTime = *static_cast<const AnimationStartTime*>(world.getComponent(index, AnimationStartTime::kType));
        start = startTime.randomStart ? randomStartTime(m_random) : startTime.startTime;
    }
    AnimationTrackSlot& slot = m_slots.at<AnimationTrackSlot>(index);
    slot = {};
    slot.firstClip = static_cast<u32>(m_clips.count());
    LoadingWorker* worker = m_context->services.loadingWorker;
    u32 taken = 0;
    for (u64 s = 0; s < kMaxClipsPerEntity; ++s) {
        const u64 assetId = animation.clips[s];
        if (assetId == 0)
            continue;
        KeyframeAnimation* clip = worker ? getPreloadedKeyframeAnimation(*worker, assetId) : nullptr;
        if (!clip) {
            QUERN_LOG(2) << "Clip " << assetId << " of entity \"" << world.getEntityName(entity)
                         << "\" is not a preloaded keyframe animation" << std::endl;
            continue;
        }
        const u64 nameLength = std::strlen(clip->name);
        const u64 nameId = quern::strings::murmurHash64A(clip->name, nameLength, quern::strings::kInternerSeed);
        if (world.texts)
            world.texts->intern(clip->name, nameLength, nameId);
        m_clipLookup[{ static_cast<u32>(index), nameId }] = assetId;
        if (enabled && animation.playAutomatically && assetId == animation.defaultClip)
            m_slots.at<AnimationTrackSlot>(index).activeBits |= u64 { 1 } << taken;

        const u32 cacheIndex = static_cast<u32>(m_cursors.count());
        m_cursors.expand(cacheIndex + clip->tracks.count());
        auto* cursors = m_cursors.dataAs<KeyframeCursor>();
        for (u64 t = cacheIndex; t < m_cursors.count(); ++t)
            cursors[t] = KeyframeCursor::empty();
        const u32 clipIndex = static_cast<u32>(m_clips.count());
        bindClip(entity, clipIndex, *clip, world);
        m_clips.append(AnimationClip { clip, assetId, start, 1.0f, cacheIndex, entity.value });
        ++taken;
    }
    m_slots.at<AnimationTrackSlot>(index).clipCount = static_cast<u8>(taken);
}

void AnimationSystem::bindClip(EntityHandle entity, u32 clipIndex, const KeyframeAnimation& clip, World& world)
{
    const Transform& transform = transformAt(world, entity.index());
    const u64 trackCount = clip.tracks.count();
    for (u64 b = 0; b < trackCount; ++b) {
        const auto& track = clip.tracks.at<KeyframeTrack>(b);
        const KeyframeTrackInfo* selector
            = track.trackInfoIndex >= 0 ? &clip.trackInfo.at<KeyframeTrackInfo>(track.trackInfoIndex) : nullptr;
        if (selector && selector->bytes[3] != 0)
            continue;
        const char* path = clipText(clip, track.targetKey);
        if (!path || (*path != '\0' && !m_context->transformHierarchy))
            continue;
        const EntityHandle target = *path == '\0'
            ? entity
            : Transform::findByPath(transform, path, world, *m_context->transformHierarchy);
        if (!world.isValid(target))
            continue;
        Candidate candidate = resolveProperty(clipText(clip, track.propertyKey), track, selector, target, world);
        // Sampling reads the float count's tracks from this one on.
        if (candidate.type != AnimatedProperty::None && b + candidate.floatCount > trackCount)
            candidate.type = AnimatedProperty::None;

        AnimationBinding* binding = nullptr;
        for (u64 i = 0; i < m_bindings.count() && !binding; ++i)
            if (sameTarget(m_bindings.at<AnimationBinding>(i), candidate, target.value))
                binding = &m_bindings.at<AnimationBinding>(i);
        if (!binding) {
            binding = static_cast<AnimationBinding*>(m_bindings.expand(m_bindings.count() + 1));
            std::memset(binding, 0, sizeof *binding);
            binding->type = candidate.type;
            binding->entity = target.value;
            binding->floatCount = candidate.floatCount;
            if (candidate.type == AnimatedProperty::ComponentEnabled)
                std::memcpy(binding->target.maskWords, candidate.mask.words, sizeof candidate.mask.words);
            else
                binding->target.pointer = candidate.pointer;
        }
        if (binding->entryCount == AnimationBinding::kMaxEntries) {
            QUERN_LOG(2) << "Track " << b << " of clip \"" << clip.name << "\" on entity \""
                         << world.getEntityName(entity) << "\" is not bound: its target already has "
                         << AnimationBinding::kMaxEntries << " tracks" << std::endl;
            continue;
        }
        binding->entries[binding->entryCount++] = { clipIndex, static_cast<u16>(b), 0 };
    }
}

namespace {

// Writes the blended samples of one binding's active clips into its target.
class BindingApplier {
public:
    BindingApplier(World& world, const AnimationSystem& system, const u32* wrapModes, const u8* active)
        : m_world(world)
        , m_clips(system.clips().dataAs<AnimationClip>())
        , m_cursors(const_cast<KeyframeCursor*>(system.cursors().dataAs<KeyframeCursor>()))
        , m_wrapModes(wrapModes)
        , m_active(active)
    {
    }

    void apply(AnimationBinding& binding) const
    {
        if (binding.type == AnimatedProperty::None || !m_world.isActive(EntityHandle { binding.entity }))
            return;
        f32 sum = 0.0f;
        for (u32 e = 0; e < binding.entryCount; ++e) {
            const u32 clip = binding.entries[e].clip;
            if (m_active[clip] && m_clips[clip].weight != 0.0f)
                sum += m_clips[clip].weight;
        }
        if (!(sum > kAnimationEpsilon))
            return;
        f32 keep = 0.0f;
        for (u32 e = 0; e < binding.entryCount; ++e) {
            const u32 clip = binding.entries[e].clip;
            if (!m_active[clip])
                continue;
            applyEntry(binding, m_clips[clip], binding.entries[e].track, m_wrapModes[clip], m_clips[clip].weight / sum,
                keep);
            keep = 1.0f;
        }
    }

private:
    void applyEntry(AnimationBinding& binding, const AnimationClip& clip, u16 track, u32 mode, f32 w, f32 keep) const
    {
        KeyframeCursor* cursors = m_cursors + clip.cacheIndex;
        const KeyframeAnimation& resource = *clip.resource;
        switch (binding.type) {
        case AnimatedProperty::Float:
            resource.blendFloatTracks(clip.time, track, static_cast<f32*>(binding.target.pointer), binding.floatCount,
                cursors, mode, w, keep);
            return;
        case AnimatedProperty::Rotation:
            resource.blendRotationTrack(clip.time, track, static_cast<f32*>(binding.target.pointer), cursors, mode, w, keep);
            return;
        case AnimatedProperty::Flag:
            *static_cast<u8*>(binding.target.pointer) = sample(resource, clip, track, mode) != 0.0f ? 1 : 0;
            return;
        case AnimatedProperty::ComponentEnabled: {
            ComponentMask& enabled = m_world.getEnabledMask(EntityHandle { binding.entity }.index());
            const bool on = sample(resource, clip, track, mode) != 0.0f;
            for (u32 w2 = 0; w2 < 2; ++w2)
                enabled.words[w2] = on ? enabled.words[w2] | binding.target.maskWords[w2]
                                       : enabled.words[w2] & ~binding.target.maskWords[w2];
            return;
        }
        case AnimatedProperty::None: return;
        }
        QUERN_FATAL_INVALID_ENUM("AnimatedProperty::Type");
    }

    f32 sample(const KeyframeAnimation& resource, const AnimationClip& clip, u16 track, u32 mode) const
    {
        f32 value = 0.0f;
        resource.blendFloatTracks(clip.time, track, &value, 1, m_cursors + clip.cacheIndex, mode, 1.0f, 0.0f);
        return value;
    }

    World& m_world;
    const AnimationClip* m_clips;
    KeyframeCursor* m_cursors;
    const u32* m_wrapModes;
    const u8* m_active;
};

// The bindings of one tick, spread over the dispatcher's workers. Every target
// has one binding, so workers never write the same memory; enabled masks are
// shared by an entity's bindings and are left to the calling thread.
class BindingTask final : public quern::threads::Task {
public:
    BindingTask(const BindingApplier& applier, AnimationBinding* bindings, u32 count)
        : Task(count)
        , m_applier(applier)
        , m_bindings(bindings)
    {
    }

    void run(quern::threads::TaskRange range) override
    {
        for (u32 i = range.firstItem; i < range.firstItem + range.itemCount; ++i)
            if (m_bindings[i].type != AnimatedProperty::ComponentEnabled)
                m_applier.apply(m_bindings[i]);
    }

private:
    const BindingApplier& m_applier;
    AnimationBinding* m_bindings;
};

} // namespace

void AnimationSystem::applyBindings(World& world)
{
    if (m_bindings.isEmpty())
        return;
    // Per clip, worked out once per tick rather than once per track.
    const u64 clipCount = m_clips.count();
    m_clipWrapModes.resize(clipCount);
    m_clipActive.resize(clipCount);
    for (u32 i = 0; i < clipCount; ++i) {
        m_clipActive[i] = isClipActive(i) ? 1 : 0;
        if (m_clipActive[i])
            m_clipWrapModes[i] = wrapModeOf(m_clips.at<AnimationClip>(i), world);
    }
    const BindingApplier applier(world, *this, m_clipWrapModes.data(), m_clipActive.data());
    auto* bindings = m_bindings.dataAs<AnimationBinding>();
    const u32 count = static_cast<u32>(m_bindings.count());
    BindingTask task(applier, bindings, count);
    TaskDispatcher* dispatcher = m_context->services.taskDispatcher;
    if (Settings::Threading.enabled && dispatcher) {
        dispatcher->run(task);
        dispatcher->wait(task);
    } else {
        quern::threads::Task::runInline(task);
    }
    for (u32 i = 0; i < count; ++i)
        if (bindings[i].type == AnimatedProperty::ComponentEnabled)
            applier.apply(bindings[i]);
}

} // namespace harmonize
