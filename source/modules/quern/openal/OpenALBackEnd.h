#pragma once
// The OpenAL audio back end: one device with one context, the channels and the
// sample buffers behind them (static buffers shared per stream), streaming
// driven once per mixer pass, and the EFX effect slots.

#include "quern/audio/AudioBackEnd.h"
#include "quern/containers/Array.h"

#include <AL/alc.h>

namespace quern::audio {
class AudioBackEndRegistry;
}
namespace quern::memory {
class Allocator;
}

namespace quern::openal {

class OpenALBuffer;
class OpenALEffectSlot;
class OpenALReverbSlot;

// How a back end reaches its device: the opener (alcOpenDevice by default) and
// the context attributes (none by default). A loopback device, which renders
// on request instead of to a sound card, needs both of its own.
struct OpenALDeviceAccess {
    ALCdevice* (*openDevice)(const char* name) = nullptr;
    const i32* contextAttributes = nullptr;
};

class OpenALBackEnd final : public audio::AudioBackEnd {
public:
    OpenALBackEnd(const char* deviceName, const OpenALDeviceAccess& access);
    ~OpenALBackEnd() override;

    // The registry's factories: the default device, and the device named.
    static audio::AudioBackEnd* createDefault(const char* name, memory::Allocator& allocator);
    static audio::AudioBackEnd* createNamed(const char* name, memory::Allocator& allocator);

    audio::BackEndResult open() override;
    void close() override;
    void setListenerPosition(const math::Vector3& position) override;
    void setListenerOrientation(const math::Vector3& direction) override;
    void setListenerVelocity(const math::Vector3& velocity) override;
    audio::OutputChannel* createOutputChannel(audio::SampleStream* stream) override;
    void releaseOutputChannel(audio::OutputChannel* channel) override;
    void update(audio::OutputChannel* const* channels, u64 count) override;

    // A new auxiliary effect slot owned by the back end; null without EFX or
    // when OpenAL has none left.
    OpenALEffectSlot* createEffectSlot();
    // An effect slot wrapped for the game's reverb; null as createEffectSlot.
    audio::ReverbSlot* createReverbSlot() override;

    bool isOpened() const { return m_opened; }
    ALCcontext* context() const { return m_context; }
    i32 maxSources() const { return m_maxSources; }
    i32 openChannels() const { return m_openChannels; }
    u64 cachedBufferCount() const { return m_buffers.count(); }
    u64 effectSlotCount() const { return m_effectSlots.count(); }
    const char* deviceName() const { return m_deviceName; }

    // Bytes of OpenAL buffer memory the last memory report gave.
    static u64 lastReportedMemory();

private:
    OpenALBuffer* acquireBuffer(audio::SampleStream* stream);
    void releaseBuffer(OpenALBuffer* buffer);
    void reportBufferMemory();

    containers::Array m_effectSlots;
    containers::Array m_reverbSlots; // OpenALReverbSlot*, over slots of m_effectSlots
    ALCcontext* m_context = nullptr;
    const char* m_deviceName = nullptr;
    containers::Array m_buffers;
    i32 m_maxSources = 0;
    i32 m_openChannels = 0;
    bool m_opened = false;
    OpenALDeviceAccess m_access;
};

// Registers "OpenAL" for the default device, then every device the OpenAL
// enumeration reports, by name (copied; the copies live until the process ends).
void registerBackEnds(audio::AudioBackEndRegistry& registry);
void registerBackEnds();

} // namespace quern::openal
