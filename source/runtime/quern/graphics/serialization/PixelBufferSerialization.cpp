#include "quern/graphics/serialization/PixelBufferSerialization.h"

#include "quern/LittleEndian.h"
#include "quern/assets/AssetLoaderContext.h"
#include "quern/assets/ResourceCache.h"
#include "quern/graphics/NullPixelBuffer.h"
#include "quern/graphics/PixelBufferFormat.h"
#include "quern/graphics/Texture.h"
#include "quern/graphics/serialization/ImportDDS.h"
#include "quern/io/ByteSource.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/serialize/PODToken.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace quern::graphics {
namespace {

// The scratch record of one load, in the context's scratch memory, kept as
// bytes at fixed offsets: fields are copied in and out.
class LoadScratch {
public:
    static constexpr u64 kImageOffset = 8;
    static constexpr u64 kExtensionOffset = 16;
    static_assert(kExtensionOffset + sizeof(TextureExtension) <= PixelBufferHandler::kScratchBytes);

    explicit LoadScratch(assets::AssetLoaderContext& context)
        : m_bytes(static_cast<u8*>(context.scratch()))
    {
        if (!m_bytes)
            QUERN_FATAL("Texture loading needs the loader's scratch memory");
    }

    PixelBuffer* image() const
    {
        PixelBuffer* image = nullptr;
        std::memcpy(&image, m_bytes + kImageOffset, sizeof image);
        return image;
    }
    void setImage(PixelBuffer* image) { std::memcpy(m_bytes + kImageOffset, &image, sizeof image); }

    TextureExtension extension() const
    {
        TextureExtension extension;
        std::memcpy(&extension, m_bytes + kExtensionOffset, sizeof extension);
        return extension;
    }
    void setExtension(const TextureExtension& extension)
    {
        std::memcpy(m_bytes + kExtensionOffset, &extension, sizeof extension);
    }

private:
    u8* m_bytes;
};

struct PixelBufferHeader {
    u8 type = 0;
    u32 width = 0;
    u32 height = 0;
    u32 depth = 0;
    u8 formatCode = 0;
    u8 mipCount = 0;
    u64 dataSize = 0;
};

PixelBufferHeader parseHeader(const u8 (&bytes)[kPixelBufferHeaderBytes])
{
    PixelBufferHeader header;
    header.type = bytes[0];
    header.width = readLittleEndian32(bytes + 1);
    header.height = readLittleEndian32(bytes + 5);
    header.depth = readLittleEndian32(bytes + 9);
    header.formatCode = bytes[13];
    header.mipCount = bytes[14];
    header.dataSize
        = static_cast<u64>(readLittleEndian32(bytes + 15)) | (static_cast<u64>(readLittleEndian32(bytes + 19)) << 32);
    return header;
}

// The layout the header describes; fatal when it describes none, or when its
// data size is not that layout's size or more than the source still holds.
PixelBufferFormat checkedLayout(const PixelBufferHeader& header, u64 bytesLeft)
{
    using Type = PixelBufferFormat::Type;
    const PixelFormat& pixelFormat = PixelFormat::fromFormatCode(header.formatCode);
    const Type type = static_cast<Type>(header.type);
    const bool knownType
        = type == Type::Image1D || type == Type::Image2D || type == Type::Volume || type == Type::CubeMap;
    if (!knownType || !pixelFormat.isValid() || header.width == 0)
        QUERN_FATAL("Pixel buffer chunk: invalid image header");
    const u64 height = header.height ? header.height : 1;
    const u64 depth = header.depth ? header.depth : 1;
    const u64 pixels = u64 { header.width } * height; // both below 2^32
    if (pixels > std::numeric_limits<u32>::max() / depth / (type == Type::CubeMap ? 6 : 1))
        QUERN_FATAL("Pixel buffer chunk: image dimensions too large");
    if (header.mipCount
        > PixelBufferFormat::computeFullMipCount(header.width, static_cast<u32>(height), static_cast<u32>(depth)))
        QUERN_FATAL("Pixel buffer chunk: more mip levels than the image has");
    const PixelBufferFormat layout = PixelBufferFormat::create(type, header.width, header.height, header.depth,
        pixelFormat, pixelFormat.computeRowPitch(header.width), header.dataSize, header.mipCount, 0, 1);
    const u64 expected = PixelBufferFormat::computeDataSize(type, layout.width, layout.height, layout.depth,
        layout.mipCount, pixelFormat.elementSize, pixelFormat.isDXTCompressed());
    if (header.dataSize != expected)
        QUERN_FATAL("Pixel buffer chunk: data size does not match the image");
    if (header.dataSize > bytesLeft)
        QUERN_FATAL("Pixel buffer chunk: data size beyond the end of the file");
    return layout;
}

} // namespace

