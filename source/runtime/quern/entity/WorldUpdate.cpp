// The per-frame drive of a World: fixed ticks chosen by the clock, then one
// update and one late update, with the per-system limits of each frame.

#include "quern/entity/World.h"

#include "quern/debug/Log.h"
#include "quern/platform/Clock.h"

namespace quern::entity {

namespace {

u64 counterToMicroseconds(u64 ticks)
{
    static const u64 frequency = platform::getPerformanceFrequency();
    return ticks * 1'000'000 / frequency;
}

} // namespace

UpdateContext World::makeUpdateContext()
{
    return UpdateContext { store, states.dataAs<EntityState>(), generations.dataAs<u16>(),
        enabledMasks.dataAs<ComponentMask>(), componentMasks.dataAs<ComponentMask>(), this, states.count(),
        storeSize };
}

void World::update(u64 now)
{
    for (u64 s = 0; s < systemInfos.count(); ++s) {
        SystemInfo& info = systemInfos.at<SystemInfo>(s);
        info.frameTicks = 0;
        info.frameTime = 0;
        info.limitReached = false;
    }
    clock.timeScale = getTimeScale();
    const bool due = clock.advance(now);
    if (clock.clamped)
        QUERN_LOG(2) << "Very large delta time, clamping to " << static_cast<f32>(clock.maxDelta) / 1'000'000.0f << "s"
                     << std::endl;
    if (clock.tickCount > 0)
        fixedTick(clock.tickCount);
    if (due)
        variableUpdate(clock.simulatedTime);
}

bool World::shouldSkipTick(SystemInfo& info) const
{
    if (clock.forceAllTicks)
        return false;
    if (info.limitReached)
        return true;
    if (info.tickLimit > 0 && info.frameTicks >= static_cast<u32>(info.tickLimit)) {
        QUERN_LOG(2) << info.name << " reached tick limit of " << info.tickLimit << " ticks per frame" << std::endl;
        return true;
    }
    if (static_cast<i64>(info.frameTime) > static_cast<i64>(info.timeLimit)) {
        QUERN_LOG(2) << info.name << " reached time limit of " << info.timeLimit / 1000 << "ms" << std::endl;
        return true;
    }
    return false;
}

void World::fixedTick(u32 count)
{
    UpdateContext context = makeUpdateContext();
    deltaTime = static_cast<f32>(clock.step) / 1'000'000.0f;
    for (u32 tick = 0; tick < count; ++tick) {
        ticking = true;
        currentTime = clock.tickBase + u64 { tick } * clock.step;
        for (u64 s = 0; s < systems.count(); ++s) {
            SystemInfo& info = systemInfos.at<SystemInfo>(s);
            if (info.state == SystemInfo::kDisabled)
                continue;
            if (shouldSkipTick(info)) {
                info.limitReached = true;
                continue;
            }
            System* system = systems.at<System*>(s);
            if (info.timeLimit > 0) {
                const u64 begin = platform::getPerformanceCounter();
                system->fixedTick(&context, *this);
                info.frameTime += counterToMicroseconds(platform::getPerformanceCounter() - begin);
            } else {
                system->fixedTick(&context, *this);
            }
            ++info.frameTicks;
            context.slotCount = states.count();
        }
        ticking = false;
        if (!pendingDestroys.isEmpty()) {
            // Destroys requested by the systems below are immediate now; take
            // the queue first so that nothing is added to it while it is read.
            containers::Array queued = std::move(pendingDestroys);
            pendingDestroys = containers::Array(sizeof(EntityHandle), alignof(EntityHandle));
            destroyNow(queued.dataAs<EntityHandle>(), queued.count());
            queued.clear();
            pendingDestroys = std::move(queued);
        }
    }
}

void World::variableUpdate(u64 time)
{
    currentTime = time;
    UpdateContext context = makeUpdateContext();
    deltaTime = clock.deltaSeconds;
    for (u64 s = 0; s < systems.count(); ++s) {
        if (systemInfos.at<SystemInfo>(s).state == SystemInfo::kDisabled)
            continue;
        systems.at<System*>(s)->update(&context, *this);
        context.slotCount = states.count();
    }
    for (u64 s = 0; s < systems.count(); ++s)
        systems.at<System*>(s)->lateUpdate(*this);
}

void World::restartClock()
{
    clock.restart();
    currentTime = 0;
}

} // namespace quern::entity
