// The content tool's plain-PPM reader on arbitrary bytes: an image it accepts
// must become a DDS file that the engine's reader takes, with the pixels the
// reader produced.

#include "FuzzSupport.h"

#include "TextureContent.h"

#include "quern/graphics/NullPixelBuffer.h"
#include "quern/graphics/PixelBufferFormat.h"
#include "quern/graphics/Texture.h"
#include "quern/graphics/serialization/ImportDDS.h"
#include "quern/io/StringSource.h"

#include <cstring>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const quern::u8* data, std::size_t size)
{
    using namespace quern;
    fuzz::initialize();
    assetbuild::RGBAImage image;
    std::string error;
    if (!assetbuild::readPlainPPM(std::vector<u8>(data, data + size), image, error))
        return 0;
    if (image.pixels.size() != u64 { image.width } * image.height * 4)
        __builtin_trap();
    const std::vector<u8> file = assetbuild::writeRGBA32DDS(image);
    // An accepted image that the engine refuses or misreads is a fault of the tool.
    bool read = false;
    const bool finished = fuzz::runGuarded([&] {
        Ref buffer(new graphics::NullPixelBuffer);
        graphics::PixelBuffer& pixels = *buffer.get<graphics::PixelBuffer>();
        StringSource source(file.data(), file.size());
        graphics::TextureExtension extension;
        read = graphics::readDDS(source, pixels, extension, 0);
        if (read) {
            const u8* bytes = pixels.lockPixels();
            const bool same = pixels.format().dataSize == image.pixels.size()
                && std::memcmp(bytes, image.pixels.data(), image.pixels.size()) == 0;
            pixels.unlockPixels();
            if (!same)
                __builtin_trap();
        }
    });
    if (!finished || !read)
        __builtin_trap();
    return 0;
}
