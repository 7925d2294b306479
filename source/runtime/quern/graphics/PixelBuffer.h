#pragma once
// One image: its layout, its pixel bytes and an optional palette. The class
// does the format work itself (choosing what the device made, converting,
// rescaling, flipping rows, premultiplying alpha, clearing, writing
// sub-rectangles); subclasses made by the graphics device create, fill and
// bind the device image.

#include "quern/Types.h"
#include "quern/containers/ElementBuffer.h"
#include "quern/graphics/DisplayBuffer.h"
#include "quern/graphics/PixelBufferFormat.h"
#include "quern/graphics/PixelFormat.h"
#include "quern/language/RefCounted.h"

namespace quern::graphics {

class PixelFormatConverter;

class PixelBuffer : public RefCounted, public DisplayBuffer {
public:
    // Create flags. Bits other than these are passed to the device unchanged.
    enum CreateFlags : u32 {
        // setData always takes the conversion path and premultiplies alpha.
        PremultiplyAlpha = 0x20,
    };

    explicit PixelBuffer(u32 usage);
    ~PixelBuffer() override;
    PixelBuffer(const PixelBuffer&) = delete;
    PixelBuffer& operator=(const PixelBuffer&) = delete;

    // Writes a rectangle and tells the device; the base only writes.
    virtual void updateSubImage(u32 x, u32 y, u32 width, u32 height, const void* data, u64 sourcePitch);
    // Copies the 32-bit entries, one colour per palette index.
    virtual void setPalette(const containers::ElementBuffer& entries);
    // Fills the image with one colour (r, g, b, a in 0..1): the base level only.
    virtual void clear(const f32 colour[4]);
    // Copies rows of `data` into the rectangle, clipped to the image; a
    // rectangle that starts outside the image writes nothing.
    virtual void setSubImage(u32 x, u32 y, u32 width, u32 height, const void* data, u64 sourcePitch);

    // Releases the device object, drops the pixels and the layout.
    void discard() override;

    // Makes the device image for `requested`; nothing when the image already
    // has that layout, those flags and that mip count. Logs a layout the
    // device adapted.
    void create(const PixelBufferFormat& requested, u32 flags);
    // Takes the layout and sizes the pixel memory for it (contents undefined);
    // nothing when the layout is the current one.
    void setBufferFormat(const PixelBufferFormat& format);
    // Creates the image for `format` and fills it with `pixels` (laid out by
    // `format`), adapting them to what the device made.
    void setData(const void* pixels, const PixelBufferFormat& format, const containers::ElementBuffer* palette,
                 u32 flags);
    // setData of a width x height R8G8B8A8 image with the current create flags.
    void setImage2D(const void* pixels, u32 width, u32 height);
    // setData with the source's pixels, layout and palette; nothing for itself.
    void copyFrom(const PixelBuffer& source, u32 flags);
    // Converts the pixels to `target`. A palette target or a pair without a
    // converter is fatal.
    bool setPixelFormat(const PixelFormat& target);
    // Writes each palette entry as three R8G8B8 bytes; returns the entry count.
    u32 convertPaletteToRGB8(u8* destination) const;

    const PixelBufferFormat& format() const { return m_format; }
    const PixelFormat& pixelFormat() const { return m_format.pixelFormat; }
    const containers::ElementBuffer& palette() const { return m_palette; }
    u32 createFlags() const { return m_createFlags; }

    // Locks the whole image for reading or writing (the element buffer's lock).
    const u8* lockPixels() const;
    u8* lockPixelsForWrite();
    void unlockPixels() const;

protected:
    // Makes the device image for `requested` and writes into `created` what it
    // really made (sizes, pixel format, row order).
    virtual void createImpl(PixelBufferFormat& created, const PixelBufferFormat& requested, u32 flags) = 0;
    // Stores pixels already in this buffer's layout: `pixels` holds the
    // format's dataSize bytes, of which the first `mipCount` + 1 levels of
    // every face carry data.
    virtual void setDataImpl(const void* pixels, u32 mipCount) = 0;
    // Converts the pixels with `converter` and sets them again.
    virtual bool setPixelFormatImpl(const PixelFormat& target, PixelFormatConverter& converter);
    // True during the discard with which setData refills an image: the
    // device image is made again at once, so a device may keep its object.
    bool isRefilling() const { return m_parking; }

private:
    // Refilling an image of the same size reuses its pixel memory: the block
    // dropped by the discard is parked here until the new layout is sized.
    void parkPixelMemory();
    void freeParkedMemory();

    PixelBufferFormat m_format;
    containers::ElementBuffer m_palette;
    u32 m_createFlags = 0;
    bool m_parking = false;
    void* m_parkedBlock = nullptr;
    u64 m_parkedBytes = 0;
};

} // namespace quern::graphics
