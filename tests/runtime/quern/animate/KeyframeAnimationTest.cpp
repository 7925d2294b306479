#include "quern/animate/KeyframeAnimation.h"

#include "quern/math/Quaternion.h"

#include "KeyframeClipBuilder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

using namespace quern;
using namespace quern::animate;
using namespace quern::animate::testing;

f32 sampleOne(const KeyframeAnimation& clip, f32 time, std::vector<KeyframeCursor>& cursors, u32 track = 0)
{
    f32 value = -999.0f;
    clip.sampleTracks(time, track, { &value, 1 }, cursors.data(), clip.wrapMode, &interpolateScalar);
    return value;
}

TEST(KeyframeWrapTime, RepeatPingPongAndClamp)
{
    struct Case {
        f32 t;
        u32 mode;
        f32 expected;
    };
    const Case cases[] = {
        { 2.5f, kWrapRepeat, 0.5f },    { 4.0f, kWrapRepeat, 0.0f },    { -0.5f, kWrapRepeat, -0.5f },
        { 0.5f, kWrapPingPong, 0.5f },  { 2.5f, kWrapPingPong, 1.5f },  { 4.5f, kWrapPingPong, 0.5f },
        { 3.0f, 0, 3.0f },              { -1.0f, 7, -1.0f },
    };
    for (const Case& c : cases)
        EXPECT_FLOAT_EQ(wrapTime(c.t, 2.0f, c.mode), c.expected) << c.t << " mode " << c.mode;
}

TEST(KeyframeAnimation, ZeroDurationYieldsZerosAndNoEvents)
{
    KeyframeAnimation clip;
    ClipContent content;
    content.duration = 0.0f;
    content.trackCount = 2; // no keys at all: interpolating would be fatal
    content.events = { event(0.0f, 1) };
    build(clip, content);
    auto cursors = cursorsFor(clip);
    f32 values[2] = { 7.0f, 7.0f };
    clip.sampleTracks(1.0f, 0, { values, 2 }, cursors.data(), 0, &interpolateScalar);
    EXPECT_EQ(values[0], 0.0f);
    EXPECT_EQ(values[1], 0.0f);
    EXPECT_EQ(clip.findEvents(0.0f, 1.0f, 0).total(), 0u);
}

TEST(KeyframeAnimation, ScalarSamplingFollowsTheKeyModes)
{
    struct Case {
        const char* name;
        KeyframeKey first;
        KeyframeKey second;
        f32 time;
        f32 expected;
    };
    const i16 linear = modes(kInterpolateLinear, kInterpolateLinear);
    const i16 constant = modes(0, kInterpolateConstant);
    // Hermite at u = 0.25 with slopes 4 and -2 over a span of 1 second.
    const f32 u = 0.25f;
    const f32 hermite = (2 * u * u * u - 3 * u * u + 1) * 1.0f + (u * u * u - 2 * u * u + u) * 4.0f
        + (3 * u * u - 2 * u * u * u) * 3.0f + (u * u * u - u * u) * -2.0f;
    const Case cases[] = {
        { "before the first key", key(0, 0.5f, 1.0f), key(0, 1.5f, 3.0f), 0.1f, 1.0f },
        { "after the last key", key(0, 0.5f, 1.0f), key(0, 1.5f, 3.0f), 1.9f, 3.0f },
        { "linear", key(0, 0.5f, 1.0f, linear), key(0, 1.5f, 3.0f, linear), 0.75f, 1.5f },
        { "constant holds", key(0, 0.5f, 1.0f, constant), key(0, 1.5f, 3.0f), 1.4f, 1.0f },
        { "hermite", key(0, 0.5f, 1.0f, 0, 0.0f, 4.0f), key(0, 1.5f, 3.0f, 0, -2.0f, 0.0f), 0.75f, hermite },
        { "on a key", key(0, 0.5f, 1.0f), key(0, 1.5f, 3.0f), 1.5f, 3.0f },
    };
    for (const Case& c : cases) {
        KeyframeAnimation clip;
        ClipContent content;
        content.keys = { c.first, c.second };
        build(clip, content);
        auto cursors = cursorsFor(clip);
        EXPECT_FLOAT_EQ(sampleOne(clip, c.time, cursors), c.expected) << c.name;
    }
}

