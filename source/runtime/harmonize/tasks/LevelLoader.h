#pragma once
// What the world swapper hands a level to in the game: the loading worker,
// told which world the level goes into and whether the game switches to it as
// soon as it is loaded.

#include "harmonize/tasks/LoadingWorker.h"
#include "quern/entity/LevelLoader.h"

namespace harmonize {

class LevelLoader final : public quern::entity::LevelLoader {
public:
    explicit LevelLoader(AppServices* services) : m_services(services) {}

    // Starts the load on the loading worker of the services; the cache passed
    // through the world swapper is the worker's own, so it is not used.
    void* load(quern::entity::World& world, u64 worldAssetId, void* userData, quern::assets::Depot& depot,
        quern::memory::Allocator* allocator) override;
    // The running load's progress, 0 to 100.
    i32 getProgress() const;

    i32 targetWorld = 0;
    bool switchWhenLoaded = true;

private:
    AppServices* m_services;
};

} // namespace harmonize
