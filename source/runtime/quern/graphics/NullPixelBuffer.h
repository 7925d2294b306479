#pragma once
// The pixel buffer without a device image: the pixels live in memory only.
// The null device makes these; textures start with one, and image work uses
// them as scratch images.

#include "quern/Types.h"
#include "quern/graphics/PixelBuffer.h"

namespace quern::graphics {

class NullPixelBuffer : public PixelBuffer {
public:
    struct FontPage {};
    static constexpr FontPage kFontPage{};

    // A render-target image (usage 2) with no layout yet.
    NullPixelBuffer();
    // Created as the 256 x 256 A8B8G8R8 page of the built-in font.
    explicit NullPixelBuffer(FontPage);

    void bind() override {}
    void unbind() override {}

protected:
    // The image is made exactly as requested.
    void createImpl(PixelBufferFormat& created, const PixelBufferFormat& requested, u32 flags) override;
    void setDataImpl(const void* pixels, u32 mipCount) override;
};

// `source` in `format`: the buffer itself when it has that pixel format, else
// a converted copy in a scratch image that `holder` keeps alive.
const PixelBuffer& pixelsInFormat(const PixelBuffer& source, const PixelFormat& format, Ref& holder);

// Creates `destination` with `layout` (create flags 0) and lets `write`
// (source pixels, destination pixels, destination layout) fill it from
// `source`. A device that adapts the layout gets the result through a
// scratch image of exactly `layout`, so `write` never sees another layout.
template <typename Write>
void writeImage(const PixelBuffer& source, PixelBuffer& destination, const PixelBufferFormat& layout, Write&& write)
{
    destination.create(layout, 0);
    PixelBuffer* target = &destination;
    Ref scratchHolder;
    if (!(destination.format() == layout) || destination.format().mipCount != layout.mipCount) {
        target = new NullPixelBuffer;
        scratchHolder = Ref(target);
        target->create(layout, 0);
    }
    if (layout.dataSize != 0) {
        const u8* in = source.lockPixels();
        u8* out = target->lockPixelsForWrite();
        write(in, out, target->format());
        target->unlockPixels();
        source.unlockPixels();
    }
    if (target != &destination)
        destination.copyFrom(*target, destination.createFlags());
}

} // namespace quern::graphics
