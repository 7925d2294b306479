#pragma once
// Material assets: one chunk holding the material's name, its two program
// asset ids, four settings bytes (source and destination blend factor, cull
// mode, depth comparison) and its property chunks, in either POD-token form.
// The handler reads them into GenericMaterials.

#include "quern/Types.h"
#include "quern/assets/AssetHandler.h"

namespace quern {
class ByteSource;
}
namespace quern::serialize {
class PODToken;
}

namespace quern::graphics {

class GenericMaterial;

inline constexpr u64 kMaterialChunkId = 0x20338faac60a9e37ull;
inline constexpr u64 kMaterialPropertyChunkId = 0x28bc139b61bbb53dull;
// Bytes kept of names read from files, terminator included.
inline constexpr u64 kMaterialNameCapacity = 1024;

// Reads one material into `material`. A wrong chunk id, a property type
// outside 1-5, a texture unit outside 0-7 and settings no device state takes
// are fatal; so is a truncated file (in the token).
void readMaterial(ByteSource& source, serialize::PODToken& token, GenericMaterial& material);

class MaterialHandler final : public assets::AssetHandler {
public:
    // Builds a GenericMaterial in the cache's memory and reads it.
    void load(ByteSource& source, assets::AssetLoaderContext& context) override;
    // Resolves the loaded material's programs and textures.
    void link(assets::AssetLoaderContext& context) override;
    void describe(assets::AssetHandlerInfo& info) override;
};

} // namespace quern::graphics
