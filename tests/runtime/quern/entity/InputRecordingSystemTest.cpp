#include "quern/entity/InputRecordingSystem.h"

#include "quern/entity/World.h"
#include "quern/io/HomeFileSystem.h"
#include "quern/io/StringSink.h"
#include "quern/serialize/BinaryPODToken.h"

#include "WorldTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <vector>

namespace {

using namespace quern;
using namespace quern::entity;
using quern::entity::testing::Journal;
using quern::entity::testing::RecordingSystem;

// Component 0: position (two i32), component 1: velocity (two i32), component 2: a tag byte.
constexpr u16 kSizes[] = { 8, 8, 1 };

struct Body {
    i32 x;
    i32 y;
};

// A small deterministic game: action 0 pushes the player right, state 0 held
// pushes it up, axis 0 sets its horizontal speed; a crowd of other bodies drifts.
struct Game {
    Game()
    {
        world.addSystem(journalSystem = new RecordingSystem("J", journal));
        world.addSystem(recording = new InputRecordingSystem);
        world.allocateComponentStore(kSizes, 3, 16, nullptr);
        player = spawn(0, 0);
        for (i32 i = 1; i <= 5; ++i)
            spawn(i * 10, -i);
        world.start();
        std::memset(actions.expand(2), 0, 2 * sizeof(i32));
        std::memset(held.expand(1), 0, 1);
        std::memset(axes.expand(1), 0, sizeof(i32));
        recording->inputs = &arrays;
        journal.clear();
    }

    EntityHandle spawn(i32 x, i32 y)
    {
        const EntityHandle h = world.createEntity();
        world.getComponentMask(h.index()).set(0);
        world.getComponentMask(h.index()).set(1);
        *static_cast<Body*>(world.getComponent(h.index(), 0)) = { x, y };
        *static_cast<Body*>(world.getComponent(h.index(), 1)) = { 1, 0 };
        world.activateEntities(&h, 1);
        return h;
    }

    Body& position(EntityHandle h) { return *static_cast<Body*>(world.getComponent(h.index(), 0)); }
    Body& velocity(EntityHandle h) { return *static_cast<Body*>(world.getComponent(h.index(), 1)); }

    void simulate()
    {
        velocity(player).x = axes.at<i32>(0) + 3 * actions.at<i32>(0);
        velocity(player).y = held.at<i8>(0) ? 2 : 0;
        for (u64 s = 0; s < world.getSlotCount(); ++s) {
            const EntityHandle h = EntityHandle::make(static_cast<u16>(s), world.getGeneration(s));
            if (world.isActive(h)) {
                position(h).x += velocity(h).x;
                position(h).y += velocity(h).y;
            }
        }
    }

    // The live input of a recorded frame.
    void press(u32 frame)
    {
        actions.at<i32>(0) = frame % 7 == 3 ? 1 : 0;
        actions.at<i32>(1) = frame % 11 == 0 ? 2 : 0;
        if (frame % 9 == 4)
            held.at<i8>(0) = static_cast<i8>(!held.at<i8>(0));
        if (frame % 13 == 6)
            axes.at<i32>(0) = static_cast<i32>(frame % 5) - 2;
    }

    void clearInput()
    {
        std::memset(actions.data(), 0, actions.usedBytes());
        std::memset(held.data(), 0, held.usedBytes());
        std::memset(axes.data(), 0, axes.usedBytes());
    }

    // Records `frames` frames; returns the world checksum each frame was recorded at.
    std::vector<u32> record(u32 frames)
    {
        recording->mode = InputRecordingSystem::Record;
        std::vector<u32> sums;
        for (u32 f = 0; f < frames; ++f) {
            press(f);
            sums.push_back(world.worldChecksum());
            recording->recordFrame(world);
            simulate();
        }
        return sums;
    }

    void startPlayback()
    {
        recording->mode = InputRecordingSystem::Play;
        recording->player.reset();
        clearInput();
    }

    // One played frame; returns the checksum the world had when it was checked.
    u32 playFrame()
    {
        actions.at<i32>(0) = actions.at<i32>(1) = 0;
        recording->replayFrame(world);
        const u32 sum = world.worldChecksum();
        simulate();
        return sum;
    }

