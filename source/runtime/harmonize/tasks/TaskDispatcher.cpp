#include "harmonize/tasks/TaskDispatcher.h"

#include "quern/debug/Log.h"
#include "quern/platform/SystemInfo.h"

#include <algorithm>

namespace harmonize {

u32 TaskDispatcher::workerCountFor(const ThreadingSettings& settings, u32 processorCount)
{
    // A negative count cannot be started; it means the same as 0.
    if (settings.workers > 0)
        return static_cast<u32>(settings.workers);
    const i64 available = static_cast<i64>(processorCount) - settings.reservedCores;
    return static_cast<u32>(std::max<i64>(1, available));
}

void TaskDispatcher::start(const ThreadingSettings& settings)
{
    // The machine is only asked when its answer matters.
    start(settings, settings.enabled && settings.workers <= 0 ? quern::platform::querySystemInfo().processorCount : 0);
}

void TaskDispatcher::start(const ThreadingSettings& settings, u32 processorCount)
{
    if (!settings.enabled) {
        QUERN_LOG(3) << "Threading disabled" << std::endl;
        return;
    }
    QUERN_LOG(3) << "Starting task dispatcher" << std::endl;
    const u32 workers = workerCountFor(settings, processorCount);
    QUERN_LOG(3) << "Starting task scheduler with " << workers << " threads" << std::endl;
    if (workers > 1)
        m_engine.start(workers);
}

void TaskDispatcher::stop()
{
    if (m_engine.isRunning())
        m_engine.stop();
}

void TaskDispatcher::run(quern::threads::Task& task)
{
    if (!threaded()) {
        quern::threads::Task::runInline(task);
        return;
    }
    m_engine.submit(task);
    m_frames[m_parity.load(std::memory_order_relaxed)].tasks.fetch_add(1, std::memory_order_relaxed);
}

void TaskDispatcher::wait(quern::threads::Task& task)
{
    if (threaded())
        m_engine.wait(task);
}

void TaskDispatcher::runUntilIdle()
{
    if (threaded())
        m_engine.runUntilIdle();
}

void TaskDispatcher::flipFrame()
{
    const i32 next = 1 - m_parity.load(std::memory_order_relaxed);
    m_frames[next].tasks.store(0, std::memory_order_relaxed);
    m_parity.store(next, std::memory_order_relaxed);
}

} // namespace harmonize
