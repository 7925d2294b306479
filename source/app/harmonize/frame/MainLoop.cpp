#include "harmonize/frame/MainLoop.h"

#include "harmonize/events/AppEventDispatch.h"
#include "quern/debug/Log.h"
#include "quern/platform/Clock.h"
#include "quern/platform/Thread.h"

#include <algorithm>

namespace harmonize {
namespace {

i64 frequency() { return static_cast<i64>(quern::platform::getPerformanceFrequency()); }

void platformSleep(u32 milliseconds) { quern::platform::sleepMilliseconds(milliseconds); }

} // namespace

// Split so that a run of weeks cannot overflow the product; the result is the
// same as ticks x 1,000,000 / frequency.
i64 ticksToMicroseconds(i64 ticks)
{
    const i64 f = frequency();
    return ticks / f * 1'000'000 + ticks % f * 1'000'000 / f;
}

FramePacer::FramePacer(i32 maxFrameRate, SleepFunction sleep)
    : m_budget(maxFrameRate >= 1 ? frequency() / maxFrameRate : 0)
    , m_sleep(sleep ? sleep : &platformSleep)
{
}

u32 FramePacer::sleepAfter(i64 period) const
{
    if (period >= m_budget)
        return 0;
    return static_cast<u32>(std::max<i64>(1, ticksToMicroseconds(m_budget - period) / 1000));
}

void FramePacer::start()
{
    m_previous = static_cast<i64>(quern::platform::getPerformanceCounter());
    if (m_previous > kWarmUpStepTicks)
        m_previous -= kWarmUpStepTicks;
}

i64 FramePacer::nextPeriod()
{
    const i64 now = static_cast<i64>(quern::platform::getPerformanceCounter());
    const i64 period = now - m_previous;
    m_previous = now;
    return period;
}

void FramePacer::pace(i64 period) const
{
    if (const u32 milliseconds = sleepAfter(period))
        m_sleep(milliseconds);
}

void MainLoop::warmUp(MainLoopHost& host)
{
    m_accumulated = 0;
    for (i32 frame = 0; frame < kWarmUpFrames; ++frame) {
        m_accumulated += kWarmUpStepTicks;
        host.runFrame(m_accumulated);
    }
}

void MainLoop::run(MainLoopHost& host)
{
    m_pacer.start();
    if (host.appState() == kAppQuitting)
        return;
    do {
        if (!host.displayOpen()) {
            QUERN_LOG(3) << "Exiting main loop because display was closed" << std::endl;
            return;
        }
        // The cap looks at the period that ended when this frame began, not at
        // the frame that follows.
        const i64 period = m_pacer.nextPeriod();
        m_accumulated += period;
        host.runFrame(m_accumulated);
        if (host.displayOpen()) {
            host.drainAppEvents();
            m_pacer.pace(period);
        }
    } while (host.appState() != kAppQuitting);
}

} // namespace harmonize
