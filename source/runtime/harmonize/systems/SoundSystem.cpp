#include "harmonize/systems/SoundSystem.h"

#include "harmonize/Settings.h"
#include "harmonize/components/Components.h"
#include "harmonize/systems/SoundMixer.h"
#include "harmonize/tasks/TaskDispatcher.h"
#include "harmonize/utils/MathUtils.h"
#include "quern/assets/Depot.h"
#include "quern/debug/Log.h"
#include "quern/entity/World.h"
#include "quern/memory/Allocator.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/strings/Hashes.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace harmonize {

using quern::debug::MutexLock;
using quern::entity::EntityHandle;
using quern::entity::EntityState;
using quern::entity::World;
using quern::math::Vector3;

namespace {

bool namesEntity(u32 handle) { return isSomeEntity(EntityHandle { handle }); }

bool isAlive(const World& world, u32 handle) { return isAliveEntity(world, EntityHandle { handle }); }

bool hasEnabled(World& world, u64 index, u8 type) { return world.getEnabledMask(index).test(type); }

template <class T>
T& component(World& world, u64 index)
{
    return *static_cast<T*>(world.getComponent(index, T::kType));
}

Vector3 worldPosition(World& world, u32 handle)
{
    const u64 index = EntityHandle { handle }.index();
    if (index >= world.getSlotCount() || !world.getComponentMask(index).test(Transform::kType))
        return {};
    return Transform::localToWorld(transformAt(world, index), Vector3 {}, world);
}

// Seconds in whole microseconds; anything not above 0 (NaN too) is none.
u64 microseconds(f32 seconds)
{
    if (!(seconds > 0.0f))
        return 0;
    const double value = static_cast<double>(seconds) * 1000000.0;
    return value >= 1.8e19 ? ~0ull : static_cast<u64>(value);
}

SoundChannel g_music;
SoundChannel g_ambience;

} // namespace

u64 soundNameKey(const char* name) { return quern::strings::murmurHash64A(name, std::strlen(name), kSoundNameSeed); }

void SoundChannel::play(SoundChannel& channel, SoundSystem& system, u64 soundId)
{
    if (soundId == 0 || soundId == channel.soundId)
        return;
    if (channel.soundId != 0)
        system.stopSound(channel.soundId);
    system.playSound(soundId);
    channel.record = 0;
    channel.savedGain = 0.0f;
    channel.soundId = soundId;
}

void SoundSystem::MixerTask::run(quern::threads::TaskRange)
{
    if (mixer)
        mixer->run();
}

SoundSystem::SoundSystem(TaskDispatcher* dispatcher, quern::audio::AudioDevice* device, quern::assets::Depot* depot,
    quern::assets::ResourceCache* cache)
    : m_dispatcher(dispatcher)
    , m_instances(sizeof(SoundInstance), 8)
    , m_requests(sizeof(SoundRequest), 4)
    , m_lastStartTimes(sizeof(u64), 8)
    , m_mixer(&SoundMixer::instance())
{
    m_mixer->init(device, depot, cache);
}

SoundSystem::~SoundSystem()
{
    if (m_taskSubmitted && m_dispatcher)
        m_dispatcher->wait(m_task);
    m_mixer->teardown();
    freeLibrary();
}

SoundChannel& SoundSystem::music() { return g_music; }

SoundChannel& SoundSystem::ambience() { return g_ambience; }

SoundRequest& SoundSystem::playSound(u64 soundId)
{
    SoundRequest request {};
    request.soundId = soundId;
    request.kind = SoundRequest::Play;
    return m_requests.append(request);
}

void SoundSystem::playAtPositionOf(u64 soundId, EntityHandle entity, World& world)
{
    SoundRequest& request = playSound(soundId);
    if (entity.index() < world.getSlotCount() && world.getComponentMask(entity.index()).test(Transform::kType))
        request.position = Transform::localToWorld(transformAt(world, entity.index()), Vector3 {}, world);
    request.positional = 1;
}

void SoundSystem::stopSound(u64 soundId)
{
    SoundRequest request {};
    request.soundId = soundId;
    request.kind = SoundRequest::Stop;
    m_requests.append(request);
}

