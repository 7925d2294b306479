#include "quern/input/InputReplay.h"

#include "quern/io/ByteSource.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/serialize/PODToken.h"
#include "quern/serialize/PODUtility.h"
#include "quern/strings/Format.h"

#include <cstring>

namespace quern::input {

namespace {

[[noreturn]] void rejectReplay(const char* reason)
{
    QUERN_FATAL(strings::format<256>("Invalid input replay: %s", reason));
}

u32 readCount(ByteSource& source, serialize::PODToken& token, const char* what)
{
    u32 count = 0;
    token.readPOD(source, &count, 1, &serialize::kU32Descriptor);
    // Every element takes at least a byte in either token form, so a count
    // beyond the bytes left is a broken file, not a reason to allocate.
    const u64 left = source.size() > source.position ? source.size() - source.position : 0;
    if (count > left)
        rejectReplay(strings::format<128>("%u %s in %llu bytes", count, what, static_cast<unsigned long long>(left)));
    return count;
}

// Every pair a frame record counts must be in the values, and no value may be
// left over: playback walks both arrays in step.
void checkPairCounts(const InputReplay& replay)
{
    u64 pairs = 0;
    for (u64 i = 0; i < replay.frameCount(); ++i) {
        const InputReplayFrame& frame = replay.frameAt(i);
        if (frame.actionPairs < 0 || frame.statePairs < 0 || frame.axisPairs < 0)
            rejectReplay(strings::format<96>("frame record %llu has a negative count", static_cast<unsigned long long>(i)));
        pairs += static_cast<u64>(frame.actionPairs) + static_cast<u64>(frame.statePairs)
            + static_cast<u64>(frame.axisPairs);
    }
    if (pairs * 2 != replay.values.count())
        rejectReplay(strings::format<128>("the frame records count %llu values, the file has %llu",
                                          static_cast<unsigned long long>(pairs * 2),
                                          static_cast<unsigned long long>(replay.values.count())));
}

} // namespace

InputReplay::InputReplay(memory::Allocator* allocator)
    : frames(sizeof(InputReplayFrame), alignof(InputReplayFrame), allocator)
    , values(sizeof(i32), alignof(i32), allocator)
{
}

void InputReplay::reset(memory::Allocator* allocator)
{
    frames.release();
    values.release();
    frames = containers::Array(sizeof(InputReplayFrame), alignof(InputReplayFrame), allocator);
    values = containers::Array(sizeof(i32), alignof(i32), allocator);
}

void InputReplay::release()
{
    frames.release();
    values.release();
}

InputReplayFrame& InputReplay::appendFrame(i32 frame)
{
    return frames.append(InputReplayFrame { frame, 0, 0, 0, 0 });
}

void InputReplay::read(ByteSource& source, serialize::PODToken& token)
{
    const u32 start = serialize::expectChunk(source, token, kInputReplayChunkId);
    const u32 frameCount = readCount(source, token, "frame records");
    frames.clear();
    frames.expand(frameCount);
    // The text form does not carry the checksum byte: it must read as 0.
    if (frameCount > 0)
        std::memset(frames.data(), 0, frames.usedBytes());
    token.readPOD(source, frames.data(), frameCount, &kInputReplayFrameDescriptor);
    const u32 valueCount = readCount(source, token, "values");
    values.clear();
    values.expand(valueCount);
    token.readPOD(source, values.data(), valueCount, &kInputReplayValueDescriptor);
    token.endReadChunk(source, start);
    checkPairCounts(*this);
}

void InputReplay::write(ByteSink& sink, serialize::PODToken& token) const
{
    const u32 start = token.beginWriteChunk(sink, kInputReplayChunkId);
    const u32 frameCount = static_cast<u32>(frames.count());
    const u32 valueCount = static_cast<u32>(values.count());
    token.writePOD(sink, &frameCount, 1, &serialize::kU32Descriptor, "numDeltas");
    token.writePOD(sink, frames.data(), frameCount, &kInputReplayFrameDescriptor, "deltas");
    token.writePOD(sink, &valueCount, 1, &serialize::kU32Descriptor, "numValues");
    token.writePOD(sink, values.data(), valueCount, &kInputReplayValueDescriptor, "values");
    token.endWriteChunk(sink, start);
}

} // namespace quern::input
