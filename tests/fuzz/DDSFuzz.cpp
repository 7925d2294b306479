// The texture readers on arbitrary bytes: the DDS reader (with a pixel limit
// chosen by the first byte) and the pixel-buffer chunk through the binary
// token. The content tool's check must accept exactly the files the reader
// reads, so a disagreement is reported as a crash.

#include "FuzzSupport.h"

#include "quern/graphics/NullPixelBuffer.h"
#include "quern/graphics/Texture.h"
#include "quern/graphics/serialization/ImportDDS.h"
#include "quern/graphics/serialization/PixelBufferSerialization.h"
#include "quern/io/StringSource.h"
#include "quern/serialize/BinaryPODToken.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const quern::u8* data, std::size_t size)
{
    using namespace quern;
    fuzz::initialize();
    if (size == 0)
        return 0;
    constexpr u32 kLimits[] = { 0, 1, 16, 16384 };
    const u32 maxPixels = kLimits[data[0] % 4];
    const u8* file = data + 1;
    const u64 fileSize = size - 1;

    std::string reason;
    const bool accepted = graphics::checkDDSFile(file, fileSize, reason);
    bool read = false;
    const bool finished = fuzz::runGuarded([&] {
        Ref image(new graphics::NullPixelBuffer);
        StringSource source(file, fileSize);
        graphics::TextureExtension extension;
        read = graphics::readDDS(source, *image.get<graphics::PixelBuffer>(), extension, maxPixels);
    });
    if (accepted != (finished && read))
        __builtin_trap();

    fuzz::runGuarded([&] {
        Ref image(new graphics::NullPixelBuffer);
        StringSource source(file, fileSize);
        serialize::BinaryPODToken token;
        graphics::readPixelBuffer(source, token, *image.get<graphics::PixelBuffer>());
    });
    return 0;
}
