#pragma once
// A sample stream whose whole PCM data lives in memory, one element per frame.
// Filled once from another stream (a decoder) and then played from memory; it
// can convert its data in place to another sample format.

#include "quern/Types.h"
#include "quern/audio/SampleStream.h"
#include "quern/containers/ElementBuffer.h"

namespace quern::audio {

class SampleBuffer : public SampleStream, public containers::ElementBuffer {
public:
    // Bytes read from a stream per step while filling.
    static constexpr u64 kFillStep = 4096;

    SampleBuffer() = default;
    // Empty, then filled from the stream.
    explicit SampleBuffer(SampleStream& stream);
    ~SampleBuffer() override = default;

    // Reads the whole stream (rewinding it before and after) and takes over
    // its format. A stream whose format is incomplete, or whose frame is
    // larger than one step, fills nothing; so does a stream that gives nothing.
    void fill(SampleStream& stream);

    // Converts the data to the format (rate, channels, width, signedness and
    // byte order). Same channels, rate, width and signedness: nothing changes.
    // An empty buffer, or one whose format is incomplete, just takes the format.
    // Channel changes other than stereo to mono and mono to stereo are fatal
    // "Unsupported sample format", as are target widths other than 8 and 16 bits.
    void setFormat(const SampleFormat& format) override;
    bool isOpen() const override;
    bool readFormat(std::streambuf* source, SampleFormat& format) override;
    void reset() override;
    SampleBuffer* asSampleBuffer() override;
    void describe(std::ostream& log) override;
    // Copies whole frames from the read position; the source is ignored.
    u64 readImpl(std::streambuf* source, u64 bytes, void* destination) override;
    void close() override;
    f64 duration() override;

    u32 readPosition() const { return m_readPosition; }
    u64 frameCount() const { return elementCount(); }

private:
    void convertSamePace(const SampleFormat& target);
    void convertResampling(const SampleFormat& target);
    void adoptFrames(u8* block, u64 frames, const SampleFormat& target);

    u32 m_readPosition = 0;
};

} // namespace quern::audio
