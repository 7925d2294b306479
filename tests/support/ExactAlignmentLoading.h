#pragma once
// Loads an asset the way loadAsset does, but with every block the load takes
// from its context (the handler's scratch memory above all) coming from a
// given allocator, such as ExactAlignmentAllocator.

#include "quern/assets/AssetHandlerRegistry.h"
#include "quern/assets/DefaultAssetLoaderContext.h"
#include "quern/platform/ErrorReporting.h"

namespace quern::testing {

class AllocatorLoaderContext final : public assets::DefaultAssetLoaderContext {
public:
    AllocatorLoaderContext(
        u64 assetId, assets::Depot& depot, assets::ResourceCache& cache, memory::Allocator& allocator)
        : DefaultAssetLoaderContext(assetId, depot, cache)
        , m_allocator(allocator)
    {
    }
    // The base destructor would free through the default allocator.
    ~AllocatorLoaderContext() override { freeScratch(); }
    memory::Allocator& allocator() override { return m_allocator; }

private:
    memory::Allocator& m_allocator;
};

// The key of the first resource the load made or found, as loadAsset returns.
// `allocator` must outlive what the load made (a resource may keep it).
inline u64 loadAssetFrom(
    memory::Allocator& allocator, u64 assetId, u64 typeId, assets::Depot& depot, assets::ResourceCache& cache)
{
    assets::AssetHandlerRegistry* registry = assets::AssetHandlerRegistry::instance();
    assets::AssetHandler* handler = registry ? registry->findHandler(typeId) : nullptr;
    if (!handler)
        QUERN_FATAL("loadAssetFrom: no handler for the type");
    AllocatorLoaderContext context(assetId, depot, cache, allocator);
    return assets::loadAssetWith(*handler, context);
}

} // namespace quern::testing
