#pragma once
// The process-wide audio front end: it opens the first registered back end that
// works and keeps the list of open output channels (at most 64).

#include "quern/Types.h"
#include "quern/debug/MutexImpl.h"

namespace quern::audio {

class AudioBackEnd;
class AudioBackEndRegistry;
class OutputChannel;
class SampleStream;

class AudioDevice {
public:
    static constexpr u64 kMaxChannels = 64;
    static constexpr const char* kNullBackEndName = "Null";

    // A closed device choosing from the registry.
    explicit AudioDevice(AudioBackEndRegistry& registry);
    // Closes the device when a back end is still set.
    ~AudioDevice();
    AudioDevice(const AudioDevice&) = delete;
    AudioDevice& operator=(const AudioDevice&) = delete;

    // The process-wide device over the process-wide registry.
    static AudioDevice& instance();
    // Appends {"Null", the silent back end}.
    static void registerNullBackEnd(AudioBackEndRegistry& registry);
    static void registerNullBackEnd();

    // Opens the first back end of the registry that opens. When none does, the
    // last failure's text is fatal ("No audio back end found" for an empty
    // registry).
    void open();
    // Releases every listed channel through the back end, closes and destroys
    // the back end. Nothing when no back end is set.
    void close();

    // A new channel from the back end, listed; null when the back end makes
    // none or 64 channels are listed already.
    OutputChannel* createOutputChannel(SampleStream* stream);
    // Unlists the channel (the others keep their order) and hands it to the back
    // end to destroy. Takes no lock: the sound mixer calls it under its own.
    void releaseOutputChannel(OutputChannel* channel);
    // The back end's per-frame service of the listed channels, under the lock.
    void update();

    AudioBackEnd* backEnd() const { return m_backEnd; }
    u64 channelCount() const { return m_count; }
    OutputChannel* channel(u64 index) const { return m_channels[index]; }
    debug::MutexImpl& lock() { return m_lock; }

private:
    // The back end of that entry's name, opened; null with a message on failure.
    AudioBackEnd* tryBackEnd(const char* name, const char*& message, char (&text)[256]);

    AudioBackEndRegistry& m_registry;
    OutputChannel* m_channels[kMaxChannels] = {};
    u64 m_count = 0;
    AudioBackEnd* m_backEnd = nullptr;
    debug::MutexImpl m_lock;
};

} // namespace quern::audio
