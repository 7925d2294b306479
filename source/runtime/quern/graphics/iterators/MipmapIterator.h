#pragma once
// Walks the mip levels stored one after another in an image's pixel data: a
// pointer to each level's bytes and a layout describing that level alone. A
// cube map is walked one face at a time: start a new iterator at each face
// (dataSize / 6 bytes apart).
//
//   for (MipmapIterator it(data, layout); it.current != it.end; it.next())
//       upload(it.current, it.level);

#include "quern/Types.h"
#include "quern/graphics/PixelBufferFormat.h"

namespace quern::graphics {

class MipmapIterator {
public:
    MipmapIterator(void* data, const PixelBufferFormat& layout);

    // To the next level, or to the end after the last level.
    void next();

    u8* current = nullptr;
    // One past the walked data: the whole image, or one face of a cube map.
    u8* end = nullptr;
    u64 levelSize = 0;
    // The current level alone, without mip levels; a cube face is a 2D level.
    PixelBufferFormat level;
    u32 levelIndex = 0;
    u32 levelCount = 0;
    bool compressed = false;
    u64 blockBytes = 0;

private:
    // A level that does not fit in what is left ends the walk.
    void stopWhenLevelOverruns();
};

} // namespace quern::graphics
