#pragma once
// Loads texture atlases ("native" format) into the resource cache and links
// each to its texture, which loads first as a dependency.

#include "quern/assets/AssetHandler.h"

namespace quern::graphics {

class TextureAtlasHandler : public assets::AssetHandler {
public:
    // Creates the atlas and reads its header and region block. An atlas the
    // cache already holds is left alone. A file shorter than its 16-byte
    // header is fatal, and so is a region block that does not hold together.
    void load(ByteSource& source, assets::AssetLoaderContext& context) override;
    // Finds the atlas's texture in the cache; a texture that is not there is fatal.
    void link(assets::AssetLoaderContext& context) override;
    void describe(assets::AssetHandlerInfo& info) override;
};

} // namespace quern::graphics
