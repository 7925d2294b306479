#include "quern/audio/AudioDevice.h"

#include "quern/audio/AudioBackEnd.h"
#include "quern/audio/AudioBackEndRegistry.h"
#include "quern/audio/NullBackEnd.h"
#include "quern/debug/Log.h"
#include "quern/language/Exception.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/platform/ErrorReporting.h"

#include <cstdio>
#include <cstring>

namespace quern::audio {
namespace {

constexpr const char* kNoBackEnd = "No audio back end found";
constexpr const char* kUnknownName = "Unknown back-end name";

memory::Allocator& backEndAllocator()
{
    memory::Allocator* allocator = memory::getDefaultAllocator();
    if (!allocator)
        QUERN_FATAL("Audio back end made before the default allocator exists");
    return *allocator;
}

void destroyBackEnd(AudioBackEnd* backEnd)
{
    backEnd->~AudioBackEnd();
    backEndAllocator().free(backEnd);
}

} // namespace

AudioDevice::AudioDevice(AudioBackEndRegistry& registry)
    : m_registry(registry)
{
}

AudioDevice::~AudioDevice()
{
    if (m_backEnd)
        close();
}

AudioDevice& AudioDevice::instance()
{
    static AudioDevice device(AudioBackEndRegistry::instance());
    return device;
}

void AudioDevice::registerNullBackEnd(AudioBackEndRegistry& registry)
{
    registry.add(kNullBackEndName, &NullBackEnd::create);
}

void AudioDevice::registerNullBackEnd() { registerNullBackEnd(AudioBackEndRegistry::instance()); }

AudioBackEnd* AudioDevice::tryBackEnd(const char* name, const char*& message, char (&text)[256])
{
    if (name[0] != '\0')
        QUERN_LOG(3) << "Using back end '" << name << "'" << std::endl;
    const AudioBackEndRegistry::Entry* entry = m_registry.find(name);
    AudioBackEnd* backEnd = entry ? entry->factory(name, backEndAllocator()) : nullptr;
    if (!backEnd) {
        message = kUnknownName;
        return nullptr;
    }
    const BackEndResult result = backEnd->open();
    if (result.code == 0)
        return backEnd;
    // The text may belong to the back end: keep a copy before it goes.
    std::snprintf(text, sizeof text, "%s", result.message ? result.message : "");
    message = text;
    destroyBackEnd(backEnd);
    return nullptr;
}

void AudioDevice::open()
{
    if (m_backEnd)
        return;
    const char* pending = kNoBackEnd;
    char text[256];
    for (i32 i = 0; i < m_registry.count(); ++i) {
        const char* message = nullptr;
        AudioBackEnd* backEnd = tryBackEnd(m_registry.entry(i).name, message, text);
        if (backEnd) {
            m_backEnd = backEnd;
            return;
        }
        QUERN_LOG(3) << message << std::endl;
        pending = message;
    }
    QUERN_RAISE(Exception, pending);
}

void AudioDevice::close()
{
    if (!m_backEnd)
        return;
    QUERN_LOG(3) << "Closing back-end" << std::endl;
    for (u64 i = 0; i < m_count; ++i)
        m_backEnd->releaseOutputChannel(m_channels[i]);
    m_count = 0;
    m_backEnd->close();
    destroyBackEnd(m_backEnd);
    m_backEnd = nullptr;
    QUERN_LOG(4) << "AudioDevice closed" << std::endl;
}

OutputChannel* AudioDevice::createOutputChannel(SampleStream* stream)
{
    // A full list would be written past its end: the back end is not even asked.
    if (!m_backEnd || m_count >= kMaxChannels)
        return nullptr;
    OutputChannel* channel = m_backEnd->createOutputChannel(stream);
    if (channel) {
        debug::MutexLock lock(m_lock);
        m_channels[m_count++] = channel;
    }
    return channel;
}

void AudioDevice::releaseOutputChannel(OutputChannel* channel)
{
    u64 index = 0;
    while (index < m_count && m_channels[index] != channel)
        ++index;
    if (index == m_count)
        QUERN_FATAL("Released an output channel the audio device does not list");
    std::memmove(&m_channels[index], &m_channels[index + 1], (m_count - index - 1) * sizeof m_channels[0]);
    --m_count;
    m_channels[m_count] = nullptr;
    m_backEnd->releaseOutputChannel(channel);
}

void AudioDevice::update()
{
    debug::MutexLock lock(m_lock);
    if (m_backEnd)
        m_backEnd->update(m_channels, m_count);
}

} // namespace quern::audio
