#pragma once
// Multiplies (or divides) every colour by its alpha: in linear light through
// the sRGB transfer curves by default, or on the stored bytes in integer mode.
// Images without alpha are left alone.

#include "quern/graphics/PixelFilter.h"

namespace quern::graphics::filters {

class PremultiplyAlphaFilter : public PixelFilter {
public:
    PremultiplyAlphaFilter() = default;
    PremultiplyAlphaFilter(bool integerMode, bool divide) : integerMode(integerMode), divide(divide) {}

    bool setupPixelFormat(PixelFormat& format) override;
    void filterImpl(const void* source, void* destination, const PixelBufferFormat& format) override;

    // The new colour byte for colour byte c with alpha a under the given mode.
    static u8 applyToColour(u8 colour, u8 alpha, bool integerMode, bool divide);

    // Scale the stored colour bytes directly instead of in linear light.
    bool integerMode = false;
    // Undo premultiplication instead of applying it.
    bool divide = false;
};

} // namespace quern::graphics::filters
