#include "harmonize/systems/SoakTestSystem.h"

#include "harmonize/systems/AppContext.h"
#include "harmonize/utils/AppEventQueue.h"
#include "quern/debug/Log.h"
#include "quern/entity/World.h"

namespace harmonize {

void SoakTestDriver::setUp(i32 levels, i32 testStart, i32 testLevels, AppEventQueue* events)
{
    total = levels > 0 ? levels : 0;
    // A start at or past the end would name the level list itself, which is
    // no level: the soak starts at the last level instead.
    first = testStart < 0 ? 0 : testStart >= total ? (total > 0 ? total - 1 : 0) : testStart;
    count = testLevels;
    if (count <= 0 || first + count > total)
        count = total - first;
    if (count < 0)
        count = 0;
    queue = events;
    started.store(0, std::memory_order_relaxed);
}

void AppContext::startTestLevel(i32 level)
{
    SoakTestDriver& driver = *soakTest;
    const LoadLevelEvent request { level, -1, 1, {} };
    driver.queue->postTestLevel(request);
    QUERN_LOG(3) << "Level " << level << " out of " << driver.total << " ("
                 << driver.count - driver.started.load(std::memory_order_relaxed) << " remaining)" << std::endl;
}

void AppContext::finishSoakTest()
{
    soakTest->queue->post(AppEventType::Quit);
    QUERN_LOG(3) << "Soak test complete" << std::endl;
}

SoakTestSystem::SoakTestSystem(
    AppContext& context, SoakTestDriver& driver, u64 seed, f32 secondsPerLevel, bool randomOrder)
    : m_context(context)
    , m_driver(driver)
    , m_random(seed)
    , m_secondsPerLevel(secondsPerLevel)
    , m_randomOrder(randomOrder)
{
}

void SoakTestSystem::worldStarted(quern::entity::World&, quern::memory::Allocator*) { m_done = 0; }

void SoakTestSystem::update(quern::entity::UpdateContext*, quern::entity::World& world)
{
    const double elapsed = static_cast<double>(world.clock.simulatedTime) / 1'000'000.0;
    if (elapsed < static_cast<double>(m_secondsPerLevel) || m_done)
        return;
    m_done = 1;
    const i32 started = m_driver.started.load(std::memory_order_relaxed);
    if (started >= m_driver.count || m_driver.total <= 0) {
        m_context.finishSoakTest();
        return;
    }
    i32 level = 0;
    if (m_randomOrder) {
        // Picks among the levels only: the world script's last entry is the
        // level list, never a level to load.
        m_random = m_random * 4561u + 51349u;
        level = static_cast<i32>(m_random % static_cast<u64>(m_driver.total));
    } else {
        level = m_driver.first + started;
    }
    m_driver.started.store(started + 1, std::memory_order_relaxed);
    m_context.startTestLevel(level);
}

void SoakTestSystem::describe(quern::entity::SystemInfo* info) { info->name = "SoakTestSystem"; }

} // namespace harmonize
