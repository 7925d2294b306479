#include "quern/openal/OpenALBuffer.h"

#include "quern/audio/SampleBuffer.h"
#include "quern/debug/Log.h"
#include "quern/openal/OpenALError.h"
#include "quern/platform/ErrorReporting.h"

#include <AL/al.h>

#include <memory>

namespace quern::openal {
namespace {

i32 g_generatedBuffers = 0;

// Makes up to n buffers, one fewer each time OpenAL runs out of names.
u32 generateOpenALBuffers(u32 n, u32* ids)
{
    u32 made = n;
    for (; made > 0; --made) {
        alGenBuffers(static_cast<ALsizei>(made), ids);
        const ALenum error = alGetError();
        if (error == AL_NO_ERROR)
            break;
        if (error != AL_INVALID_VALUE) {
            checkOpenALError(error, __FILE__, __LINE__, "generateOpenALBuffers");
            return 0;
        }
    }
    if (made < n)
        QUERN_LOG(2) << "Couldn't generate " << n << " OpenAL buffers, just " << made << " (" << g_generatedBuffers
                     << " allocated)" << std::endl;
    g_generatedBuffers += static_cast<i32>(made);
    return made;
}

// One refill of a streaming buffer: up to 16000 bytes; a looping stream that
// comes back short is rewound so the next buffer starts at its beginning.
u64 streamToBuffer(u32 id, audio::SampleStream& stream, i32 format, bool looping)
{
    u8 scratch[OpenALBuffer::kStreamingBytes];
    u64 bytes = 0;
    if (stream.isOpen()) {
        bytes = stream.readImpl(stream.source(), sizeof scratch, scratch);
        if (bytes > sizeof scratch)
            bytes = sizeof scratch;
        if (bytes > 0) {
            alBufferData(
                id, format, scratch, static_cast<ALsizei>(bytes), static_cast<ALsizei>(stream.format().sampleRate));
            QUERN_AL_CHECK("streamToBuffer");
        }
    }
    if (looping && bytes < sizeof scratch) {
        QUERN_LOG(4) << "Looping stream" << std::endl;
        stream.reset();
    }
    return bytes;
}

} // namespace

i32 OpenALBuffer::generatedBuffers() { return g_generatedBuffers; }

i32 OpenALBuffer::openALFormat(const audio::SampleFormat& format)
{
    if (format.channels == 1 && format.bitsPerSample == 8 && !format.isSigned)
        return AL_FORMAT_MONO8;
    if (format.channels == 1 && format.bitsPerSample == 16 && format.isSigned)
        return AL_FORMAT_MONO16;
    if (format.channels == 2 && format.bitsPerSample == 8 && !format.isSigned)
        return AL_FORMAT_STEREO8;
    if (format.channels == 2 && format.bitsPerSample == 16 && format.isSigned)
        return AL_FORMAT_STEREO16;
    QUERN_FATAL("Unsupported sample format");
}

void OpenALBuffer::open(audio::SampleStream* stream, bool streaming)
{
    if (isOpen())
        return;
    m_streaming = streaming;
    m_freeCount = 0;
    m_queuedAtOpen = 0;
    m_format = openALFormat(stream->format());
    if (streaming) {
        m_count = generateOpenALBuffers(kStreamingBuffers, m_ids);
        // OpenAL refuses a queue holding an empty buffer: only what was filled
        // is queued, the rest wait for the refill.
        while (m_queuedAtOpen < m_count && streamToBuffer(m_ids[m_queuedAtOpen], *stream, m_format, false) > 0)
            ++m_queuedAtOpen;
        for (u64 i = m_queuedAtOpen; i < m_count; ++i)
            m_freeIds[m_freeCount++] = m_ids[i];
    } else {
        m_count = generateOpenALBuffers(1, m_ids);
        if (m_count == 1) {
            std::unique_ptr<audio::SampleBuffer> temporary;
            audio::SampleBuffer* whole = stream->asSampleBuffer();
            if (!whole) {
                temporary = std::make_unique<audio::SampleBuffer>(*stream);
                whole = temporary.get();
            }
            const u8* data = whole->lock(containers::BufferBase::Lock::Read, 0, whole->elementCount());
            alBufferData(m_ids[0], m_format, data, static_cast<ALsizei>(whole->byteSize()),
                static_cast<ALsizei>(stream->format().sampleRate));
            whole->unlock();
        }
    }
    QUERN_AL_CHECK("quern::openal::OpenALBuffer::open");
}

void OpenALBuffer::close()
{
    if (!isOpen())
        return;
    alDeleteBuffers(static_cast<ALsizei>(m_count), m_ids);
    for (u32& id : m_ids)
        id = 0;
    g_generatedBuffers -= static_cast<i32>(m_count);
    for (u32& id : m_freeIds)
        id = 0;
    m_format = 0;
    m_streaming = false;
    m_count = 0;
    m_freeCount = 0;
    m_queuedAtOpen = 0;
    QUERN_AL_CHECK("quern::openal::OpenALBuffer::close");
}

void OpenALBuffer::attachToSource(u32 source)
{
    if (m_streaming) {
        if (m_queuedAtOpen > 0)
            alSourceQueueBuffers(source, static_cast<ALsizei>(m_queuedAtOpen), m_ids);
        m_queuedAtOpen = 0;
    } else {
        alSourcei(source, AL_BUFFER, static_cast<ALint>(m_ids[0]));
    }
    QUERN_AL_CHECK("quern::openal::OpenALBuffer::attachToSource");
}

void OpenALBuffer::detachFromSource(u32 source)
{
    if (m_streaming) {
        ALint queued = 0;
        alGetSourcei(source, AL_BUFFERS_QUEUED, &queued);
        for (ALint i = 0; i < queued; ++i) {
            ALuint id = 0;
            alSourceUnqueueBuffers(source, 1, &id);
        }
    } else {
        alSourcei(source, AL_BUFFER, 0);
    }
    QUERN_AL_CHECK("quern::openal::OpenALBuffer::detachFromSource");
}

u32 OpenALBuffer::update(u32 source, audio::SampleStream* stream, bool looping)
{
    if (!isOpen() || !m_streaming)
        return 0;
    ALint processed = 0;
    alGetSourcei(source, AL_BUFFERS_PROCESSED, &processed);
    if (processed > 0) {
        const u64 room = kStreamingBuffers - m_freeCount;
        const ALsizei count = static_cast<ALsizei>(static_cast<u64>(processed) < room ? processed : room);
        alSourceUnqueueBuffers(source, count, m_freeIds + m_freeCount);
        m_freeCount += static_cast<u64>(count);
    }
    return fillFreeBuffers(source, stream, looping);
}

u32 OpenALBuffer::fillFreeBuffers(u32 source, audio::SampleStream* stream, bool looping)
{
    if (m_freeCount == 0)
        return 0;
    u64 filled = 0;
    while (filled < m_freeCount && streamToBuffer(m_freeIds[filled], *stream, m_format, looping) > 0)
        ++filled;
    if (filled > 0)
        alSourceQueueBuffers(source, static_cast<ALsizei>(filled), m_freeIds);
    for (u64 i = filled; i < m_freeCount; ++i)
        m_freeIds[i - filled] = m_freeIds[i];
    for (u64 i = m_freeCount - filled; i < m_freeCount; ++i)
        m_freeIds[i] = 0;
    m_freeCount -= filled;
    const ALenum error = alGetError();
    if (error == AL_INVALID_OPERATION)
        QUERN_LOG(2) << "alSourceQueueBuffers failed, out of voices?" << std::endl;
    else
        checkOpenALError(error, __FILE__, __LINE__, "quern::openal::OpenALBuffer::update");
    return static_cast<u32>(filled);
}

} // namespace quern::openal
