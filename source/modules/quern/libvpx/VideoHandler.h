#pragma once
// Loads Video assets (IVF files of VP8 frames) into VP8 decoders in the
// resource cache. The decoder keeps the asset's bytes and decodes while the
// video plays.

#include "quern/assets/AssetHandler.h"

namespace quern::libvpx {

class VideoHandler : public assets::AssetHandler {
public:
    // Creates the decoder and opens it on the asset's bytes; a video the cache
    // already holds is left alone.
    void load(ByteSource& source, assets::AssetLoaderContext& context) override;
    void describe(assets::AssetHandlerInfo& info) override;
};

} // namespace quern::libvpx
