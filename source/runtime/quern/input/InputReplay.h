#pragma once
// A recorded input run: what the bindings of one input context produced, frame
// by frame, kept as changes so it can be played back into the same three
// arrays (action counts, held counters, axis values).
//
// Stored as one POD-token chunk: u32 frame-record count, the frame records,
// u32 value count, the values. Replay files are untrusted: counts are checked
// against each other when read and indices against the arrays when played.

#include "quern/Types.h"
#include "quern/containers/Array.h"
#include "quern/serialize/PODTypeDescriptor.h"

namespace quern {
class ByteSink;
class ByteSource;
} // namespace quern

namespace quern::serialize {
class PODToken;
}

namespace quern::input {

inline constexpr u64 kInputReplayChunkId = 0x172fa39ade9290b9ull;

// The most changes of one array a frame record can count.
inline constexpr u32 kMaxPairsPerFrame = 127;

// A frame in which something was recorded.
struct InputReplayFrame {
    i32 frame;
    i8 actionPairs;
    i8 statePairs;
    i8 axisPairs;
    u8 checksum; // low 8 bits of the frame's world checksum; 0 without checksums
};
static_assert(sizeof(InputReplayFrame) == 8);

inline constexpr serialize::PODComponent kInputReplayFrameComponents[] = {
    { 1, serialize::PODKind::Signed, 32 }, { 3, serialize::PODKind::Signed, 8 }, { 1, serialize::PODKind::Skip, 8 }
};
inline constexpr serialize::PODTypeDescriptor kInputReplayFrameDescriptor { 3, kInputReplayFrameComponents };
inline constexpr serialize::PODComponent kInputReplayValueComponents[] = { { 1, serialize::PODKind::Signed, 32 } };
inline constexpr serialize::PODTypeDescriptor kInputReplayValueDescriptor { 1, kInputReplayValueComponents };

// The three arrays of an input context that a replay records and plays:
// action counts (i32), held counters (i8) and axis values (i32), by index.
struct InputArrays {
    containers::Array* actionCounts = nullptr;
    containers::Array* heldCounters = nullptr;
    containers::Array* axisValues = nullptr;
};

class InputReplay {
public:
    explicit InputReplay(memory::Allocator* allocator = nullptr);

    // Replaces the contents with the chunk at the source's position. A chunk of
    // another id, or counts that do not agree with each other, are fatal.
    void read(ByteSource& source, serialize::PODToken& token);
    void write(ByteSink& sink, serialize::PODToken& token) const;

    // Empties both arrays and moves them to `allocator` (null: the default).
    void reset(memory::Allocator* allocator);
    // Gives both blocks back.
    void release();

    u64 frameCount() const { return frames.count(); }
    InputReplayFrame& frameAt(u64 index) { return frames.at<InputReplayFrame>(index); }
    const InputReplayFrame& frameAt(u64 index) const { return frames.at<InputReplayFrame>(index); }
    // Appends {frame, no changes, checksum 0} and returns it.
    InputReplayFrame& appendFrame(i32 frame);

    containers::Array frames; // InputReplayFrame, in frame order
    containers::Array values; // i32 (index, value) pairs in frame-record order
};

// Turns the arrays of each frame into changes appended to a replay.
class InputReplayRecorder {
public:
    // Appends (index, value) for every non-zero action count and for every held
    // counter and axis value that differs from the one recorded last (zeros
    // before the first frame). The counts go into the frame record at the
    // cursor, appended for this frame when the cursor is at the end and there is
    // something to count; a record at the cursor (one the recording system put
    // there for a checksum) is passed, so frames never share a record. Returns
    // whether anything was recorded.
    bool recordFrame(InputReplay& replay, const InputArrays& arrays);
    // Back to the first frame: cursor and counter 0, nothing recorded yet.
    void reset(memory::Allocator* allocator);

    u64 cursor = 0; // frame record the next frame writes
    containers::Array lastHeld { sizeof(i8), alignof(i8) };
    containers::Array lastAxes { sizeof(i32), alignof(i32) };
    u32 frameCounter = 0;
};

// Plays a replay back into the arrays, at most one frame record per frame.
class InputReplayPlayer {
public:
    // Applies the record at the cursor when its frame has come, then counts the
    // frame. A value index outside its array is fatal.
    void playFrame(const InputReplay& replay, const InputArrays& arrays);
    void reset();

    u64 cursor = 0;      // next frame record
    u64 valueCursor = 0; // next number in the replay's values
    i32 frameCounter = 0;
};

} // namespace quern::input
