#pragma once
// One handler per loadable asset type turns an asset's bytes into resources in
// the resource cache. The loader calls its stages in order: prepare, preload,
// load, finalize, link; handlers that touch graphics objects ask for their
// later stages to run on the main thread.

#include "quern/Types.h"

namespace quern {
class ByteSource;
}

namespace quern::assets {

class AssetLoaderContext;

// The one format every handler reports.
inline constexpr const char* kNativeAssetFormat = "native";

// Zeroed by the caller before every describe.
struct AssetHandlerInfo {
    const char* format;
    u64 typeId;        // the resource type it loads
    u64 scratchBytes;  // per-load scratch memory it wants; 0 = none
    bool keepOpen;     // the depot entry stays open after the load
    bool mainThreadStages;
};

class AssetHandler {
public:
    virtual ~AssetHandler() = default;

    virtual void prepare(ByteSource& source, AssetLoaderContext& context)
    {
        (void)source;
        (void)context;
    }
    virtual void preload(AssetLoaderContext& context) { (void)context; }
    virtual void load(ByteSource& source, AssetLoaderContext& context) = 0;
    virtual void finalize(AssetLoaderContext& context) { (void)context; }
    virtual void link(AssetLoaderContext& context) { (void)context; }
    virtual void describe(AssetHandlerInfo& info) = 0;
};

} // namespace quern::assets
