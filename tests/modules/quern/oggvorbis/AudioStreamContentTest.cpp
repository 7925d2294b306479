// Sounds go through the content tool, which refuses files the engine would
// refuse, and come back out of the depot it built through the AudioStream
// handler: small ones decoded into sample buffers, larger ones as streams.

#include "SoundTestSupport.h"
#include "runtime/quern/assets/DepotTestContent.h"
#include "runtime/quern/graphics/MemoryDepot.h"
#include "SoundRecipe.h"
#include "support/LogCapture.h"

#include "quern/assets/AssetHandlerRegistry.h"
#include "quern/assets/DefaultResourceCache.h"
#include "quern/audio/SampleBuffer.h"
#include "quern/oggvorbis/AudioStreamHandler.h"
#include "quern/oggvorbis/OggVorbisStream.h"
#include "quern/oggvorbis/VorbisFile.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace quern::oggvorbis {
namespace {

using namespace testing;

std::string text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

class AudioStreamContentTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        handler = registry.create<AudioStreamHandler>();
        assets::AssetHandlerRegistry::setInstance(&registry);
    }
    void TearDown() override
    {
        cache.clear();
        assets::AssetHandlerRegistry::setInstance(nullptr);
    }

    audio::SampleStream* load(u64 id, assets::Depot& depot) { return loadSound(id, depot, cache); }

    assets::AssetHandlerRegistry registry;
    AudioStreamHandler* handler = nullptr;
    assets::DefaultResourceCache cache;
};

const char* const kToneEffects = "synth 2 sine 440 sine 660";

TEST_F(AudioStreamContentTest, SoundsUpToTheThresholdBecomeBuffersLargerOnesStreams)
{
    const Bytes tone = sound("tone-stereo-44100.ogg", 44100, 2, kToneEffects);
    const Bytes expected = oggdecOf(tone, "tone-threshold");
    const Bytes noise = sound("noise-stereo-44100-long.ogg", 44100, 2, "synth 6 whitenoise vol 0.5", "-q 8");
    ASSERT_GT(noise.size(), AudioStreamHandler::kStreamingThreshold);
    const struct {
        const char* name;
        Bytes bytes;
        bool streams;
    } cases[] = {
        { "exactly.ogg", paddedTo(tone, 102400), false },
        { "one-more.ogg", paddedTo(tone, 102401), true },
        { "unpadded.ogg", tone, false },
    };
    for (const char* kind : { "blob", "files" }) {
        SCOPED_TRACE(kind);
        quern::test::DepotContent content;
        std::vector<quern::test::ContentAsset> assets;
        for (const auto& c : cases)
            assets.push_back({ c.name, text(c.bytes), "", "audiostream" });
        assets.push_back({ "noise.ogg", text(noise), "", "AudioStream" });
        content.build(assets, kind);
        const std::unique_ptr<assets::Depot> depot = content.openDepot(kind);
        for (const auto& c : cases) {
            SCOPED_TRACE(c.name);
            audio::SampleStream* stream = load(quern::test::assetId(c.name), *depot);
            ASSERT_NE(stream, nullptr);
            EXPECT_EQ(stream->asSampleBuffer() == nullptr, c.streams);
            EXPECT_EQ(dynamic_cast<OggVorbisStream*>(stream) != nullptr, c.streams);
            EXPECT_EQ(stream->format().sampleRate, 44100u);
            EXPECT_EQ(stream->format().bytesPerFrame, 4u);
            EXPECT_DOUBLE_EQ(stream->duration(), 2.0);
            stream->reset();
            EXPECT_EQ(readAll(*stream, 4096), expected);
        }
        audio::SampleStream* streamed = load(quern::test::assetId("noise.ogg"), *depot);
        ASSERT_NE(streamed, nullptr);
        EXPECT_NE(dynamic_cast<OggVorbisStream*>(streamed), nullptr);
        EXPECT_DOUBLE_EQ(streamed->duration(), 6.0);
        cache.clear();
    }
}

