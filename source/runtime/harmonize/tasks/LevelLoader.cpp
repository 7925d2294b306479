#include "harmonize/tasks/LevelLoader.h"

#include "harmonize/systems/AppContext.h"
#include "quern/platform/ErrorReporting.h"

namespace harmonize {

void* LevelLoader::load(
    quern::entity::World& world, u64 worldAssetId, void*, quern::assets::Depot&, quern::memory::Allocator* allocator)
{
    if (!m_services || !m_services->loadingWorker)
        QUERN_FATAL("Levels are loaded through the loading worker, and there is none");
    m_services->loadingWorker->loadWorld(world, *m_services, worldAssetId, switchWhenLoaded, targetWorld, allocator);
    return &m_services->loadingWorker->task();
}

i32 LevelLoader::getProgress() const
{
    return m_services && m_services->loadingWorker ? m_services->loadingWorker->progress() : 100;
}

} // namespace harmonize
