#pragma once
// A lazily resolved reference to an asset's main resource: the asset id, and
// once resolved a cache handle that the owner gives back to the cache.

#include "quern/Types.h"

namespace quern::assets {

class Depot;
class ResourceCache;

struct AssetRef {
    u64 assetId = 0;
    u32 handle = 0; // 0 = not resolved yet

    // Takes a handle on the cached resource of (asset, type), loading the
    // asset first when it is not cached; fatal "Failed to load asset" when
    // its handler makes no resource. Does nothing once resolved.
    void resolve(u64 typeId, Depot& depot, ResourceCache& cache);
};

} // namespace quern::assets
