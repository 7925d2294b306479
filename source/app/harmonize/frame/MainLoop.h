#pragma once
// The App's heart beat: three warm-up frames at a fixed step, then frames at
// the pace of the performance counter, each followed by the app events, with
// the rest of the frame budget slept away. All timing reads the platform's
// counter source, so tests drive frames by hand.

#include "quern/Types.h"

namespace harmonize {

using quern::i32;
using quern::i64;
using quern::u32;
using quern::u64;

// Counter ticks in microseconds, in signed 64-bit integer arithmetic.
i64 ticksToMicroseconds(i64 ticks);

// The warm-up frames' step in counter ticks.
inline constexpr i64 kWarmUpStepTicks = 16'666;
inline constexpr i32 kWarmUpFrames = 3;

// What the loop drives.
class MainLoopHost {
public:
    virtual ~MainLoopHost() = default;
    virtual bool displayOpen() = 0;
    virtual void runFrame(i64 accumulatedTicks) = 0;
    // Takes the queued app events out and acts on them.
    virtual void drainAppEvents() = 0;
    virtual i32 appState() = 0;
};

// Keeps frames apart by at least the frame budget.
class FramePacer {
public:
    using SleepFunction = void (*)(u32 milliseconds);

    // A rate below 1 means no cap. The sleep is the platform's unless a test gives one.
    explicit FramePacer(i32 maxFrameRate, SleepFunction sleep = nullptr);

    // Counter ticks per frame; 0 when frames are not capped.
    i64 budget() const { return m_budget; }
    // Milliseconds to sleep after a frame whose period was `period`: the rest of
    // the budget, at least 1; 0 when the period used the budget up.
    u32 sleepAfter(i64 period) const;

    // Takes the counter as the previous frame's start, set back by one warm-up
    // step so the first period is not taken as a very short frame.
    void start();
    // Reads the counter: the ticks since the previous frame started.
    i64 nextPeriod();
    // Sleeps what sleepAfter says.
    void pace(i64 period) const;

private:
    i64 m_budget;
    i64 m_previous = 0;
    SleepFunction m_sleep;
};

class MainLoop {
public:
    explicit MainLoop(FramePacer pacer)
        : m_pacer(pacer)
    {
    }

    // Three frames at 16,666, 33,332 and 49,998 accumulated ticks.
    void warmUp(MainLoopHost& host);
    // Until the app is quitting or the display closed. Events are taken only
    // while the display is open.
    void run(MainLoopHost& host);

    i64 accumulatedTicks() const { return m_accumulated; }

private:
    FramePacer m_pacer;
    i64 m_accumulated = 0;
};

} // namespace harmonize