    Journal journal;
    World world;
    RecordingSystem* journalSystem = nullptr;
    InputRecordingSystem* recording = nullptr;
    EntityHandle player;
    containers::Array actions { sizeof(i32), alignof(i32) };
    containers::Array held { sizeof(i8), alignof(i8) };
    containers::Array axes { sizeof(i32), alignof(i32) };
    input::InputArrays arrays { &actions, &held, &axes };
};

struct Mismatches {
    static void note(const ComponentDifference& difference, void* user)
    {
        static_cast<Mismatches*>(user)->seen.push_back(difference);
    }
    std::vector<ComponentDifference> seen;
};

TEST(InputRecordingSystem, PlaybackRepeatsTheRecordedChecksumEveryFrame)
{
    Game game;
    game.recording->checksums = true;
    game.recording->trackedEntity = game.player;
    Mismatches mismatches;
    game.recording->mismatchCallback = &Mismatches::note;
    game.recording->mismatchUser = &mismatches;
    const std::vector<u32> recorded = game.record(120);
    const Body end = game.position(game.player);
    ASSERT_NE(end.x, 0);

    game.startPlayback();
    for (u32 f = 0; f < recorded.size(); ++f)
        ASSERT_EQ(game.playFrame(), recorded[f]) << "frame " << f;
    EXPECT_EQ(game.position(game.player).x, end.x);
    EXPECT_EQ(game.position(game.player).y, end.y);
    EXPECT_TRUE(mismatches.seen.empty());
}

TEST(InputRecordingSystem, AChangedByteOfTheTrackedEntityIsReported)
{
    Game game;
    game.recording->checksums = true;
    game.recording->trackedEntity = game.player;
    Mismatches mismatches;
    game.recording->mismatchCallback = &Mismatches::note;
    game.recording->mismatchUser = &mismatches;
    game.record(40);

    game.startPlayback();
    for (u32 f = 0; f < 20; ++f)
        game.playFrame();
    ASSERT_TRUE(mismatches.seen.empty());
    // The simulation goes astray: one byte of the player's velocity changes.
    u8* velocity = static_cast<u8*>(game.world.getComponent(game.player.index(), 1));
    velocity[2] ^= 0x40;
    game.playFrame();
    ASSERT_FALSE(mismatches.seen.empty());
    const ComponentDifference& first = mismatches.seen.front();
    EXPECT_EQ(first.type, 1);
    EXPECT_EQ(first.byteIndex, 2u);
    EXPECT_EQ(first.component, velocity);
}

TEST(InputRecordingSystem, ChecksumMismatchIsLoggedEvenWithoutComponentCopies)
{
    // Whole-world checksums keep no copies to compare: the mismatch must still
    // not pass silently.
    Game game;
    game.recording->checksums = true;
    game.recording->componentCapture = false;
    game.record(10);
    game.startPlayback();
    for (u32 f = 0; f < 5; ++f)
        game.playFrame();
    quern::entity::testing::LogCapture warnings(2);
    game.position(game.player).y += 1;
    game.playFrame();
    EXPECT_EQ(warnings.count("Input replay checksum differs at frame 5"), 1u) << warnings.text();
}

TEST(InputRecordingSystem, FirstPlayedFrameRestoresTheWorldTellingOnlyWhatDiffers)
{
    Game game;
    game.record(10);
    const EntityHandle late = game.spawn(99, 99);
    const EntityHandle first = EntityHandle::make(1, game.world.getGeneration(1));
    game.world.destroyEntities(&first, 1);
    game.journal.clear();

    game.startPlayback();
    game.recording->replayFrame(game.world);
    EXPECT_EQ(game.journal, (Journal { "J:deactivated[6:1]", "J:destroyed[6:1]", "J:created[1:1]", "J:activated[1:1]" }));
    EXPECT_FALSE(game.world.isValid(late));
    EXPECT_TRUE(game.world.isActive(first));
    EXPECT_EQ(game.position(game.player).x, 0);
    game.journal.clear();
    game.recording->replayFrame(game.world); // only the first played frame restores
    EXPECT_TRUE(game.journal.empty());
}

TEST(InputRecordingSystem, ChecksumsGiveEveryRecordedFrameARecord)
{
    for (bool checksums : { false, true }) {
        Game game;
        game.recording->checksums = checksums;
        std::vector<u32> sums = game.record(30);
        u64 changeFrames = 0;
        for (u64 i = 0; i < game.recording->replay.frameCount(); ++i) {
            const input::InputReplayFrame& frame = game.recording->replay.frameAt(i);
            changeFrames += frame.actionPairs + frame.statePairs + frame.axisPairs > 0 ? 1 : 0;
            if (checksums) {
                EXPECT_EQ(frame.frame, static_cast<i32>(i));
                // No tracked entity: the whole world's checksum.
                EXPECT_EQ(frame.checksum, static_cast<u8>(sums[i])) << i;
            } else {
                EXPECT_NE(frame.actionPairs + frame.statePairs + frame.axisPairs, 0);
                EXPECT_EQ(frame.checksum, 0);
            }
        }
        EXPECT_EQ(game.recording->replay.frameCount(), checksums ? 30u : changeFrames);
        EXPECT_LT(changeFrames, 30u);
    }
}

TEST(InputRecordingSystem, ReplayRecordedWithoutChecksumsNeverReportsMismatches)
{
    Game game;
    Mismatches mismatches;
    game.recording->mismatchCallback = &Mismatches::note;
    game.recording->mismatchUser = &mismatches;
    game.recording->trackedEntity = game.player;
    game.record(20);
    game.recording->checksums = true; // switched on for playback only
    game.startPlayback();
    for (u32 f = 0; f < 20; ++f) {
        game.position(game.player).x += 1000; // way off the recording
        game.playFrame();
    }
    EXPECT_TRUE(mismatches.seen.empty());
}

TEST(InputRecordingSystem, EmptyReplayWithChecksumsPlaysNothing)
{
    Game game;
    game.recording->checksums = true;
    Mismatches mismatches;
    game.recording->mismatchCallback = &Mismatches::note;
    game.recording->mismatchUser = &mismatches;
    game.startPlayback();
    const u32 before = game.world.worldChecksum();
    for (u32 f = 0; f < 3; ++f)
        game.recording->replayFrame(game.world);
    EXPECT_EQ(game.world.worldChecksum(), before);
    EXPECT_TRUE(mismatches.seen.empty());
    EXPECT_EQ(game.recording->player.frameCounter, 3);
}

TEST(InputRecordingSystem, RecordingCallbackHearsOfTheStartAndOfEveryChange)
{
    struct Calls {
        static void note(input::InputReplay&, const char* name, void* user)
        {
            static_cast<std::vector<std::string>*>(user)->push_back(name);
        }
    };
    Game game;
    std::vector<std::string> calls;
    game.recording->recordingCallback = &Calls::note;
    game.recording->recordingUser = &calls;
    game.record(12);
    // Frame 0 starts the recording and has a change (action 1 on frame 0).
    u64 changes = game.recording->replay.frameCount();
    EXPECT_EQ(calls.size(), changes + 1);
    EXPECT_EQ(calls.front(), "level");
}

TEST(InputRecordingSystem, ModeOffDoesNothingAndWorldStopFreesTheReplay)
{
    Game game;
    game.press(0);
    game.recording->recordFrame(game.world);
    game.recording->replayFrame(game.world);
    EXPECT_EQ(game.recording->replay.frameCount(), 0u);
    EXPECT_FALSE(game.recording->snapshot.holdsStore());

    game.record(5);
    EXPECT_TRUE(game.recording->snapshot.holdsStore());
    game.world.stop();
    EXPECT_FALSE(game.recording->snapshot.holdsStore());
    EXPECT_EQ(game.recording->replay.frameCount(), 0u);
    EXPECT_EQ(game.recording->replay.frames.capacity(), 0u);
}

TEST(ComponentFrameStore, EqualNeighboursShareBytesAndEveryFrameKeepsItsOwn)
{
    Game game;
    ComponentFrameStore store;
    const i32 xs[] = { 5, 5, 5, 8, 8, 5 };
    for (i32 x : xs) {
        game.position(game.player).x = x;
        store.store(game.world, game.player);
    }
    ASSERT_EQ(store.frameCount(), 6u);
    for (u64 f = 0; f < 6; ++f) {
        ASSERT_EQ(store.frameLength(f), 16u); // position and velocity; the player has no tag
        Body copy;
        std::memcpy(&copy, store.frameBytes(f), sizeof copy);
        EXPECT_EQ(copy.x, xs[f]) << f;
    }
    EXPECT_EQ(store.bytes.count(), 3u * 16u);
    store.release();
}

TEST(InputRecordingSystem, LoadsAReplayFileFromTheUserFileSystem)
{
    Game game;
    game.record(25);
    StringSink sink;
    serialize::BinaryPODToken token;
    game.recording->replay.write(sink, token);

    const std::filesystem::path directory = std::filesystem::path(QUERN_TEST_BINARY_DIR) / "replay-files";
    std::filesystem::create_directories(directory);
    io::HomeFileSystem files;
    files.setDirectory(directory.c_str());
    ASSERT_EQ(files.write("level.replay", sink.text.data(), sink.text.size()).code, io::UserStorageError::NoError);

    input::InputReplay loaded;
    loadInputRecording(loaded, "level.replay", files);
    ASSERT_EQ(loaded.frameCount(), game.recording->replay.frameCount());
    EXPECT_EQ(loaded.values.count(), game.recording->replay.values.count());
    EXPECT_EQ(std::memcmp(loaded.values.data(), game.recording->replay.values.data(), loaded.values.usedBytes()), 0);
    loaded.release();
}

TEST(InputRecordingSystemDeathTest, MissingReplayFileIsFatal)
{
    io::HomeFileSystem files;
    files.setDirectory(QUERN_TEST_BINARY_DIR);
    EXPECT_DEATH(
        {
            input::InputReplay replay;
            loadInputRecording(replay, "no-such.replay", files);
        },
        "Can't read input replay no-such.replay: Path not found");
}

} // namespace
