#include "quern/assets/AssetRef.h"

#include "quern/assets/AssetHandlerRegistry.h"
#include "quern/assets/ResourceCache.h"
#include "quern/platform/ErrorReporting.h"

namespace quern::assets {

void AssetRef::resolve(u64 typeId, Depot& depot, ResourceCache& cache)
{
    if (handle != 0)
        return;
    u32 acquired = cache.acquire(resourceKey(assetId, typeId));
    if (acquired == 0) {
        const u64 key = loadAsset(assetId, typeId, depot, cache);
        if (key == 0)
            QUERN_FATAL("Failed to load asset");
        acquired = cache.acquire(key);
        if (acquired == 0)
            QUERN_FATAL("Failed to load asset");
    }
    handle = acquired;
}

} // namespace quern::assets
