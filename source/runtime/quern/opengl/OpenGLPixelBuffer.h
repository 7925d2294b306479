#pragma once
// The GL texture behind a pixel buffer. While the texture exists it holds the
// image: the buffer keeps no system copy, a lock reads the texture back into a
// temporary one and the unlock of a write uploads it again. When the display
// closes the image is read back into system memory, and uploaded again when
// it opens. Every texture name the back end makes is kept in one registry.

#include "quern/Types.h"
#include "quern/graphics/GraphicsBackEnd.h"
#include "quern/graphics/PixelBuffer.h"

namespace quern::opengl {

class OpenGLPixelBuffer final : public graphics::PixelBuffer {
public:
    // Create flags read here (the others go to the engine side).
    enum GLCreateFlags : u32 {
        ClampedLinear = 0x02, // clamped to the edge, linearly filtered
        StoreCompressed = 0x04, // a generic compressed internal format
        NoMipLevels = 0x10,
        SRGB = 0x40,
    };
    // How mip levels are made.
    enum MipmapMode : i32 {
        NoMipmaps = 0, // level 0 only
        GivenLevels = 1, // the levels come with the data
        FilteredLevels = 2, // built on the CPU before the upload
        GenerateMipmap = 3, // glGenerateMipmap after the upload
        GenerateParameter = 4, // GL_GENERATE_MIPMAP around the upload
    };

    // `usage` is the device usage (1 texture, 2 render-target texture); the
    // capability record is the device's and outlives the buffer.
    OpenGLPixelBuffer(u32 usage, const graphics::DisplayCaps* caps);
    ~OpenGLPixelBuffer() override;

    void bind() override;
    void unbind() override;
    void discard() override;
    void createDeviceObject() override;
    void releaseDeviceObject() override;
    u8* lock(Lock mode, u64 firstElement, u64 elementCount) override;
    void unlock() override;
    void setSize(u64 bytes) override;
    // Uploads the palette when the driver takes paletted textures.
    void setPalette(const containers::ElementBuffer& entries) override;

    u32 name() const { return m_name; }
    u32 glFormat() const { return m_format; }
    u32 internalFormat() const { return m_internalFormat; }
    u32 glType() const { return m_type; }
    u32 target() const { return m_target; }
    i32 mipmapMode() const { return m_mipmapMode; }

    // The mode for a layout (the decision logs why it refuses mipmaps).
    static i32 chooseMipmapMode(
        const graphics::PixelBufferFormat& layout, u32 flags, u32 usage, const graphics::DisplayCaps& caps);

protected:
    void createImpl(
        graphics::PixelBufferFormat& created, const graphics::PixelBufferFormat& requested, u32 flags) override;
    void setDataImpl(const void* pixels, u32 mipCount) override;

private:
    bool transfersPixels() const;
    void resetParameters();
    // The storage of level 0 (every face); returns the internal format the driver chose.
    u32 allocateStorage(u32 width, u32 height, u32 depth, i32 samples, u32 flags);
    void uploadLevels(const u8* pixels, u32 lastLevel);
    void readBack(u8* destination);
    void installSystemCopy();
    void dropSystemCopy();

    const graphics::DisplayCaps* m_caps;
    u32 m_name = 0;
    u32 m_format = 0;
    u32 m_internalFormat = 0;
    u32 m_type;
    u32 m_target;
    bool m_dirty = false;
    i32 m_mipmapMode = NoMipmaps;
    // The last level that holds an image on the device.
    u32 m_definedLevels = 0;
    u32 m_lockDepth = 0;
    // The texture of a refilled image, kept for its next creation.
    u32 m_parkedName = 0;
    u32 m_parkedTarget = 0;
};

// A new texture name, kept in the registry.
u32 genTexture();
// Deletes the name and drops it from the registry; logs when that empties it.
void deleteTexture(u32 name);
// The names made and not deleted, in creation order.
u64 textureNameCount();
u32 textureNameAt(u64 index);

// Entries of the colour table that holds `entryCount` palette entries: the
// smallest power of two not below the count.
u32 paletteTableSize(u32 entryCount);

} // namespace quern::opengl
