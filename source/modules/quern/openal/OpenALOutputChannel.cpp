#include "quern/openal/OpenALOutputChannel.h"

#include "quern/audio/SampleStream.h"
#include "quern/debug/Log.h"
#include "quern/openal/OpenALBuffer.h"
#include "quern/openal/OpenALEFX.h"
#include "quern/openal/OpenALEffect.h"
#include "quern/openal/OpenALError.h"
#include "quern/openal/OpenALReverbSlot.h"

#include <AL/al.h>

namespace quern::openal {
namespace {
i32 g_liveSources = 0;
} // namespace

i32 OpenALOutputChannel::liveSources() { return g_liveSources; }

OpenALOutputChannel::~OpenALOutputChannel()
{
    stop();
    m_effectSlot = nullptr;
}

void OpenALOutputChannel::setReverbSlot(audio::ReverbSlot* slot)
{
    m_effectSlot = slot ? static_cast<OpenALReverbSlot*>(slot)->slot() : nullptr;
}

bool OpenALOutputChannel::makeSource()
{
    ALuint source = 0;
    alGenSources(1, &source);
    if (const ALenum error = alGetError(); error != AL_NO_ERROR) {
        QUERN_LOG(2) << "alGenSources: " << openALErrorText(error) << ". " << g_liveSources << " active sources so far."
                     << std::endl;
        return false;
    }
    ++g_liveSources;
    m_source = source;
    const ALfloat zero[3] = { 0.0f, 0.0f, 0.0f };
    alSourcef(m_source, AL_REFERENCE_DISTANCE, kReferenceDistance);
    alSourcefv(m_source, AL_POSITION, zero);
    alSourcefv(m_source, AL_VELOCITY, zero);
    alSourcefv(m_source, AL_DIRECTION, zero);
    // On the listener until setPosition places it.
    alSourcei(m_source, AL_SOURCE_RELATIVE, AL_TRUE);
    return true;
}

void OpenALOutputChannel::play()
{
    if (isPlaying())
        return;
    if (m_source == 0 && !makeSource())
        return;
    alSourcef(m_source, AL_GAIN, gain());
    if (!m_buffer->isOpen()) {
        stream()->reset();
        openBuffer(stream()->cachedDuration() > kAutoStreamingSeconds);
    }
    m_buffer->attachToSource(m_source);
    alSourcei(m_source, AL_LOOPING, isLooping() && !m_buffer->isStreaming());
    QUERN_AL_CHECK("setSourceLooping");
    if (m_effectSlot && hasEFX()) {
        alSource3i(m_source, AL_AUXILIARY_SEND_FILTER, static_cast<ALint>(m_effectSlot->slotId()), 0, 0);
        QUERN_AL_CHECK("quern::openal::OpenALEffectSlot::attachSource");
    }
    alSourcePlay(m_source);
    QUERN_AL_CHECK("quern::openal::OpenALOutputChannel::play");
    setPlaying(true);
}

void OpenALOutputChannel::stop()
{
    if (m_source != 0) {
        if (m_effectSlot && hasEFX()) {
            alSource3i(m_source, AL_AUXILIARY_SEND_FILTER, AL_EFFECTSLOT_NULL, 0, 0);
            QUERN_AL_CHECK("quern::openal::OpenALEffectSlot::detachSource");
        }
        alSourceStop(m_source);
        m_buffer->detachFromSource(m_source);
        alDeleteSources(1, &m_source);
        --g_liveSources;
        m_source = 0;
        if (m_buffer->isStreaming())
            m_buffer->close();
        QUERN_AL_CHECK("quern::openal::OpenALOutputChannel::stop");
    }
    setPaused(false);
    setPlaying(false);
}

void OpenALOutputChannel::pause()
{
    if (m_source == 0)
        return;
    alSourcePause(m_source);
    setPaused(true);
}

void OpenALOutputChannel::resume()
{
    if (m_source == 0)
        return;
    alSourcePlay(m_source);
    setPaused(false);
}

void OpenALOutputChannel::setPitch(f32 pitch)
{
    if (m_source != 0)
        alSourcef(m_source, AL_PITCH, pitch);
}

void OpenALOutputChannel::setLooping(bool looping)
{
    // The mixer writes the flag every frame; the source already has it unless it changed.
    if (looping == isLooping())
        return;
    OutputChannel::setLooping(looping);
    if (m_source == 0)
        return;
    alSourcei(m_source, AL_LOOPING, looping && !m_buffer->isStreaming());
    QUERN_AL_CHECK("setSourceLooping");
}

void OpenALOutputChannel::setGain(f32 gain)
{
    OutputChannel::setGain(gain);
    if (m_source != 0)
        alSourcef(m_source, AL_GAIN, gain);
}

void OpenALOutputChannel::setPosition(const audio::ChannelPosition& position)
{
    OutputChannel::setPosition(position);
    if (m_source == 0)
        return;
    const ALfloat at[3] = { position.x, position.y, position.z };
    alSourcei(m_source, AL_SOURCE_RELATIVE, AL_FALSE);
    alSourcefv(m_source, AL_POSITION, at);
    QUERN_AL_CHECK("quern::openal::OpenALOutputChannel::setPosition");
}

void OpenALOutputChannel::openBuffer(bool streaming)
{
    if (!m_buffer->isOpen())
        m_buffer->open(stream(), streaming);
}

} // namespace quern::openal
