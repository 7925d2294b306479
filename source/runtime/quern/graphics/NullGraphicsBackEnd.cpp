#include "quern/graphics/NullGraphicsBackEnd.h"

#include "quern/graphics/DisplayMode.h"
#include "quern/platform/Clock.h"
#include "quern/platform/Thread.h"

namespace quern::graphics {

namespace {

constexpr u64 kFrameRate = 60;
constexpr u32 kMaxTextureSize = 2048;
constexpr u64 kTicksPerMillisecond = platform::kPerformanceFrequency / 1000;

class NullOcclusionQuery final : public OcclusionQuery {
public:
    void begin() override { }
    void end() override { }
    bool getResult(u32& samples) override
    {
        samples = 0;
        return false;
    }
};

void sleepOrYield(u64 ticks)
{
    const u64 milliseconds = ticks / kTicksPerMillisecond;
    if (milliseconds > 0)
        platform::sleepMilliseconds(static_cast<u32>(milliseconds));
    else
        platform::yieldThread();
}

i64 now() { return static_cast<i64>(platform::getPerformanceCounter()); }

} // namespace

// Never destroyed: the global display, which uses them, may itself be
// destroyed at exit after statics made later than it.
NullGraphicsBackEnd& NullGraphicsBackEnd::displayInstance()
{
    static NullGraphicsBackEnd* device = new NullGraphicsBackEnd;
    return *device;
}

NullGraphicsBackEnd& NullGraphicsBackEnd::instance()
{
    static NullGraphicsBackEnd* device = new NullGraphicsBackEnd;
    return *device;
}

void NullGraphicsBackEnd::init(const BackEndInitParams& params)
{
    m_swapInterval = params.configuration ? static_cast<u32>(params.configuration->swapInterval) : 0;
    m_period = static_cast<i64>(platform::getPerformanceFrequency() / kFrameRate);
    m_nextDeadline = now() + m_period;
}

void NullGraphicsBackEnd::present()
{
    i64 current = now();
    // A frame that arrives after its deadline gets the first slot of the
    // 60 Hz grid at or after now; one that lands exactly on its deadline is
    // on time and keeps it. The grid does not drift with late frames.
    if (m_nextDeadline < current) {
        if (m_period > 0)
            m_nextDeadline += (current - m_nextDeadline + m_period - 1) / m_period * m_period;
        else
            m_nextDeadline = current;
    }
    if (m_swapInterval == 0)
        return;
    // Sleep through most of the wait instead of spinning a core; the last
    // stretch is short yields, since a sleep can overshoot.
    WaitFunction wait = m_wait ? m_wait : sleepOrYield;
    while ((current = now()) < m_nextDeadline) {
        const i64 remaining = m_nextDeadline - current;
        wait(remaining > kWakeMargin ? static_cast<u64>(remaining - kWakeMargin) : 0);
    }
}

void NullGraphicsBackEnd::setWaitFunction(WaitFunction wait) { m_wait = wait; }

DisplayCaps* NullGraphicsBackEnd::getCapabilities()
{
    const u8 queried = m_caps.queried;
    m_caps = DisplayCaps {};
    m_caps.queried = queried;
    m_caps.maxTextureSize = kMaxTextureSize;
    // Render buffers as large as textures, of any size: targets keep the
    // size they were asked for.
    m_caps.maxRenderbufferSize = kMaxTextureSize;
    m_caps.nonPowerOfTwoTargets = 1;
    m_caps.maxSamples = 1;
    m_caps.limit = 256;
    return &m_caps;
}

OcclusionQuery* NullGraphicsBackEnd::createQuery() { return new NullOcclusionQuery; }

} // namespace quern::graphics
