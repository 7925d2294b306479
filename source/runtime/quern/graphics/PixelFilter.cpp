#include "quern/graphics/PixelFilter.h"

#include "quern/graphics/PixelFormatError.h"

#include <string>

namespace quern::graphics {

bool PixelFilter::setupPixelFormat(PixelFormat& format)
{
    if (!format.isValid()) {
        const std::string message = "Invalid pixel format: " + format.toString();
        QUERN_RAISE(Exception, message.c_str());
    }
    if (format.hasCompressedChannel())
        QUERN_RAISE_UNSUPPORTED_PIXEL_FORMAT(format);
    return true;
}

} // namespace quern::graphics
