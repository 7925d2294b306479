#pragma once
// The silent audio back end: it always opens, and its channels only keep their
// flags and settings, so the game runs the same with nothing to hear.

#include "quern/audio/AudioBackEnd.h"
#include "quern/audio/OutputChannel.h"

namespace quern::memory {
class Allocator;
}

namespace quern::audio {

class NullOutputChannel final : public OutputChannel {
public:
    using OutputChannel::OutputChannel;

    void play() override { setPlaying(true); }
    void stop() override { setPlaying(false); }
    void pause() override { setPlaying(false); }
    void resume() override { setPlaying(true); }
    void setPitch(f32) override { }
    void openBuffer(bool) override { }
};

class NullBackEnd final : public AudioBackEnd {
public:
    // The registry's factory: a back end made with the allocator.
    static AudioBackEnd* create(const char* name, memory::Allocator& allocator);

    BackEndResult open() override { return {}; }
    void close() override { }
    void setListenerPosition(const math::Vector3&) override { }
    void setListenerOrientation(const math::Vector3&) override { }
    void setListenerVelocity(const math::Vector3&) override { }
    OutputChannel* createOutputChannel(SampleStream* stream) override;
    void releaseOutputChannel(OutputChannel* channel) override;
    void update(OutputChannel* const*, u64) override { }
};

} // namespace quern::audio