void SoundSystem::playAtEntity(u64 soundId, u32 entity)
{
    if (!m_world || EntityHandle { entity }.index() >= m_world->getSlotCount())
        return;
    World& world = *m_world;
    const u64 index = EntityHandle { entity }.index();
    u32 target = entity;
    u8 positional = 1;
    if (hasEnabled(world, index, SoundOverride::kType)) {
        const SoundOverride& override = component<SoundOverride>(world, index);
        const u64 replacement = override.sound;
        if (replacement != 0 && replacement != soundNameKey(""))
            soundId = replacement;
        if (namesEntity(override.placeAt.value)) {
            if (!isAlive(world, override.placeAt.value))
                return;
            target = override.placeAt.value;
        }
        positional = override.positional;
    }
    SoundRequest& request = playSound(soundId);
    request.entity = target;
    request.positional = positional;
    request.position = worldPosition(world, target);
}

void SoundSystem::playEntitySource(u32 entity)
{
    SoundRequest& request = playSound(0);
    request.entity = entity;
    request.positional = 1;
    if (m_world)
        request.position = worldPosition(*m_world, entity);
}

void SoundSystem::stopChannel(SoundChannel& channel)
{
    if (channel.soundId != 0)
        stopSound(channel.soundId);
    channel.soundId = 0;
    channel.record = 0;
}

void SoundSystem::stopMusic() { stopChannel(g_music); }

void SoundSystem::stopAtmo() { stopChannel(g_ambience); }

void SoundSystem::setMuted(bool muted)
{
    QUERN_LOG(3) << "Sound " << (muted ? "off" : "on") << std::endl;
    m_mixer->setMasterGain(muted ? 0.0f : 1.0f);
}

void SoundSystem::attach(quern::memory::Allocator* allocator)
{
    m_musicGroup = -1;
    m_ambienceGroup = -1;
    m_instances = quern::containers::Array(sizeof(SoundInstance), 8, allocator);
    m_requests = quern::containers::Array(sizeof(SoundRequest), 4, allocator);
    m_requests.reserve(16);
    m_task.mixer = nullptr;
    m_allocator = allocator;
}

void SoundSystem::detach(quern::memory::Allocator*)
{
    {
        MutexLock lock(m_mixer->lock());
        for (u64 i = 0; i < m_instances.count(); ++i) {
            const SoundInstance& instance = m_instances.at<SoundInstance>(i);
            if (g_ambience.record != 0 && instance.record == g_ambience.record)
                g_ambience.savedGain = instance.gain;
            else if (g_music.record != 0 && instance.record == g_music.record)
                g_music.savedGain = instance.gain;
            else
                stopRecord(instance.record);
        }
    }
    m_instances.release();
    m_requests.release();
    m_lastStartTimes.release();
    freeLibrary();
}

void SoundSystem::freeLibrary()
{
    if (m_pick.lastPicked && m_pickAllocator)
        m_pickAllocator->free(m_pick.lastPicked);
    m_pick.lastPicked = nullptr;
    m_pickAllocator = nullptr;
    m_library.clear();
    m_libraryKey = 0;
}

void SoundSystem::worldStarted(World& world, quern::memory::Allocator*)
{
    m_world = &world;
    m_listener = 0;
    m_defaultMusic = 0;
    if (!Settings::Audio.enabled)
        return;
    for (u64 i = 0; i < world.getSlotCount(); ++i) {
        if (world.getState(i) != EntityState::Free && world.getComponentMask(i).test(GameCameraRig::kType))
            m_listener = EntityHandle::make(static_cast<quern::u16>(i), world.getGeneration(i)).value;
    }
}

void SoundSystem::entitiesCreated(
    const EntityHandle* handles, u64 count, World& world, quern::memory::Allocator*)
{
    m_world = &world;
    if (!Settings::Audio.enabled)
        return;
    for (u64 k = 0; k < count; ++k) {
        const u64 index = handles[k].index();
        if (index >= world.getSlotCount())
            continue;
        if (hasEnabled(world, index, SoundEmitter::kType)) {
            const SoundEmitter& emitter = component<SoundEmitter>(world, index);
            const u64 sound = emitter.sound;
            if (emitter.positional)
                playAtEntity(sound, handles[k].value);
            else if (emitter.defaultMusic)
                m_defaultMusic = sound;
            else
                playSound(sound);
        }
        if (world.getComponentMask(index).test(AudioSource::kType)) {
            const AudioSource& source = component<AudioSource>(world, index);
            m_mixer->preload(source.stream);
            if (hasEnabled(world, index, AudioSource::kType) && source.playOnCreate)
                playEntitySource(handles[k].value);
        }
    }
}

i64 SoundSystem::findSound(u64 soundId) const
{
    for (u64 i = 0; i < m_library.soundCount(); ++i) {
        if (m_library.sounds()[i].id() == soundId)
            return static_cast<i64>(i);
    }
    return -1;
}

