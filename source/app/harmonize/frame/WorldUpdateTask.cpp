#include "harmonize/frame/WorldUpdateTask.h"

#include "harmonize/utils/FrameStatistics.h"
#include "harmonize/frame/MainLoop.h"
#include "harmonize/systems/TransformHierarchySystem.h"
#include "harmonize/utils/CurrentWorld.h"
#include "quern/entity/World.h"
#include "quern/platform/Clock.h"

namespace harmonize {

void WorldUpdateTask::run(quern::threads::TaskRange)
{
    setCurrentWorld(m_world);
    const quern::u64 start = quern::platform::getPerformanceCounter();
    m_world->update(m_time);
    if (m_hierarchy)
        m_hierarchy->updateWorldMatrices(*m_world);
    const quern::u64 elapsed = quern::platform::getPerformanceCounter() - start;
    currentFrameStatistics().timings[kWorldUpdateTiming].store(
        static_cast<quern::u64>(ticksToMicroseconds(static_cast<quern::i64>(elapsed))), std::memory_order_relaxed);
}

} // namespace harmonize
