#pragma once
// The textures every program has: the 1 x 1 opaque white "WhiteDDS", loaded
// from an image built into the program through the ordinary asset path.

#include "quern/Types.h"

#include <span>

namespace quern::assets {
class ResourceCache;
}

namespace quern::graphics {

inline constexpr const char* kWhiteTextureName = "WhiteDDS";

// The built-in white image: a complete 132-byte DDS file.
std::span<const u8> whiteDDSImage();

// Loads the white texture into `cache` unless the cache has it already, and
// stores its resource key in the process-wide slot.
void registerDefaultTextures(assets::ResourceCache& cache);

// The resource key of the white texture; 0 before registerDefaultTextures.
u64 defaultWhiteTextureKey();

} // namespace quern::graphics
