#include "quern/animate/KeyframeAnimation.h"
#include "quern/animate/KeyframeAnimationHandler.h"

#include "quern/assets/AssetHandlerRegistry.h"
#include "quern/assets/DefaultResourceCache.h"
#include "quern/assets/FileSystemDepot.h"
#include "quern/io/StringSource.h"
#include "quern/serialize/BinaryPODToken.h"
#include "quern/serialize/TextPODToken.h"

#include "KeyframeClipBuilder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

namespace {

using namespace quern;
using namespace quern::animate;
using namespace quern::animate::testing;

ClipContent walkClip()
{
    ClipContent content;
    content.name = "walk";
    content.duration = 1.5f;
    content.wrapMode = kWrapRepeat;
    content.trackCount = 2;
    content.keys = { key(0, 0.0f, 1.0f, modes(2, 2), 0.5f, -0.5f), key(0, 1.5f, 2.0f), key(1, 0.25f, -3.0f, 6) };
    content.trackInfo = { { { 0, 1, 2, 0 } }, { { 4, 3, 2, 1 } } };
    KeyframeEvent step = event(0.75f, 77, 1);
    step.data[0] = 0xaa;
    step.data[15] = 0x55;
    step.flag = 1;
    content.events = { event(0.25f, 5, 0), step };
    content.strings = { "Footstep", "Jump" };
    return content;
}

void expectWalkClip(const KeyframeAnimation& clip)
{
    EXPECT_STREQ(clip.name, "walk");
    EXPECT_GE(clip.strings.find(strings::murmurHash64A("walk", 4, clip.strings.seed())), 0);
    EXPECT_FLOAT_EQ(clip.duration, 1.5f);
    EXPECT_EQ(clip.wrapMode, kWrapRepeat);
    ASSERT_EQ(clip.keys.count(), 3u);
    const KeyframeKey& first = clip.keys.at<KeyframeKey>(0);
    EXPECT_FLOAT_EQ(first.inTangent, 0.5f);
    EXPECT_FLOAT_EQ(first.outTangent, -0.5f);
    EXPECT_EQ(first.flags, modes(2, 2));
    EXPECT_EQ(clip.keys.at<KeyframeKey>(2).track, 1);
    EXPECT_EQ(clip.keys.at<KeyframeKey>(2).flags, 6);
    ASSERT_EQ(clip.tracks.count(), 2u);
    EXPECT_EQ(clip.tracks.at<KeyframeTrack>(1).targetKey, 0x1001u);
    EXPECT_EQ(clip.tracks.at<KeyframeTrack>(1).trackInfoIndex, -1);
    ASSERT_EQ(clip.trackInfo.count(), 2u);
    EXPECT_EQ(clip.trackInfo.at<KeyframeTrackInfo>(1).bytes[0], 4);
    ASSERT_EQ(clip.events.count(), 2u);
    const KeyframeEvent& step = clip.events.at<KeyframeEvent>(1);
    EXPECT_EQ(step.value, 77u);
    EXPECT_EQ(step.data[0], 0xaa);
    EXPECT_EQ(step.data[15], 0x55);
    EXPECT_EQ(step.flag, 1);
    EXPECT_STREQ(clip.strings.text(step.nameIndex), "Jump");
}

TEST(KeyframeAnimationReader, ReadsBothTokenForms)
{
    serialize::BinaryPODToken binary;
    serialize::TextPODToken text;
    for (serialize::PODToken* token : { static_cast<serialize::PODToken*>(&binary), static_cast<serialize::PODToken*>(&text) }) {
        const std::string bytes = write(walkClip(), *token);
        KeyframeAnimation clip;
        StringSource source(bytes.data(), bytes.size());
        readKeyframeAnimation(source, *token, clip);
        expectWalkClip(clip);
    }
}

TEST(KeyframeAnimationReader, NewClipIsEmptyWithTheDefaultSeed)
{
    KeyframeAnimation clip;
    EXPECT_STREQ(clip.name, "");
    EXPECT_EQ(clip.strings.seed(), 0x2F0101B0D9B73936ull);
    EXPECT_EQ(clip.duration, 0.0f);
    EXPECT_EQ(clip.keys.alignment(), 4u);
    EXPECT_EQ(clip.events.alignment(), 8u);
}

TEST(KeyframeAnimationReaderDeathTest, BrokenFilesAreRejected)
{
    serialize::BinaryPODToken token;
    struct Case {
        const char* name;
        std::string bytes;
        const char* message;
    };
    ClipContent badInfo = walkClip();
    ClipContent badName = walkClip();
    badName.events[1].nameIndex = 3; // the table holds the two texts and the clip name
    std::string badInfoBytes = write(badInfo, token);
    // The first track's record index sits after the chunk id, the name, the
    // duration, the wrap mode, the keys and the track count.
    const u64 trackInfoAt = 8 + 4 + 4 + 4 + 4 + 4 + 3 * 20 + 4 + 20;
    const i32 outside = 2;
    std::memcpy(badInfoBytes.data() + trackInfoAt, &outside, 4);
    std::string hugeCount = write(walkClip(), token);
    const u32 huge = 0x10000000;
    std::memcpy(hugeCount.data() + 8 + 4 + 4 + 4 + 4, &huge, 4);
    std::string otherChunk = write(walkClip(), token);
    otherChunk[0] ^= 1;

    const Case cases[] = {
        { "other chunk", otherChunk, "Unexpected chunk type" },
        { "key count beyond the file", hugeCount, "Invalid keyframe animation: 268435456 keys in" },
        { "track record outside", badInfoBytes, "Invalid keyframe animation: track 0 names track record 2 of 2" },
        { "event name outside", write(badName, token), "Invalid keyframe animation: event 1 names string 3 of 3" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_DEATH(
            {
                KeyframeAnimation clip;
                StringSource source(c.bytes.data(), c.bytes.size());
                readKeyframeAnimation(source, token, clip);
            },
            c.message);
    }
}

// Clip files in a file-system depot, loaded through the handler registry.
class KeyframeAnimationLoading : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = std::filesystem::path(QUERN_TEST_BINARY_DIR) / "clips";
        std::filesystem::create_directories(root);
        registry.create<KeyframeAnimationHandler>();
        assets::AssetHandlerRegistry::setInstance(&registry);
    }
    void TearDown() override { assets::AssetHandlerRegistry::setInstance(nullptr); }

