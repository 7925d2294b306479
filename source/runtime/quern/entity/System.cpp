#include "quern/entity/System.h"

#include <atomic>

namespace quern::entity {

namespace {
std::atomic<f32> g_tickInterval { 1.0f / 60.0f };
std::atomic<f32> g_timeScale { 1.0f };
} // namespace

System::~System() = default;
void System::entitiesCreated(const EntityHandle*, u64, World&, memory::Allocator*) { }
void System::entitiesActivated(const EntityHandle*, u64, World&) { }
void System::entitiesDeactivated(const EntityHandle*, u64, World&) { }
void System::entitiesDestroyed(const EntityHandle*, u64, World&, memory::Allocator*) { }
void System::attach(memory::Allocator*) { }
void System::detach(memory::Allocator*) { }
void System::worldStarted(World&, memory::Allocator*) { }
void System::worldStopped(World&, memory::Allocator*) { }
void System::fixedTick(UpdateContext*, World&) { }
void System::update(UpdateContext*, World&) { }
void System::lateUpdate(World&) { }
void System::reserved() { }

void System::describe(SystemInfo* info)
{
    const SystemInfo defaults = makeDefaultSystemInfo("DefaultSystem");
    info->name = defaults.name;
    info->kind = defaults.kind;
    info->state = defaults.state;
    info->tickInterval = defaults.tickInterval;
    info->timeLimit = defaults.timeLimit;
    info->tickLimit = defaults.tickLimit;
    info->timeScale = defaults.timeScale;
}

SystemInfo makeDefaultSystemInfo(const char* name)
{
    SystemInfo info {};
    info.name = name;
    info.kind = 2;
    info.state = 0;
    info.tickInterval = getTickInterval();
    info.timeLimit = SystemInfo::kDefaultTimeLimit;
    info.tickLimit = 0;
    info.timeScale = 1.0f;
    return info;
}

f32 getTickInterval() { return g_tickInterval.load(std::memory_order_relaxed); }
void setTickInterval(f32 seconds) { g_tickInterval.store(seconds, std::memory_order_relaxed); }
f32 getTimeScale() { return g_timeScale.load(std::memory_order_relaxed); }
void setTimeScale(f32 scale) { g_timeScale.store(scale, std::memory_order_relaxed); }

} // namespace quern::entity
