#pragma once
// What the world swapper hands a level to: the game's loading worker, which
// reads the level file into the world on a worker thread (loadWorld) and
// returns its own record of the load.

#include "quern/Types.h"

namespace quern::assets {
class Depot;
}
namespace quern::memory {
class Allocator;
}

namespace quern::entity {

class World;

class LevelLoader {
public:
    virtual ~LevelLoader();
    // Starts loading the level asset `worldAssetId` into `world`, whose
    // level memory comes from `allocator`. The result goes back to the caller
    // of WorldSwapper::loadLevel unchanged.
    virtual void* load(
        World& world, u64 worldAssetId, void* userData, assets::Depot& depot, memory::Allocator* allocator)
        = 0;
};

} // namespace quern::entity
