#pragma once
// Turns the game's sound requests into voices of the sound mixer. Game code
// queues requests (a library sound by its 64-bit id, at a position or on an
// entity, or a stop); each fixed tick they become sound instances; each frame
// every instance's gain is worked out (library gains, category volumes,
// distance attenuation, fades, the global volume curve) and the mixer pass
// runs as a task, joined in the late update. One system per world, all on the
// one mixer; the music and ambience channels belong to the process, so they
// play on across a level switch.

#include "quern/audio/AudioLibrary.h"
#include "quern/containers/Array.h"
#include "quern/entity/System.h"
#include "quern/math/Vector3.h"
#include "quern/threads/Task.h"

namespace quern::assets {
class Depot;
class ResourceCache;
} // namespace quern::assets
namespace quern::audio {
class AudioDevice;
}

namespace harmonize {

using quern::f32;
using quern::i32;
using quern::i64;
using quern::u32;
using quern::u64;
using quern::u8;

class LevelList;
class SoundMixer;
class SoundSystem;
class TaskDispatcher;
struct AppContext;

// Sound ids and group keys: MurmurHash64A of the name with this seed.
inline constexpr u64 kSoundNameSeed = 0x2f0101b0d9b73936ull;
u64 soundNameKey(const char* name);

struct SoundRequest {
    enum Kind : i32 { Play = 0, Stop = 1 };

    u64 soundId; // 0: the entity's own AudioSource
    quern::math::Vector3 position;
    u32 entity; // handle, 0 none
    i32 kind;
    u8 positional;
};

struct SoundInstance {
    const quern::audio::SoundComponent* component; // null for an entity's own source
    u64 fadeStartTime; // world microseconds
    u64 fadeEndTime; // 0: no fade
    f32 fadeStartGain;
    f32 fadeTargetGain;
    u8 stopAtFadeEnd;
    u64 soundId;
    quern::math::Vector3 position;
    u32 entity; // the entity followed, 0 none
    u32 record; // MixerVoice handle
    f32 gain; // the fade's result
    u8 looping;
    u8 positional;
};

// The two process-wide channels: music and ambience.
struct SoundChannel {
    u64 soundId = 0; // 0 silent
    u32 record = 0; // the playing instance's record, 0 until known
    f32 savedGain = 0.0f; // the instance's gain when its world detached

    // Queues a stop of the channel's sound and a play of the new one; the
    // sound already playing, or 0, changes nothing.
    static void play(SoundChannel& channel, SoundSystem& system, u64 soundId);
};

// How many instances of one library sound play; debug statistics.
struct SoundClipCount {
    u64 soundId;
    u64 count;
};

class SoundSystem : public quern::entity::System {
public:
    SoundSystem(TaskDispatcher* dispatcher, quern::audio::AudioDevice* device, quern::assets::Depot* depot,
        quern::assets::ResourceCache* cache);
    ~SoundSystem() override;

    static SoundChannel& music();
    static SoundChannel& ambience();

    // Queueing, on the world's thread.
    // A play request the caller may still fill (position, entity, positional).
    SoundRequest& playSound(u64 soundId);
    void stopSound(u64 soundId);
    // Positional play at the entity, or where its SoundOverride says.
    void playAtEntity(u64 soundId, u32 entity);
    // Positional play where the entity's transform is now (the origin for an
    // entity without one); the sound does not follow it.
    void playAtPositionOf(u64 soundId, quern::entity::EntityHandle entity, quern::entity::World& world);
    void playEntitySource(u32 entity);
    void stopMusic();
    void stopAtmo();
    void setMuted(bool muted);

    // Level start, on the main thread.
    void loadSoundLibrary(u64 key, quern::assets::Depot& depot);
    void applyLevelAudio(i32 levelIndex, const LevelList& levels);

    // Instances per library sound, most first.
    void collectClipStatistics(quern::containers::Array& out) const;

    void entitiesCreated(const quern::entity::EntityHandle* handles, u64 count, quern::entity::World& world,
        quern::memory::Allocator* allocator) override;
    void attach(quern::memory::Allocator* allocator) override;
    void detach(quern::memory::Allocator* allocator) override;
    void worldStarted(quern::entity::World& world, quern::memory::Allocator* allocator) override;
    void fixedTick(quern::entity::UpdateContext* context, quern::entity::World& world) override;
    void update(quern::entity::UpdateContext* context, quern::entity::World& world) override;
    void lateUpdate(quern::entity::World& world) override;
    void describe(quern::entity::SystemInfo* info) override;

    const quern::audio::AudioLibrary& library() const { return m_library; }
    u64 instanceCount() const { return m_instances.count(); }
    const SoundInstance& instance(u64 index) const { return m_instances.at<SoundInstance>(index); }
    u64 requestCount() const { return m_requests.count(); }
    const SoundRequest& request(u64 index) const { return m_requests.at<SoundRequest>(index); }
    u32 listener() const { return m_listener; }
    i32 musicGroup() const { return m_musicGroup; }
    i32 ambienceGroup() const { return m_ambienceGroup; }
    u64 libraryKey() const { return m_libraryKey; }
    u64 defaultMusic() const { return m_defaultMusic; }
    f32 averageGain() const { return m_averageGain; }
    f32 maximumGain() const { return m_maximumGain; }
    SoundMixer& mixer() { return *m_mixer; }

private:
    class MixerTask : public quern::threads::Task {
    public:
        MixerTask()
            : Task(1)
        {
        }
        void run(quern::threads::TaskRange) override;
        SoundMixer* mixer = nullptr;
    };

    void startLibrarySound(const SoundRequest& request, quern::entity::World& world);
    void startEntitySource(const SoundRequest& request, quern::entity::World& world);
    void addInstance(SoundInstance instance, const SoundRequest& request);
    void stopInstance(SoundInstance& instance, u64 now);
    void stopRecord(u32 record);
    void stopChannel(SoundChannel& channel);
    void playRequests(quern::entity::World& world);
    quern::math::Vector3 listenerPosition(quern::entity::World& world);
    // The instance's voice gain before the limit to [0, 1].
    f32 instanceGain(SoundInstance& instance, const quern::math::Vector3& listener, u64 now, quern::entity::World& world);
    i64 findSound(u64 soundId) const;
    void adoptChannel(const SoundChannel& channel);
    void freeLibrary();

    TaskDispatcher* m_dispatcher;
    quern::memory::Allocator* m_allocator = nullptr;
    quern::containers::Array m_instances; // SoundInstance
    quern::containers::Array m_requests; // SoundRequest
    quern::containers::Array m_lastStartTimes; // u64 world microseconds per library sound
    SoundMixer* m_mixer;
    quern::audio::AudioLibrary m_library;
    quern::audio::PickState m_pick;
    quern::memory::Allocator* m_pickAllocator = nullptr;
    quern::entity::World* m_world = nullptr; // the world of the last callback
    u32 m_listener = 0;
    i32 m_musicGroup = -1;
    i32 m_ambienceGroup = -1;
    u64 m_libraryKey = 0;
    f32 m_averageGain = 0.0f;
    f32 m_maximumGain = 0.0f;
    u64 m_defaultMusic = 0;
    MixerTask m_task;
    bool m_taskSubmitted = false;
};

} // namespace harmonize