TEST_F(AudioStreamContentTest, TheHandlerDescribesTheAudioStreamType)
{
    assets::AssetHandlerInfo info {};
    handler->describe(info);
    EXPECT_STREQ(info.format, "native");
    EXPECT_EQ(info.typeId, 0x03e0cf0becdae3b6ull);
    EXPECT_FALSE(info.mainThreadStages);
    EXPECT_EQ(handler->streamingThreshold(), 102400u);
    EXPECT_EQ(registry.findHandler(assets::ResourceType::AudioStream), handler);
}

// Loads two sounds in a fresh process and exits with the number of times the
// library's version line was logged.
[[noreturn]] void loadTwiceAndCountVersionLines()
{
    quern::testing::LogCapture log(3);
    assets::AssetHandlerRegistry registry;
    registry.create<AudioStreamHandler>();
    assets::AssetHandlerRegistry::setInstance(&registry);
    graphics::testing::MemoryDepot depot;
    assets::DefaultResourceCache cache;
    const Bytes tone = sound("tone-stereo-44100.ogg", 44100, 2, kToneEffects);
    assets::loadAsset(depot.add("a", tone), assets::ResourceType::AudioStream, depot, cache);
    assets::loadAsset(depot.add("b", paddedTo(tone, 200000)), assets::ResourceType::AudioStream, depot, cache);
    std::_Exit(static_cast<int>(log.count("Xiph.Org libVorbis 1.3.7")));
}

TEST_F(AudioStreamContentTest, TheLibrarysOwnVersionIsLoggedOncePerProcess)
{
    EXPECT_EXIT(loadTwiceAndCountVersionLines(), ::testing::ExitedWithCode(1), "");
}

TEST_F(AudioStreamContentTest, DataThatIsNoOggVorbisIsFatalAtLoad)
{
    graphics::testing::MemoryDepot depot;
    for (u64 size : { u64 { 100 }, u64 { 200000 } }) {
        const u64 id = depot.add("noise" + std::to_string(size), Bytes(size, 0x5a));
        EXPECT_DEATH(load(id, depot), "Unrecognized sample stream!");
    }
}

TEST(AudioStreamContent, SoundsTheEngineWouldRefuseStopTheBuild)
{
    const Bytes tone = sound("tone-stereo-44100.ogg", 44100, 2, kToneEffects);
    const Bytes mono = sound("tone-mono-8000.ogg", 8000, 1, "synth 1.5 sine 300");
    Bytes mixedChain = tone;
    mixedChain.insert(mixedChain.end(), mono.begin(), mono.end());
    Bytes brokenSetup = tone;
    const std::vector<Page> pages = pagesOf(tone);
    // The codebooks of the setup header, on the second page, are garbage.
    for (u64 i = pages[1].offset + pages[1].size - 200; i < pages[1].offset + pages[1].size - 100; ++i)
        brokenSetup[i] ^= 0x5a;
    Bytes brokenLink = tone;
    Bytes second = sound("chain-second-44100.ogg", 44100, 2, "synth 1 square 220 vol 0.3");
    second[1] ^= 0x40;
    brokenLink.insert(brokenLink.end(), second.begin(), second.end());
    const struct {
        const char* name;
        Bytes bytes;
        std::string reason;
    } cases[] = {
        { "not Ogg at all", Bytes { 'R', 'I', 'F', 'F' },
            "it is not Ogg Vorbis data: The given file/data was not recognized as Ogg Vorbis data." },
        { "links of two formats", mixedChain, "link 1 differs from the first in channels or rate" },
        { "a broken setup header", brokenSetup, "it is not Ogg Vorbis data: " },
        { "a broken second link", brokenLink,
            "it does not open: Read error while fetching compressed data for decode" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        quern::test::DepotContent content;
        const std::string error = content.tryBuild(
            { { "ok.ogg", text(tone), "", "audiostream" }, { "bad.ogg", text(c.bytes), "", "audiostream" } });
        const std::string expected = "line 2: sound bad.ogg is not an Ogg Vorbis file the engine plays: " + c.reason;
        EXPECT_EQ(error.substr(0, expected.size()), expected) << error;
    }
}

TEST(AudioStreamContent, SoundsWithAHoleAreAcceptedAsTheEnginePlaysThem)
{
    const Bytes noise = sound("noise-mono-22050-long.ogg", 22050, 1, "synth 8 whitenoise vol 0.5");
    const std::vector<Page> pages = pagesOf(noise);
    quern::test::DepotContent content;
    content.build({ { "holed.ogg", text(withoutPage(noise, pages[pages.size() / 2])), "", "audiostream" },
        { "chained.ogg", text(noise) + text(sound("noise-mono-22050.ogg", 22050, 1, "synth 2 whitenoise vol 0.5")), "",
            "audiostream" } });
}

} // namespace
} // namespace quern::oggvorbis

