#include "Loopback.h"

#include "quern/audio/SampleBuffer.h"
#include "quern/openal/OpenALBuffer.h"
#include "quern/openal/OpenALOutputChannel.h"

#include "support/LogCapture.h"
#include "support/MemorySampleStream.h"

#include <gtest/gtest.h>

namespace quern::openal {
namespace {

using quern::testing::LogCapture;
using quern::testing::MemorySampleStream;
using quern::testing::pcmFormat;
using quern::testing::sineBytes16;
using testing::kLoopbackRate;
using testing::LoopbackAudio;

constexpr f32 kLoud = 0.05f;

std::unique_ptr<MemorySampleStream> sine(f64 seconds, f64 frequency = 440.0, u32 channels = 1)
{
    const u64 frames = static_cast<u64>(seconds * kLoopbackRate);
    return std::make_unique<MemorySampleStream>(
        pcmFormat(channels, kLoopbackRate, 16), sineBytes16(channels, kLoopbackRate, frequency, frames));
}

// Renders in steps of about 10 ms with an update of the device after each, as
// the mixer pass would, and returns the whole mix.
std::vector<f32> playWithUpdates(audio::AudioDevice& device, f64 seconds)
{
    std::vector<f32> all;
    const u64 step = kLoopbackRate / 100;
    for (u64 done = 0; done < static_cast<u64>(seconds * kLoopbackRate); done += step) {
        const std::vector<f32> piece = testing::renderFrames(step);
        all.insert(all.end(), piece.begin(), piece.end());
        device.update();
    }
    return all;
}

TEST(OpenALOutputChannel, ASinePlaysAtItsFrequencyForItsLengthThenStops)
{
    LoopbackAudio audio;
    auto stream = sine(0.25);
    audio::OutputChannel* channel = audio.device.createOutputChannel(stream.get());
    ASSERT_NE(channel, nullptr);
    EXPECT_TRUE(channel->hasOutput());
    channel->open(audio::BufferMode::Static);
    channel->play();
    EXPECT_TRUE(channel->isPlaying());
    const std::vector<f32> mix = testing::renderSeconds(0.5);
    const auto [first, last] = testing::loudSpan(mix, kLoud);
    EXPECT_LT(first, 64u);
    EXPECT_NEAR(static_cast<f64>(last) / kLoopbackRate, 0.25, 0.005);
    EXPECT_NEAR(testing::frequency(mix, first, last, kLoopbackRate), 440.0, 2.0);
    EXPECT_LT(testing::peak(mix, last + 64, mix.size()), 1e-4f);
    // Still marked playing until the back end's update sees the stopped source.
    EXPECT_TRUE(channel->isPlaying());
    audio.device.update();
    EXPECT_FALSE(channel->isPlaying());
    EXPECT_EQ(static_cast<OpenALOutputChannel*>(channel)->source(), 0u);
    audio.device.releaseOutputChannel(channel);
}

TEST(OpenALOutputChannel, AStreamShorterThanSixteenBuffersPlaysWholeAndEndsQuietly)
{
    LoopbackAudio audio;
    auto stream = sine(0.4); // 35280 bytes: three buffers
    audio::OutputChannel* channel = audio.device.createOutputChannel(stream.get());
    channel->open(audio::BufferMode::Streaming);
    auto* openal = static_cast<OpenALOutputChannel*>(channel);
    EXPECT_TRUE(openal->buffer()->isStreaming());
    EXPECT_EQ(openal->buffer()->freeCount(), 13u);
    LogCapture warnings(2);
    channel->play();
    const std::vector<f32> mix = playWithUpdates(audio.device, 0.8);
    const auto [first, last] = testing::loudSpan(mix, kLoud);
    EXPECT_LT(first, 64u);
    EXPECT_NEAR(static_cast<f64>(last) / kLoopbackRate, 0.4, 0.005);
    EXPECT_NEAR(testing::frequency(mix, first, last, kLoopbackRate), 440.0, 2.0);
    EXPECT_FALSE(channel->isPlaying());
    EXPECT_EQ(warnings.occurrences("Buffer underrun detected!"), 0u);
    // Stopping closed the streaming buffer; playing again starts from the top.
    EXPECT_FALSE(openal->buffer()->isOpen());
    channel->play();
    EXPECT_TRUE(channel->isPlaying());
    const std::vector<f32> again = playWithUpdates(audio.device, 0.6);
    EXPECT_NEAR(static_cast<f64>(testing::loudSpan(again, kLoud).second) / kLoopbackRate, 0.4, 0.015);
    audio.device.releaseOutputChannel(channel);
}

TEST(OpenALOutputChannel, ALongStreamIsRefilledUntilItsEnd)
{
    LoopbackAudio audio;
    auto stream = sine(3.0, 300.0, 2); // 529200 bytes: 34 buffers, more than fit at once
    audio::OutputChannel* channel = audio.device.createOutputChannel(stream.get());
    channel->open(audio::BufferMode::Auto); // 3 s: a whole buffer in Auto mode
    EXPECT_FALSE(static_cast<OpenALOutputChannel*>(channel)->buffer()->isStreaming());
    audio.device.releaseOutputChannel(channel);

    channel = audio.device.createOutputChannel(stream.get());
    channel->open(audio::BufferMode::Streaming);
    LogCapture warnings(2);
    channel->play();
    const std::vector<f32> mix = playWithUpdates(audio.device, 3.3);
    const auto [first, last] = testing::loudSpan(mix, kLoud);
    EXPECT_LT(first, 64u);
    EXPECT_NEAR(static_cast<f64>(last) / kLoopbackRate, 3.0, 0.005);
    EXPECT_NEAR(testing::frequency(mix, first, last, kLoopbackRate), 300.0, 1.0);
    // No gap anywhere: every 10 ms holds a loud sample.
    for (u64 at = first; at + 441 < last; at += 441)
        ASSERT_GT(testing::peak(mix, at, at + 441), kLoud) << at;
    EXPECT_FALSE(channel->isPlaying());
    EXPECT_EQ(warnings.occurrences("Buffer underrun detected!"), 0u);
    audio.device.releaseOutputChannel(channel);
}

TEST(OpenALOutputChannel, ALoopingStreamRewindsWithoutOpenALLooping)
{
    LoopbackAudio audio;
    auto stream = sine(0.15);
    audio::OutputChannel* channel = audio.device.createOutputChannel(stream.get());
    channel->setLooping(true);
    channel->open(audio::BufferMode::Streaming);
    channel->play();
    auto* openal = static_cast<OpenALOutputChannel*>(channel);
    ALint looping = -1;
    alGetSourcei(openal->source(), AL_LOOPING, &looping);
    EXPECT_EQ(looping, AL_FALSE);
    const int resetsBefore = stream->resets;
    const std::vector<f32> mix = playWithUpdates(audio.device, 1.0);
    for (u64 at = 0; at + 441 < mix.size(); at += 441)
        ASSERT_GT(testing::peak(mix, at, at + 441), kLoud) << at;
    EXPECT_GE(stream->resets - resetsBefore, 5);
    EXPECT_TRUE(channel->isPlaying());
    audio.device.releaseOutputChannel(channel);
}

TEST(OpenALOutputChannel, AStaticLoopUsesOpenALLooping)
{
    LoopbackAudio audio;
    auto stream = sine(0.1);
    audio::OutputChannel* channel = audio.device.createOutputChannel(stream.get());
    channel->setLooping(true);
    channel->open(audio::BufferMode::Static);
    channel->play();
    ALint looping = -1;
    alGetSourcei(static_cast<OpenALOutputChannel*>(channel)->source(), AL_LOOPING, &looping);
    EXPECT_EQ(looping, AL_TRUE);
    const std::vector<f32> mix = playWithUpdates(audio.device, 0.5);
    EXPECT_GT(testing::peak(mix, mix.size() - 441, mix.size()), kLoud);
    EXPECT_TRUE(channel->isPlaying());
    audio.device.releaseOutputChannel(channel);
}

TEST(OpenALOutputChannel, ASourceThatRanDryWithDataLeftIsAnUnderrunAndPlaysOn)
{
    LoopbackAudio audio;
    auto stream = sine(5.0); // 441000 bytes: more than the 16 buffers hold
    audio::OutputChannel* channel = audio.device.createOutputChannel(stream.get());
    channel->open(audio::BufferMode::Streaming);
    channel->play();
    // 16 x 16000 bytes is about 2.9 s; render past it without refilling.
    testing::renderSeconds(3.2);
    auto* openal = static_cast<OpenALOutputChannel*>(channel);
    ALint state = 0;
    alGetSourcei(openal->source(), AL_SOURCE_STATE, &state);
    ASSERT_EQ(state, AL_STOPPED);
    LogCapture warnings(2);
    audio.device.update();
    EXPECT_EQ(warnings.occurrences("Buffer underrun detected!"), 1u);
    alGetSourcei(openal->source(), AL_SOURCE_STATE, &state);
    EXPECT_EQ(state, AL_PLAYING);
    EXPECT_TRUE(channel->isPlaying());
    const std::vector<f32> rest = testing::renderSeconds(0.3);
    EXPECT_GT(testing::peak(rest, 0, rest.size()), kLoud);
    audio.device.releaseOutputChannel(channel);
}

TEST(OpenALOutputChannel, ChannelsOfOneStreamShareOneStaticBuffer)
{
    LoopbackAudio audio;
    auto stream = sine(0.1);
    auto other = sine(0.1);
    audio::OutputChannel* a = audio.device.createOutputChannel(stream.get());
    audio::OutputChannel* b = audio.device.createOutputChannel(stream.get());
    audio::OutputChannel* c = audio.device.createOutputChannel(other.get());
    EXPECT_EQ(static_cast<OpenALOutputChannel*>(a)->buffer(), static_cast<OpenALOutputChannel*>(b)->buffer());
    EXPECT_EQ(audio.backEnd().cachedBufferCount(), 2u);
    EXPECT_EQ(audio.backEnd().openChannels(), 3);
    a->open(audio::BufferMode::Static);
    a->play();
    b->play(); // the buffer a opened, attached again
    const i32 generated = OpenALBuffer::generatedBuffers();
    audio.device.releaseOutputChannel(a);
    EXPECT_EQ(audio.backEnd().cachedBufferCount(), 2u);
    EXPECT_EQ(OpenALBuffer::generatedBuffers(), generated);
    const std::vector<f32> mix = testing::renderSeconds(0.05);
    EXPECT_GT(testing::peak(mix, 0, mix.size()), kLoud);
    audio.device.releaseOutputChannel(b);
    EXPECT_EQ(audio.backEnd().cachedBufferCount(), 1u);
    EXPECT_EQ(OpenALBuffer::generatedBuffers(), generated - 1);
    audio.device.releaseOutputChannel(c);
    EXPECT_EQ(audio.backEnd().cachedBufferCount(), 0u);
    EXPECT_EQ(audio.backEnd().openChannels(), 0);
}

TEST(OpenALOutputChannel, AStreamThatIsNotInMemoryIsDecodedWholeForAStaticBuffer)
{
    LoopbackAudio audio;
    auto stream = sine(0.2);
    stream->maxRead = 100000; // reads like a decoder, not a SampleBuffer
    audio::SampleBuffer whole(*stream);
    audio::OutputChannel* fromStream = audio.device.createOutputChannel(stream.get());
    audio::OutputChannel* fromBuffer = audio.device.createOutputChannel(&whole);
    fromStream->open(audio::BufferMode::Static);
    fromBuffer->open(audio::BufferMode::Static);
    ALint sizes[2] = {};
    alGetBufferi(static_cast<OpenALOutputChannel*>(fromStream)->buffer()->bufferId(0), AL_SIZE, &sizes[0]);
    alGetBufferi(static_cast<OpenALOutputChannel*>(fromBuffer)->buffer()->bufferId(0), AL_SIZE, &sizes[1]);
    EXPECT_EQ(sizes[0], static_cast<ALint>(stream->bytes().size()));
    EXPECT_EQ(sizes[1], sizes[0]);
    EXPECT_EQ(stream->position(), 0u);
    audio.device.releaseOutputChannel(fromStream);
    audio.device.releaseOutputChannel(fromBuffer);
}

TEST(OpenALOutputChannel, SettingsBeforeTheFirstPlayOnlyStoreTheirValues)
{
    LoopbackAudio audio;
    auto stream = sine(0.2);
    audio::OutputChannel* channel = audio.device.createOutputChannel(stream.get());
    auto* openal = static_cast<OpenALOutputChannel*>(channel);
    channel->setPitch(2.0f);
    channel->setPosition({ 5.0f, 6.0f, 7.0f, 1.0f });
    channel->setGain(0.5f);
    channel->stop(); // never played: only the flags
    EXPECT_FALSE(channel->isPlaying());
    channel->play();
    ALfloat pitch = 0.0f, gain = 0.0f, position[3] = { 1, 1, 1 }, reference = 0.0f;
    ALint relative = -1;
    alGetSourcef(openal->source(), AL_PITCH, &pitch);
    alGetSourcef(openal->source(), AL_GAIN, &gain);
    alGetSourcef(openal->source(), AL_REFERENCE_DISTANCE, &reference);
    alGetSourcefv(openal->source(), AL_POSITION, position);
    alGetSourcei(openal->source(), AL_SOURCE_RELATIVE, &relative);
    EXPECT_EQ(pitch, 1.0f);
    EXPECT_EQ(gain, 0.5f);
    EXPECT_EQ(reference, 3.0f);
    EXPECT_EQ(position[0], 0.0f);
    EXPECT_EQ(relative, AL_TRUE);
    EXPECT_EQ(channel->position().y, 6.0f);
    channel->setPosition({ 1.0f, 2.0f, 3.0f, 1.0f });
    alGetSourcefv(openal->source(), AL_POSITION, position);
    alGetSourcei(openal->source(), AL_SOURCE_RELATIVE, &relative);
    EXPECT_EQ(relative, AL_FALSE);
    EXPECT_EQ(position[2], 3.0f);
    channel->setPitch(1.5f);
    alGetSourcef(openal->source(), AL_PITCH, &pitch);
    EXPECT_EQ(pitch, 1.5f);
    audio.device.releaseOutputChannel(channel);
}

TEST(OpenALOutputChannel, PauseHoldsTheSoundAndResumeGoesOn)
{
    LoopbackAudio audio;
    auto stream = sine(0.3);
    audio::OutputChannel* channel = audio.device.createOutputChannel(stream.get());
    channel->open(audio::BufferMode::Static);
    channel->play();
    testing::renderSeconds(0.1);
    channel->pause();
    EXPECT_TRUE(channel->isPaused());
    const std::vector<f32> paused = testing::renderSeconds(0.3);
    EXPECT_LT(testing::peak(paused, 64, paused.size()), 1e-4f);
    audio.device.update(); // a paused channel is left alone
    EXPECT_TRUE(channel->isPlaying());
    channel->resume();
    EXPECT_FALSE(channel->isPaused());
    const std::vector<f32> rest = testing::renderSeconds(0.4);
    EXPECT_NEAR(static_cast<f64>(testing::loudSpan(rest, kLoud).second) / kLoopbackRate, 0.2, 0.01);
    audio.device.releaseOutputChannel(channel);
}

TEST(OpenALOutputChannel, ReleasingChannelsReportsBufferMemoryOnlyWhenItMoreThanDoubles)
{
    LoopbackAudio audio;
    auto small = sine(0.05);
    auto huge = sine(12.0);
    audio::OutputChannel* keepSmall = audio.device.createOutputChannel(small.get());
    keepSmall->open(audio::BufferMode::Static);
    LogCapture info(3);
    // The report counts the buffers still cached after a release.
    const u64 before = OpenALBackEnd::lastReportedMemory();
    audio.device.releaseOutputChannel(audio.device.createOutputChannel(huge.get()));
    const bool grew = small->bytes().size() > 2 * before;
    EXPECT_EQ(info.occurrences("kb memory in use"), grew ? 1u : 0u);

    audio::OutputChannel* keepHuge = audio.device.createOutputChannel(huge.get());
    keepHuge->open(audio::BufferMode::Static);
    const u64 total = small->bytes().size() + huge->bytes().size();
    ASSERT_GT(total, 2 * OpenALBackEnd::lastReportedMemory());
    audio.device.releaseOutputChannel(audio.device.createOutputChannel(small.get()));
    EXPECT_EQ(OpenALBackEnd::lastReportedMemory(), total);
    const u64 reports = info.occurrences("kb memory in use");
    EXPECT_EQ(info.occurrences("2 open, " + std::to_string(total / 1024) + "kb memory in use"), 1u);
    // The same amount again is no news.
    audio.device.releaseOutputChannel(audio.device.createOutputChannel(small.get()));
    EXPECT_EQ(info.occurrences("kb memory in use"), reports);
    audio.device.releaseOutputChannel(keepSmall);
    audio.device.releaseOutputChannel(keepHuge);
}

TEST(OpenALBufferDeathTest, FormatsOpenALCannotPlayAreFatal)
{
    struct Case {
        audio::SampleFormat format;
        i32 expected;
    };
    const Case playable[] = {
        { pcmFormat(1, 8000, 8, false), AL_FORMAT_MONO8 },
        { pcmFormat(1, 8000, 16), AL_FORMAT_MONO16 },
        { pcmFormat(2, 8000, 8, false), AL_FORMAT_STEREO8 },
        { pcmFormat(2, 8000, 16), AL_FORMAT_STEREO16 },
    };
    for (const Case& c : playable)
        EXPECT_EQ(OpenALBuffer::openALFormat(c.format), c.expected);
    for (const audio::SampleFormat& format :
        { pcmFormat(1, 8000, 8, true), pcmFormat(2, 8000, 16, false), pcmFormat(1, 8000, 24), pcmFormat(6, 8000, 16) })
        EXPECT_DEATH(OpenALBuffer::openALFormat(format), "Unsupported sample format");
}

} // namespace
} // namespace quern::openal