void SoundSystem::addInstance(SoundInstance instance, const SoundRequest& request)
{
    instance.positional = request.positional;
    {
        MutexLock lock(m_mixer->lock());
        m_mixer->start(instance.record);
    }
    if (g_ambience.soundId == instance.soundId)
        g_ambience.record = instance.record;
    if (g_music.soundId == instance.soundId)
        g_music.record = instance.record;
    m_instances.append(instance);
}

void SoundSystem::startLibrarySound(const SoundRequest& request, World& world)
{
    const i64 soundIndex = findSound(request.soundId);
    if (soundIndex < 0)
        return;
    const quern::audio::Sound& sound = m_library.sounds()[soundIndex];
    if (sound.maximumInstances() != 0) {
        u32 playing = 0;
        for (u64 i = 0; i < m_instances.count(); ++i) {
            const SoundInstance& instance = m_instances.at<SoundInstance>(i);
            if (instance.component && instance.component->soundIndex() == soundIndex)
                ++playing;
        }
        if (playing >= sound.maximumInstances())
            return;
    }
    const quern::audio::SoundComponent* picked = m_library.pickComponent(static_cast<u64>(soundIndex), m_pick);
    if (!picked || picked->audioAssetId() == 0 || m_library.getGain(*picked) == 0.0f)
        return;
    const u64 now = world.currentTime;
    u64& lastStart = m_lastStartTimes.at<u64>(static_cast<u64>(soundIndex));
    if (lastStart != 0 && now - lastStart < microseconds(sound.minimumInterval()))
        return;
    lastStart = now;

    SoundInstance instance {};
    {
        MutexLock lock(m_mixer->lock());
        const PreloadedStream* preloaded = m_mixer->findPreloaded(picked->audioAssetId());
        if (!preloaded || !preloaded->stream)
            return;
        instance.record = m_mixer->allocateRecord(preloaded->stream);
        m_mixer->record(instance.record)->looping = sound.isLooping() ? 1 : 0;
    }
    instance.component = picked;
    instance.soundId = request.soundId;
    instance.position = request.position;
    instance.entity = request.entity;
    instance.gain = 1.0f;
    instance.looping = sound.isLooping() ? 1 : 0;
    instance.positional = 1;
    if (const u64 fade = microseconds(picked->fadeInTime()); fade != 0) {
        instance.fadeStartTime = now;
        instance.fadeEndTime = now + fade;
        instance.fadeStartGain = 0.0f;
        instance.fadeTargetGain = 1.0f;
    }
    addInstance(instance, request);
}

void SoundSystem::startEntitySource(const SoundRequest& request, World& world)
{
    const u64 index = EntityHandle { request.entity }.index();
    if (!namesEntity(request.entity) || !world.getComponentMask(index).test(AudioSource::kType))
        return;
    const AudioSource& source = component<AudioSource>(world, index);
    SoundInstance instance {};
    {
        MutexLock lock(m_mixer->lock());
        const PreloadedStream* preloaded = m_mixer->findPreloaded(source.stream);
        if (!preloaded || !preloaded->stream)
            return;
        instance.record = m_mixer->allocateRecord(preloaded->stream);
        MixerVoice& record = *m_mixer->record(instance.record);
        record.looping = source.looping;
        record.auxiliaryValue = source.auxiliary;
        record.gain = clampUnit(source.gain);
    }
    instance.positional = 1;
    instance.looping = source.looping;
    instance.gain = source.gain;
    instance.entity = request.entity;
    instance.position = request.position;
    addInstance(instance, request);
}

void SoundSystem::stopRecord(u32 handle)
{
    MutexLock lock(m_mixer->lock());
    if (MixerVoice* record = m_mixer->record(handle))
        record->stopRequested = 1;
}

void SoundSystem::stopInstance(SoundInstance& instance, u64 now)
{
    const u64 fade = instance.component ? microseconds(instance.component->fadeOutTime()) : 0;
    if (fade == 0) {
        stopRecord(instance.record);
        return;
    }
    instance.fadeStartTime = now;
    instance.fadeEndTime = now + fade;
    instance.fadeStartGain = instance.gain;
    instance.fadeTargetGain = 0.0f;
    instance.stopAtFadeEnd = 1;
}

void SoundSystem::playRequests(World& world)
{
    for (u64 r = 0; r < m_requests.count(); ++r) {
        const SoundRequest request = m_requests.at<SoundRequest>(r);
        if (request.kind == SoundRequest::Stop) {
            for (u64 i = 0; i < m_instances.count(); ++i) {
                SoundInstance& instance = m_instances.at<SoundInstance>(i);
                if (instance.soundId == request.soundId)
                    stopInstance(instance, world.currentTime);
            }
            continue;
        }
        if (namesEntity(request.entity) && !isActiveEntity(world, EntityHandle { request.entity }))
            continue;
        if (request.soundId != 0)
            startLibrarySound(request, world);
        else
            startEntitySource(request, world);
    }
}

