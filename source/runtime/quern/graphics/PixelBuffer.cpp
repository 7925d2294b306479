#include "quern/graphics/PixelBuffer.h"

#include "quern/debug/Log.h"
#include "quern/graphics/NullPixelBuffer.h"
#include "quern/graphics/PixelConverter.h"
#include "quern/graphics/PixelFormatError.h"
#include "quern/graphics/filters/FlipFilter.h"
#include "quern/graphics/filters/PremultiplyAlphaFilter.h"
#include "quern/graphics/filters/RescaleFilter.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/platform/ErrorReporting.h"

#include <algorithm>
#include <cstring>

namespace quern::graphics {
namespace {

using Lock = containers::BufferBase::Lock;

u64 elementSizeOf(const PixelFormat& format)
{
    return format.bytesPerPixel > 0 ? static_cast<u64>(format.bytesPerPixel) : 1;
}

// Single depth channels of one width match whatever their channel type.
bool samePixelFormat(const PixelFormat& a, const PixelFormat& b)
{
    if (a.channelCount == 1 && b.channelCount == 1 && a.channels[0].content == ChannelContent::D &&
        b.channels[0].content == ChannelContent::D)
        return a.channels[0].bits == b.channels[0].bits;
    return a == b;
}

bool isAdapted(const PixelBufferFormat& created, const PixelBufferFormat& requested)
{
    return created.type != requested.type || created.width != requested.width ||
           created.height != requested.height || created.depth != requested.depth ||
           created.rowPitch != requested.rowPitch || !samePixelFormat(created.pixelFormat, requested.pixelFormat);
}

bool needsWork(const PixelBufferFormat& given, const PixelBufferFormat& created, u32 flags)
{
    if (flags & PixelBuffer::PremultiplyAlpha)
        return true;
    // One face given for a cube map: the device takes it as it is.
    if (created.type == PixelBufferFormat::Type::CubeMap &&
        given == PixelBufferFormat::create2D(created.width, created.height, created.pixelFormat, 0, 0, 0))
        return false;
    return given.origin != created.origin || given.type != created.type || !given.sameLayout(created) ||
           given.mipCount != created.mipCount;
}

u8 colourByte(f32 value)
{
    const f32 scaled = value * 255.0f + 0.5f;
    if (!(scaled > 0.0f))
        return 0;
    return scaled >= 255.0f ? 255 : static_cast<u8>(scaled);
}

// Pixels that differ from the device's layout in their pixel format alone are
// converted straight into the device's layout, without a scratch image.
bool onlyPixelFormatDiffers(const PixelBufferFormat& given, const PixelBufferFormat& created, u32 flags)
{
    return !(flags & PixelBuffer::PremultiplyAlpha) && !(given.pixelFormat == created.pixelFormat) &&
           given.pixelFormat.bytesPerPixel > 0 && given.mipCount == created.mipCount &&
           PixelBufferFormat::copyWithPixelFormat(given, created.pixelFormat) == created;
}

// The run converter between the formats; palette targets and pairs without a
// converter are fatal.
PixelFormatConverter& converterBetween(const PixelFormat& source, const PixelFormat& target)
{
    if (target.hasChannel(ChannelContent::P))
        QUERN_RAISE(Exception, "Pixel format conversion with target palette not supported!");
    PixelFormatConverter* converter = findPixelFormatConverter(source, target);
    if (!converter)
        QUERN_RAISE_UNSUPPORTED_PIXEL_FORMAT(target);
    return *converter;
}

void logConversion(const PixelFormat& from, const PixelFormat& to)
{
    QUERN_LOG(2) << "Automatic conversion of pixel format " << from.toString() << " to " << to.toString()
                 << std::endl;
}

bool hasAlphaContent(const PixelFormat& format)
{
    return format.hasChannel(ChannelContent::A) || format.hasChannel(ChannelContent::DXT3) ||
           format.hasChannel(ChannelContent::DXT5) || format.hasChannel(ChannelContent::BC7);
}

void convertInto(containers::ElementBuffer& converted, const u8* pixels, const PixelBufferFormat& given,
                 const PixelBufferFormat& created, const containers::ElementBuffer* palette)
{
    logConversion(given.pixelFormat, created.pixelFormat);
    PixelFormatConverter& converter = converterBetween(given.pixelFormat, created.pixelFormat);
    converted.setSize(created.dataSize);
    if (created.dataSize)
        converter.convert(pixels, given.dataSize, converted.data(), const_cast<containers::ElementBuffer*>(palette));
}

// The given pixels in a scratch image, converted, rescaled, flipped and
// premultiplied as far as the device's layout and the flags ask.
Ref adaptInScratch(const u8* pixels, const PixelBufferFormat& given, const PixelBufferFormat& created,
                   const containers::ElementBuffer* palette, u32 flags)
{
    NullPixelBuffer* scratch = new NullPixelBuffer;
    Ref holder(scratch);
    scratch->setData(pixels, given, palette, 0);
    if (!(given.pixelFormat == created.pixelFormat)) {
        logConversion(given.pixelFormat, created.pixelFormat);
        scratch->setPixelFormat(created.pixelFormat);
    }
    if (given.width != created.width || given.height != created.height) {
        QUERN_LOG(2) << "Automatic rescaling of texture from " << given.width << "x" << given.height << " to "
                     << created.width << "x" << created.height << std::endl;
        filters::RescaleFilter(created.width, created.height).apply(*scratch);
    }
    if (given.origin != created.origin) {
        QUERN_LOG(5) << "Flipping texture vertically" << std::endl;
        filters::FlipFilter(filters::FlipFilter::kVertical).apply(*scratch);
    }
    if (flags & PixelBuffer::PremultiplyAlpha)
        filters::PremultiplyAlphaFilter(false, false).apply(*scratch);
    return holder;
}

} // namespace

PixelBuffer::PixelBuffer(u32 usage) : DisplayBuffer(DisplayBufferKind::Pixel, usage, 1)
{
    m_palette.setElementSize(4);
}

PixelBuffer::~PixelBuffer() { freeParkedMemory(); }

void PixelBuffer::parkPixelMemory()
{
    freeParkedMemory();
    if (!ownsData() || !data())
        return;
    m_parkedBlock = data();
    m_parkedBytes = byteSize();
    // Disown the block first, so that letting go of it does not free it.
    adopt(m_parkedBlock, m_parkedBytes, false);
    adopt(nullptr, 0, false);
}

void PixelBuffer::freeParkedMemory()
{
    freeBufferMemory(m_parkedBlock);
    m_parkedBlock = nullptr;
    m_parkedBytes = 0;
}

const u8* PixelBuffer::lockPixels() const
{
    return const_cast<PixelBuffer*>(this)->lock(Lock::Read, 0, elementCount());
}

u8* PixelBuffer::lockPixelsForWrite() { return lock(Lock::Write, 0, elementCount()); }

void PixelBuffer::unlockPixels() const { const_cast<PixelBuffer*>(this)->unlock(); }

void PixelBuffer::discard()
{
    if (hasDeviceObject())
        releaseDeviceObject();
    setBufferFormat(PixelBufferFormat{});
    m_createFlags = 0;
}

void PixelBuffer::setBufferFormat(const PixelBufferFormat& format)
{
    if (format == m_format)
        return;
    m_format = format;
    if (m_parking && format.dataSize == 0) {
        parkPixelMemory();
        return;
    }
    // The old block goes first: the new one need not keep its bytes.
    setSize(0);
    setElementSize(elementSizeOf(format.pixelFormat));
    if (m_parkedBlock && m_parkedBytes == format.dataSize) {
        adopt(m_parkedBlock, m_parkedBytes, true);
        m_parkedBlock = nullptr;
        m_parkedBytes = 0;
        return;
    }
    setSize(format.dataSize);
}

void PixelBuffer::create(const PixelBufferFormat& requested, u32 flags)
{
    if (m_format.dataSize != 0) {
        if (requested.type == m_format.type && m_format.sameLayout(requested) && flags == m_createFlags &&
            requested.mipCount == m_format.mipCount)
            return;
        discard();
    }
    PixelBufferFormat created = requested;
    createImpl(created, requested, flags);
    if (isAdapted(created, requested))
        QUERN_LOG(3) << "Creating pixel buffer with adapted format: " << requested.toString() << " -> "
                     << created.toString() << std::endl;
    setBufferFormat(created);
    m_createFlags = flags;
    if (!hasDeviceObject()) {
        setHasDeviceObject(true);
        registerWithDisplay();
    }
}

void PixelBuffer::setData(const void* pixels, const PixelBufferFormat& format,
                          const containers::ElementBuffer* palette, u32 flags)
{
    // The arguments may be this buffer's own layout, pixels or palette, which
    // the re-creation below drops: work from copies of those.
    const PixelBufferFormat given = format;
    containers::ElementBuffer ownPixels;
    const u8* bytes = static_cast<const u8*>(pixels);
    if (bytes && data() && bytes >= data() && bytes < data() + byteSize()) {
        ownPixels.assign(*this);
        bytes = ownPixels.data() + (bytes - data());
    }
    containers::ElementBuffer ownPalette;
    if (palette == &m_palette) {
        ownPalette.assign(m_palette);
        palette = &ownPalette;
    }

    if (m_format.dataSize != 0) {
        m_parking = true;
        discard();
        m_parking = false;
    }
    create(given, flags);
    freeParkedMemory();
    if (!bytes)
        return;
    const PixelBufferFormat created = m_format;

    u64 available = given.dataSize;
    u32 levels = given.mipCount;
    containers::ElementBuffer converted;
    Ref scratch;
    if (needsWork(given, created, flags)) {
        if (onlyPixelFormatDiffers(given, created, flags)) {
            convertInto(converted, bytes, given, created, palette);
            bytes = converted.data();
            available = converted.byteSize();
        } else {
            scratch = adaptInScratch(bytes, given, created, palette, flags);
            const PixelBuffer& adapted = *scratch.get<PixelBuffer>();
            bytes = adapted.lockPixels();
            // Rescaling keeps the base level only: the device gets the levels
            // that were made, never bytes from beyond them.
            available = adapted.format().dataSize;
            levels = adapted.format().mipCount;
        }
    }

    if (palette && created.pixelFormat.hasChannel(ChannelContent::P))
        setPalette(*palette);

    // The device reads a whole image of its own layout; what the data does
    // not cover (levels not made, faces not given) reads as zeros.
    containers::ElementBuffer padded;
    if (available < created.dataSize) {
        padded.setSize(created.dataSize);
        std::memset(padded.data(), 0, created.dataSize);
        if (given.type == PixelBufferFormat::Type::CubeMap && created.type == PixelBufferFormat::Type::CubeMap) {
            // Six faces with fewer levels: each face starts where the device's
            // layout puts it, its missing levels zero.
            const u64 sourceFace = available / 6;
            const u64 targetFace = created.dataSize / 6;
            for (u64 face = 0; face < 6; ++face)
                std::memcpy(padded.data() + face * targetFace, bytes + face * sourceFace,
                            std::min(sourceFace, targetFace));
        } else if (available) {
            std::memcpy(padded.data(), bytes, available);
        }
        bytes = padded.data();
    }
    setDataImpl(bytes, levels);

    if (scratch)
        scratch.get<PixelBuffer>()->unlockPixels();
}

void PixelBuffer::setImage2D(const void* pixels, u32 width, u32 height)
{
    setData(pixels, PixelBufferFormat::create2D(width, height, PixelFormat::R8G8B8A8, 0, 0, 0), nullptr,
            m_createFlags);
}

void PixelBuffer::copyFrom(const PixelBuffer& source, u32 flags)
{
    if (&source == this)
        return;
    const u8* pixels = source.lockPixels();
    setData(pixels, source.m_format, &source.m_palette, flags);
    source.unlockPixels();
}

bool PixelBuffer::setPixelFormat(const PixelFormat& target)
{
    if (target == m_format.pixelFormat)
        return true;
    return setPixelFormatImpl(target, converterBetween(m_format.pixelFormat, target));
}

bool PixelBuffer::setPixelFormatImpl(const PixelFormat& target, PixelFormatConverter& converter)
{
    if (target == m_format.pixelFormat)
        return true;
    if (!converter.setFormats(m_format.pixelFormat, target) || m_format.pixelFormat.bytesPerPixel <= 0)
        QUERN_RAISE_UNSUPPORTED_PIXEL_FORMAT(target);
    const u64 sourceBytes = std::min(byteSize(), m_format.dataSize);
    const u64 newSize = sourceBytes / static_cast<u64>(m_format.pixelFormat.bytesPerPixel) *
                        static_cast<u64>(target.bytesPerPixel);
    memory::Allocator* allocator = memory::getDefaultAllocator();
    void* converted = newSize ? allocator->allocate(newSize, 4) : nullptr;
    if (newSize && !converted)
        QUERN_OUT_OF_MEMORY();
    const u8* pixels = lockPixels();
    if (converted)
        converter.convert(pixels, sourceBytes, converted, &m_palette);
    unlockPixels();
    const PixelBufferFormat newFormat = PixelBufferFormat::copyWithPixelFormat(m_format, target);
    setData(converted, newFormat, nullptr, m_createFlags);
    if (converted)
        allocator->free(converted);
    return true;
}

void PixelBuffer::setPalette(const containers::ElementBuffer& entries)
{
    if (&entries == &m_palette)
        return;
    m_palette.assign(entries);
}

u32 PixelBuffer::convertPaletteToRGB8(u8* destination) const
{
    auto& palette = const_cast<containers::ElementBuffer&>(m_palette);
    const u32 count = static_cast<u32>(palette.byteSize() / 4);
    for (u32 i = 0; i < count; ++i) {
        const u8* entry = palette.lock(Lock::Read, i, 1);
        Pixel colour;
        std::memcpy(&colour, entry, sizeof colour);
        palette.unlock();
        PixelFormat::R8G8B8.convertFromPixel(colour, destination + 3 * static_cast<u64>(i));
    }
    return count;
}

void PixelBuffer::clear(const f32 colour[4])
{
    u8* pixels = lock(Lock::WriteBack, 0, elementCount());
    const PixelFormat& pixelFormat = m_format.pixelFormat;
    const u64 size = std::min(byteSize(), m_format.dataSize);
    if (colour[0] == 0.0f && colour[1] == 0.0f && colour[2] == 0.0f && !hasAlphaContent(pixelFormat)) {
        if (size)
            std::memset(pixels, 0, size);
    } else {
        const Pixel packed{colourByte(colour[0]), colourByte(colour[1]), colourByte(colour[2]), colourByte(colour[3])};
        u8 one[16] = {};
        pixelFormat.convertFromPixel(packed, one);
        const u64 pixelBytes = std::min<u64>(static_cast<u64>(std::max(pixelFormat.bytesPerPixel, 0)), sizeof one);
        for (u64 y = 0; y < m_format.height && pixelBytes; ++y) {
            for (u64 x = 0; x < m_format.width; ++x) {
                const u64 offset = y * m_format.rowPitch + x * pixelBytes;
                if (offset + pixelBytes > size)
                    break;
                std::memcpy(pixels + offset, one, pixelBytes);
            }
        }
    }
    unlock();
}

void PixelBuffer::setSubImage(u32 x, u32 y, u32 width, u32 height, const void* data, u64 sourcePitch)
{
    // Unsigned clipping: a start outside the image would otherwise wrap to a
    // huge width and write far past the pixels.
    if (!data || x >= m_format.width || y >= m_format.height)
        return;
    width = std::min(width, m_format.width - x);
    height = std::min(height, m_format.height - y);
    if (width == 0 || height == 0)
        return;
    const u64 element = elementSize();
    const u64 rowBytes = width * element;
    const u64 size = byteSize();
    u64 offset = x * element + y * m_format.rowPitch;
    const u8* source = static_cast<const u8*>(data);
    u8* pixels = lock(Lock::Write, 0, elementCount());
    for (u32 row = 0; row < height && offset + rowBytes <= size; ++row) {
        std::memcpy(pixels + offset, source, rowBytes);
        offset += m_format.rowPitch;
        source += sourcePitch;
    }
    unlock();
}

void PixelBuffer::updateSubImage(u32 x, u32 y, u32 width, u32 height, const void* data, u64 sourcePitch)
{
    setSubImage(x, y, width, height, data, sourcePitch);
}

} // namespace quern::graphics
