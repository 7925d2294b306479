#include "quern/input/InputReplay.h"

#include "quern/debug/Logger.h"
#include "quern/io/StringSink.h"
#include "quern/io/StringSource.h"
#include "quern/serialize/BinaryPODToken.h"
#include "quern/serialize/TextPODToken.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace quern;
using namespace quern::input;

// The three arrays of an input context, sized as the game sizes them.
struct Inputs {
    Inputs(u64 actionCount = 4, u64 stateCount = 3, u64 axisCount = 2)
    {
        zeroed(actions, actionCount);
        zeroed(held, stateCount);
        zeroed(axes, axisCount);
    }
    static void zeroed(containers::Array& array, u64 count)
    {
        if (count > 0)
            std::memset(array.expand(count), 0, count * array.elementSize());
    }
    InputArrays arrays() { return { &actions, &held, &axes }; }
    std::vector<i32> state() const
    {
        std::vector<i32> all;
        for (u64 i = 0; i < actions.count(); ++i)
            all.push_back(actions.at<i32>(i));
        for (u64 i = 0; i < held.count(); ++i)
            all.push_back(held.at<i8>(i));
        for (u64 i = 0; i < axes.count(); ++i)
            all.push_back(axes.at<i32>(i));
        return all;
    }

    containers::Array actions { sizeof(i32), alignof(i32) };
    containers::Array held { sizeof(i8), alignof(i8) };
    containers::Array axes { sizeof(i32), alignof(i32) };
};

class InfoLog {
public:
    InfoLog() { debug::getLogger()->buffer().addSink(&m_text, 3); }
    ~InfoLog() { debug::getLogger()->buffer().removeSink(&m_text, 3); }
    u64 count(const std::string& needle) const
    {
        const std::string all = m_text.str();
        u64 n = 0;
        for (auto at = all.find(needle); at != std::string::npos; at = all.find(needle, at + 1))
            ++n;
        return n;
    }

private:
    std::stringbuf m_text;
};

std::vector<i32> valuesOf(const InputReplay& replay)
{
    const i32* v = replay.values.dataAs<i32>();
    return std::vector<i32>(v, v + replay.values.count());
}

TEST(InputReplayRecorder, RecordsActionsEveryFrameAndStatesAndAxesOnChange)
{
    InputReplay replay;
    InputReplayRecorder recorder;
    Inputs in;

    EXPECT_FALSE(recorder.recordFrame(replay, in.arrays())); // frame 0: nothing pressed
    EXPECT_EQ(replay.frameCount(), 0u);

    in.actions.at<i32>(2) = 2; // pressed twice within the frame
    in.held.at<i8>(1) = 1;     // key goes down
    in.axes.at<i32>(0) = -300;
    EXPECT_TRUE(recorder.recordFrame(replay, in.arrays())); // frame 1

    in.actions.at<i32>(2) = 0;
    EXPECT_FALSE(recorder.recordFrame(replay, in.arrays())); // frame 2: key still held, nothing new

    in.held.at<i8>(1) = 0; // released
    EXPECT_TRUE(recorder.recordFrame(replay, in.arrays())); // frame 3

    ASSERT_EQ(replay.frameCount(), 2u);
    const InputReplayFrame& first = replay.frameAt(0);
    EXPECT_EQ(first.frame, 1);
    EXPECT_EQ(first.actionPairs, 1);
    EXPECT_EQ(first.statePairs, 1);
    EXPECT_EQ(first.axisPairs, 1);
    const InputReplayFrame& second = replay.frameAt(1);
    EXPECT_EQ(second.frame, 3);
    EXPECT_EQ(second.actionPairs, 0);
    EXPECT_EQ(second.statePairs, 1);
    EXPECT_EQ(second.axisPairs, 0);
    EXPECT_EQ(valuesOf(replay), (std::vector<i32> { 2, 2, 1, 1, 0, -300, 1, 0 }));
    EXPECT_EQ(recorder.frameCounter, 4u);
}

TEST(InputReplayRecorder, FramesNeverShareARecordWithAChecksumRecord)
{
    // The recording system appends a record for the frame's checksum before the
    // recorder runs; the recorder fills that one and moves past it.
    InputReplay replay;
    InputReplayRecorder recorder;
    Inputs in;

    replay.appendFrame(0).checksum = 0xab;
    in.actions.at<i32>(0) = 1;
    EXPECT_TRUE(recorder.recordFrame(replay, in.arrays()));
    replay.appendFrame(1).checksum = 0xcd;
    in.actions.at<i32>(0) = 0;
    EXPECT_FALSE(recorder.recordFrame(replay, in.arrays()));
    in.actions.at<i32>(1) = 5; // frame 2 has no checksum record of its own
    EXPECT_TRUE(recorder.recordFrame(replay, in.arrays()));

    ASSERT_EQ(replay.frameCount(), 3u);
    EXPECT_EQ(replay.frameAt(0).frame, 0);
    EXPECT_EQ(replay.frameAt(0).actionPairs, 1);
    EXPECT_EQ(replay.frameAt(0).checksum, 0xab);
    EXPECT_EQ(replay.frameAt(1).frame, 1);
    EXPECT_EQ(replay.frameAt(1).actionPairs, 0);
    EXPECT_EQ(replay.frameAt(1).checksum, 0xcd);
    EXPECT_EQ(replay.frameAt(2).frame, 2);
    EXPECT_EQ(replay.frameAt(2).actionPairs, 1);
    EXPECT_EQ(recorder.cursor, 3u);
}

