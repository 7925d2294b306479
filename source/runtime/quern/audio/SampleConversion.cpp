#include "quern/audio/SampleConversion.h"

#include "quern/platform/ErrorReporting.h"

#include <cmath>
#include <vector>

namespace quern::audio {
namespace {

constexpr char kUnsupportedWidth[] = "Unsupported number of bytes per channel";
constexpr char kUnsupportedFormat[] = "Unsupported sample format";

u32 assemble(const u8* sample, u32 bytes, bool bigEndian)
{
    u32 value = 0;
    if (bigEndian) {
        for (u32 k = 0; k < bytes; ++k)
            value = value << 8 | sample[k];
    } else {
        for (u32 k = 0; k < bytes; ++k)
            value |= u32 { sample[k] } << (8 * k);
    }
    return value;
}

f32 offsetBinaryToFloat(u32 value, u32 bytes, bool isSigned)
{
    const u64 range = u64 { 1 } << (8 * bytes);
    u64 offset = value;
    if (isSigned)
        offset = (offset - range / 2) & (range - 1);
    return static_cast<f32>(offset) / static_cast<f32>(range - 1) * 2.0f - 1.0f;
}

// Every 8- and 16-bit sample value decoded once, so the hot loops of a
// conversion are one table load per sample with the exact results of the
// float formula.
struct DecodeTables {
    i32 bytes1[2][256];
    std::vector<i32> bytes2[2];

