#pragma once
// In-memory sample streams for the audio tests and benchmarks: PCM bytes of a
// given format served as a decoder would serve them, and the tones and ramps
// those tests listen for.

#include "quern/audio/SampleStream.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace quern::testing {

class MemorySampleStream : public audio::SampleStream {
public:
    MemorySampleStream(const audio::SampleFormat& format, std::vector<u8> bytes)
        : m_bytes(std::move(bytes))
    {
        SampleStream::setFormat(format);
    }

    bool isOpen() const override { return true; }
    bool readFormat(std::streambuf*, audio::SampleFormat&) override { return false; }
    void reset() override
    {
        m_position = 0;
        ++resets;
    }
    u64 readImpl(std::streambuf*, u64 bytes, void* destination) override
    {
        const u64 count = std::min<u64>(std::min(bytes, maxRead), m_bytes.size() - m_position);
        std::memcpy(destination, m_bytes.data() + m_position, count);
        m_position += count;
        return count;
    }
    void close() override { m_position = 0; }
    f64 duration() override
    {
        ++durationCalls;
        const audio::SampleFormat& f = format();
        if (!f.isComplete())
            return -1.0;
        return static_cast<f64>(m_bytes.size() / f.bytesPerFrame) / f.sampleRate;
    }

    const std::vector<u8>& bytes() const { return m_bytes; }
    u64 position() const { return m_position; }

    u64 maxRead = ~u64 { 0 }; // the most one read returns, to mimic a slow decoder
    int resets = 0;
    int durationCalls = 0;

private:
    std::vector<u8> m_bytes;
    u64 m_position = 0;
};

inline audio::SampleFormat pcmFormat(u32 channels, u32 rate, u32 bits, bool isSigned = true, bool bigEndian = false)
{
    audio::SampleFormat format;
    format.channels = channels;
    format.sampleRate = rate;
    format.bitsPerSample = bits;
    format.isSigned = isSigned ? 1 : 0;
    format.bytesPerFrame = u64 { channels } * (bits / 8);
    format.bigEndian = bigEndian ? 1 : 0;
    return format;
}

// Signed 16-bit little-endian samples of a sine in every channel.
inline std::vector<u8> sineBytes16(u32 channels, u32 rate, f64 frequency, u64 frames, f64 amplitude = 0.5)
{
    std::vector<u8> bytes(frames * channels * 2);
    for (u64 f = 0; f < frames; ++f) {
        const f64 value = amplitude * std::sin(2.0 * 3.14159265358979323846 * frequency * f / rate);
        const i16 sample = static_cast<i16>(std::lround(value * 32767.0));
        for (u32 c = 0; c < channels; ++c) {
            bytes[(f * channels + c) * 2] = static_cast<u8>(sample);
            bytes[(f * channels + c) * 2 + 1] = static_cast<u8>(static_cast<u16>(sample) >> 8);
        }
    }
    return bytes;
}

// Signed 16-bit little-endian samples from a list of values.
inline std::vector<u8> samples16(const std::vector<i16>& values)
{
    std::vector<u8> bytes(values.size() * 2);
    for (size_t i = 0; i < values.size(); ++i) {
        bytes[2 * i] = static_cast<u8>(values[i]);
        bytes[2 * i + 1] = static_cast<u8>(static_cast<u16>(values[i]) >> 8);
    }
    return bytes;
}

inline std::vector<i16> values16(const u8* bytes, u64 count)
{
    std::vector<i16> values(count);
    for (u64 i = 0; i < count; ++i)
        values[i] = static_cast<i16>(bytes[2 * i] | bytes[2 * i + 1] << 8);
    return values;
}

// A stream that counts its own destruction.
class CountedMemoryStream : public MemorySampleStream {
public:
    CountedMemoryStream(const audio::SampleFormat& format, std::vector<u8> bytes, int& destroyed)
        : MemorySampleStream(format, std::move(bytes))
        , m_destroyed(destroyed)
    {
    }
    ~CountedMemoryStream() override { ++m_destroyed; }

private:
    int& m_destroyed;
};

} // namespace quern::testing