TEST(InputReplayRecorder, ArraysThatGrowDuringRecordingStartFromZero)
{
    InputReplay replay;
    InputReplayRecorder recorder;
    Inputs in(1, 1, 1);
    recorder.recordFrame(replay, in.arrays());
    *static_cast<i8*>(in.held.expand(3)) = 0;
    in.held.at<i8>(2) = 1;
    EXPECT_TRUE(recorder.recordFrame(replay, in.arrays()));
    EXPECT_EQ(valuesOf(replay), (std::vector<i32> { 2, 1 }));
}

TEST(InputReplay, PlaybackReproducesARecordedRunFrameByFrame)
{
    InputReplay replay;
    InputReplayRecorder recorder;
    Inputs live(6, 5, 3);
    std::vector<std::vector<i32>> recorded;
    u32 seed = 12345;
    const auto next = [&seed] { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0x7fff; };
    for (u32 frame = 0; frame < 300; ++frame) {
        for (u64 i = 0; i < 6; ++i)
            live.actions.at<i32>(i) = next() % 7 == 0 ? static_cast<i32>(next() % 3) : 0;
        for (u64 i = 0; i < 5; ++i)
            if (next() % 11 == 0)
                live.held.at<i8>(i) = static_cast<i8>(live.held.at<i8>(i) == 0);
        for (u64 i = 0; i < 3; ++i)
            if (next() % 5 == 0)
                live.axes.at<i32>(i) = static_cast<i32>(next()) - 16384;
        recorder.recordFrame(replay, live.arrays());
        recorded.push_back(live.state());
    }
    const i32 lastRecordFrame = replay.frameAt(replay.frameCount() - 1).frame;

    InputReplayPlayer player;
    Inputs played(6, 5, 3);
    InfoLog log;
    for (u32 frame = 0; frame < 300; ++frame) {
        for (u64 i = 0; i < 6; ++i)
            played.actions.at<i32>(i) = 0; // action counts are per frame
        player.playFrame(replay, played.arrays());
        ASSERT_EQ(played.state(), recorded[frame]) << "frame " << frame;
        EXPECT_EQ(log.count("Input replay finished"), static_cast<i32>(frame) >= lastRecordFrame ? 1u : 0u)
            << "frame " << frame;
    }
    EXPECT_EQ(player.valueCursor, replay.values.count());
}

TEST(InputReplay, EmptyReplayPlaysAndLogsNothing)
{
    InputReplay replay;
    InputReplayPlayer player;
    Inputs in;
    in.axes.at<i32>(1) = 9;
    InfoLog log;
    for (int i = 0; i < 3; ++i)
        player.playFrame(replay, in.arrays());
    EXPECT_EQ(in.state(), (std::vector<i32> { 0, 0, 0, 0, 0, 0, 0, 0, 9 }));
    EXPECT_EQ(log.count("Input replay finished"), 0u);
    EXPECT_EQ(player.frameCounter, 3);
}

TEST(InputReplay, PlaysAtMostOneRecordPerFrame)
{
    InputReplay replay;
    replay.appendFrame(0).actionPairs = 1;
    replay.appendFrame(0).actionPairs = 1;
    for (i32 v : { 0, 4, 0, 7 })
        replay.values.append(v);
    InputReplayPlayer player;
    Inputs in;
    player.playFrame(replay, in.arrays());
    EXPECT_EQ(in.actions.at<i32>(0), 4);
    player.playFrame(replay, in.arrays());
    EXPECT_EQ(in.actions.at<i32>(0), 7);
}

InputReplay makeSmallReplay()
{
    InputReplay replay;
    InputReplayRecorder recorder;
    Inputs in;
    in.actions.at<i32>(3) = 1;
    in.axes.at<i32>(1) = -70000;
    recorder.recordFrame(replay, in.arrays());
    in.held.at<i8>(2) = 1;
    recorder.recordFrame(replay, in.arrays());
    replay.frameAt(1).checksum = 0x5a;
    return replay;
}