TEST(KeyframeAnimation, TracksAreSampledTogetherFromTheirOwnKeys)
{
    KeyframeAnimation clip;
    ClipContent content;
    const i16 linear = modes(kInterpolateLinear, kInterpolateLinear);
    content.trackCount = 3;
    content.keys = { key(0, 0.0f, 0.0f, linear), key(0, 1.0f, 10.0f, linear), key(1, 0.0f, 5.0f),
                     key(2, 0.0f, 100.0f, linear), key(2, 2.0f, 300.0f, linear) };
    build(clip, content);
    auto cursors = cursorsFor(clip);
    f32 values[3] = {};
    clip.sampleTracks(0.5f, 0, { values, 3 }, cursors.data(), 0, &interpolateScalar);
    EXPECT_FLOAT_EQ(values[0], 5.0f);
    EXPECT_FLOAT_EQ(values[1], 5.0f);
    EXPECT_FLOAT_EQ(values[2], 150.0f);
    f32 last[2] = {};
    clip.sampleTracks(1.0f, 1, { last, 2 }, cursors.data(), 0, &interpolateScalar);
    EXPECT_FLOAT_EQ(last[0], 5.0f);
    EXPECT_FLOAT_EQ(last[1], 200.0f);
}

TEST(KeyframeAnimation, CursorKeepsTheBracketingKeysAndSearchesOnFromThem)
{
    KeyframeAnimation clip;
    ClipContent content;
    const i16 linear = modes(kInterpolateLinear, kInterpolateLinear);
    content.duration = 4.0f;
    content.keys = { key(0, 0.0f, 0.0f, linear), key(0, 1.0f, 10.0f, linear), key(0, 2.0f, 20.0f, linear),
                     key(0, 3.0f, 30.0f, linear) };
    build(clip, content);
    auto cursors = cursorsFor(clip);

    EXPECT_FLOAT_EQ(sampleOne(clip, 1.5f, cursors), 15.0f);
    EXPECT_EQ(cursors[0].prevIndex, 1);
    EXPECT_EQ(cursors[0].nextIndex, 2);
    // Between the same keys the cursor's copies answer, not the key table.
    clip.keys.at<KeyframeKey>(2).value = 1000.0f;
    EXPECT_FLOAT_EQ(sampleOne(clip, 1.75f, cursors), 17.5f);
    clip.keys.at<KeyframeKey>(2).value = 20.0f;
    // Forward past the next key: searched on from the remembered indices.
    EXPECT_FLOAT_EQ(sampleOne(clip, 2.5f, cursors), 25.0f);
    EXPECT_EQ(cursors[0].prevIndex, 2);
    EXPECT_EQ(cursors[0].nextIndex, 3);
    // Backwards: a fresh search from the first key.
    EXPECT_FLOAT_EQ(sampleOne(clip, 0.5f, cursors), 5.0f);
    EXPECT_EQ(cursors[0].prevIndex, 0);
    // Past the last key the cursor has nothing to keep.
    EXPECT_FLOAT_EQ(sampleOne(clip, 3.5f, cursors), 30.0f);
    EXPECT_TRUE(cursors[0].isEmpty());
}

TEST(KeyframeAnimation, CursorFromAnotherClipStaysInsideTheKeys)
{
    KeyframeAnimation clip;
    ClipContent content;
    content.keys = { key(0, 0.0f, 1.0f), key(0, 1.0f, 1.0f) };
    build(clip, content);
    std::vector<KeyframeCursor> cursors(1, KeyframeCursor::empty());
    cursors[0].prev = key(0, 0.0f, 0.0f);
    cursors[0].next = key(0, 0.1f, 0.0f);
    cursors[0].prevIndex = 40;
    cursors[0].nextIndex = 41;
    EXPECT_FLOAT_EQ(sampleOne(clip, 0.5f, cursors), 1.0f);
}

TEST(KeyframeAnimation, RotationTracksInterpolateAsOneQuaternion)
{
    KeyframeAnimation clip;
    ClipContent content;
    content.trackCount = 4;
    const math::Quaternion a = math::Quaternion::fromAxisAngle(0.0f, { 0.0f, 0.0f, 1.0f });
    const math::Quaternion b = math::Quaternion::fromAxisAngle(1.5f, { 0.0f, 0.0f, 1.0f });
    const f32 av[4] = { a.x, a.y, a.z, a.w };
    const f32 bv[4] = { b.x, b.y, b.z, b.w };
    for (i16 t = 0; t < 4; ++t) {
        content.keys.push_back(key(t, 0.0f, av[t]));
        content.keys.push_back(key(t, 1.0f, bv[t]));
    }
    build(clip, content);
    auto cursors = cursorsFor(clip);

    f32 out[4] = { 9.0f, 9.0f, 9.0f, 9.0f };
    clip.blendRotationTrack(0.25f, 0, out, cursors.data(), 0, 1.0f, 0.0f); // keep 0: overwrite
    const math::Quaternion expected = math::Quaternion::nlerp(a, b, 0.25f);
    EXPECT_FLOAT_EQ(out[0], expected.x);
    EXPECT_FLOAT_EQ(out[2], expected.z);
    EXPECT_FLOAT_EQ(out[3], expected.w);

    f32 kept[4] = { 0.0f, 0.0f, 0.0f, 2.0f };
    clip.blendRotationTrack(0.25f, 0, kept, cursors.data(), 0, 0.0f, 1.0f); // weight 0: the current, renormalised
    EXPECT_FLOAT_EQ(kept[3], 1.0f);
    EXPECT_FLOAT_EQ(kept[2], 0.0f);

    f32 after[4] = {};
    clip.sampleTracks(5.0f, 0, { after, 4 }, cursors.data(), 0, &interpolateRotation);
    EXPECT_FLOAT_EQ(after[2], b.z);
    EXPECT_FLOAT_EQ(after[3], b.w);
}

