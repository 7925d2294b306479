#pragma once
// Pixel formats and images handed between the engine and the windowing
// library. SDL reads channel masks off a pixel read as a native (little-endian)
// number; the engine's masks read the pixel's bytes in memory order, so every
// mask crossing over is byte-reversed within the pixel.

#include "quern/Types.h"
#include "quern/graphics/PixelFormat.h"

struct SDL_Surface;

namespace quern::graphics {
class PixelBuffer;
}

namespace quern::sdl {

struct SDL2ChannelMasks {
    u32 red = 0;
    u32 green = 0;
    u32 blue = 0;
    u32 alpha = 0;
};

// The format's red, green, blue and alpha masks as SDL reads them.
SDL2ChannelMasks toSDLMasks(const graphics::PixelFormat& format);
// SDL's pixel-format code of the engine format; 0 when SDL has none.
u32 toSDLPixelFormat(const graphics::PixelFormat& format);
// The engine format of SDL's code; false when SDL cannot describe it by masks.
bool fromSDLPixelFormat(u32 sdlFormat, graphics::PixelFormat& out);

// An SDL surface over a pixel buffer's own memory (no copy). The buffer stays
// locked for as long as the surface lives: SDL takes its copy of the pixels
// (icon, cursor) while the surface is in scope.
class SDL2PixelSurface {
public:
    explicit SDL2PixelSurface(const graphics::PixelBuffer& image);
    ~SDL2PixelSurface();
    SDL2PixelSurface(const SDL2PixelSurface&) = delete;
    SDL2PixelSurface& operator=(const SDL2PixelSurface&) = delete;

    // Null when SDL refused the layout (its error text says why).
    SDL_Surface* surface() const { return m_surface; }

private:
    const graphics::PixelBuffer& m_image;
    SDL_Surface* m_surface = nullptr;
};

} // namespace quern::sdl
