#pragma once
// The cached, named form of an image: a resource of type "Texture" that holds
// a pixel buffer. Materials, fonts, sprites and render targets refer to
// textures; a display change suspends them (the device image goes, the pixel
// memory stays) and resumes them (the device image comes back from it).

#include "quern/Types.h"
#include "quern/assets/Resource.h"
#include "quern/language/RefCounted.h"

#include <string_view>

namespace quern::assets {
class ResourceCache;
}

namespace quern::graphics {

class Display;
class PixelBuffer;
class PixelFormat;

class TextureBase : public assets::Resource {
public:
    // Starts with an in-memory image, so every texture has one.
    TextureBase();
    // Shares the other texture's image.
    TextureBase(const TextureBase& other);

    // The pixel buffer.
    void* getData() override;
    // The pixel bytes in memory.
    u64 getMemorySize() override;
    void releaseDeviceData() override;
    void restoreDeviceData() override;

    PixelBuffer* pixelBuffer() const { return m_pixelBuffer.get<PixelBuffer>(); }

protected:
    // Holds `image` (retained) in place of the current one.
    void setPixelBuffer(PixelBuffer* image);

private:
    Ref m_pixelBuffer;
};

// The DDS extension word: the size pixel coordinates refer to, and whether the
// image has alpha.
struct TextureExtension {
    u32 referenceWidth = 0;
    u32 referenceHeight = 0;
    u8 flag0 = 0; // 1: the image has alpha
    u8 flag1 = 0;
    u8 flag2 = 0;
    u8 valid = 0;
};
static_assert(sizeof(TextureExtension) == 12);

class Texture : public TextureBase {
public:
    // What render-target textures record of their image format.
    enum FormatClass : u32 {
        ColourB8G8R8 = 0,
        ColourA8B8G8R8 = 1,
        OtherFormat = 2,
    };

    // An image made by the current display's device.
    Texture();
    // Holds `image`; a texture around an image with data is loaded at once.
    explicit Texture(PixelBuffer* image);
    Texture(const Texture& other) = default;
    ~Texture() override;

    Display* display() const { return m_display; }
    u32 formatClass() const { return m_formatClass; }
    void setFormatClass(u32 formatClass) { m_formatClass = formatClass; }
    TextureExtension& extension() { return m_extension; }
    const TextureExtension& extension() const { return m_extension; }

    // Loaded, with a new change stamp.
    void markLoaded();

private:
    Display* m_display = nullptr;
    u32 m_formatClass = OtherFormat;
    TextureExtension m_extension;
};

// The format class of an image format: B8G8R8, A8B8G8R8 or anything else.
u32 textureFormatClass(const PixelFormat& format);

// An empty texture cached under `name` in `cache`. The reference it returns
// is the cache's: hold the texture through a reference of your own.
Texture* createTexture(std::string_view name, assets::ResourceCache& cache);

} // namespace quern::graphics
