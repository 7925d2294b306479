#include "quern/input/InputReplay.h"

#include "quern/debug/Log.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/strings/Format.h"

namespace quern::input {

namespace {

// The place a replayed pair writes to; an index the arrays do not have means the
// replay belongs to other bindings, and writing there would corrupt memory.
void* checkedTarget(containers::Array* array, i32 index, const char* what)
{
    const u64 count = array ? array->count() : 0;
    if (index < 0 || static_cast<u64>(index) >= count)
        QUERN_FATAL(strings::format<160>("Invalid input replay: %s index %d outside the %llu the input has", what, index,
                                         static_cast<unsigned long long>(count)));
    return array->at(static_cast<u64>(index));
}

} // namespace

void InputReplayPlayer::reset()
{
    cursor = 0;
    valueCursor = 0;
    frameCounter = 0;
}

void InputReplayPlayer::playFrame(const InputReplay& replay, const InputArrays& arrays)
{
    if (cursor < replay.frameCount() && replay.frameAt(cursor).frame <= frameCounter) {
        const InputReplayFrame& frame = replay.frameAt(cursor);
        const u64 pairs = static_cast<u64>(frame.actionPairs < 0 ? 0 : frame.actionPairs)
            + static_cast<u64>(frame.statePairs < 0 ? 0 : frame.statePairs)
            + static_cast<u64>(frame.axisPairs < 0 ? 0 : frame.axisPairs);
        if (valueCursor + 2 * pairs > replay.values.count())
            QUERN_FATAL("Invalid input replay: a frame record counts more values than the replay has");
        const i32* values = replay.values.dataAs<i32>() + valueCursor;
        for (i8 i = 0; i < frame.actionPairs; ++i, values += 2)
            *static_cast<i32*>(checkedTarget(arrays.actionCounts, values[0], "action")) = values[1];
        for (i8 i = 0; i < frame.statePairs; ++i, values += 2)
            *static_cast<i8*>(checkedTarget(arrays.heldCounters, values[0], "state")) = static_cast<i8>(values[1]);
        for (i8 i = 0; i < frame.axisPairs; ++i, values += 2)
            *static_cast<i32*>(checkedTarget(arrays.axisValues, values[0], "axis")) = values[1];
        valueCursor += 2 * pairs;
        ++cursor;
        if (cursor == replay.frameCount())
            QUERN_LOG(3) << "Input replay finished" << std::endl;
    }
    ++frameCounter;
}

} // namespace quern::input
