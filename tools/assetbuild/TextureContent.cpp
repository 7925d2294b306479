#include "TextureContent.h"

#include "GlyphSheet.h"

#include "quern/LittleEndian.h"

#include "quern/graphics/serialization/ImportDDS.h"
#include "quern/strings/PackedName.h"

#include <algorithm>

namespace quern::assetbuild {
namespace {

// Header flags: caps, height, width, pitch and pixel format are given.
constexpr u32 kHeaderFlags = 0x100f;
constexpr u32 kCapsTexture = 0x1000;

void putU32(std::vector<u8>& out, u64 offset, u32 value) { writeLittleEndian32(out.data() + offset, value); }

} // namespace

std::vector<u8> writeRGBA32DDS(const RGBAImage& image)
{
    using namespace graphics;
    std::vector<u8> file(kDDSFileHeaderBytes + image.pixels.size(), 0);
    putU32(file, 0, kDDSMagic);
    putU32(file, 4, kDDSHeaderSize);
    putU32(file, 8, kHeaderFlags);
    putU32(file, 12, image.height);
    putU32(file, 16, image.width);
    putU32(file, 20, image.width * 4); // the pitch
    putU32(file, 76, kDDSPixelFormatSize);
    putU32(file, 80, DDSPixelFlags::RGB | DDSPixelFlags::AlphaPixels);
    putU32(file, 88, 32);
    putU32(file, 92, 0x000000ff);
    putU32(file, 96, 0x0000ff00);
    putU32(file, 100, 0x00ff0000);
    putU32(file, 104, 0xff000000);
    putU32(file, 108, kCapsTexture);
    std::copy(image.pixels.begin(), image.pixels.end(), file.begin() + kDDSFileHeaderBytes);
    return file;
}

bool convertTextureContent(
    const ManifestAsset& asset, const std::string& sourceDirectory, std::vector<u8>& bytes, std::string& error)
{
    // Type words name the same type in either case.
    static const u64 kTextureType = packName("texture");
    if (packName(asset.type.c_str()) != kTextureType)
        return true;
    const std::string where = "line " + std::to_string(asset.line) + ": texture " + asset.name;
    std::string reason;
    const bool ppm = looksLikePPM(bytes);
    if (ppm || looksLikeGlyphSheet(bytes)) {
        RGBAImage image;
        if (!(ppm ? readPlainPPM(bytes, image, reason) : buildGlyphSheet(bytes, sourceDirectory, image, reason))) {
            error = where + ": " + reason;
            return false;
        }
        bytes = writeRGBA32DDS(image);
    }
    if (graphics::checkDDSFile(bytes.data(), bytes.size(), reason))
        return true;
    error = where + " is not a readable DDS file: " + reason;
    return false;
}

} // namespace quern::assetbuild
