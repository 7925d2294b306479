// Ogg Vorbis sounds loaded through the AudioStream handler play through the
// OpenAL back end on a loopback device: what is rendered has the sound's
// frequency and length, whether it was decoded at load or streams.

#include "SoundTestSupport.h"
#include "modules/quern/openal/Loopback.h"
#include "runtime/quern/graphics/MemoryDepot.h"

#include "quern/assets/AssetHandlerRegistry.h"
#include "quern/assets/DefaultResourceCache.h"
#include "quern/audio/OutputChannel.h"
#include "quern/oggvorbis/AudioStreamHandler.h"
#include "quern/oggvorbis/OggVorbisStream.h"

#include <gtest/gtest.h>

namespace quern::oggvorbis {
namespace {

using namespace testing;
namespace loopback = openal::testing;

constexpr f32 kLoud = 0.05f;

class OggVorbisPlaybackTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        registry.create<AudioStreamHandler>();
        assets::AssetHandlerRegistry::setInstance(&registry);
    }
    void TearDown() override
    {
        cache.clear();
        assets::AssetHandlerRegistry::setInstance(nullptr);
    }

    audio::SampleStream* load(const std::string& name, const Bytes& file)
    {
        return loadSound(depot.add(name, file), depot, cache);
    }

    assets::AssetHandlerRegistry registry;
    graphics::testing::MemoryDepot depot;
    assets::DefaultResourceCache cache;
};

// Renders in steps of 10 ms with an update of the device after each, as the
// mixer pass would.
std::vector<f32> playWithUpdates(audio::AudioDevice& device, f64 seconds)
{
    std::vector<f32> all;
    const u64 step = loopback::kLoopbackRate / 100;
    for (u64 done = 0; done < static_cast<u64>(seconds * loopback::kLoopbackRate); done += step) {
        const std::vector<f32> piece = loopback::renderFrames(step);
        all.insert(all.end(), piece.begin(), piece.end());
        device.update();
    }
    return all;
}

TEST_F(OggVorbisPlaybackTest, BuffersAndStreamsRenderAtTheirFrequencyForTheirLength)
{
    const Bytes tone = sound("tone-440-stereo-44100.ogg", 44100, 2, "synth 2 sine 440 vol 0.5");
    const struct {
        const char* name;
        Bytes bytes;
        audio::BufferMode mode;
        bool streams;
    } cases[] = {
        { "decoded at load", tone, audio::BufferMode::Auto, false },
        { "streamed", paddedTo(tone, AudioStreamHandler::kStreamingThreshold + 1), audio::BufferMode::Streaming, true },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        audio::SampleStream* stream = load(c.name, c.bytes);
        ASSERT_NE(stream, nullptr);
        EXPECT_EQ(stream->asSampleBuffer() == nullptr, c.streams);
        loopback::LoopbackAudio audio;
        audio::OutputChannel* channel = audio.device.createOutputChannel(stream);
        ASSERT_NE(channel, nullptr);
        channel->open(c.mode);
        channel->play();
        const std::vector<f32> mix = playWithUpdates(audio.device, 2.4);
        const auto [first, last] = loopback::loudSpan(mix, kLoud);
        EXPECT_LT(first, 441u);
        EXPECT_NEAR(static_cast<f64>(last) / loopback::kLoopbackRate, 2.0, 0.01);
        EXPECT_NEAR(loopback::frequency(mix, first, last, loopback::kLoopbackRate), 440.0, 2.0);
        for (u64 at = first; at + 441 < last; at += 441)
            ASSERT_GT(loopback::peak(mix, at, at + 441), kLoud) << at;
        EXPECT_FALSE(channel->isPlaying());
        audio.device.releaseOutputChannel(channel);
    }
}

// A 12-second sweep from 440 to 880 Hz with one page cut out of its middle:
// the sound goes on after the hole, so buffers keep all of it and a looping
// stream wraps around only at its real end.
class HoledSweep : public OggVorbisPlaybackTest {
protected:
    void SetUp() override
    {
        OggVorbisPlaybackTest::SetUp();
        const Bytes sweep = sound("sweep-stereo-44100.ogg", 44100, 2, "synth 12 sine 440-880 vol 0.5");
        const std::vector<Page> pages = pagesOf(sweep);
        ASSERT_GT(pages.size(), 6u);
        holed = withoutPage(sweep, pages[pages.size() / 2]);
        ASSERT_LE(holed.size(), AudioStreamHandler::kStreamingThreshold);
        seconds = static_cast<f64>(oggdecOf(holed, "sweep-holed").size() / 4) / 44100;
        ASSERT_GT(seconds, 9.0);
        ASSERT_LT(seconds, 11.5);
    }

    Bytes holed;
    f64 seconds = 0.0;
};

TEST_F(HoledSweep, PlaysOnPastTheHoleFromABufferAndFromAStream)
{
    const struct {
        const char* name;
        Bytes bytes;
        audio::BufferMode mode;
    } cases[] = {
        { "decoded at load", holed, audio::BufferMode::Auto },
        { "streamed", paddedTo(holed, AudioStreamHandler::kStreamingThreshold + 1), audio::BufferMode::Streaming },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        audio::SampleStream* stream = load(c.name, c.bytes);
        ASSERT_NE(stream, nullptr);
        loopback::LoopbackAudio audio;
        audio::OutputChannel* channel = audio.device.createOutputChannel(stream);
        channel->open(c.mode);
        channel->play();
        const std::vector<f32> mix = playWithUpdates(audio.device, seconds + 0.4);
        const auto [first, last] = loopback::loudSpan(mix, kLoud);
        EXPECT_NEAR(static_cast<f64>(last - first) / loopback::kLoopbackRate, seconds, 0.02);
        EXPECT_FALSE(channel->isPlaying());
        audio.device.releaseOutputChannel(channel);
    }
}

TEST_F(HoledSweep, ALoopingStreamWrapsAroundOnlyAtItsEnd)
{
    audio::SampleStream* stream = load("looping", paddedTo(holed, AudioStreamHandler::kStreamingThreshold + 1));
    ASSERT_NE(stream, nullptr);
    loopback::LoopbackAudio audio;
    audio::OutputChannel* channel = audio.device.createOutputChannel(stream);
    channel->setLooping(true);
    channel->open(audio::BufferMode::Streaming);
    channel->play();
    const std::vector<f32> mix = playWithUpdates(audio.device, seconds + 1.0);
    const auto at = [&](f64 time) { return static_cast<u64>(time * loopback::kLoopbackRate); };
    // Near its end the sweep is high; just after the wrap it starts low again.
    EXPECT_GT(loopback::frequency(mix, at(seconds - 0.4), at(seconds - 0.1), loopback::kLoopbackRate), 820.0);
    EXPECT_LT(loopback::frequency(mix, at(seconds + 0.1), at(seconds + 0.4), loopback::kLoopbackRate), 470.0);
    EXPECT_TRUE(channel->isPlaying());
    audio.device.releaseOutputChannel(channel);
}

} // namespace
} // namespace quern::oggvorbis