TEST(InputReplay, RoundTripsThroughBothTokenForms)
{
    const InputReplay original = makeSmallReplay();
    serialize::BinaryPODToken binary;
    serialize::TextPODToken text;
    struct Case {
        serialize::PODToken* token;
        u8 checksumAfter; // the text form has no field for the checksum byte
    };
    for (const Case& c : { Case { &binary, 0x5a }, Case { &text, 0 } }) {
        StringSink sink;
        original.write(sink, *c.token);
        InputReplay copy;
        copy.appendFrame(99); // replaced, not appended to
        StringSource source(sink.text.data(), sink.text.size());
        copy.read(source, *c.token);
        ASSERT_EQ(copy.frameCount(), original.frameCount());
        for (u64 i = 0; i < copy.frameCount(); ++i) {
            EXPECT_EQ(copy.frameAt(i).frame, original.frameAt(i).frame);
            EXPECT_EQ(copy.frameAt(i).actionPairs, original.frameAt(i).actionPairs);
            EXPECT_EQ(copy.frameAt(i).statePairs, original.frameAt(i).statePairs);
            EXPECT_EQ(copy.frameAt(i).axisPairs, original.frameAt(i).axisPairs);
        }
        EXPECT_EQ(copy.frameAt(1).checksum, c.checksumAfter);
        EXPECT_EQ(valuesOf(copy), valuesOf(original));
    }
}

TEST(InputReplay, BinaryFormIsTheChunkIdCountsAndRecords)
{
    const InputReplay replay = makeSmallReplay();
    StringSink sink;
    serialize::BinaryPODToken token;
    replay.write(sink, token);
    // Action 3 is counted in both frames, the axis once, the state once: 4 pairs.
    ASSERT_EQ(sink.text.size(), 8 + 4 + 2 * 8 + 4 + 4 * 2 * 4);
    u64 id = 0;
    std::memcpy(&id, sink.text.data(), 8);
    EXPECT_EQ(id, kInputReplayChunkId);
    EXPECT_EQ(static_cast<u8>(sink.text[8]), 2);
}

// A binary replay file from parts, so each can be broken on its own.
std::string binaryReplay(u64 id, std::vector<InputReplayFrame> frames, std::vector<i32> values, i64 frameCount = -1)
{
    std::string bytes(reinterpret_cast<const char*>(&id), 8);
    const u32 count = frameCount < 0 ? static_cast<u32>(frames.size()) : static_cast<u32>(frameCount);
    bytes.append(reinterpret_cast<const char*>(&count), 4);
    bytes.append(reinterpret_cast<const char*>(frames.data()), frames.size() * sizeof(InputReplayFrame));
    const u32 valueCount = static_cast<u32>(values.size());
    bytes.append(reinterpret_cast<const char*>(&valueCount), 4);
    bytes.append(reinterpret_cast<const char*>(values.data()), values.size() * sizeof(i32));
    return bytes;
}

TEST(InputReplayDeathTest, BadFilesAreRejectedWithAMessage)
{
    struct Case {
        const char* name;
        std::string bytes;
        const char* message;
    };
    const Case cases[] = {
        { "other chunk", binaryReplay(0x1234, {}, {}), "Unexpected chunk type" },
        { "values missing", binaryReplay(kInputReplayChunkId, { { 0, 2, 0, 0, 0 } }, { 0, 1 }),
          "Invalid input replay: the frame records count 4 values, the file has 2" },
        { "values left over", binaryReplay(kInputReplayChunkId, { { 0, 0, 1, 0, 0 } }, { 0, 1, 2, 3 }),
          "Invalid input replay: the frame records count 2 values, the file has 4" },
        { "negative count", binaryReplay(kInputReplayChunkId, { { 0, -1, 1, 0, 0 } }, {}),
          "Invalid input replay: frame record 0 has a negative count" },
        { "count beyond the file", binaryReplay(kInputReplayChunkId, {}, {}, 0x40000000),
          "Invalid input replay: 1073741824 frame records in" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_DEATH(
            {
                InputReplay replay;
                serialize::BinaryPODToken token;
                StringSource source(c.bytes.data(), c.bytes.size());
                replay.read(source, token);
            },
            c.message);
    }
}

TEST(InputReplayDeathTest, IndicesOutsideTheArraysAreFatalWhenPlayed)
{
    struct Case {
        InputReplayFrame frame;
        std::vector<i32> values;
        const char* message;
    };
    const Case cases[] = {
        { { 0, 1, 0, 0, 0 }, { 4, 1 }, "Invalid input replay: action index 4 outside the 4 the input has" },
        { { 0, 0, 1, 0, 0 }, { -1, 1 }, "Invalid input replay: state index -1 outside the 3 the input has" },
        { { 0, 0, 0, 1, 0 }, { 2, 1 }, "Invalid input replay: axis index 2 outside the 2 the input has" },
    };
    for (const Case& c : cases) {
        InputReplay replay;
        replay.frames.append(c.frame);
        for (i32 v : c.values)
            replay.values.append(v);
        EXPECT_DEATH(
            {
                Inputs in;
                InputReplayPlayer player;
                player.playFrame(replay, in.arrays());
            },
            c.message);
    }
}

TEST(InputReplayDeathTest, MoreChangesInOneFrameThanARecordCountsIsFatal)
{
    EXPECT_DEATH(
        {
            InputReplay replay;
            InputReplayRecorder recorder;
            Inputs in(200, 0, 0);
            for (u64 i = 0; i < 200; ++i)
                in.actions.at<i32>(i) = 1;
            recorder.recordFrame(replay, in.arrays());
        },
        "Too many input changes in one frame");
}

} // namespace