void SoundSystem::fixedTick(quern::entity::UpdateContext*, World& world)
{
    m_world = &world;
    // Requests queued while audio is off would otherwise pile up for ever.
    if (Settings::Audio.enabled)
        playRequests(world);
    m_requests.clear();
}

Vector3 SoundSystem::listenerPosition(World& world)
{
    if (!namesEntity(m_listener) || !isAlive(world, m_listener))
        return {};
    Vector3 position = worldPosition(world, m_listener);
    const u64 index = EntityHandle { m_listener }.index();
    if (world.getComponentMask(index).test(GameCameraRig::kType))
        position.z = component<GameCameraRig>(world, index).listenerZ;
    return position;
}

f32 SoundSystem::instanceGain(SoundInstance& instance, const Vector3& listener, u64 now, World& world)
{
    if (namesEntity(instance.entity)) {
        if (isAlive(world, instance.entity)) {
            if (instance.positional)
                instance.position = worldPosition(world, instance.entity);
        } else {
            stopInstance(instance, now);
            instance.entity = 0;
        }
    }
    if (instance.fadeEndTime != 0) {
        if (now >= instance.fadeEndTime) {
            if (instance.stopAtFadeEnd) {
                instance.gain = 0.0f;
                stopRecord(instance.record);
                return 0.0f;
            }
            instance.gain = instance.fadeTargetGain;
            instance.fadeEndTime = 0;
        } else {
            const f32 t = static_cast<f32>(now - instance.fadeStartTime)
                / static_cast<f32>(instance.fadeEndTime - instance.fadeStartTime);
            instance.gain = instance.fadeStartGain + t * (instance.fadeTargetGain - instance.fadeStartGain);
        }
    }
    f32 g = instance.gain;
    if (instance.component) {
        const quern::audio::Sound& sound = m_library.sounds()[instance.component->soundIndex()];
        const i32 group = sound.groupIndex();
        const bool musical = group >= 0 && (group == m_musicGroup || group == m_ambienceGroup);
        const f32 category = (musical ? Settings::Audio.musicVolume : Settings::Audio.effectsVolume) / 100.0f;
        g *= m_library.getGain(*instance.component) * category;
        if (instance.positional && group >= 0)
            g *= m_library.groups()[group].attenuation((instance.position - listener).length(), sound.audibleDistance());
    }
    return std::pow(Settings::Audio.globalVolume / 100.0f * g, Settings::Audio.volumePower);
}

void SoundSystem::update(quern::entity::UpdateContext*, World& world)
{
    m_world = &world;
    if (!Settings::Audio.enabled)
        return;
    {
        MutexLock lock(m_mixer->lock());
        u64 kept = 0;
        for (u64 i = 0; i < m_instances.count(); ++i) {
            if (m_mixer->isValid(m_instances.at<SoundInstance>(i).record))
                m_instances.at<SoundInstance>(kept++) = m_instances.at<SoundInstance>(i);
        }
        m_instances.erase(m_instances.at(kept), m_instances.end());

        const Vector3 listener = listenerPosition(world);
        const u64 now = world.currentTime;
        f32 sum = 0.0f;
        f32 largest = 0.0f;
        for (u64 i = 0; i < m_instances.count(); ++i) {
            SoundInstance& instance = m_instances.at<SoundInstance>(i);
            const f32 h = instanceGain(instance, listener, now, world);
            sum += h;
            largest = std::max(largest, h);
            if (MixerVoice* record = m_mixer->record(instance.record); record && !record->stopRequested)
                record->gain = clampUnit(h);
        }
        m_maximumGain = largest;
        if (m_instances.count() != 0)
            m_averageGain = sum / static_cast<f32>(m_instances.count());
    }
    m_task.mixer = m_mixer;
    if (m_dispatcher && m_dispatcher->threaded()) {
        m_dispatcher->run(m_task);
        m_taskSubmitted = true;
    } else {
        m_mixer->run();
    }
}

void SoundSystem::lateUpdate(World&)
{
    if (m_taskSubmitted) {
        m_dispatcher->wait(m_task);
        m_taskSubmitted = false;
    }
}

void SoundSystem::describe(quern::entity::SystemInfo* info) { info->name = "SoundSystem"; }

} // namespace harmonize
