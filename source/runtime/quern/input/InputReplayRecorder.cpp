#include "quern/input/InputReplay.h"

#include "quern/platform/ErrorReporting.h"

#include <cstring>

namespace quern::input {

namespace {

u64 countOf(const containers::Array* array)
{
    return array ? array->count() : 0;
}

// Grows `last` to `count` zeroed entries: a context that grew its arrays has
// nothing recorded for the new ones yet.
void growZeroed(containers::Array& last, u64 count)
{
    const u64 old = last.count();
    if (count <= old)
        return;
    void* added = last.expand(count);
    std::memset(added, 0, (count - old) * last.elementSize());
}

void pushPair(InputReplay& replay, u64 index, i32 value)
{
    replay.values.append(static_cast<i32>(index));
    replay.values.append(value);
}

i8 checkedPairCount(u64 pairs)
{
    // A record counts each array's changes in one signed byte; more would
    // silently corrupt every later frame of the replay.
    if (pairs > kMaxPairsPerFrame)
        QUERN_FATAL("Too many input changes in one frame for the input replay");
    return static_cast<i8>(pairs);
}

} // namespace

void InputReplayRecorder::reset(memory::Allocator* allocator)
{
    cursor = 0;
    frameCounter = 0;
    lastHeld.release();
    lastAxes.release();
    lastHeld = containers::Array(sizeof(i8), alignof(i8), allocator);
    lastAxes = containers::Array(sizeof(i32), alignof(i32), allocator);
}

bool InputReplayRecorder::recordFrame(InputReplay& replay, const InputArrays& arrays)
{
    const u64 actionCount = countOf(arrays.actionCounts);
    const u64 heldCount = countOf(arrays.heldCounters);
    const u64 axisCount = countOf(arrays.axisValues);
    if (frameCounter == 0) {
        lastHeld.clear();
        lastAxes.clear();
    }
    growZeroed(lastHeld, heldCount);
    growZeroed(lastAxes, axisCount);

    u64 actionPairs = 0;
    for (u64 i = 0; i < actionCount; ++i) {
        const i32 value = arrays.actionCounts->at<i32>(i);
        if (value != 0) {
            pushPair(replay, i, value);
            ++actionPairs;
        }
    }
    u64 statePairs = 0;
    for (u64 i = 0; i < heldCount; ++i) {
        const i8 value = arrays.heldCounters->at<i8>(i);
        if (value != lastHeld.at<i8>(i)) {
            pushPair(replay, i, value);
            lastHeld.at<i8>(i) = value;
            ++statePairs;
        }
    }
    u64 axisPairs = 0;
    for (u64 i = 0; i < axisCount; ++i) {
        const i32 value = arrays.axisValues->at<i32>(i);
        if (value != lastAxes.at<i32>(i)) {
            pushPair(replay, i, value);
            lastAxes.at<i32>(i) = value;
            ++axisPairs;
        }
    }

    const bool recorded = actionPairs + statePairs + axisPairs > 0;
    if (recorded && cursor == replay.frameCount())
        replay.appendFrame(static_cast<i32>(frameCounter));
    if (cursor < replay.frameCount()) {
        InputReplayFrame& frame = replay.frameAt(cursor);
        frame.actionPairs = checkedPairCount(actionPairs);
        frame.statePairs = checkedPairCount(statePairs);
        frame.axisPairs = checkedPairCount(axisPairs);
        ++cursor;
    }
    ++frameCounter;
    return recorded;
}

} // namespace quern::input
