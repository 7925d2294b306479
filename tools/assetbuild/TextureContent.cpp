#include "TextureContent.h"

#include "quern/graphics/serialization/ImportDDS.h"
#include "quern/strings/PackedName.h"

namespace quern::assetbuild {

bool checkTextureContent(const ManifestAsset& asset, const std::vector<u8>& bytes, std::string& error)
{
    // Type words name the same type in either case.
    static const u64 kTextureType = packName("texture");
    if (packName(asset.type.c_str()) != kTextureType)
        return true;
    std::string reason;
    if (graphics::checkDDSFile(bytes.data(), bytes.size(), reason))
        return true;
    error = "line " + std::to_string(asset.line) + ": texture " + asset.name + " is not a readable DDS file: " + reason;
    return false;
}

} // namespace quern::assetbuild
