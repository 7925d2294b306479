#pragma once
// The failure of every operation that meets a pixel format it cannot handle:
// an engine exception raised at the caller's site, naming the format.
//
//   QUERN_RAISE_UNSUPPORTED_PIXEL_FORMAT(format);

#include "quern/graphics/PixelFormat.h"
#include "quern/language/Exception.h"

#include <string>

namespace quern::graphics {

inline std::string unsupportedPixelFormatMessage(const PixelFormat& format)
{
    return "Pixel format not supported by this operation: " + format.toString();
}

} // namespace quern::graphics

#define QUERN_RAISE_UNSUPPORTED_PIXEL_FORMAT(format) \
    QUERN_RAISE(::quern::Exception, ::quern::graphics::unsupportedPixelFormatMessage(format).c_str())
