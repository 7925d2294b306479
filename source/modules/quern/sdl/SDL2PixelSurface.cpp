#include "quern/sdl/SDL2PixelSurface.h"

#include "quern/graphics/PixelBuffer.h"
#include "quern/sdl/SDL2Library.h"

namespace quern::sdl {

namespace {

// Reverses the low `bytes` bytes of the mask.
u32 reverseBytes(u32 mask, i32 bytes)
{
    u32 reversed = 0;
    for (i32 i = 0; i < bytes; ++i)
        reversed |= ((mask >> (8 * i)) & 0xffu) << (8 * (bytes - 1 - i));
    return reversed;
}

u32 sdlMask(const graphics::PixelFormat& format, graphics::ChannelContent content)
{
    const i32 bytes = format.bytesPerPixel > 4 ? 4 : format.bytesPerPixel;
    return reverseBytes(format.getChannelMask(content), bytes);
}

} // namespace

SDL2ChannelMasks toSDLMasks(const graphics::PixelFormat& format)
{
    using graphics::ChannelContent;
    return { sdlMask(format, ChannelContent::R), sdlMask(format, ChannelContent::G), sdlMask(format, ChannelContent::B),
        sdlMask(format, ChannelContent::A) };
}

u32 toSDLPixelFormat(const graphics::PixelFormat& format)
{
    const SDL2ChannelMasks masks = toSDLMasks(format);
    return sdl2.SDL_MasksToPixelFormatEnum(format.totalBits, masks.red, masks.green, masks.blue, masks.alpha);
}

bool fromSDLPixelFormat(u32 sdlFormat, graphics::PixelFormat& out)
{
    int bits = 0;
    u32 red = 0;
    u32 green = 0;
    u32 blue = 0;
    u32 alpha = 0;
    if (!sdl2.SDL_PixelFormatEnumToMasks(sdlFormat, &bits, &red, &green, &blue, &alpha) || (red | green | blue) == 0)
        return false;
    // Padding counts: a 24-bit colour in 32-bit pixels gets its X channel.
    const u32 storedBits = 8u * SDL_BYTESPERPIXEL(sdlFormat);
    const u32 bitCount = storedBits > static_cast<u32>(bits) ? storedBits : static_cast<u32>(bits);
    out = graphics::PixelFormat::fromBitMasks(red, green, blue, alpha, bitCount);
    return true;
}

SDL2PixelSurface::SDL2PixelSurface(const graphics::PixelBuffer& image)
    : m_image(image)
{
    const graphics::PixelBufferFormat& layout = image.format();
    const SDL2ChannelMasks masks = toSDLMasks(layout.pixelFormat);
    void* pixels = const_cast<u8*>(image.lockPixels());
    m_surface = sdl2.SDL_CreateRGBSurfaceFrom(pixels, static_cast<int>(layout.width), static_cast<int>(layout.height),
        layout.pixelFormat.totalBits, static_cast<int>(layout.rowPitch), masks.red, masks.green, masks.blue,
        masks.alpha);
}

SDL2PixelSurface::~SDL2PixelSurface()
{
    if (m_surface)
        sdl2.SDL_FreeSurface(m_surface);
    m_image.unlockPixels();
}

} // namespace quern::sdl