    DecodeTables()
    {
        for (u32 sign = 0; sign < 2; ++sign) {
            for (u32 v = 0; v < 256; ++v)
                bytes1[sign][v] = floatToSample32(offsetBinaryToFloat(v, 1, sign != 0));
            bytes2[sign].resize(65536);
            for (u32 v = 0; v < 65536; ++v)
                bytes2[sign][v] = floatToSample32(offsetBinaryToFloat(v, 2, sign != 0));
        }
    }
};

const DecodeTables& decodeTables()
{
    static const DecodeTables tables;
    return tables;
}

u32 bytesPerSample(const SampleFormat& format) { return format.bitsPerSample / 8; }

template <typename Load>
void decodeFrames(const u8* data, u64 frames, u32 channels, u64 stride, u32 bytes, i32* out, Load load)
{
    if (stride == u64 { channels } * bytes) {
        const u64 count = frames * channels;
        for (u64 i = 0; i < count; ++i)
            out[i] = load(data + i * bytes);
        return;
    }
    for (u64 f = 0; f < frames; ++f) {
        const u8* frame = data + f * stride;
        for (u32 c = 0; c < channels; ++c)
            *out++ = load(frame + c * bytes);
    }
}

template <bool Is16, bool IsUnsigned, bool BigEndian>
void encodeFrames(const i32* values, u64 frames, u32 channels, u64 stride, u8* out)
{
    constexpr u32 bytes = Is16 ? 2 : 1;
    for (u64 f = 0; f < frames; ++f) {
        u8* frame = out + f * stride;
        for (u32 c = 0; c < channels; ++c) {
            const i32 v = *values++;
            u8* sample = frame + c * bytes;
            if constexpr (Is16) {
                u16 word = static_cast<u16>(static_cast<u32>(v) >> 16);
                if constexpr (IsUnsigned)
                    word = static_cast<u16>(word - 0x8000u);
                sample[BigEndian ? 1 : 0] = static_cast<u8>(word);
                sample[BigEndian ? 0 : 1] = static_cast<u8>(word >> 8);
            } else {
                u8 byte = static_cast<u8>(static_cast<u32>(v) >> 24);
                if constexpr (IsUnsigned)
                    byte = static_cast<u8>(byte - 128u);
                sample[0] = byte;
            }
        }
    }
}

template <bool Is16> void encodeBySign(const i32* values, u64 frames, const SampleFormat& format, u8* out)
{
    const bool isUnsigned = format.isSigned == 0;
    const bool big = format.bigEndian != 0;
    if (isUnsigned)
        big ? encodeFrames<Is16, true, true>(values, frames, format.channels, format.bytesPerFrame, out)
            : encodeFrames<Is16, true, false>(values, frames, format.channels, format.bytesPerFrame, out);
    else
        big ? encodeFrames<Is16, false, true>(values, frames, format.channels, format.bytesPerFrame, out)
            : encodeFrames<Is16, false, false>(values, frames, format.channels, format.bytesPerFrame, out);
}

i32 roundToSample(f64 value)
{
    const f64 rounded = std::nearbyint(value);
    if (rounded >= 2147483647.0)
        return 2147483647;
    if (rounded <= -2147483648.0)
        return -2147483647 - 1;
    return static_cast<i32>(rounded);
}

void upsampleChannel(const i32* in, u64 inFrames, u32 channels, u32 oldRate, u32 newRate, i32* out, u64 outFrames)
{
    for (u64 j = 0; j < outFrames; ++j) {
        // Position of output frame j in input frames, as a whole part and a fraction.
        const u64 scaled = j * oldRate;
        const u64 i = scaled / newRate;
        const f64 t = static_cast<f64>(scaled % newRate) / newRate;
        const f64 a = in[i * channels];
        const f64 b = i + 1 < inFrames ? in[(i + 1) * channels] : a;
        out[j * channels] = roundToSample(a + (b - a) * t);
    }
}

void downsampleChannel(const i32* in, u64 inFrames, u32 channels, u32 oldRate, u32 newRate, i32* out, u64 outFrames)
{
    const f64 scale = static_cast<f64>(newRate) / oldRate;
    u64 i = 0;
    for (u64 j = 0; j < outFrames; ++j) {
        // Input frame i falls into output frame i x newRate / oldRate.
        f64 sum = 0.0;
        for (; i < inFrames && i * newRate / oldRate == j; ++i)
            sum += in[i * channels];
        out[j * channels] = roundToSample(sum * scale);
    }
}

} // namespace

f32 pcmToFloat(const u8* sample, u32 bytes, bool isSigned, bool bigEndian)
{
    if (bytes < 1 || bytes > 4)
        QUERN_FATAL(kUnsupportedWidth);
    return offsetBinaryToFloat(assemble(sample, bytes, bigEndian), bytes, isSigned);
}

i32 floatToSample32(f32 value)
{
    const f32 scaled = value * 2147483648.0f;
    if (scaled >= 2147483648.0f)
        return 2147483647;
    if (!(scaled > -2147483648.0f))
        return -2147483647 - 1; // also NaN, which has no integer value
    return static_cast<i32>(scaled);
}

void checkReadableFormat(const SampleFormat& format)
{
    const u32 bytes = bytesPerSample(format);
    if (format.bitsPerSample % 8 != 0 || bytes < 1 || bytes > 4)
        QUERN_FATAL(kUnsupportedWidth);
    if (format.bytesPerFrame < u64 { format.channels } * bytes)
        QUERN_FATAL(kUnsupportedFormat);
}

void checkWritableFormat(const SampleFormat& format)
{
    if (format.bitsPerSample != 8 && format.bitsPerSample != 16)
        QUERN_FATAL(kUnsupportedFormat);
    if (format.bytesPerFrame < u64 { format.channels } * bytesPerSample(format))
        QUERN_FATAL(kUnsupportedFormat);
}

void decodeSamples(const u8* data, u64 frames, const SampleFormat& format, i32* out)
{
    checkReadableFormat(format);
    const u32 bytes = bytesPerSample(format);
    const bool isSigned = format.isSigned != 0;
    const bool big = format.bigEndian != 0;
    const u32 channels = format.channels;
    const u64 stride = format.bytesPerFrame;
    if (bytes == 1) {
        const i32* table = decodeTables().bytes1[isSigned];
        decodeFrames(data, frames, channels, stride, 1, out, [table](const u8* p) { return table[p[0]]; });
    } else if (bytes == 2) {
        const i32* table = decodeTables().bytes2[isSigned].data();
        if (big)
            decodeFrames(data, frames, channels, stride, 2, out,
                [table](const u8* p) { return table[u32 { p[0] } << 8 | p[1]]; });
        else
            decodeFrames(data, frames, channels, stride, 2, out,
                [table](const u8* p) { return table[p[0] | u32 { p[1] } << 8]; });
    } else {
        decodeFrames(data, frames, channels, stride, bytes, out, [=](const u8* p) {
            return floatToSample32(offsetBinaryToFloat(assemble(p, bytes, big), bytes, isSigned));
        });
    }
}

void encodeSamples(const i32* values, u64 frames, const SampleFormat& format, u8* out)
{
    checkWritableFormat(format);
    if (format.bitsPerSample == 16)
        encodeBySign<true>(values, frames, format, out);
    else
        encodeBySign<false>(values, frames, format, out);
}

u64 resampledFrameCount(u64 frames, u32 oldRate, u32 newRate)
{
    // frames x newRate can pass 64 bits only for absurd lengths; the 128-bit
    // product keeps the truncated quotient exact anyway.
    return static_cast<u64>(static_cast<unsigned __int128>(frames) * newRate / oldRate);
}

void resampleChannels(const i32* in, u64 inFrames, u32 channels, u32 oldRate, u32 newRate, i32* out, u64 outFrames)
{
    if (inFrames == 0) {
        for (u64 i = 0; i < outFrames * channels; ++i)
            out[i] = 0;
        return;
    }
    for (u32 c = 0; c < channels; ++c) {
        if (newRate >= oldRate)
            upsampleChannel(in + c, inFrames, channels, oldRate, newRate, out + c, outFrames);
        else
            downsampleChannel(in + c, inFrames, channels, oldRate, newRate, out + c, outFrames);
    }
}

void mixStereoToMono(const i32* in, u64 frames, i32* out)
{
    for (u64 f = 0; f < frames; ++f)
        out[f] = static_cast<i32>((i64 { in[2 * f] } + in[2 * f + 1]) / 2);
}

void spreadMonoToStereo(const i32* in, u64 frames, i32* out)
{
    // Backwards, so `out` may be the same array as `in`.
    for (u64 f = frames; f-- > 0;) {
        const i32 v = in[f];
        out[2 * f] = v;
        out[2 * f + 1] = v;
    }
}

} // namespace quern::audio
