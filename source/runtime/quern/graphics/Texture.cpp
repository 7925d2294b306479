#include "quern/graphics/Texture.h"

#include "quern/assets/ResourceCache.h"
#include "quern/graphics/Display.h"
#include "quern/graphics/NullPixelBuffer.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/strings/Hashes.h"

#include <new>
#include <string>

namespace quern::graphics {

TextureBase::TextureBase() { setPixelBuffer(new NullPixelBuffer); }

TextureBase::TextureBase(const TextureBase& other) : assets::Resource(other), m_pixelBuffer(other.m_pixelBuffer) {}

void* TextureBase::getData() { return pixelBuffer(); }

u64 TextureBase::getMemorySize() { return pixelBuffer() ? pixelBuffer()->byteSize() : 0; }

void TextureBase::releaseDeviceData()
{
    if (PixelBuffer* image = pixelBuffer())
        image->releaseDeviceObject();
}

void TextureBase::restoreDeviceData()
{
    if (PixelBuffer* image = pixelBuffer())
        image->createDeviceObject();
}

void TextureBase::setPixelBuffer(PixelBuffer* image) { m_pixelBuffer = Ref(image); }

Texture::Texture() : m_display(Display::get())
{
    // A device that makes no image leaves the in-memory one in place.
    if (PixelBuffer* image = m_display->backEnd()->createPixelBuffer(GraphicsBackEnd::TextureImage))
        setPixelBuffer(image);
}

Texture::Texture(PixelBuffer* image) : m_display(Display::get())
{
    if (!image)
        return;
    setPixelBuffer(image);
    if (image->format().dataSize != 0)
        markLoaded();
}

Texture::~Texture() { m_display = nullptr; }

void Texture::markLoaded()
{
    setState(Loaded);
    touch();
}

u32 textureFormatClass(const PixelFormat& format)
{
    if (format == PixelFormat::B8G8R8)
        return Texture::ColourB8G8R8;
    if (format == PixelFormat::A8B8G8R8)
        return Texture::ColourA8B8G8R8;
    return Texture::OtherFormat;
}

Texture* createTexture(std::string_view name, assets::ResourceCache& cache)
{
    const u64 assetId = strings::murmurHash64A(name.data(), name.size(), 0);
    const u64 key = assets::resourceKey(assetId, assets::ResourceType::Texture);
    // Built inside the cache's step, so no other thread meets the entry's
    // memory before it holds a texture.
    bool created = false;
    const u32 handle = cache.acquireOrCreate(
        key, assets::ResourceType::Texture, sizeof(Texture), 8, created,
        [](void* memory, void*) { RefCounted::retain(new (memory) Texture); });
    if (handle == 0 || !created) {
        cache.release(handle);
        const std::string message = "Can't create texture \"" + std::string(name) + "\" in the resource cache";
        QUERN_FATAL(message.c_str());
    }
    u64 typeId = 0;
    auto* texture = static_cast<Texture*>(static_cast<RefCounted*>(cache.entry(handle, typeId)));
    cache.release(handle);
    return texture;
}

} // namespace quern::graphics