    void writeAsset(u64 id, const std::string& bytes)
    {
        char relative[32];
        assets::FileSystemDepot::relativePath(id, relative);
        const std::filesystem::path file = root / relative;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }

    KeyframeAnimation* load(u64 id)
    {
        const u64 key = assets::loadAsset(id, kKeyframeAnimationTypeId, *depot, cache);
        EXPECT_EQ(key, assets::resourceKey(id, kKeyframeAnimationTypeId));
        assets::CacheEntry* entry = cache.find(key);
        return entry ? static_cast<KeyframeAnimation*>(entry->resource) : nullptr;
    }

    std::filesystem::path root;
    assets::AssetHandlerRegistry registry;
    assets::DefaultResourceCache cache;
    std::unique_ptr<assets::FileSystemDepot> depot;
};

TEST_F(KeyframeAnimationLoading, LoadsBinaryAndTextClipsIntoTheCache)
{
    serialize::BinaryPODToken binary;
    serialize::TextPODToken text;
    writeAsset(0x1111000000000001ull, write(walkClip(), binary));
    writeAsset(0x1111000000000002ull, write(walkClip(), text));
    depot = std::make_unique<assets::FileSystemDepot>(root.c_str());
    for (u64 id : { 0x1111000000000001ull, 0x1111000000000002ull }) {
        KeyframeAnimation* clip = load(id);
        ASSERT_NE(clip, nullptr);
        expectWalkClip(*clip);
    }
}

TEST_F(KeyframeAnimationLoading, ClipAlreadyCachedIsNeverBuiltOver)
{
    serialize::BinaryPODToken binary;
    writeAsset(0x2222000000000001ull, write(walkClip(), binary));
    depot = std::make_unique<assets::FileSystemDepot>(root.c_str());
    KeyframeAnimation* clip = load(0x2222000000000001ull);
    ASSERT_NE(clip, nullptr);
    const i32 references = clip->refCount();
    clip->duration = 42.0f; // what a user of the cached clip may see

    EXPECT_EQ(load(0x2222000000000001ull), clip);
    EXPECT_FLOAT_EQ(clip->duration, 42.0f);
    EXPECT_EQ(clip->refCount(), references);
    EXPECT_STREQ(clip->name, "walk");
}

TEST(KeyframeAnimationHandler, DescribesTheNativeClipType)
{
    KeyframeAnimationHandler handler;
    assets::AssetHandlerInfo info {};
    handler.describe(info);
    EXPECT_STREQ(info.format, "native");
    EXPECT_EQ(info.typeId, assets::ResourceType::KeyframeAnimation);
}

} // namespace
