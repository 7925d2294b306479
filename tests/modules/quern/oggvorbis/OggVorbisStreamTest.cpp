#include "SoundTestSupport.h"
#include "support/LogCapture.h"

#include "quern/audio/SampleBuffer.h"
#include "quern/oggvorbis/OggVorbisStream.h"
#include "quern/oggvorbis/VorbisFile.h"

#include <gtest/gtest.h>

#include <thread>

namespace quern::oggvorbis {
namespace {

using namespace testing;
using quern::testing::LogCapture;

struct SoundCase {
    const char* name;
    u32 rate, channels;
    const char* effects;
};

const SoundCase kSounds[] = {
    { "tone-mono-8000.ogg", 8000, 1, "synth 1.5 sine 300" },
    { "noise-mono-22050.ogg", 22050, 1, "synth 2 whitenoise vol 0.5" },
    { "tone-stereo-44100.ogg", 44100, 2, "synth 2 sine 440 sine 660" },
    { "noise-stereo-48000.ogg", 48000, 2, "synth 1 pinknoise vol 0.5" },
};

Ref openedStream(const Bytes& file)
{
    Ref held(new OggVorbisStream);
    held.get<OggVorbisStream>()->openStream(streamOf(file));
    return held;
}

TEST(OggVorbisStream, DecodesLikeOggdecInEveryFormatAndAgainAfterReset)
{
    for (const SoundCase& c : kSounds) {
        SCOPED_TRACE(c.name);
        const Bytes file = sound(c.name, c.rate, c.channels, c.effects);
        const Bytes expected = oggdecOf(file, std::string(c.name) + ".copy");
        ASSERT_FALSE(expected.empty());
        Ref held = openedStream(file);
        auto& stream = *held.get<OggVorbisStream>();
        const audio::SampleFormat& format = stream.format();
        EXPECT_EQ(format.channels, c.channels);
        EXPECT_EQ(format.sampleRate, c.rate);
        EXPECT_EQ(format.bitsPerSample, 16u);
        EXPECT_EQ(format.isSigned, 1);
        EXPECT_EQ(format.bytesPerFrame, c.channels * 2u);
        EXPECT_EQ(format.bigEndian, 0u);
        EXPECT_TRUE(stream.ownsSource());
        EXPECT_EQ(readAll(stream), expected);
        EXPECT_EQ(stream.duration(), static_cast<f64>(expected.size() / format.bytesPerFrame) / c.rate);
        stream.reset();
        EXPECT_EQ(readAll(stream, 1000), expected);
    }
}

TEST(OggVorbisStream, ReadsOfAnySizeJoinUpAndOnlyTheLastIsShort)
{
    const Bytes file = sound("tone-stereo-44100.ogg", 44100, 2, "synth 2 sine 440 sine 660");
    const Bytes expected = oggdecOf(file, "tone-pieces");
    Ref held = openedStream(file);
    auto& stream = *held.get<OggVorbisStream>();
    // Less than one frame (four bytes) gives nothing and takes nothing.
    u8 none[4] = { 0xee, 0xee, 0xee, 0xee };
    for (u64 size : { 0, 1, 3 })
        EXPECT_EQ(stream.readImpl(stream.source(), size, none), 0u);
    EXPECT_EQ(none[0], 0xee);
    // Other sizes give their whole frames.
    Bytes all;
    const u64 sizes[] = { 4, 7, 4097, 65536, 8, 100003 };
    for (u64 i = 0;; ++i) {
        const u64 size = sizes[i % std::size(sizes)];
        Bytes piece(size);
        const u64 got = stream.readImpl(stream.source(), size, piece.data());
        all.insert(all.end(), piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(got));
        if (got < size - size % 4)
            break;
        EXPECT_EQ(got, size - size % 4);
    }
    EXPECT_EQ(all, expected);
    EXPECT_EQ(stream.readImpl(stream.source(), 4, none), 0u);
}

TEST(OggVorbisStream, AHoleIsLoggedOnceAndReadingGoesOnAfterIt)
{
    const Bytes file = sound("noise-mono-22050-long.ogg", 22050, 1, "synth 8 whitenoise vol 0.5");
    const std::vector<Page> pages = pagesOf(file);
    ASSERT_GT(pages.size(), 6u);
    const Bytes holed = withoutPage(file, pages[pages.size() / 2]);
    const Bytes expected = oggdecOf(holed, "noise-holed");
    const Bytes whole = oggdecOf(file, "noise-whole");
    // The hole costs what the page held, no more.
    ASSERT_LT(expected.size(), whole.size());
    ASSERT_GT(expected.size(), whole.size() * 3 / 4);

    LogCapture log(2);
    Ref held = openedStream(holed);
    auto& stream = *held.get<OggVorbisStream>();
    EXPECT_EQ(readAll(stream, 65536), expected);
    EXPECT_EQ(log.count(vorbisErrorText(-3)), 1u) << log.text();

    // A buffer filled from it keeps what follows the hole.
    stream.reset();
    Ref buffer(new audio::SampleBuffer(stream));
    EXPECT_EQ(buffer.get<audio::SampleBuffer>()->frameCount(), expected.size() / 2);
}

TEST(OggVorbisStream, ChainedFilesPlayEveryLinkFromTheFirst)
{
    const Bytes first = sound("tone-stereo-44100.ogg", 44100, 2, "synth 2 sine 440 sine 660");
    const Bytes second = sound("chain-second-44100.ogg", 44100, 2, "synth 1 square 220 vol 0.3");
    Bytes chained = first;
    chained.insert(chained.end(), second.begin(), second.end());
    const Bytes firstSamples = oggdecOf(first, "chain-first-alone");
    const Bytes secondSamples = oggdecOf(second, "chain-second-alone");
    Bytes expected = firstSamples;
    expected.insert(expected.end(), secondSamples.begin(), secondSamples.end());
    ASSERT_EQ(oggdecOf(chained, "chain-both"), expected);

    Ref held = openedStream(chained);
    auto& stream = *held.get<OggVorbisStream>();
    EXPECT_EQ(readAll(stream), expected);
    EXPECT_DOUBLE_EQ(stream.duration(), 3.0);
    stream.reset();
    EXPECT_EQ(readAll(stream, 776), expected);
}

TEST(OggVorbisStream, DataThatIsNoOggVorbisIsNotRecognised)
{
    const media::fs::path wavePath = media::makeOnce(soundDirectory() / "plain.wav", [](const media::fs::path& out) {
        return media::run("sox -q -n -r 8000 -c 1 -b 16 -t wav " + media::quoted(out) + " synth 0.1 sine 200");
    });
    ASSERT_FALSE(wavePath.empty());
    const Bytes wave = media::readFile(wavePath);
    const Bytes tone = sound("tone-mono-8000.ogg", 8000, 1, "synth 1.5 sine 300");
    Bytes noVorbis = tone;
    noVorbis[28 + 1] = 'x'; // the "vorbis" mark of the first packet
    for (const Bytes& bytes : { Bytes {}, Bytes { 't', 'e', 'x', 't' }, wave, noVorbis }) {
        OggVorbisStream stream;
        std::stringbuf source(std::string(bytes.begin(), bytes.end()), std::ios::in);
        audio::SampleFormat format;
        format.channels = 9;
        EXPECT_FALSE(stream.readFormat(&source, format));
        EXPECT_EQ(stream.duration(), -131.0);
        u8 none[8];
        EXPECT_EQ(stream.readImpl(nullptr, sizeof none, none), 0u);
    }
    EXPECT_DEATH(openedStream(wave), "Unrecognized sample stream!");
}

// Two links whose second has lost the capture mark of its first page.
Bytes chainWithBrokenSecondLink()
{
    const Bytes first = sound("tone-stereo-44100.ogg", 44100, 2, "synth 2 sine 440 sine 660");
    Bytes second = sound("chain-second-44100.ogg", 44100, 2, "synth 1 square 220 vol 0.3");
    second[1] ^= 0x40;
    Bytes chained = first;
    chained.insert(chained.end(), second.begin(), second.end());
    return chained;
}

TEST(OggVorbisStream, VorbisDataThatDoesNotOpenIsFatal)
{
    EXPECT_DEATH(openedStream(chainWithBrokenSecondLink()),
        "ov_test_open failed: Read error while fetching compressed data for decode");
}

TEST(OggVorbisStream, ASourceThatCannotSeekHasNoDuration)
{
    const Bytes file = sound("tone-stereo-44100.ogg", 44100, 2, "synth 2 sine 440 sine 660");
    ForwardOnlyBuffer source(file);
    OggVorbisStream stream;
    audio::SampleFormat format;
    ASSERT_TRUE(stream.readFormat(&source, format));
    EXPECT_EQ(format.channels, 2u);
    EXPECT_EQ(stream.duration(), -131.0);
    // It still plays once, front to back.
    EXPECT_EQ(readAll(stream), oggdecOf(file, "tone-forward"));
}

TEST(OggVorbisStream, AClosedStreamGivesNothing)
{
    Ref held = openedStream(sound("tone-mono-8000.ogg", 8000, 1, "synth 1.5 sine 300"));
    auto& stream = *held.get<OggVorbisStream>();
    stream.close();
    u8 bytes[64];
    EXPECT_EQ(stream.readImpl(stream.source(), sizeof bytes, bytes), 0u);
    EXPECT_EQ(stream.duration(), -131.0);
    stream.reset();
    EXPECT_EQ(readAll(stream).size(), 12000u * 2);
}

TEST(OggVorbisStream, ThreadsSharingAStreamReadItOnceBetweenThem)
{
    const Bytes file = sound("noise-stereo-48000.ogg", 48000, 2, "synth 1 pinknoise vol 0.5");
    const Bytes expected = oggdecOf(file, "noise-threads");
    Ref held = openedStream(file);
    auto& stream = *held.get<OggVorbisStream>();
    u64 totals[2] = {};
    std::vector<std::thread> readers;
    for (u64& total : totals)
        readers.emplace_back([&stream, &total] {
            u8 piece[4096];
            while (const u64 got = stream.readImpl(stream.source(), sizeof piece, piece)) {
                total += got;
                stream.duration();
            }
        });
    for (std::thread& reader : readers)
        reader.join();
    EXPECT_EQ(totals[0] + totals[1], expected.size());
}

TEST(OggVorbisStream, ResultTextsNameEveryCode)
{
    const struct {
        i32 code;
        const char* text;
    } cases[] = {
        { -1, "Not true, or no data available" },
        { -128, "Read error while fetching compressed data for decode" },
        { -129, "Internal inconsistency in decode state. Continuing is likely not possible." },
        { -130, "Feature not implemented" },
        { -131, "Either an invalid argument, or incompletely initialized argument passed to libvorbisfile call" },
        { -132, "The given file/data was not recognized as Ogg Vorbis data." },
        { -133,
            "The file/data is apparently an Ogg Vorbis stream, but contains a corrupted or undecipherable header." },
        { -134, "The bitstream format revision of the given stream is not supported." },
        { -135, "Not an audio data packet" },
        { -136, "Bad packet in Vorbis data stream" },
        { -137,
            "The given link exists in the Vorbis data stream, but is not decipherable due to garbage or corruption." },
        { -138, "The given stream is not seekable" },
        { -2, "Unknown Ogg error." },
        { 0, "Unknown Ogg error." },
    };
    for (const auto& c : cases)
        EXPECT_STREQ(vorbisErrorText(c.code), c.text) << c.code;
    EXPECT_EQ(std::string(vorbisErrorText(-3)).rfind("Vorbisfile encountered missing or corrupt data", 0), 0u);
}

} // namespace
} // namespace quern::oggvorbis