TEST(KeyframeAnimation, BlendFloatTracksWeighsSampleAndCurrentValue)
{
    KeyframeAnimation clip;
    ClipContent content;
    content.trackCount = 2;
    content.keys = { key(0, 0.0f, 10.0f), key(1, 0.0f, 20.0f) };
    build(clip, content);
    auto cursors = cursorsFor(clip);
    f32 out[2] = { 1.0f, 2.0f };
    clip.blendFloatTracks(0.5f, 0, out, 2, cursors.data(), 0, 0.25f, 0.5f);
    EXPECT_FLOAT_EQ(out[0], 10.0f * 0.25f + 1.0f * 0.5f);
    EXPECT_FLOAT_EQ(out[1], 20.0f * 0.25f + 2.0f * 0.5f);
}

std::vector<u32> eventValues(const KeyframeEventRange& range)
{
    std::vector<u32> values;
    for (u64 i = 0; i < range.total(); ++i)
        values.push_back(range[i].value);
    return values;
}

TEST(KeyframeAnimation, FindEventsReportsWhatTheRangePassed)
{
    KeyframeAnimation clip;
    ClipContent content;
    content.duration = 2.0f;
    content.events = { event(0.1f, 1), event(0.3f, 2), event(0.9f, 3), event(1.85f, 4), event(1.95f, 5) };
    build(clip, content);
    struct Case {
        const char* name;
        f32 from;
        f32 to;
        u32 mode;
        std::vector<u32> expected;
    };
    const Case cases[] = {
        { "inside the clip", 0.2f, 0.9f, 0, { 2, 3 } },
        { "bounds included", 0.1f, 0.3f, 0, { 1, 2 } },
        { "nothing between", 0.4f, 0.8f, 0, {} },
        { "repeat, later loop", 4.2f, 4.95f, kWrapRepeat, { 2, 3 } },
        // The range crosses the loop point: the events before the end and after
        // the start were both passed, in that order.
        { "repeat across the end", 1.8f, 2.35f, kWrapRepeat, { 4, 5, 1, 2 } },
        { "repeat across the end, nothing before it", 1.96f, 2.2f, kWrapRepeat, { 1 } },
        { "ping-pong coming back", 2.2f, 3.2f, kWrapPingPong, { 3 } }, // 1.8 back to 0.8
        { "clamp backwards", 1.0f, 0.2f, 0, {} },
    };
    for (const Case& c : cases)
        EXPECT_EQ(eventValues(clip.findEvents(c.from, c.to, c.mode)), c.expected) << c.name;

    const KeyframeEventRange wrapped = clip.findEvents(1.8f, 2.35f, kWrapRepeat);
    EXPECT_EQ(wrapped.first, &clip.events.at<KeyframeEvent>(3));
    EXPECT_EQ(wrapped.count, 2u);
    EXPECT_EQ(wrapped.wrappedFirst, &clip.events.at<KeyframeEvent>(0));
    EXPECT_EQ(wrapped.wrappedCount, 2u);
}

TEST(KeyframeAnimationDeathTest, SamplingWhatIsNotThereIsFatal)
{
    KeyframeAnimation clip;
    ClipContent content;
    content.trackCount = 5;
    content.keys = { key(0, 0.0f, 1.0f) }; // tracks 1 to 4 have no keys
    build(clip, content);
    auto cursors = cursorsFor(clip);
    f32 values[5] = {};
    EXPECT_DEATH(clip.sampleTracks(0.5f, 1, { values, 1 }, cursors.data(), 0, &interpolateScalar),
                 "Keyframe not found");
    EXPECT_DEATH(clip.sampleTracks(0.5f, 0, { values, 4 }, cursors.data(), 0, &interpolateRotation),
                 "Keyframe not found");
    EXPECT_DEATH(clip.sampleTracks(0.5f, 0, { values, 5 }, cursors.data(), 0, &interpolateScalar),
                 "Too many keyframe tracks sampled at once");
    EXPECT_DEATH(clip.sampleTracks(0.5f, 4, { values, 2 }, cursors.data(), 0, &interpolateScalar),
                 "Keyframe track out of range");
}

} // namespace
