#pragma once
// The one mixer of the process, shared by the sound systems of every world.
// It keeps the sounds to be heard as small voice records addressed by handles,
// owns the 64 voices (an output channel with the record it plays), holds the
// preloaded audio streams and the reverb slot, and once per frame runs the
// pass that turns the records into playing channels.
//
// Locks: the mixer lock guards the records, the pending starts, the preloaded
// list and the voices; the pass takes the audio device's lock inside it. Code
// that allocates records or writes their fields holds the mixer lock.

#include "quern/Types.h"
#include "quern/assets/AssetRef.h"
#include "quern/audio/ReverbSlot.h"
#include "quern/containers/Array.h"
#include "quern/containers/HandleTable.h"
#include "quern/debug/MutexImpl.h"

#include <atomic>

namespace quern::assets {
class Depot;
class ResourceCache;
} // namespace quern::assets
namespace quern::audio {
class AudioDevice;
class OutputChannel;
class SampleStream;
} // namespace quern::audio

namespace harmonize {

using quern::f32;
using quern::i32;
using quern::u16;
using quern::u32;
using quern::u64;
using quern::u8;

// One sound to be heard. The sound systems write gain, auxiliary value,
// looping and the stop request; the pass copies them into the channel.
struct MixerVoice {
    quern::audio::SampleStream* stream;
    f32 gain; // linear, [0, 1]
    f32 auxiliaryValue;
    u8 looping;
    u8 stopRequested;
    u8 streamed; // 0 opens the channel's buffer Static, else Streaming
};

struct PreloadedStream {
    quern::audio::SampleStream* stream; // null when the asset is no AudioStream
    quern::assets::AssetRef asset;
};

class SoundMixer {
public:
    static constexpr u32 kVoiceCount = 64;
    static constexpr u64 kReservedRecords = 256;

    // The game's reverb as it starts: a small, damped room.
    static const quern::audio::ReverbParameters kStartingReverb;

    static SoundMixer& instance();

    SoundMixer();
    ~SoundMixer();
    SoundMixer(const SoundMixer&) = delete;
    SoundMixer& operator=(const SoundMixer&) = delete;

    // Only the first call after construction or teardown has an effect.
    void init(quern::audio::AudioDevice* device, quern::assets::Depot* depot, quern::assets::ResourceCache* cache);
    // Releases the voices' channels and the preloaded streams and frees the
    // lists; only the first call after an init has an effect.
    void teardown();

    // Adds the asset's stream to the preloaded list (loading the asset when
    // the cache lacks it); an asset already listed is left alone.
    void preload(u64 assetId);
    // The first preloaded entry of the asset, or null. Caller holds the lock.
    const PreloadedStream* findPreloaded(u64 assetId) const;

    // A new record for the stream: gain, auxiliary value, looping, stop and
    // streamed all 0. Caller holds the lock.
    u32 allocateRecord(quern::audio::SampleStream* stream);
    // Queues the record for a voice at the next pass. Caller holds the lock.
    void start(u32 handle);
    // The record of a valid handle, else null. Caller holds the lock.
    MixerVoice* record(u32 handle);
    bool isValid(u32 handle) const;

    // The pass: releases voices whose sound ended or was stopped, copies the
    // records into the playing channels, starts the pending records on free
    // voices (dropping those that find none) and lets the back end service
    // its channels.
    void run();

    // Switches the reverb effect into or out of the slot (made on first use);
    // without a slot nothing changes, the on flag included.
    void setReverbEnabled(bool on);
    // Keeps the parameters for the reverb and uploads them into it.
    void setReverbParameters(const quern::audio::ReverbParameters& parameters);
    const quern::audio::ReverbParameters& reverbParameters() const { return m_reverbParameters; }
    bool reverbOn() const { return m_reverbOn; }
    quern::audio::ReverbSlot* reverbSlot() const { return m_reverbSlot; }

    // 0 mutes every voice at the next pass, 1 restores them.
    void setMasterGain(f32 gain) { m_masterGain.store(gain, std::memory_order_relaxed); }
    f32 masterGain() const { return m_masterGain.load(std::memory_order_relaxed); }

    quern::debug::MutexImpl& lock() { return m_lock; }
    bool initialized() const { return m_initialized; }
    quern::audio::AudioDevice* device() const { return m_device; }
    u64 preloadedCount() const { return m_preloaded.count(); }
    u64 pendingCount() const { return m_pending.count(); }
    i32 freeVoiceCount() const { return m_freeVoiceCount; }
    quern::audio::OutputChannel* voiceChannel(u32 voice) const { return m_voices[voice].channel; }
    u16 voiceRecordIndex(u32 voice) const { return m_voices[voice].recordIndex; }

private:
    struct Voice {
        quern::audio::OutputChannel* channel;
        u16 recordIndex;
    };

    void makeReverbSlot();
    void freeRecordAt(u32 index);
    void releaseVoice(u32 voice);
    void serviceVoices();
    void startPending();
    // Drops the pending starts from `first` on: their records are freed.
    void dropPending(u64 first);

    quern::containers::HandleTable m_records;
    quern::containers::Array m_pending; // u32 record handles
    quern::containers::Array m_preloaded; // PreloadedStream
    quern::audio::AudioDevice* m_device = nullptr;
    quern::assets::Depot* m_depot = nullptr;
    quern::assets::ResourceCache* m_cache = nullptr;
    quern::audio::ReverbSlot* m_reverbSlot = nullptr;
    quern::audio::ReverbParameters m_reverbParameters;
    quern::debug::MutexImpl m_lock;
    Voice m_voices[kVoiceCount] = {};
    i32 m_freeVoiceCount = 0;
    i32 m_freeVoices[kVoiceCount] = {};
    std::atomic<f32> m_masterGain { 1.0f };
    bool m_initialized = false;
    bool m_reverbOn = false;
    bool m_reverbSlotMade = false;
};

} // namespace harmonize
