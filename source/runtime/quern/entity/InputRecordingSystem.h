#pragma once
// The engine's own system that records the player's input of a level frame by
// frame into an input replay, or plays one back. Recording snapshots the world
// at its first frame and playback restores that snapshot at its first frame, so
// the run repeats. With checksums on, every recorded frame stores the low byte
// of a world (or tracked-entity) checksum, and playback reports the first
// component of the tracked entity that went different.
//
// The game registers one per world, sets the mode, flags and callbacks, points
// it at its input arrays and calls recordFrame and replayFrame every fixed tick.

#include "quern/Types.h"
#include "quern/containers/Array.h"
#include "quern/entity/System.h"
#include "quern/entity/WorldSnapshot.h"
#include "quern/input/InputReplay.h"

namespace quern::io {
class UserStorage;
}

namespace quern::entity {

// Copies of the tracked entity's enabled components, one per recorded frame.
// Frame i's copy is `lengths[i]` bytes at `offsets[i]` in `bytes`; a copy equal
// to the previous frame's shares its bytes.
struct ComponentFrameStore {
    containers::Array offsets { sizeof(u64), alignof(u64) };
    containers::Array lengths { sizeof(u64), alignof(u64) };
    containers::Array bytes { 1, 1 };
    u64 end = 0; // where the next copy of its own goes

    void reset(memory::Allocator* allocator);
    void release();
    u64 frameCount() const { return lengths.count(); }
    // Appends the entity's copy for the next frame.
    void store(World& world, EntityHandle entity);
    const u8* frameBytes(u64 frame) const { return bytes.dataAs<u8>() + offsets.at<u64>(frame); }
    u64 frameLength(u64 frame) const { return lengths.at<u64>(frame); }
};

class InputRecordingSystem : public System {
public:
    enum Mode : i32 {
        Off = 0,
        Record = 1,
        Play = 2,
    };

    using MismatchCallback = void (*)(const ComponentDifference& difference, void* user);
    // Called at the first recorded frame and whenever a frame recorded a change.
    using RecordingCallback = void (*)(input::InputReplay& replay, const char* name, void* user);

    InputRecordingSystem();
    ~InputRecordingSystem() override;

    void worldStarted(World& world, memory::Allocator* allocator) override;
    void worldStopped(World& world, memory::Allocator* allocator) override;
    void describe(SystemInfo* info) override;

    // Acts only in Record mode.
    void recordFrame(World& world);
    // Acts only in Play mode.
    void replayFrame(World& world);

    // The checksum a frame record keeps the low byte of.
    u32 frameChecksum(const World& world) const;

    memory::Allocator* allocator;
    input::InputArrays* inputs = nullptr; // the game's input arrays
    input::InputReplay replay;
    input::InputReplayRecorder recorder;
    input::InputReplayPlayer player;
    const char* recordingName = "level";
    ComponentFrameStore componentFrames;
    MismatchCallback mismatchCallback = nullptr;
    void* mismatchUser = nullptr;
    RecordingCallback recordingCallback = nullptr;
    void* recordingUser = nullptr;
    EntityHandle trackedEntity; // null: the whole world is checksummed
    i32 mode = Off;
    WorldSnapshot snapshot; // the world at the first recorded frame
    bool checksums = false;
    bool componentCapture = true;

private:
    void checkFrame(World& world);
};

// Reads a replay file from the user file system into `replay`. A file that
// cannot be read, or is not a replay, is fatal.
void loadInputRecording(input::InputReplay& replay, const char* fileName, io::UserStorage& fileSystem);

} // namespace quern::entity
