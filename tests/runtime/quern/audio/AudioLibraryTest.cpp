#include "quern/audio/AudioLibrary.h"

#include "ContentBuilder.h"
#include "SoundLibraryWriter.h"
#include "runtime/quern/io/TempDirectory.h"

#include "quern/memory/DefaultAllocator.h"
#include "quern/strings/Hashes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>

namespace quern::audio {
namespace {

const std::map<std::string, u64> kAssets = { { "step1", 101 }, { "step2", 102 }, { "step3", 103 }, { "theme", 200 } };

u64 key(const char* name) { return strings::murmurHash64A(name, std::strlen(name), strings::kInternerSeed); }

// A blob in memory from the default allocator, as the sound system loads one.
void* copyToHeap(const std::vector<u8>& bytes)
{
    void* blob = memory::getDefaultAllocator()->allocate(bytes.size() ? bytes.size() : 1, 8);
    std::memcpy(blob, bytes.data(), bytes.size());
    return blob;
}

std::vector<u8> build(const std::string& text)
{
    std::vector<u8> blob;
    std::string error;
    EXPECT_TRUE(assetbuild::buildSoundLibraryBlob(text, kAssets, blob, error)) << error;
    return blob;
}

class AudioLibraryTest : public ::testing::Test {
protected:
    void load(const std::string& text)
    {
        const std::vector<u8> bytes = build(text);
        library.setData(copyToHeap(bytes), bytes.size(), memory::getDefaultAllocator());
        lastPicked.assign(library.soundCount(), 0);
        state.lastPicked = lastPicked.data();
    }
    u64 pickedAsset(u64 sound) { return library.pickComponent(sound, state)->audioAssetId(); }

