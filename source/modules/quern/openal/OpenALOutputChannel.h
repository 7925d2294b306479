#pragma once
// One OpenAL voice: a source made on the first play and deleted on stop, fed
// by an OpenALBuffer from the back end's cache, optionally sending to an
// effect slot for reverb.

#include "quern/audio/OutputChannel.h"

namespace quern::openal {

class OpenALBuffer;
class OpenALEffectSlot;

class OpenALOutputChannel final : public audio::OutputChannel {
public:
    // Every new source hears sounds from this distance on at full gain.
    static constexpr f32 kReferenceDistance = 3.0f;

    OpenALOutputChannel(audio::SampleStream* stream, OpenALBuffer* buffer)
        : OutputChannel(stream)
        , m_buffer(buffer)
    {
    }
    ~OpenALOutputChannel() override;

    void play() override;
    void stop() override;
    void pause() override;
    void resume() override;
    void setPitch(f32 pitch) override;
    void setLooping(bool looping) override;
    void setGain(f32 gain) override;
    void setPosition(const audio::ChannelPosition& position) override;
    bool hasOutput() const override { return true; }
    void openBuffer(bool streaming) override;

    // The slot whose reverb the source sends to on its next play; null for none.
    void setEffectSlot(OpenALEffectSlot* slot) { m_effectSlot = slot; }
    // The game's reverb slot: one the same back end made (OpenALReverbSlot).
    void setReverbSlot(audio::ReverbSlot* slot) override;
    OpenALEffectSlot* effectSlot() const { return m_effectSlot; }
    u32 source() const { return m_source; }
    OpenALBuffer* buffer() const { return m_buffer; }

    // OpenAL sources of this process not yet deleted.
    static i32 liveSources();

private:
    bool makeSource();

    u32 m_source = 0;
    OpenALBuffer* m_buffer = nullptr;
    OpenALEffectSlot* m_effectSlot = nullptr;
};

} // namespace quern::openal
