#pragma once
// One playing voice of an audio back end, and how it holds its samples.

#include "quern/Types.h"

namespace quern::audio {

class ReverbSlot;
class SampleStream;

// How a channel holds its samples: streamed in pieces, or as one whole buffer;
// Auto streams sounds longer than 10 seconds.
enum class BufferMode : i32 { Auto = 0, Streaming = 1, Static = 2 };

struct ChannelPosition {
    f32 x = 0.0f, y = 0.0f, z = 0.0f, w = 1.0f;
};

class OutputChannel {
public:
    // Sounds longer than this stream in Auto mode.
    static constexpr f64 kAutoStreamingSeconds = 10.0;

    // The stream is not retained: its creator keeps it alive.
    explicit OutputChannel(SampleStream* stream)
        : m_stream(stream)
    {
    }
    virtual ~OutputChannel() = default;
    OutputChannel(const OutputChannel&) = delete;
    OutputChannel& operator=(const OutputChannel&) = delete;

    virtual void play() = 0;
    virtual void stop() = 0;
    virtual void pause() = 0;
    virtual void resume() = 0;
    virtual void setPitch(f32 pitch) = 0;
    virtual void setLooping(bool looping) { m_looping = looping; }
    virtual void setGain(f32 gain) { m_gain = gain; }
    // Kept for the mixer; no back end reads it.
    virtual void setAuxiliaryValue(f32 value) { m_auxiliaryValue = value; }
    virtual void setPosition(const ChannelPosition& position) { m_position = position; }
    virtual bool hasOutput() const { return false; }
    // The slot the channel's reverb send goes to on its next play; a slot of
    // the back end that made the channel, or null for none.
    virtual void setReverbSlot(ReverbSlot*) { }
    // Prepares the samples for playing: streamed in pieces, or one whole buffer.
    virtual void openBuffer(bool streaming) = 0;

    // openBuffer by mode; Auto asks the stream's (cached) duration. Any other
    // mode is fatal "Invalid enum value for type BufferMode".
    void open(BufferMode mode);

    SampleStream* stream() const { return m_stream; }
    const ChannelPosition& position() const { return m_position; }
    f32 gain() const { return m_gain; }
    f32 auxiliaryValue() const { return m_auxiliaryValue; }
    bool isPlaying() const { return m_playing; }
    bool isPaused() const { return m_paused; }
    bool isLooping() const { return m_looping; }

protected:
    void setPlaying(bool playing) { m_playing = playing; }
    void setPaused(bool paused) { m_paused = paused; }

private:
    ChannelPosition m_position;
    SampleStream* m_stream = nullptr;
    f32 m_gain = 1.0f;
    f32 m_auxiliaryValue = 0.0f;
    bool m_playing = false;
    bool m_paused = false;
    bool m_looping = false;
};

} // namespace quern::audio