    AudioLibrary library;
    std::vector<u32> lastPicked;
    PickState state;
};

TEST_F(AudioLibraryTest, ViewsEveryFieldTheContentToolWrites)
{
    load("group Music gain 0.5 curve 0 1 0.5 0.25 1 0\n"
         "group Effects\n"
         "sound jump gain 0.8 group Effects interval 0.25 instances 3 distance 40 loop pick cycle\n"
         "component step1 gain 0.5 fadein 1.5 fadeout 2\n"
         "component step2\n"
         "sound theme group Music\n"
         "component theme\n");
    ASSERT_EQ(library.soundCount(), 2u);
    ASSERT_EQ(library.componentCount(), 3u);
    ASSERT_EQ(library.groupCount(), 2u);
    const Sound& jump = library.sounds()[0];
    EXPECT_EQ(jump.id(), key("jump"));
    EXPECT_EQ(jump.gain(), 0.8f);
    EXPECT_EQ(jump.groupIndex(), 1);
    EXPECT_EQ(jump.minimumInterval(), 0.25f);
    EXPECT_EQ(jump.maximumInstances(), 3u);
    EXPECT_EQ(jump.audibleDistance(), 40.0f);
    EXPECT_EQ(jump.componentCount(), 2u);
    EXPECT_EQ(jump.firstComponent(), 0u);
    EXPECT_TRUE(jump.isLooping());
    EXPECT_EQ(jump.pickMode(), 2u);
    const Sound& theme = library.sounds()[1];
    EXPECT_EQ(theme.firstComponent(), 2u);
    EXPECT_FALSE(theme.isLooping());
    const SoundComponent& first = library.components()[0];
    EXPECT_EQ(first.gain(), 0.5f);
    EXPECT_EQ(first.soundIndex(), 0);
    EXPECT_EQ(first.audioAssetId(), 101u);
    EXPECT_EQ(first.fadeInTime(), 1.5f);
    EXPECT_EQ(first.fadeOutTime(), 2.0f);
    EXPECT_EQ(library.components()[2].soundIndex(), 1);
    const SoundGroup& music = library.groups()[0];
    EXPECT_EQ(music.id(), key("Music"));
    EXPECT_EQ(music.gain(), 0.5f);
    EXPECT_EQ(music.curvePointCount(), 3u);
    EXPECT_EQ(music.curveGain(1), 0.25f);
}

TEST_F(AudioLibraryTest, AnEmptyLibraryIsTwentyFourBytesOfThreeEmptyTables)
{
    const std::vector<u8> bytes = build("# nothing\n");
    EXPECT_EQ(bytes.size(), 24u);
    load("");
    EXPECT_EQ(library.soundCount(), 0u);
    EXPECT_EQ(library.sounds(), nullptr);
    EXPECT_EQ(library.components(), nullptr);
    EXPECT_EQ(library.groups(), nullptr);
}

TEST_F(AudioLibraryTest, ClearFreesTheBlobAndKeepsTheGain)
{
    load("sound a\ncomponent step1\n");
    library.setLibraryGain(0.5f);
    library.clear();
    EXPECT_EQ(library.blob(), nullptr);
    EXPECT_EQ(library.blobSize(), 0u);
    EXPECT_EQ(library.soundCount(), 0u);
    EXPECT_EQ(library.components(), nullptr);
    EXPECT_EQ(library.libraryGain(), 0.5f);
    library.clear();
}

TEST_F(AudioLibraryTest, PickModes)
{
    load("sound none pick random\n"
         "sound first\ncomponent step1\ncomponent step2\n"
         "sound cycle pick cycle\ncomponent step1\ncomponent step2\ncomponent step3\n"
         "sound pair pick random\ncomponent step1\ncomponent step2\n"
         "sound single pick cycle\ncomponent theme\n");
    EXPECT_EQ(library.pickComponent(0, state), nullptr);
    EXPECT_EQ(pickedAsset(1), 101u);
    EXPECT_EQ(pickedAsset(1), 101u);
    // Cycle from last-picked 0: 1, 2, 0, 1.
    std::vector<u64> cycle;
    for (int i = 0; i < 4; ++i)
        cycle.push_back(pickedAsset(2));
    EXPECT_EQ(cycle, (std::vector<u64> { 102, 103, 101, 102 }));
    // Two components at random alternate strictly.
    u64 previous = pickedAsset(3);
    for (int i = 0; i < 20; ++i) {
        const u64 next = pickedAsset(3);
        EXPECT_NE(next, previous);
        previous = next;
    }
    EXPECT_EQ(pickedAsset(4), 200u);
    EXPECT_EQ(pickedAsset(4), 200u);
}

TEST_F(AudioLibraryTest, RandomPicksFollowTheGeneratorAndNeverRepeat)
{
    load("sound many pick random\ncomponent step1\ncomponent step2\ncomponent step3\ncomponent theme\n");
    state.randomState = 42;
    u64 random = 42;
    u32 last = 0;
    const u64 ids[] = { 101, 102, 103, 200 };
    std::set<u64> seen;
    for (int i = 0; i < 200; ++i) {
        random = random * 4561 + 51349; // wraps in 64 bits
        u32 n = static_cast<u32>(random % 4);
        if (n == last)
            n = (n + 1) % 4;
        last = n;
        const u64 picked = pickedAsset(0);
        ASSERT_EQ(picked, ids[n]) << i;
        seen.insert(picked);
    }
    EXPECT_EQ(seen.size(), 4u);
    EXPECT_EQ(state.randomState, random);
}

TEST_F(AudioLibraryTest, GainMultipliesLibraryComponentSoundAndGroup)
{
    load("group Loud gain 0.5\n"
         "sound grouped gain 0.5 group Loud\ncomponent step1 gain 0.5\n"
         "sound loose gain 0.5\ncomponent step2 gain 0.25\n");
    library.setLibraryGain(2.0f);
    EXPECT_FLOAT_EQ(library.getGain(library.components()[0]), 2.0f * 0.5f * 0.5f * 0.5f);
    EXPECT_FLOAT_EQ(library.getGain(library.components()[1]), 2.0f * 0.25f * 0.5f);
}

TEST_F(AudioLibraryTest, AttenuationFollowsTheGroupCurve)
{
    load("group Curve curve 0.2 1 0.6 0.5 0.8 0.1\n"
         "group Flat\n");
    const SoundGroup& curve = library.groups()[0];
    const SoundGroup& flat = library.groups()[1];
    struct Case {
        const SoundGroup* group;
        f32 distance, audible, expected;
    };
    const Case cases[] = {
        { &curve, 0.0f, 10.0f, 1.0f }, // before the first point
        { &curve, 2.0f, 10.0f, 1.0f }, // exactly at the first point
        { &curve, 4.0f, 10.0f, 0.75f }, // half way from 0.2 to 0.6
        { &curve, 7.0f, 10.0f, 0.3f }, // half way from 0.6 to 0.8
        { &curve, 9.0f, 10.0f, 0.0f }, // past every point
        { &curve, 10.0f, 10.0f, 0.0f }, // at the audible distance
        { &curve, 12.0f, 10.0f, 0.0f }, // beyond it
        { &flat, 9.99f, 10.0f, 1.0f }, // no points: full gain inside the distance
        { &flat, 10.0f, 10.0f, 0.0f },
    };
    for (const Case& c : cases)
        EXPECT_NEAR(c.group->attenuation(c.distance, c.audible), c.expected, 1e-6f) << c.distance;
}

// A blob made by the tool, then broken in one field.
struct Breakage {
    const char* name;
    u64 offset;
    std::vector<u8> value;
    u64 keepBytes; // 0: the whole blob
    const char* message;
};

TEST(AudioLibraryDeathTest, BadBlobsAreFatalBeforeAnyViewIsUsed)
{
    // One sound (group 0, two components from index 0), two components, one group.
    const std::vector<u8> good
        = build("group G curve 0 1 1 0\nsound s group G pick random\ncomponent step1\ncomponent step2\n");
    ASSERT_EQ(good.size(), 24u + 40 + 2 * 32 + 144);
    const u64 sound = 8, componentCount = 48, component = 56, groupCount = 120, group = 128;
    const Breakage cases[] = {
        { "too short for a count", 0, {}, 4, "sound table does not fit" },
        { "sound table past the end", 0, { 0xff, 0xff, 0, 0 }, 0, "sound table does not fit" },
        { "component table past the end", componentCount, { 8, 0, 0, 0 }, 0, "component table does not fit" },
        { "group count missing", 0, {}, groupCount + 4, "group table does not fit" },
        { "group table cut short", 0, {}, good.size() - 1, "group table does not fit" },
        { "group index beyond the groups", sound + 12, { 1, 0, 0, 0 }, 0, "group index out of range" },
        { "group index below -1", sound + 12, { 0xfe, 0xff, 0xff, 0xff }, 0, "group index out of range" },
        { "first component beyond the table", sound + 34, { 2, 0 }, 0, "first component outside" },
        { "owner beyond the sounds", component + 4, { 1, 0, 0, 0 }, 0, "component owner is no sound" },
        { "negative owner", component + 32 + 4, { 0xff, 0xff, 0xff, 0xff }, 0, "component owner is no sound" },
        { "seventeen curve points", group + 12, { 17, 0, 0, 0 }, 0, "more than 16 points" },
    };
    (void)componentCount;
    for (const Breakage& c : cases) {
        std::vector<u8> bytes = good;
        std::copy(c.value.begin(), c.value.end(), bytes.begin() + c.offset);
        if (c.keepBytes)
            bytes.resize(c.keepBytes);
        EXPECT_DEATH(
            {
                AudioLibrary library;
                library.setData(copyToHeap(bytes), bytes.size(), memory::getDefaultAllocator());
            },
            c.message)
            << c.name;
    }
    // A group index of -1 is no group, and is fine.
    std::vector<u8> ungrouped = good;
    std::fill(ungrouped.begin() + sound + 12, ungrouped.begin() + sound + 16, 0xff);
    AudioLibrary library;
    library.setData(copyToHeap(ungrouped), ungrouped.size(), memory::getDefaultAllocator());
    EXPECT_EQ(library.sounds()[0].groupIndex(), -1);
}

TEST(AudioLibraryDeathTest, InconsistentComponentsAndUnknownModesAreFatalAtPick)
{
    const std::vector<u8> good = build("sound s pick cycle\ncomponent step1\ncomponent step2\n");
    struct Case {
        u64 offset;
        std::vector<u8> value;
        const char* message;
    };
    const Case cases[] = {
        { 8 + 32, { 3, 0 }, "AudioLibrary state is inconsistent" }, // promises three components
        { 8 + 37, { 3 }, "Invalid enum value for type Sound::ComponentPickMode" },
    };
    for (const Case& c : cases) {
        std::vector<u8> bytes = good;
        std::copy(c.value.begin(), c.value.end(), bytes.begin() + c.offset);
        EXPECT_DEATH(
            {
                AudioLibrary library;
                library.setData(copyToHeap(bytes), bytes.size(), memory::getDefaultAllocator());
                u32 last = 1;
                PickState state;
                state.lastPicked = &last;
                library.pickComponent(0, state);
            },
            c.message);
    }
}

TEST(SoundLibraryWriter, TheContentToolWrapsTheBlobInTheGamesChunk)
{
    test::TempDirectory directory;
    directory.writeFile("manifest.txt", "step soundfile\nsounds soundlibrary step\nbroken soundlibrary\n");
    directory.writeFile("step", "bytes");
    directory.writeFile("sounds", "sound jump\ncomponent step\n");
    directory.writeFile("broken", "sound jump\ncomponent nothing\n");
    assetbuild::BuildOptions options;
    options.manifestPath = directory.file("manifest.txt");
    options.sourceDirectory = directory.path().string();
    options.outDirectory = directory.file("out");
    options.depotKind = "files";
    std::string error;
    EXPECT_FALSE(assetbuild::buildContent(options, error));
    EXPECT_NE(error.find("broken: line 2: audio asset nothing is not in the manifest"), std::string::npos) << error;

    directory.writeFile("manifest.txt", "step soundfile\nsounds soundlibrary step\n");
    ASSERT_TRUE(assetbuild::buildContent(options, error)) << error;
    std::vector<assetbuild::BuiltAsset> assets;
    assetbuild::Manifest manifest;
    ASSERT_TRUE(assetbuild::parseManifest(directory.readFile("manifest.txt"), manifest, error));
    ASSERT_TRUE(assetbuild::loadAssets(manifest, options.sourceDirectory, assets, error)) << error;
    const std::vector<u8>& chunk = assets[1].bytes;
    ASSERT_GE(chunk.size(), 12u);
    EXPECT_EQ(readLittleEndian64(chunk.data()), 0u);
    EXPECT_EQ(readLittleEndian32(chunk.data() + 8), chunk.size() - 12);
    const std::vector<u8> blob(chunk.begin() + 12, chunk.end());
    AudioLibrary library;
    void* copy = copyToHeap(blob);
    library.setData(copy, blob.size(), memory::getDefaultAllocator());
    ASSERT_EQ(library.soundCount(), 1u);
    EXPECT_EQ(library.sounds()[0].id(), key("jump"));
    EXPECT_EQ(library.components()[0].audioAssetId(), assets[0].assetId);
}

TEST(SoundLibraryWriter, RefusesSourcesTheBlobCannotHold)
{
    struct Case {
        const char* text;
        const char* message;
    };
    const Case cases[] = {
        { "component step1\n", "line 1: a component belongs to a sound" },
        { "sound a\ncomponent missing\n", "line 2: audio asset missing is not in the manifest" },
        { "sound a pick sometimes\n", "line 1: expected sound" },
        { "sound a gain loud\n", "line 1: expected sound" },
        { "sound a group Nowhere\n", "no group is named Nowhere" },
        { "group g curve 0.5 1 0.25 1\n", "line 1: curve fractions must ascend" },
        { "group g curve 0 1 0.1 1 0.2 1 0.3 1 0.4 1 0.5 1 0.6 1 0.7 1 0.8 1 0.9 1 0.91 1 0.92 1 0.93 1 0.94 1 "
          "0.95 1 0.96 1 0.97 1\n",
            "at most 16 points" },
        { "group g curve 0 1 0.5\n", "line 1: expected sound" },
        { "music x\n", "line 1: expected sound" },
        { "sound a\nsound a\n", "line 2: sound a is named twice" },
        { "group g\ngroup g gain 2\n", "line 2: group g is named twice" },
    };
    for (const Case& c : cases) {
        std::vector<u8> blob;
        std::string error;
        EXPECT_FALSE(assetbuild::buildSoundLibraryBlob(c.text, kAssets, blob, error)) << c.text;
        EXPECT_NE(error.find(c.message), std::string::npos) << c.text << " gave " << error;
    }
}

} // namespace
} // namespace quern::audio
