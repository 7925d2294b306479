// The content tool's clip sources, read back by the engine's clip reader.

#include "KeyframeClipWriter.h"

#include "quern/animate/KeyframeAnimation.h"
#include "quern/io/StringSource.h"
#include "quern/serialize/BinaryPODToken.h"
#include "quern/strings/Hashes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace quern::animate {
namespace {

bool parse(const std::string& text, assetbuild::KeyframeClipSource& clip, std::string& error)
{
    return assetbuild::parseKeyframeClipSource(std::vector<u8>(text.begin(), text.end()), clip, error);
}

void load(const std::string& text, KeyframeAnimation& out)
{
    assetbuild::KeyframeClipSource clip;
    clip.name = "walk";
    std::string error;
    ASSERT_TRUE(parse(text, clip, error)) << error;
    std::ostringstream stream;
    serialize::BinaryPODToken writer;
    assetbuild::writeKeyframeClip(stream, writer, clip);
    const std::string bytes = stream.str();
    StringSource source(bytes.data(), bytes.size());
    serialize::BinaryPODToken reader;
    readKeyframeAnimation(source, reader, out);
}

u64 id(const char* text) { return strings::murmurHash64A(text, std::strlen(text), strings::kInternerSeed); }

TEST(KeyframeClipSource, WritesWhatTheClipReaderTakes)
{
    KeyframeAnimation clip;
    load("# a walk\nduration 0.5\nwrap loop\n"
         "track legs/left m_LocalPosition\nkey 0 1 2 3\nkey 0.5 4 5 6 constant\n"
         "track - m_LocalRotation\nkey 0 0 0 0 1\n"
         "track - m_Enabled type 13\nkey 0 1\n"
         "event 0.4 PlaySound Step\nevent 0.1 Mark 0x10\n",
        clip);
    EXPECT_STREQ(clip.name, "walk");
    EXPECT_EQ(clip.duration, 0.5f);
    EXPECT_EQ(clip.wrapMode, kWrapRepeat);
    ASSERT_EQ(clip.tracks.count(), 8u);
    // A vector's first track samples it whole; the others only hold keys.
    const auto info = [&](u64 track) { return clip.trackInfo.at<KeyframeTrackInfo>(clip.tracks.at<KeyframeTrack>(track).trackInfoIndex); };
    EXPECT_EQ(info(0).bytes[0], 3);
    EXPECT_EQ(info(1).bytes[3], 1);
    EXPECT_EQ(info(3).bytes[0], 4);
    EXPECT_EQ(info(6).bytes[3], 1);
    EXPECT_EQ(clip.tracks.at<KeyframeTrack>(0).targetKey, id("legs/left"));
    EXPECT_EQ(clip.tracks.at<KeyframeTrack>(2).propertyKey, id("m_LocalPosition.z"));
    EXPECT_EQ(clip.tracks.at<KeyframeTrack>(7).targetType, 13);
    EXPECT_EQ(clip.strings.text(clip.strings.find(clip.tracks.at<KeyframeTrack>(3).targetKey)), std::string());

    std::vector<KeyframeCursor> cursors(clip.tracks.count(), KeyframeCursor::empty());
    f32 position[3] = {};
    clip.blendFloatTracks(0.25f, 0, position, 3, cursors.data(), kWrapRepeat, 1.0f, 0.0f);
    EXPECT_FLOAT_EQ(position[0], 2.5f);
    EXPECT_FLOAT_EQ(position[2], 4.5f);

    ASSERT_EQ(clip.events.count(), 2u); // sorted by time
    const KeyframeEvent& step = clip.events.at<KeyframeEvent>(1);
    u64 payload = 0;
    std::memcpy(&payload, step.data, sizeof payload);
    EXPECT_EQ(payload, id("Step"));
    EXPECT_EQ(clip.strings.key(step.nameIndex), id("PlaySound"));
    std::memcpy(&payload, clip.events.at<KeyframeEvent>(0).data, sizeof payload);
    EXPECT_EQ(payload, 0x10u);
}

TEST(KeyframeClipSource, RefusesWhatAClipCannotHold)
{
    struct Case {
        const char* text;
        const char* message;
    };
    const Case cases[] = {
        { "track - m_LocalPosition.x\nkey 0 1\n", "no duration" },
        { "duration 0\n", "line 1: duration" },
        { "duration nan\n", "line 1: duration" },
        { "duration 1\ntrack - m_LocalPosition.x\ntrack - m_LocalScale.x\nkey 0 1\n", "line 2: the track has no keys" },
        { "duration 1\ntrack - m_LocalPosition.x\n", "line 2: the track has no keys" },
        { "duration 1\nkey 0 1\n", "key before any track" },
        { "duration 1\ntrack - m_LocalPosition\nkey 0 1 2\n", "a time and 3 value(s)" },
        { "duration 1\ntrack - m_LocalPosition.x\nkey 0.5 1\nkey 0.5 2\n", "line 4: key times of a track must ascend" },
        { "duration 1\ntrack - m_LocalPosition.x\nkey -1 1\n", "line 3" },
        { "duration 1\ntrack - m_LocalRotation.x\nkey 0 1\n", "all four components" },
        { "duration 1\ntrack - m_Enabled\nkey 0 1\n", "m_Enabled needs" },
        { "duration 1\ntrack - m_Enabled type 128\nkey 0 1\n", "m_Enabled needs" },
        { "duration 1\ntrack - m_Emit type 3\nkey 0 1\n", "only m_Enabled" },
        { "duration 1\nevent 2 PlaySound Step\n", "after the clip's end" },
        { "duration 1\nevent 0.5 PlaySound 99999999999999999999\n", "64-bit number" },
        { "duration 1\nwrap sideways\n", "wrap takes" },
        { "duration 1\nwrap loop\nwrap once\n", "twice" },
        { "duration 1\nbounce\n", "unknown statement" },
    };
    for (const Case& c : cases) {
        assetbuild::KeyframeClipSource clip;
        std::string error;
        EXPECT_FALSE(parse(c.text, clip, error)) << c.text;
        EXPECT_NE(error.find(c.message), std::string::npos) << c.text << " gave: " << error;
    }
}

} // namespace
} // namespace quern::animate
