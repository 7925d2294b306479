#pragma once
// Engine pixel formats and GL texture formats, both ways: the GL triple that
// stores an engine PixelFormat (decided by the channel structure, block
// formats by identity), the engine format of what the driver allocated, and
// the device check that adjusts a triple to what the context supports.

#include "quern/Types.h"
#include "quern/graphics/GraphicsBackEnd.h"
#include "quern/graphics/PixelFormat.h"

namespace quern::opengl {

struct GLFormatTriple {
    u32 internalFormat = 0;
    u32 format = 0; // transfer format
    u32 type = 0; // transfer type

    bool isMapped() const { return internalFormat != 0 || format != 0 || type != 0; }
    bool operator==(const GLFormatTriple&) const = default;
};

// All zero when GL has no format for it.
GLFormatTriple toGLFormat(const graphics::PixelFormat& format);
// Channels listed from bit 0, byte order 1 (0 for block formats); the empty
// format when there is no mapping.
graphics::PixelFormat fromGLFormat(const GLFormatTriple& triple);

// The sRGB form of a linear internal format and back; the format itself
// when it has no partner.
u32 sRGBPartner(u32 linearFormat);
u32 linearPartner(u32 sRGBFormat);
bool isS3TCFormat(u32 internalFormat);

// Adjusts the triple to the context: float and half-float support, sRGB
// support, and the internal format the driver really picks (asked with a 1x1
// probe texture). Only logs; an unsupported float format becomes unmapped.
void checkDeviceFormat(GLFormatTriple& triple, const graphics::DisplayCaps& caps);

} // namespace quern::opengl