namespace quern::oggvorbis {
namespace {

TEST(SoundRecipe, TheContentToolRendersARecipeIntoAnOggFileTheEnginePlays)
{
    assetbuild::ManifestAsset asset;
    asset.name = "sounds/tone.sox";
    asset.type = "audiostream";
    asset.line = 4;
    const std::string recipe = "sox 22050 1 synth 0.5 sine 440 fade q 0.01 0.5 0.01\n";
    std::vector<u8> bytes(recipe.begin(), recipe.end());
    std::string error;
    ASSERT_TRUE(assetbuild::convertSoundRecipe(asset, bytes, error)) << error;
    std::string reason;
    EXPECT_TRUE(checkOggVorbisFile(bytes.data(), bytes.size(), reason)) << reason;
    // An Ogg file passes through as it is.
    const std::vector<u8> ogg = bytes;
    ASSERT_TRUE(assetbuild::convertSoundRecipe(asset, bytes, error));
    EXPECT_EQ(bytes, ogg);
}

TEST(SoundRecipe, HoldsAtMostSixtyFourEffectWords)
{
    for (int words : { 64, 65 }) {
        std::string text = "sox 22050 1";
        for (int i = 0; i < words; ++i)
            text += " gain";
        assetbuild::SoundRecipe recipe;
        std::string error;
        const bool parsed = assetbuild::parseSoundRecipe(std::vector<u8>(text.begin(), text.end()), recipe, error);
        EXPECT_EQ(parsed, words == 64) << words << " " << error;
        if (!parsed) {
            EXPECT_EQ(error, "a recipe holds at most 64 effect words");
        }
    }
}

TEST(SoundRecipe, RefusesTextsThatAreNoRecipe)
{
    const struct {
        const char* text;
        const char* error;
    } cases[] = {
        { "", "a recipe is: sox <rate> <channels> <effects...>" },
        { "play 22050 1 synth 1 sine 440", "a recipe is: sox <rate> <channels> <effects...>" },
        { "sox 22050 1", "a recipe is: sox <rate> <channels> <effects...>" },
        { "sox 100 1 synth 1 sine 440", "the rate is 8000 to 192000 and the channels 1 or 2" },
        { "sox 22050 3 synth 1 sine 440", "the rate is 8000 to 192000 and the channels 1 or 2" },
        { "sox 22050 1 synth 1 sine 440;rm", "effect word 440;rm is not plain" },
        { "sox 22050 1 synth 1 sine 440 --output=x", "effect word --output=x is not plain" },
        { "sox 22050 1 synth 1 $(id)", "effect word $(id) is not plain" },
    };
    for (const auto& c : cases) {
        assetbuild::SoundRecipe recipe;
        std::string error;
        EXPECT_FALSE(assetbuild::parseSoundRecipe(std::vector<u8>(c.text, c.text + std::strlen(c.text)), recipe, error))
            << c.text;
        EXPECT_EQ(error, c.error) << c.text;
    }
    assetbuild::ManifestAsset asset;
    asset.name = "sounds/bad.sox";
    asset.type = "audiostream";
    asset.line = 7;
    std::vector<u8> bytes = { 's', 'o', 'x', ' ', '1', ' ', '1' };
    std::string error;
    EXPECT_FALSE(assetbuild::convertSoundRecipe(asset, bytes, error));
    EXPECT_EQ(error, "line 7: sound sounds/bad.sox: a recipe is: sox <rate> <channels> <effects...>");
}

} // namespace
} // namespace quern::oggvorbis
