#pragma once
// Loads keyframe animation clips ("native" format) into the resource cache.

#include "quern/assets/AssetHandler.h"

namespace quern::animate {

class KeyframeAnimationHandler : public assets::AssetHandler {
public:
    // Creates the clip resource and reads the asset into it. A clip the cache
    // already holds is left alone: others may be sampling it.
    void load(ByteSource& source, assets::AssetLoaderContext& context) override;
    void describe(assets::AssetHandlerInfo& info) override;
};

} // namespace quern::animate
