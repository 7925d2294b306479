#include "quern/audio/SampleStream.h"

#include "support/MemorySampleStream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

namespace quern::audio {
namespace {

TEST(SampleFormat, TextNamesRateWidthAndChannels)
{
    struct Case {
        u32 channels, rate, bits;
        const char* text;
    };
    const Case cases[] = {
        { 1, 8000, 8, "8000Hz, 8bit, mono" },
        { 2, 44100, 16, "44100Hz, 16bit, stereo" },
        { 6, 48000, 16, "48000Hz, 16bit, 6 channels" },
        { 0, 0, 0, "0Hz, 0bit, 0 channels" },
    };
    for (const Case& c : cases)
        EXPECT_EQ(formatText(testing::pcmFormat(c.channels, c.rate, c.bits)), c.text);
}

TEST(SampleFormat, CompleteNeedsChannelsRateAndFrameSize)
{
    SampleFormat format = testing::pcmFormat(2, 44100, 16);
    EXPECT_TRUE(format.isComplete());
    format.bitsPerSample = 0; // not needed to measure the data
    EXPECT_TRUE(format.isComplete());
    for (int field = 0; field < 3; ++field) {
        SampleFormat broken = testing::pcmFormat(2, 44100, 16);
        if (field == 0)
            broken.channels = 0;
        if (field == 1)
            broken.sampleRate = 0;
        if (field == 2)
            broken.bytesPerFrame = 0;
        EXPECT_FALSE(broken.isComplete()) << field;
    }
}

// A stream buffer that counts its destruction.
class CountedBuffer : public std::stringbuf {
public:
    CountedBuffer(const std::string& text, int& destroyed)
        : std::stringbuf(text)
        , m_destroyed(destroyed)
    {
    }
    ~CountedBuffer() override { ++m_destroyed; }

private:
    int& m_destroyed;
};

// Recognises data that starts with "PCM1" followed by a rate.
class TaggedStream : public SampleStream {
public:
    bool readFormat(std::streambuf* source, SampleFormat& format) override
    {
        char tag[4];
        if (source->sgetn(tag, 4) != 4 || std::memcmp(tag, "PCM1", 4) != 0)
            return false;
        format = testing::pcmFormat(1, 22050, 8, false);
        return true;
    }
    void reset() override { ++resets; }
    u64 readImpl(std::streambuf*, u64, void*) override { return 0; }
    void close() override { }
    f64 duration() override
    {
        ++durationCalls;
        return 2.5;
    }
    int resets = 0;
    int durationCalls = 0;
};

TEST(SampleStream, OpenStreamReadsFormatTakesSourceAndRewinds)
{
    int destroyed = 0;
    {
        TaggedStream stream;
        EXPECT_FALSE(stream.isOpen());
        auto* source = new CountedBuffer("PCM1....", destroyed);
        stream.openStream(source);
        EXPECT_TRUE(stream.isOpen());
        EXPECT_EQ(stream.source(), source);
        EXPECT_TRUE(stream.ownsSource());
        EXPECT_EQ(stream.format().sampleRate, 22050u);
        EXPECT_EQ(stream.resets, 1);
        EXPECT_EQ(destroyed, 0);
    }
    EXPECT_EQ(destroyed, 1);
}

TEST(SampleStreamDeathTest, UnrecognisedDataIsFatal)
{
    EXPECT_DEATH(
        {
            TaggedStream stream;
            stream.openStream(new std::stringbuf("OggS"));
        },
        "Unrecognized sample stream!");
}

TEST(SampleStream, DurationIsCachedOnceKnown)
{
    TaggedStream stream;
    EXPECT_EQ(stream.cachedDuration(), 2.5);
    EXPECT_EQ(stream.cachedDuration(), 2.5);
    EXPECT_EQ(stream.durationCalls, 1);
}

TEST(SampleStream, DescribeWritesTheFormatLine)
{
    testing::MemorySampleStream stream(testing::pcmFormat(6, 48000, 16), {});
    std::ostringstream log;
    stream.describe(log);
    EXPECT_EQ(log.str(), "48000Hz, 16bit, 6 channels\n");
}

} // namespace
} // namespace quern::audio