bool readPixelBuffer(ByteSource& source, serialize::PODToken& token, PixelBuffer& image)
{
    u64 id = 0;
    const u32 start = token.beginReadChunk(source, &id);
    if (id != assets::ResourceType::Texture)
        return false;
    u8 bytes[kPixelBufferHeaderBytes];
    token.readPOD(source, bytes, 1, &kPixelBufferHeaderDescriptor);
    const u64 size = source.size();
    const PixelBufferFormat layout
        = checkedLayout(parseHeader(bytes), source.position < size ? size - source.position : 0);

    image.create(layout, 0);
    if (image.format() == layout && image.format().mipCount == layout.mipCount) {
        u8* pixels = image.lockPixelsForWrite();
        token.readPOD(source, pixels, layout.dataSize, &serialize::kU8Descriptor);
        token.endReadChunk(source, start);
        image.unlockPixels();
        return true;
    }
    // A device that adapted the layout gets the stored pixels converted, so
    // the chunk's bytes are always read whole.
    memory::Allocator* allocator = memory::getDefaultAllocator();
    void* pixels = allocator->allocate(layout.dataSize, 4);
    if (!pixels)
        QUERN_OUT_OF_MEMORY();
    token.readPOD(source, pixels, layout.dataSize, &serialize::kU8Descriptor);
    token.endReadChunk(source, start);
    image.setData(pixels, layout, nullptr, 0);
    allocator->free(pixels);
    return true;
}

u32 textureMaxPixels(i32 quality, u32 maxMipmapSize, u32 current)
{
    u32 pixels = current;
    if (quality == -2)
        pixels = 512 * 512;
    else if (quality == -1)
        pixels = 1024 * 1024;
    else if (quality == 0)
        pixels = 0;
    if (maxMipmapSize != 0)
        pixels
            = static_cast<u32>(std::min<u64>(u64 { maxMipmapSize } * maxMipmapSize, std::numeric_limits<u32>::max()));
    return pixels;
}

void PixelBufferHandler::prepare(ByteSource& source, assets::AssetLoaderContext& context)
{
    LoadScratch scratch(context);
    TextureExtension extension = scratch.extension();
    extension.valid = 0;
    scratch.setExtension(extension);

    // The scratch image holds the file's pixels until finalize copies them
    // into the texture on the main thread.
    PixelBuffer* image = new NullPixelBuffer;
    RefCounted::retain(image);
    if (PixelBuffer* previous = scratch.image())
        RefCounted::release(previous);
    scratch.setImage(image);

    constexpr u64 kProbeBytes = 16;
    bool isDDS = false;
    const u64 start = source.position;
    const u64 size = source.size();
    if (start < size && size - start >= kProbeBytes) {
        u8 probe[kProbeBytes];
        source.read(probe, sizeof probe);
        source.position = start;
        isDDS = std::memcmp(probe, "DDS", 3) == 0;
    }
    if (!isDDS)
        debug::softAssert("Invalid format", "the asset starts with \"DDS\"", __FILE__, __LINE__);
}

void PixelBufferHandler::load(ByteSource& source, assets::AssetLoaderContext& context)
{
    LoadScratch scratch(context);
    PixelBuffer* image = scratch.image();
    if (!image)
        QUERN_FATAL("Texture loading: load before prepare");
    TextureExtension extension = scratch.extension();
    if (!readDDS(source, *image, extension, maxPixels()))
        QUERN_FATAL("Failed to read DDS");
    scratch.setExtension(extension);
}

void PixelBufferHandler::finalize(assets::AssetLoaderContext& context)
{
    LoadScratch scratch(context);
    PixelBuffer* image = scratch.image();
    if (!image)
        QUERN_FATAL("Texture loading: finalize before load");
    assets::ResourceRecord record;
    bool created = false;
    Texture* texture = context.createResourceObject<Texture>(assets::ResourceType::Texture, 0, record, created);
    if (!texture)
        QUERN_FATAL("Can't create texture resource");
    texture->pixelBuffer()->copyFrom(*image, 0);
    texture->markLoaded();
    scratch.setImage(nullptr);
    RefCounted::release(image);
    const TextureExtension extension = scratch.extension();
    if (extension.valid)
        texture->extension() = extension;
}

void PixelBufferHandler::describe(assets::AssetHandlerInfo& info)
{
    info.format = assets::kNativeAssetFormat;
    info.typeId = assets::ResourceType::Texture;
    info.scratchBytes = kScratchBytes;
    info.mainThreadStages = true;
}

} // namespace quern::graphics
