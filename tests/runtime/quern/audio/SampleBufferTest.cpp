#include "quern/audio/SampleBuffer.h"
#include "quern/audio/SampleConversion.h"

#include "support/MemorySampleStream.h"

#include <gtest/gtest.h>

#include <climits>
#include <sstream>

namespace quern::audio {
namespace {

using testing::MemorySampleStream;
using testing::pcmFormat;
using testing::samples16;
using testing::values16;

std::vector<u8> byteRamp(u64 count)
{
    std::vector<u8> bytes(count);
    for (u64 i = 0; i < count; ++i)
        bytes[i] = static_cast<u8>(i * 7 + i / 251);
    return bytes;
}

std::vector<u8> bufferBytes(SampleBuffer& buffer)
{
    const u8* data = buffer.data();
    return std::vector<u8>(data, data + buffer.byteSize());
}

std::vector<i16> bufferValues(SampleBuffer& buffer) { return values16(buffer.data(), buffer.byteSize() / 2); }

SampleBuffer* filledWith(const SampleFormat& format, std::vector<u8> bytes)
{
    MemorySampleStream stream(format, std::move(bytes));
    return new SampleBuffer(stream);
}

TEST(SampleBuffer, FillCopiesEveryFrameTakesTheFormatAndRewindsTheStream)
{
    // 10,000 stereo frames: several 4096-byte steps and a short last one.
    const SampleFormat format = pcmFormat(2, 44100, 16);
    MemorySampleStream stream(format, byteRamp(40000));
    SampleBuffer buffer(stream);
    EXPECT_EQ(buffer.frameCount(), 10000u);
    EXPECT_EQ(buffer.elementSize(), 4u);
    EXPECT_EQ(bufferBytes(buffer), stream.bytes());
    EXPECT_EQ(buffer.format().sampleRate, 44100u);
    EXPECT_EQ(buffer.format().bytesPerFrame, 4u);
    EXPECT_EQ(stream.resets, 2);
    EXPECT_EQ(stream.position(), 0u);
    EXPECT_TRUE(buffer.isOpen());
    EXPECT_EQ(buffer.asSampleBuffer(), &buffer);
}

TEST(SampleBuffer, FillKeepsWholeFramesOnly)
{
    // 3-byte frames: a step asks for 1365 frames (4095 bytes); the data ends
    // in the middle of a frame.
    SampleFormat format = pcmFormat(3, 8000, 8, false);
    MemorySampleStream stream(format, byteRamp(3 * 2000 + 2));
    SampleBuffer buffer(stream);
    EXPECT_EQ(buffer.frameCount(), 2000u);
    std::vector<u8> expected = stream.bytes();
    expected.resize(6000);
    EXPECT_EQ(bufferBytes(buffer), expected);
}

TEST(SampleBuffer, FillStopsAtTheFirstShortStep)
{
    // A stream that hands out less than a step at a time has ended, as far as
    // the fill can tell.
    MemorySampleStream stream(pcmFormat(1, 8000, 16), byteRamp(20000));
    stream.maxRead = 1000;
    SampleBuffer buffer(stream);
    EXPECT_EQ(buffer.byteSize(), 1000u);
}

TEST(SampleBuffer, FillFromAnEmptyStreamLeavesTheBufferEmptyAndItsFormatZero)
{
    MemorySampleStream stream(pcmFormat(2, 44100, 16), {});
    SampleBuffer buffer(stream);
    EXPECT_EQ(buffer.byteSize(), 0u);
    EXPECT_FALSE(buffer.isOpen());
    EXPECT_EQ(buffer.format().channels, 0u);
    EXPECT_EQ(buffer.format().sampleRate, 0u);
    EXPECT_EQ(buffer.duration(), -1.0);
}

TEST(SampleBuffer, FillFromAStreamWithoutAUsableFrameSizeFillsNothing)
{
    // Each of these once divided by zero or looped for ever.
    SampleFormat noFrame = pcmFormat(2, 44100, 16);
    noFrame.bytesPerFrame = 0;
    SampleFormat noRate = pcmFormat(2, 44100, 16);
    noRate.sampleRate = 0;
    SampleFormat hugeFrame = pcmFormat(2, 44100, 16);
    hugeFrame.bytesPerFrame = 4097;
    for (const SampleFormat& format : { noFrame, noRate, hugeFrame }) {
        MemorySampleStream stream(format, byteRamp(50000));
        SampleBuffer buffer(stream);
        EXPECT_EQ(buffer.byteSize(), 0u);
        EXPECT_EQ(buffer.format().channels, 0u);
    }
    // A frame of exactly one step still fills.
    SampleFormat stepFrame = pcmFormat(2, 44100, 16);
    stepFrame.bytesPerFrame = 4096;
    MemorySampleStream stream(stepFrame, byteRamp(3 * 4096 + 5));
    SampleBuffer buffer(stream);
    EXPECT_EQ(buffer.frameCount(), 3u);
}

TEST(SampleBuffer, ReadCopiesWholeFramesAndAdvances)
{
    const SampleFormat format = pcmFormat(2, 100, 16);
    std::unique_ptr<SampleBuffer> buffer(filledWith(format, byteRamp(40)));
    u8 out[64] = {};
    // Less than a frame: nothing, and the position stays.
    EXPECT_EQ(buffer->readImpl(nullptr, 3, out), 0u);
    EXPECT_EQ(buffer->readPosition(), 0u);
    EXPECT_EQ(buffer->readImpl(nullptr, 0, out), 0u);
    // 11 bytes give two whole frames.
    EXPECT_EQ(buffer->readImpl(nullptr, 11, out), 8u);
    EXPECT_EQ(buffer->readPosition(), 2u);
    EXPECT_EQ(std::vector<u8>(out, out + 8), std::vector<u8>(buffer->data(), buffer->data() + 8));
    // The rest, then nothing at the end.
    EXPECT_EQ(buffer->readImpl(nullptr, 64, out), 32u);
    EXPECT_EQ(out[0], buffer->data()[8]);
    EXPECT_EQ(buffer->readImpl(nullptr, 64, out), 0u);
    EXPECT_EQ(buffer->readPosition(), 10u);
    buffer->reset();
    EXPECT_EQ(buffer->readImpl(nullptr, 4, out), 4u);
    EXPECT_EQ(out[0], buffer->data()[0]);
    buffer->close();
    EXPECT_EQ(buffer->readPosition(), 0u);
}

TEST(SampleBuffer, DurationOfEmptyIncompleteAndFilledBuffers)
{
    SampleBuffer empty;
    EXPECT_EQ(empty.duration(), -1.0);
    empty.setFormat(pcmFormat(2, 44100, 16));
    EXPECT_EQ(empty.duration(), 0.0);
    EXPECT_EQ(empty.elementSize(), 4u);
    std::unique_ptr<SampleBuffer> filled(filledWith(pcmFormat(1, 8000, 16), byteRamp(2 * 12000)));
    EXPECT_DOUBLE_EQ(filled->duration(), 1.5);
    std::ostringstream log;
    filled->describe(log);
    EXPECT_EQ(log.str(), "8000Hz, 16bit, mono\nDuration: 1.5s\n");
    SampleFormat unused;
    EXPECT_FALSE(filled->readFormat(nullptr, unused));
}

TEST(SampleBuffer, ByteOrderAloneChangesNothing)
{
    std::unique_ptr<SampleBuffer> buffer(filledWith(pcmFormat(2, 44100, 16), samples16({ 1, 2, 300, -400 })));
    const std::vector<u8> before = bufferBytes(*buffer);
    SampleFormat target = pcmFormat(2, 44100, 16, true, true);
    target.bytesPerFrame = 8;
    buffer->setFormat(target);
    EXPECT_EQ(bufferBytes(*buffer), before);
    EXPECT_EQ(buffer->format().bigEndian, 0u);
    EXPECT_EQ(buffer->format().bytesPerFrame, 4u);
}

TEST(SampleBuffer, ChannelConversions)
{
    struct Case {
        const char* name;
        u32 fromChannels, toChannels;
        std::vector<i16> input, expected;
    };
    const Case cases[] = {
        { "stereo to mono", 2, 1, { -3, 0, 32767, 32767, -32768, -32768, 1000, -1000 }, { -1, 32767, -32768, 0 } },
        { "mono to stereo", 1, 2, { 5, -32768, 32767 }, { 5, 5, -32768, -32768, 32767, 32767 } },
    };
    for (const Case& c : cases) {
        std::unique_ptr<SampleBuffer> buffer(filledWith(pcmFormat(c.fromChannels, 22050, 16), samples16(c.input)));
        buffer->setFormat(pcmFormat(c.toChannels, 22050, 16));
        EXPECT_EQ(bufferValues(*buffer), c.expected) << c.name;
        EXPECT_EQ(buffer->elementSize(), 2u * c.toChannels) << c.name;
        EXPECT_EQ(buffer->format().channels, c.toChannels) << c.name;
    }
}

TEST(SampleBuffer, WidthAndSignednessConversions)
{
    struct Case {
        const char* name;
        SampleFormat from, to;
        std::vector<u8> input, expected;
    };
    const Case cases[] = {
        // The scale maps 0 to 255 onto -1 to 1, so the middle value lands just above 0.
        { "8 unsigned to 16 signed", pcmFormat(1, 8000, 8, false), pcmFormat(1, 8000, 16), { 0xff, 0x00, 0x80 },
            { 0xff, 0x7f, 0x00, 0x80, 0x80, 0x00 } },
        { "16 signed to 8 unsigned", pcmFormat(1, 8000, 16), pcmFormat(1, 8000, 8, false),
            { 0xff, 0x7f, 0x00, 0x80, 0x00, 0x00 }, { 0xff, 0x00, 0x80 } },
        { "16 signed to 16 unsigned big endian", pcmFormat(1, 8000, 16), pcmFormat(1, 8000, 16, false, true),
            { 0xff, 0x7f, 0x00, 0x80 }, { 0xff, 0xff, 0x00, 0x00 } },
        { "16 unsigned big endian to 16 signed", pcmFormat(1, 8000, 16, false, true), pcmFormat(1, 8000, 16),
            { 0xff, 0xff, 0x00, 0x00 }, { 0xff, 0x7f, 0x00, 0x80 } },
        { "32 signed to 16 signed", pcmFormat(1, 8000, 32), pcmFormat(1, 8000, 16),
            { 0xff, 0xff, 0xff, 0x7f, 0x00, 0x00, 0x00, 0x80 }, { 0xff, 0x7f, 0x00, 0x80 } },
        { "24 signed big endian to 8 signed", pcmFormat(1, 8000, 24, true, true), pcmFormat(1, 8000, 8),
            { 0x7f, 0xff, 0xff, 0x80, 0x00, 0x00 }, { 0x7f, 0x80 } },
    };
    for (const Case& c : cases) {
        std::unique_ptr<SampleBuffer> buffer(filledWith(c.from, c.input));
        buffer->setFormat(c.to);
        EXPECT_EQ(bufferBytes(*buffer), c.expected) << c.name;
        EXPECT_EQ(buffer->format().bitsPerSample, c.to.bitsPerSample) << c.name;
        EXPECT_EQ(buffer->format().bigEndian, c.to.bigEndian) << c.name;
    }
}

TEST(SampleBuffer, UpsamplingInterpolatesEachChannelOnItsOwn)
{
    // Left rises, right stays: interpolating one interleaved sequence would
    // pull the right channel towards the left.
    std::unique_ptr<SampleBuffer> buffer(
        filledWith(pcmFormat(2, 11025, 16), samples16({ 0, -8000, 4000, -8000, 8000, -8000 })));
    buffer->setFormat(pcmFormat(2, 22050, 16));
    ASSERT_EQ(buffer->frameCount(), 6u);
    const std::vector<i16> values = bufferValues(*buffer);
    for (u64 f = 0; f < 6; ++f)
        EXPECT_NEAR(values[2 * f + 1], -8000, 1) << f;
    // 0, 2000, 4000, 6000, 8000, then the last value repeated.
    const i16 expectedLeft[] = { 0, 2000, 4000, 6000, 8000, 8000 };
    for (u64 f = 0; f < 6; ++f)
        EXPECT_NEAR(values[2 * f], expectedLeft[f], 1) << f;
    EXPECT_EQ(buffer->format().sampleRate, 22050u);
    EXPECT_DOUBLE_EQ(buffer->duration(), 6.0 / 22050);
}

TEST(SampleBuffer, DownsamplingAveragesEachChannelAndTruncatesTheLength)
{
    // 5 frames at 2:1 give 2 frames; the fifth has no slot.
    std::unique_ptr<SampleBuffer> buffer(
        filledWith(pcmFormat(2, 44100, 16), samples16({ 1000, 500, 3000, 500, -2000, 500, -4000, 500, 7000, 500 })));
    buffer->setFormat(pcmFormat(2, 22050, 16));
    ASSERT_EQ(buffer->frameCount(), 2u);
    const std::vector<i16> values = bufferValues(*buffer);
    EXPECT_NEAR(values[0], 2000, 1);
    EXPECT_NEAR(values[2], -3000, 1);
    EXPECT_NEAR(values[1], 500, 1);
    EXPECT_NEAR(values[3], 500, 1);
}

TEST(SampleBuffer, RateAndChannelsChangeTogether)
{
    std::unique_ptr<SampleBuffer> buffer(
        filledWith(pcmFormat(2, 8000, 16), samples16({ 1000, 3000, 1000, 3000, 1000, 3000, 1000, 3000 })));
    buffer->setFormat(pcmFormat(1, 16000, 8, false));
    ASSERT_EQ(buffer->frameCount(), 8u);
    EXPECT_EQ(buffer->elementSize(), 1u);
    for (u64 f = 0; f < 8; ++f)
        EXPECT_EQ(buffer->data()[f], 0x80 + 2000 / 256) << f;
}

TEST(SampleBuffer, EmptyBufferJustTakesTheFormat)
{
    SampleBuffer buffer;
    SampleFormat format = pcmFormat(6, 48000, 24);
    buffer.setFormat(format);
    EXPECT_EQ(buffer.format().channels, 6u);
    EXPECT_EQ(buffer.elementSize(), 18u);
    EXPECT_EQ(buffer.byteSize(), 0u);
}

TEST(SampleBufferDeathTest, UnsupportedConversionsAreFatalBeforeTheDataChanges)
{
    struct Case {
        const char* name;
        SampleFormat from, to;
        const char* message;
    };
    SampleFormat tinyFrame = pcmFormat(2, 8000, 16);
    tinyFrame.bytesPerFrame = 2;
    const Case cases[] = {
        { "stereo to six channels", pcmFormat(2, 8000, 16), pcmFormat(6, 8000, 16), "Unsupported sample format" },
        { "three channels to mono", pcmFormat(3, 8000, 16), pcmFormat(1, 8000, 16), "Unsupported sample format" },
        { "to 24 bits", pcmFormat(1, 8000, 16), pcmFormat(1, 8000, 24), "Unsupported sample format" },
        { "to rate 0", pcmFormat(1, 8000, 16), pcmFormat(1, 0, 16), "Unsupported sample format" },
        { "unsigned 40-bit samples", pcmFormat(1, 8000, 40, false), pcmFormat(1, 8000, 16),
            "Unsupported number of bytes per channel" },
        { "signed 40-bit samples", pcmFormat(1, 8000, 40, true), pcmFormat(1, 8000, 16),
            "Unsupported number of bytes per channel" },
        { "4-bit samples", pcmFormat(2, 8000, 4, false), pcmFormat(1, 8000, 16),
            "Unsupported number of bytes per channel" },
        { "frames smaller than their samples", tinyFrame, pcmFormat(2, 8000, 8, false), "Unsupported sample format" },
    };
    for (const Case& c : cases) {
        SampleFormat from = c.from;
        if (from.bytesPerFrame == 0)
            from.bytesPerFrame = 1;
        EXPECT_DEATH(
            {
                std::unique_ptr<SampleBuffer> buffer(filledWith(from, byteRamp(64)));
                buffer->setFormat(c.to);
            },
            c.message)
            << c.name;
    }
}

TEST(SampleConversion, PcmToFloatCoversEveryWidthAndOrder)
{
    struct Case {
        std::vector<u8> bytes;
        bool isSigned, bigEndian;
        f32 expected;
    };
    const Case cases[] = {
        { { 0xff }, false, false, 1.0f },
        { { 0x00 }, false, false, -1.0f },
        { { 0x7f }, true, false, 1.0f },
        { { 0x80 }, true, false, -1.0f },
        { { 0x00, 0x80 }, true, false, -1.0f },
        { { 0x80, 0x00 }, true, true, -1.0f },
        { { 0xff, 0xff, 0x7f }, true, false, 1.0f },
        { { 0x00, 0x00, 0x00, 0x80 }, true, false, -1.0f },
        { { 0xff, 0xff, 0xff, 0xff }, false, true, 1.0f },
    };
    for (const Case& c : cases)
        EXPECT_EQ(pcmToFloat(c.bytes.data(), static_cast<u32>(c.bytes.size()), c.isSigned, c.bigEndian), c.expected);
    const u8 zero[4] = {};
    EXPECT_DEATH(pcmToFloat(zero, 0, false, false), "Unsupported number of bytes per channel");
    EXPECT_DEATH(pcmToFloat(zero, 5, true, false), "Unsupported number of bytes per channel");
}

TEST(SampleConversion, FloatToSampleClampsBeforeConverting)
{
    EXPECT_EQ(floatToSample32(1.0f), INT32_MAX);
    EXPECT_EQ(floatToSample32(2.0f), INT32_MAX);
    EXPECT_EQ(floatToSample32(-1.0f), INT32_MIN);
    EXPECT_EQ(floatToSample32(-3.0f), INT32_MIN);
    EXPECT_EQ(floatToSample32(0.5f), 1 << 30);
    EXPECT_EQ(floatToSample32(-0.25f), -(1 << 29));
    EXPECT_EQ(floatToSample32(0.0f), 0);
}

} // namespace
} // namespace quern::audio
