#include "quern/openal/OpenALBackEnd.h"

#include "quern/audio/AudioBackEndRegistry.h"
#include "quern/audio/SampleStream.h"
#include "quern/debug/Log.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/openal/OpenALBuffer.h"
#include "quern/openal/OpenALEFX.h"
#include "quern/openal/OpenALEffect.h"
#include "quern/openal/OpenALError.h"
#include "quern/openal/OpenALOutputChannel.h"
#include "quern/openal/OpenALReverbSlot.h"

#include <AL/al.h>
#include <AL/alc.h>

#include <deque>
#include <new>
#include <string>
#include <vector>

namespace quern::openal {
namespace {

bool g_stringsLogged = false;
u64 g_reportedMemory = 0;

ALCdevice* openSystemDevice(const char* name) { return alcOpenDevice(name); }

// Names the enumeration reported, kept for the registry and the back ends:
// OpenAL may rebuild its list at any later query.
const char* keepDeviceName(const char* name)
{
    static std::deque<std::string> names;
    names.emplace_back(name);
    return names.back().c_str();
}

const char* deviceFailureText()
{
    const ALenum error = alGetError();
    if (const ALchar* text = alGetString(error))
        return text;
    return openALErrorText(error);
}

const char* contextFailureText(ALCdevice* device)
{
    const ALCenum error = alcGetError(device);
    if (const ALCchar* text = alcGetString(device, error))
        return text;
    if (alcGetError(device) == ALC_INVALID_VALUE)
        return "invalid error code";
    return openALErrorText(error);
}

i32 readMonoSources(ALCdevice* device)
{
    alGetError();
    ALCint size = 0;
    alcGetIntegerv(device, ALC_ATTRIBUTES_SIZE, 1, &size);
    if (size <= 0)
        return 0;
    std::vector<ALCint> attributes(static_cast<size_t>(size), 0);
    alcGetIntegerv(device, ALC_ALL_ATTRIBUTES, size, attributes.data());
    for (ALCint i = 0; i + 1 < size; i += 2) {
        if (attributes[i] == ALC_MONO_SOURCES)
            return attributes[i + 1];
    }
    return 0;
}

audio::AudioBackEnd* makeBackEnd(const char* deviceName, memory::Allocator& allocator)
{
    void* memory = allocator.allocate(sizeof(OpenALBackEnd), 8);
    return memory ? new (memory) OpenALBackEnd(deviceName, OpenALDeviceAccess {}) : nullptr;
}

} // namespace

OpenALBackEnd::OpenALBackEnd(const char* deviceName, const OpenALDeviceAccess& access)
    : m_effectSlots(sizeof(OpenALEffectSlot*), 8)
    , m_reverbSlots(sizeof(OpenALReverbSlot*), 8)
    , m_deviceName(deviceName)
    , m_buffers(sizeof(OpenALBuffer*), 8)
    , m_access(access)
{
    if (!m_access.openDevice)
        m_access.openDevice = &openSystemDevice;
}

OpenALBackEnd::~OpenALBackEnd() = default;

audio::AudioBackEnd* OpenALBackEnd::createDefault(const char*, memory::Allocator& allocator)
{
    return makeBackEnd(nullptr, allocator);
}

audio::AudioBackEnd* OpenALBackEnd::createNamed(const char* name, memory::Allocator& allocator)
{
    return makeBackEnd(name, allocator);
}

u64 OpenALBackEnd::lastReportedMemory() { return g_reportedMemory; }

audio::BackEndResult OpenALBackEnd::open()
{
    ALCdevice* device = m_access.openDevice(m_deviceName);
    if (!device)
        return { 1, deviceFailureText() };
    ALCcontext* context = alcCreateContext(device, m_access.contextAttributes);
    if (!context) {
        const char* text = contextFailureText(device);
        // The device is of no use without a context; leaving it open would leak it.
        alcCloseDevice(device);
        return { 1, text };
    }
    alcMakeContextCurrent(context);
    if (!g_stringsLogged) {
        g_stringsLogged = true;
        QUERN_LOG(3) << "Vendor: " << alGetString(AL_VENDOR) << std::endl;
        QUERN_LOG(3) << "Renderer: " << alGetString(AL_RENDERER) << std::endl;
        QUERN_LOG(3) << "Version: " << alGetString(AL_VERSION) << std::endl;
    }
    m_maxSources = readMonoSources(device);
    QUERN_LOG(3) << "Max. sources: " << m_maxSources << std::endl;
    alDistanceModel(AL_NONE);
    loadEFX();
    QUERN_LOG(3) << "EAX " << (hasEFX() ? "" : "un") << "supported" << std::endl;
    QUERN_AL_CHECK("quern::openal::OpenALBackEnd::open");
    m_context = context;
    m_opened = true;
    return {};
}

void OpenALBackEnd::close()
{
    for (u64 i = 0; i < m_effectSlots.count(); ++i)
        OpenALEffectSlot::destroy(m_effectSlots.at<OpenALEffectSlot*>(i));
    m_effectSlots.release();
    // After the slots: destroying a slot still reaches the reverb effects listed on it.
    for (u64 i = 0; i < m_reverbSlots.count(); ++i)
        delete m_reverbSlots.at<OpenALReverbSlot*>(i);
    m_reverbSlots.release();
    if (m_context) {
        ALCdevice* device = alcGetContextsDevice(m_context);
        alcMakeContextCurrent(nullptr);
        alcDestroyContext(m_context);
        m_context = nullptr;
        alcCloseDevice(device);
    }
    m_opened = false;
}

void OpenALBackEnd::setListenerPosition(const math::Vector3& position)
{
    const ALfloat values[3] = { position.x, position.y, position.z };
    alListenerfv(AL_POSITION, values);
}

void OpenALBackEnd::setListenerOrientation(const math::Vector3& direction)
{
    const ALfloat values[6] = { direction.x, direction.y, direction.z, 0.0f, 1.0f, 0.0f };
    alListenerfv(AL_ORIENTATION, values);
}

void OpenALBackEnd::setListenerVelocity(const math::Vector3& velocity)
{
    const ALfloat values[3] = { velocity.x, velocity.y, velocity.z };
    alListenerfv(AL_VELOCITY, values);
}

OpenALBuffer* OpenALBackEnd::acquireBuffer(audio::SampleStream* stream)
{
    for (u64 i = 0; i < m_buffers.count(); ++i) {
        OpenALBuffer* buffer = m_buffers.at<OpenALBuffer*>(i);
        if (!buffer->isStreaming() && buffer->stream() == stream) {
            buffer->addReference();
            return buffer;
        }
    }
    OpenALBuffer* buffer = new (std::nothrow) OpenALBuffer(stream);
    if (buffer)
        m_buffers.append(buffer);
    return buffer;
}

void OpenALBackEnd::releaseBuffer(OpenALBuffer* buffer)
{
    if (!buffer->dropReference())
        return;
    m_buffers.removeValue(buffer);
    buffer->close();
    delete buffer;
}

audio::OutputChannel* OpenALBackEnd::createOutputChannel(audio::SampleStream* stream)
{
    OpenALBuffer* buffer = acquireBuffer(stream);
    if (!buffer)
        return nullptr;
    auto* channel = new (std::nothrow) OpenALOutputChannel(stream, buffer);
    if (!channel) {
        releaseBuffer(buffer);
        return nullptr;
    }
    ++m_openChannels;
    return channel;
}

void OpenALBackEnd::releaseOutputChannel(audio::OutputChannel* channel)
{
    if (!channel)
        return;
    auto* openal = static_cast<OpenALOutputChannel*>(channel);
    openal->stop();
    openal->setEffectSlot(nullptr);
    OpenALBuffer* buffer = openal->buffer();
    delete openal;
    releaseBuffer(buffer);
    --m_openChannels;
    reportBufferMemory();
}

void OpenALBackEnd::reportBufferMemory()
{
    u64 total = 0;
    for (u64 i = 0; i < m_buffers.count(); ++i) {
        const OpenALBuffer* buffer = m_buffers.at<OpenALBuffer*>(i);
        // The free list only names buffers of the main list: each counts once.
        for (u64 k = 0; k < buffer->bufferCount(); ++k) {
            ALint size = 0;
            if (buffer->bufferId(k) != 0) {
                alGetBufferi(buffer->bufferId(k), AL_SIZE, &size);
                total += static_cast<u64>(size > 0 ? size : 0);
            }
        }
    }
    if (total > 2 * g_reportedMemory) {
        QUERN_LOG(3) << m_openChannels << " open, " << total / 1024 << "kb memory in use" << std::endl;
        g_reportedMemory = total;
    }
}

void OpenALBackEnd::update(audio::OutputChannel* const* channels, u64 count)
{
    for (u64 i = 0; i < count; ++i) {
        auto* channel = static_cast<OpenALOutputChannel*>(channels[i]);
        if (!channel->isPlaying() || channel->isPaused() || channel->source() == 0)
            continue;
        const ALuint source = channel->source();
        OpenALBuffer* buffer = channel->buffer();
        ALint state = 0;
        alGetSourcei(source, AL_SOURCE_STATE, &state);
        if (state != AL_STOPPED) {
            buffer->update(source, channel->stream(), channel->isLooping());
        } else if (buffer->isStreaming()) {
            // A stopped stream has finished every queued buffer. When the refill
            // finds more data the source ran dry early: play on. When the
            // stream has nothing left, it simply ended.
            if (buffer->update(source, channel->stream(), channel->isLooping()) > 0) {
                QUERN_LOG(2) << "Buffer underrun detected!" << std::endl;
                alSourcePlay(source);
            } else {
                channel->stop();
            }
            QUERN_AL_CHECK("quern::openal::OpenALOutputChannel::update");
        } else {
            channel->stop();
        }
    }
}

OpenALEffectSlot* OpenALBackEnd::createEffectSlot()
{
    OpenALEffectSlot* slot = OpenALEffectSlot::generate();
    if (slot)
        m_effectSlots.append(slot);
    return slot;
}

audio::ReverbSlot* OpenALBackEnd::createReverbSlot()
{
    OpenALEffectSlot* slot = createEffectSlot();
    if (!slot)
        return nullptr;
    auto* reverb = new OpenALReverbSlot(slot);
    m_reverbSlots.append(reverb);
    return reverb;
}

void registerBackEnds(audio::AudioBackEndRegistry& registry)
{
    registry.add("OpenAL", &OpenALBackEnd::createDefault);
    if (alcIsExtensionPresent(nullptr, "ALC_ENUMERATION_EXT") != ALC_TRUE)
        return;
    const ALCchar* list = alcGetString(nullptr, ALC_DEVICE_SPECIFIER);
    for (const ALCchar* name = list; name && *name; name += std::char_traits<char>::length(name) + 1)
        registry.add(keepDeviceName(name), &OpenALBackEnd::createNamed);
}

void registerBackEnds() { registerBackEnds(audio::AudioBackEndRegistry::instance()); }

} // namespace quern::openal
