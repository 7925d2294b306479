#pragma once
// Named rectangles of one texture, so that sprites and icons are drawn by
// name. An atlas asset refers to its texture by asset id and keeps its region
// block (counted region records, their name hashes and a pool of names) in
// memory as it was stored.

#include "quern/Types.h"
#include "quern/containers/Array.h"
#include "quern/language/RefCounted.h"

#include <string_view>

namespace quern::memory {
class Allocator;
}

namespace quern::graphics {

class Texture;

inline constexpr u64 kTextureAtlasTypeId = 0x31c29021f74b7de2ull;

// One region record as stored: eleven little-endian u32.
struct TextureRegion {
    u32 nameOffset; // into the string pool
    u32 nameLength; // bytes
    u32 x, y; // pixels, y from the top of the image
    u32 width, height;
    u32 reserved[5]; // kept as stored
};
static_assert(sizeof(TextureRegion) == 44);

// Where the parts of a region block lie.
inline constexpr u64 kAtlasRegionsOffset = 8;

class TextureAtlas : public RefCounted {
public:
    TextureAtlas() = default;
    // Frees the block through its allocator.
    ~TextureAtlas() override;

    // Takes over the region block (`size` bytes from `allocator`). The block
    // is checked whole before anything in it is used: a count, a name or a
    // pool that does not fit the block is fatal, naming what was wrong.
    void setData(void* block, u64 size, memory::Allocator* allocator);

    // The region of that name, or null.
    const TextureRegion* findRegion(std::string_view name) const;

    u64 regionCount() const { return m_regions.count(); }
    const TextureRegion& region(u64 index) const { return m_regions.at<TextureRegion>(index); }
    // The region's name as stored in the pool.
    std::string_view regionName(const TextureRegion& region) const;
    const u8* block() const { return m_block; }
    u64 blockSize() const { return m_blockSize; }
    u64 poolLength() const { return m_poolLength; }

    // Set when the atlas is linked; the resource cache owns it.
    Texture* texture = nullptr;

private:
    void releaseBlock();

    memory::Allocator* m_allocator = nullptr;
    u8* m_block = nullptr;
    u64 m_blockSize = 0;
    containers::Array m_regions { sizeof(TextureRegion), alignof(TextureRegion) }; // read from the block
    const char* m_pool = "";
    u64 m_poolLength = 0;
    containers::Array m_hashes { sizeof(u64), alignof(u64) };
};

} // namespace quern::graphics
