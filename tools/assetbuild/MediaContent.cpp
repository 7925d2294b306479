#include "MediaContent.h"

#include "quern/libvpx/IVFFile.h"
#include "quern/oggvorbis/VorbisFile.h"
#include "quern/strings/PackedName.h"

namespace quern::assetbuild {
namespace {

bool refuse(const ManifestAsset& asset, const char* what, const std::string& reason, std::string& error)
{
    error = "line " + std::to_string(asset.line) + ": " + what + " " + asset.name + " " + reason;
    return false;
}

} // namespace

bool checkMediaContent(const ManifestAsset& asset, const std::vector<u8>& bytes, std::string& error)
{
    // Type words name the same type in either case.
    static const u64 kVideoType = packName("video");
    static const u64 kSoundType = packName("audiostream");
    const u64 type = packName(asset.type.c_str());
    std::string reason;
    if (type == kVideoType && !libvpx::checkIVFFile(bytes.data(), bytes.size(), reason))
        return refuse(asset, "video", "is not a VP8 IVF file the engine plays: " + reason, error);
    if (type == kSoundType && !oggvorbis::checkOggVorbisFile(bytes.data(), bytes.size(), reason))
        return refuse(asset, "sound", "is not an Ogg Vorbis file the engine plays: " + reason, error);
    return true;
}

} // namespace quern::assetbuild
