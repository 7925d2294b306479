#pragma once
// Plays keyframe clips on entities. When an entity with an Animation component
// is created, every track of each of its clips is bound once to the memory it
// drives (a transform's position, scale or rotation, a light's intensity, an
// emitter's flag, an enabled-component bit); tracks of several clips that
// drive one target share one binding, which blends them by the clips'
// normalised weights. Each fixed tick runs the pending play requests
// (cross-fades and jumps), applies the bindings (in parallel on the task
// dispatcher), plays the clips' sound events and advances the clip times.
// Each frame it also steps sprite frame animations and scrolls textures.

#include "quern/containers/Array.h"
#include "quern/entity/ComponentMask.h"
#include "quern/entity/System.h"

#include <map>
#include <utility>
#include <vector>

namespace quern::animate {
class KeyframeAnimation;
}
namespace quern::containers {
class Array;
}

namespace harmonize {

using quern::f32;
using quern::i32;
using quern::u16;
using quern::u32;
using quern::u64;
using quern::u8;

struct AppContext;

// Weights at or below this count as zero; a clip's last instant lies this far
// before its end.
inline constexpr f32 kAnimationEpsilon = 1.1920929e-7f;

// Stored wrap-mode numbers of the Animation component.
enum class UnityWrapMode : i32 {
    Default = 0, // each clip's own
    Once = 1,
    Loop = 2,
    PingPong = 4,
    ClampForever = 8,
};
// The clip wrap mode a stored number stands for; `clipMode` for Default. Any
// other number is fatal.
u32 toClipWrapMode(i32 unityWrapMode, u32 clipMode);

struct AnimatedProperty {
    enum Type : u8 {
        None = 0, // unbound
        Float = 1, // consecutive f32 values
        Rotation = 2, // a quaternion
        Flag = 3, // one byte, 1 when the sample is not 0
        ComponentEnabled = 4, // bits of the entity's enabled-component mask
    };
};

struct AnimationTask {
    enum Type : u32 {
        CrossFade = 0, // fade the clip in and the entity's other clips out
        JumpToEnd = 1, // activate the clip at its last instant
        SetTime = 2, // make the clip the only active one at a given time
    };

    u64 startTime; // world clock, microseconds
    f32 duration; // SetTime: the time to set
    f32 targetWeight;
    u64 clip; // asset id
    u32 entity; // handle
    u32 type; // Type
};
static_assert(sizeof(AnimationTask) == 32);

struct AnimationClip {
    quern::animate::KeyframeAnimation* resource;
    u64 assetId;
    f32 time; // seconds
    f32 weight;
    u32 cacheIndex; // the cursor of the clip's first track
    u32 entity; // handle
};
static_assert(sizeof(AnimationClip) == 32);

// An entity's clips: consecutive clip records from `firstClip`.
struct AnimationTrackSlot {
    u64 activeBits; // bit k: the entity's k-th clip plays
    u32 firstClip;
    u8 clipCount;
    u8 padding[3];
};
static_assert(sizeof(AnimationTrackSlot) == 16);

struct AnimationBindingEntry {
    u32 clip; // index of the clip record
    u16 track;
    u16 padding;
};
static_assert(sizeof(AnimationBindingEntry) == 8);

// One target and the clip tracks that drive it.
struct alignas(16) AnimationBinding {
    static constexpr u32 kMaxEntries = 46;

    union Target {
        void* pointer; // Float, Rotation, Flag
        u64 maskWords[2]; // ComponentEnabled: a ComponentMask's words
    } target;
    u32 entity; // handle of the entity that holds the target
    u8 type; // AnimatedProperty::Type
    u8 floatCount;
    u8 padding[2];
    u32 entryCount;
    u8 padding2[4];
    AnimationBindingEntry entries[kMaxEntries];
};
static_assert(sizeof(AnimationBinding) == 400);

// What the debug overlay lists of an active clip.
struct ActiveTrack {
    quern::animate::KeyframeAnimation* resource;
    u32 entity;
    f32 weight;
    f32 time;
};

class AnimationSystem final : public quern::entity::System {
public:
    static constexpr u64 kReservedTasks = 32;
    static constexpr u64 kReservedCursors = 0x40000;
    static constexpr u32 kMaxClipsPerEntity = 46;

    explicit AnimationSystem(AppContext& context);
    ~AnimationSystem() override;

