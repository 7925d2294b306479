#pragma once
// Texture assets: the asset handler that loads DDS files into cached
// textures, and the pixel-buffer chunk of the POD-token format (an image
// stored inside another asset, such as a font's glyph page).

#include "quern/Types.h"
#include "quern/assets/AssetHandler.h"
#include "quern/serialize/PODTypeDescriptor.h"

#include <atomic>

namespace quern {
class ByteSource;
}
namespace quern::serialize {
class PODToken;
}

namespace quern::graphics {

class PixelBuffer;

// The header record of the pixel-buffer chunk: type, width, height, depth,
// format code, mip levels below the base level, bytes of pixel data.
inline constexpr serialize::PODComponent kPixelBufferHeaderComponents[] = {
    { 1, serialize::PODKind::Unsigned, 8 },
    { 3, serialize::PODKind::Unsigned, 32 },
    { 2, serialize::PODKind::Unsigned, 8 },
    { 1, serialize::PODKind::Unsigned, 64 },
};
inline constexpr serialize::PODTypeDescriptor kPixelBufferHeaderDescriptor { 4, kPixelBufferHeaderComponents };
inline constexpr u64 kPixelBufferHeaderBytes = 23;
static_assert(kPixelBufferHeaderDescriptor.byteSize() == kPixelBufferHeaderBytes);

// Reads a pixel-buffer chunk (id: the Texture type id) into `image`. False,
// having read only the chunk id, for a chunk of another id; a header that
// does not describe an image, or a data size unlike the image's, is fatal.
bool readPixelBuffer(ByteSource& source, serialize::PODToken& token, PixelBuffer& image);

// The texture handler's pixel limit for the renderer settings: quality -2
// gives 262144 pixels, -1 gives 1048576, 0 no limit, any other quality keeps
// `current`; a non-zero maxMipmapSize then makes it that size squared (at
// most the largest 32-bit count).
u32 textureMaxPixels(i32 quality, u32 maxMipmapSize, u32 current);

// Loads DDS texture assets: the file is read into a scratch image on the
// loading thread, and the cached texture is filled from it on the main thread.
class PixelBufferHandler final : public assets::AssetHandler {
public:
    // Bytes of one load's scratch record.
    static constexpr u64 kScratchBytes = 32;

    void prepare(ByteSource& source, assets::AssetLoaderContext& context) override;
    // "Failed to read DDS" when the file is not a readable DDS image.
    void load(ByteSource& source, assets::AssetLoaderContext& context) override;
    void finalize(assets::AssetLoaderContext& context) override;
    void describe(assets::AssetHandlerInfo& info) override;

    // The most pixels (width x height x depth) of a loaded top level; larger
    // images lose top levels while they have mip levels. 0: no limit.
    u32 maxPixels() const { return m_maxPixels.load(std::memory_order_relaxed); }
    void setMaxPixels(u32 pixels) { m_maxPixels.store(pixels, std::memory_order_relaxed); }

private:
    // Set from the main thread while loaders may read it.
    std::atomic<u32> m_maxPixels { 0 };
};

} // namespace quern::graphics
