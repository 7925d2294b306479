#include "harmonize/systems/SoundMixer.h"

#include "quern/assets/ResourceCache.h"
#include "quern/audio/AudioBackEnd.h"
#include "quern/audio/AudioDevice.h"
#include "quern/audio/OutputChannel.h"
#include "quern/audio/SampleStream.h"
#include "quern/language/RefCounted.h"

namespace harmonize {

using quern::containers::HandleTable;
using quern::debug::MutexLock;

const quern::audio::ReverbParameters SoundMixer::kStartingReverb = { 1.0f, 0.27f, 0.316f, 0.056f, 1.0f, 1.49f, 0.21f,
    1.0f, 0.041f, 0.3f, { 0.0f, 0.0f, 0.0f }, 0.192f, 0.1f, { 0.0f, 0.0f, 0.0f }, 0.25f, 1.0f, 0.25f, 0.0f, 0.994f,
    5000.0f, 250.0f, 0.0f, 0 };

SoundMixer& SoundMixer::instance()
{
    static SoundMixer mixer;
    return mixer;
}

SoundMixer::SoundMixer()
    : m_records(sizeof(MixerVoice), alignof(MixerVoice))
    , m_pending(sizeof(u32), alignof(u32))
    , m_preloaded(sizeof(PreloadedStream), alignof(PreloadedStream))
    , m_reverbParameters(kStartingReverb)
{
}

SoundMixer::~SoundMixer() = default;

void SoundMixer::init(quern::audio::AudioDevice* device, quern::assets::Depot* depot, quern::assets::ResourceCache* cache)
{
    MutexLock lock(m_lock);
    if (m_initialized)
        return;
    m_device = device;
    m_depot = depot;
    m_cache = cache;
    for (Voice& voice : m_voices)
        voice = {};
    // Voice 0 is on top, so it is taken first.
    for (u32 i = 0; i < kVoiceCount; ++i)
        m_freeVoices[i] = static_cast<i32>(kVoiceCount - 1 - i);
    m_freeVoiceCount = kVoiceCount;
    m_pending.reserve(kReservedRecords);
    if (!m_reverbSlotMade)
        makeReverbSlot();
    m_initialized = true;
}

void SoundMixer::makeReverbSlot()
{
    m_reverbSlot = m_device && m_device->backEnd() ? m_device->backEnd()->createReverbSlot() : nullptr;
    m_reverbSlotMade = true;
}

void SoundMixer::teardown()
{
    MutexLock lock(m_lock);
    if (!m_initialized)
        return;
    for (u32 i = 0; i < kVoiceCount; ++i) {
        if (m_voices[i].channel)
            m_device->releaseOutputChannel(m_voices[i].channel);
        m_voices[i] = {};
    }
    for (u64 i = 0; i < m_preloaded.count(); ++i) {
        PreloadedStream& entry = m_preloaded.at<PreloadedStream>(i);
        if (entry.asset.handle != 0 && m_cache)
            m_cache->release(entry.asset.handle);
        entry.asset.handle = 0;
    }
    for (u64 i = 0; i < m_records.slotCount(); ++i)
        freeRecordAt(static_cast<u32>(i));
    m_pending.release();
    m_preloaded.release();
    // The slot belongs to the device's back end, which goes when the device
    // closes: a later init asks the device it gets for a slot of its own.
    m_reverbSlot = nullptr;
    m_reverbSlotMade = false;
    m_reverbOn = false;
    m_device = nullptr;
    m_initialized = false;
}

void SoundMixer::preload(u64 assetId)
{
    // Other worlds' passes search the list under the lock while it grows here.
    MutexLock lock(m_lock);
    if (findPreloaded(assetId))
        return;
    PreloadedStream entry {};
    entry.asset.assetId = assetId;
    if (m_depot && m_cache) {
        entry.asset.resolve(quern::assets::ResourceType::AudioStream, *m_depot, *m_cache);
        u64 type = 0;
        void* resource = m_cache->entry(entry.asset.handle, type);
        if (resource && type == quern::assets::ResourceType::AudioStream)
            entry.stream = static_cast<quern::audio::SampleStream*>(static_cast<quern::RefCounted*>(resource));
    }
    m_preloaded.append(entry);
}

const PreloadedStream* SoundMixer::findPreloaded(u64 assetId) const
{
    for (u64 i = 0; i < m_preloaded.count(); ++i) {
        const PreloadedStream& entry = m_preloaded.at<PreloadedStream>(i);
        if (entry.asset.assetId == assetId)
            return &entry;
    }
    return nullptr;
}

u32 SoundMixer::allocateRecord(quern::audio::SampleStream* stream)
{
    u32 handle = 0;
    MixerVoice* record = m_records.allocate<MixerVoice>(handle);
    *record = {};
    record->stream = stream;
    return handle;
}

void SoundMixer::start(u32 handle) { m_pending.append(handle); }

MixerVoice* SoundMixer::record(u32 handle) { return m_records.lookup<MixerVoice>(handle); }

bool SoundMixer::isValid(u32 handle) const { return m_records.isValid(handle); }

void SoundMixer::freeRecordAt(u32 index)
{
    const u32 generation = m_records.generationAt(index);
    if (generation != 0)
        m_records.release(HandleTable::makeHandle(index, generation));
}

void SoundMixer::releaseVoice(u32 voice)
{
    m_device->releaseOutputChannel(m_voices[voice].channel);
    m_voices[voice].channel = nullptr;
    freeRecordAt(m_voices[voice].recordIndex);
    m_freeVoices[m_freeVoiceCount++] = static_cast<i32>(voice);
}

void SoundMixer::serviceVoices()
{
    const f32 master = masterGain();
    for (u32 i = 0; i < kVoiceCount; ++i) {
        quern::audio::OutputChannel* channel = m_voices[i].channel;
        if (!channel)
            continue;
        const MixerVoice& record = *static_cast<const MixerVoice*>(m_records.entryAt(m_voices[i].recordIndex));
        if (record.stopRequested || !channel->isPlaying()) {
            releaseVoice(i);
            continue;
        }
        channel->setLooping(record.looping != 0);
        channel->setAuxiliaryValue(record.auxiliaryValue);
        channel->setGain(master * record.gain);
    }
}

void SoundMixer::dropPending(u64 first)
{
    for (u64 k = first; k < m_pending.count(); ++k) {
        const u32 handle = m_pending.at<u32>(k);
        if (m_records.isValid(handle))
            m_records.release(handle);
    }
}

void SoundMixer::startPending()
{
    const f32 master = masterGain();
    for (u64 k = 0; k < m_pending.count(); ++k) {
        const u32 handle = m_pending.at<u32>(k);
        if (!m_records.isValid(handle))
            continue;
        if (m_freeVoiceCount == 0) {
            // No priorities and no stealing: a start beyond 64 voices is dropped.
            m_records.release(handle);
            continue;
        }
        const u32 voice = static_cast<u32>(m_freeVoices[--m_freeVoiceCount]);
        const MixerVoice& record = *m_records.lookup<MixerVoice>(handle);
        quern::audio::OutputChannel* channel = m_device ? m_device->createOutputChannel(record.stream) : nullptr;
        if (!channel) {
            // The back end has no channel for this pass: the voice goes back,
            // and this start and those after it are dropped rather than left
            // pending with instances that would never end.
            m_freeVoices[m_freeVoiceCount++] = static_cast<i32>(voice);
            dropPending(k);
            return;
        }
        m_voices[voice].recordIndex = static_cast<u16>(HandleTable::indexOf(handle));
        m_voices[voice].channel = channel;
        channel->setReverbSlot(m_reverbSlot);
        channel->setLooping(record.looping != 0);
        channel->setAuxiliaryValue(record.auxiliaryValue);
        channel->setGain(master * record.gain);
        channel->open(record.streamed ? quern::audio::BufferMode::Streaming : quern::audio::BufferMode::Static);
        channel->play();
    }
}

void SoundMixer::run()
{
    MutexLock lock(m_lock);
    if (!m_initialized)
        return;
    serviceVoices();
    startPending();
    m_pending.clear();
    if (m_device)
        m_device->update();
}

void SoundMixer::setReverbEnabled(bool on)
{
    MutexLock lock(m_lock);
    if (!m_reverbSlotMade)
        makeReverbSlot();
    if (!m_reverbSlot)
        return;
    if (on)
        m_reverbSlot->addReverb(m_reverbParameters);
    else
        m_reverbSlot->removeReverb();
    m_reverbOn = on;
}

void SoundMixer::setReverbParameters(const quern::audio::ReverbParameters& parameters)
{
    MutexLock lock(m_lock);
    m_reverbParameters = parameters;
    if (m_reverbSlot)
        m_reverbSlot->setReverbParameters(parameters);
}

} // namespace harmonize