    void entitiesCreated(const quern::entity::EntityHandle* handles, u64 count, quern::entity::World& world,
        quern::memory::Allocator* allocator) override;
    void entitiesDestroyed(const quern::entity::EntityHandle* handles, u64 count, quern::entity::World& world,
        quern::memory::Allocator* allocator) override;
    void attach(quern::memory::Allocator* allocator) override;
    void detach(quern::memory::Allocator* allocator) override;
    void worldStarted(quern::entity::World& world, quern::memory::Allocator* allocator) override;
    void fixedTick(quern::entity::UpdateContext* context, quern::entity::World& world) override;
    void update(quern::entity::UpdateContext* context, quern::entity::World& world) override;
    void describe(quern::entity::SystemInfo* info) override;

    // Fades the clip in over `fade` seconds and the entity's other clips out;
    // nothing when the clip already plays at full weight.
    void play(quern::entity::EntityHandle entity, u64 clip, f32 fade);
    void playByName(quern::entity::EntityHandle entity, u64 nameId, f32 fade);
    // The asset id of the entity's clip of that name, 0 when it has none.
    u64 findClip(quern::entity::EntityHandle entity, u64 nameId) const;
    // The entity's pending cross-fade, its clip replaced, or a new zeroed
    // request for the entity; the caller sets its type and fields. The
    // reference lasts until the next request is made.
    AnimationTask& acquirePlayRequest(quern::entity::EntityHandle entity, u64 clip);
    bool isPlaying(quern::entity::EntityHandle entity, u64 clip) const;
    // The clip must be one of the entity's.
    f32 clipDuration(quern::entity::EntityHandle entity, u64 clip) const;
    // Appends an ActiveTrack per active clip, sorted by entity index.
    void collectActiveTracks(quern::containers::Array& tracks) const;

    void saveSnapshot();
    void restoreSnapshot();

    f32 timeScale = 1.0f;

    const quern::containers::Array& clips() const { return m_clips; } // AnimationClip
    const quern::containers::Array& slots() const { return m_slots; } // AnimationTrackSlot per entity index
    const quern::containers::Array& tasks() const { return m_tasks; } // AnimationTask
    const quern::containers::Array& bindings() const { return m_bindings; } // AnimationBinding
    const quern::containers::Array& cursors() const { return m_cursors; } // KeyframeCursor per clip track

private:
    struct ClipKey {
        u32 entityIndex;
        u64 nameId;
        friend bool operator<(const ClipKey& a, const ClipKey& b)
        {
            return std::pair(a.entityIndex, a.nameId) < std::pair(b.entityIndex, b.nameId);
        }
    };

    // Binding (AnimationBinding.cpp).
    void bindEntity(quern::entity::EntityHandle entity, quern::entity::World& world);
    void bindClip(quern::entity::EntityHandle entity, u32 clipIndex, const quern::animate::KeyframeAnimation& clip,
        quern::entity::World& world);
    void applyBindings(quern::entity::World& world);

    // Tasks and time.
    void runTasks(quern::entity::World& world);
    bool runTask(const AnimationTask& task, quern::entity::World& world);
    void advanceClips(quern::entity::World& world, f32 step);
    void playEvents(const AnimationClip& clip, u32 wrapMode, f32 step, quern::entity::World& world);
    void dropDeadBindings(quern::entity::World& world);

    // Per frame.
    void stepFrameAnimation(u64 index, quern::entity::World& world, f32 step);
    void scrollTexture(u64 index, quern::entity::World& world);
    void drawAxes(quern::entity::World& world);

    AnimationTrackSlot* slotOf(quern::entity::EntityHandle entity);
    const AnimationTrackSlot* slotOf(quern::entity::EntityHandle entity) const;
    // The index of the entity's clip record for the asset, or -1.
    i32 clipIndexOf(quern::entity::EntityHandle entity, u64 clip) const;
    bool isClipActive(u32 clipIndex) const;
    u32 wrapModeOf(const AnimationClip& clip, quern::entity::World& world) const;
    void setClipActive(u32 clipIndex, bool active);

    AppContext* m_context;
    quern::entity::World* m_world = nullptr;
    std::map<ClipKey, u64> m_clipLookup;
    void forgetClipNames(u32 entityIndex);
    quern::containers::Array m_clips;
    quern::containers::Array m_clipsSnapshot;
    quern::containers::Array m_slots;
    quern::containers::Array m_slotsSnapshot;
    quern::containers::Array m_tasks;
    quern::containers::Array m_tasksSnapshot;
    quern::containers::Array m_bindings;
    quern::containers::Array m_bindingsSnapshot;
    quern::containers::Array m_frameAccumulators; // f32 per entity index
    quern::containers::Array m_cursors; // KeyframeCursor
    // Per clip, worked out once per tick for the binding pass.
    std::vector<u8> m_clipActive;
    std::vector<u32> m_clipWrapModes;
    u64 m_worldClock = 0; // microseconds, at the last fixed tick
    u64 m_stepId = 0;
    u64 m_hairyStepId = 0;
    u64 m_random;
};

} // namespace harmonize
