#include "harmonize/systems/LineRendererSystem.h"

#include "quern/entity/World.h"

namespace harmonize {

LineRendererSystem::LineRendererSystem(AppContext& context)
    : m_context(&context)
{
}

void LineRendererSystem::detach(quern::memory::Allocator*)
{
    m_snapshot.entries.release();
    m_snapshot.points.release();
    m_store.release();
}

void LineRendererSystem::worldStarted(quern::entity::World& world, quern::memory::Allocator*)
{
    m_store.init(world.getCapacity(), world.allocator);
}

void LineRendererSystem::describe(quern::entity::SystemInfo* info) { info->name = "LineRendererSystem"; }

void LineRendererSystem::saveSnapshot() { m_store.saveSnapshot(m_snapshot); }

void LineRendererSystem::restoreSnapshot() { m_store.restoreSnapshot(m_snapshot); }

} // namespace harmonize
