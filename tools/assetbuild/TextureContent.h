#pragma once
// Texture assets ("texture" type word) are DDS files, stored as they are. The
// tool refuses a file the engine's reader would refuse, so a bad texture is
// found when the content is built rather than when a level loads.

#include "AssetManifest.h"

#include <string>
#include <vector>

namespace quern::assetbuild {

// True for assets of other types. For a texture: false, with a message naming
// the line and what is wrong, unless the bytes are a DDS file the engine reads.
bool checkTextureContent(const ManifestAsset& asset, const std::vector<u8>& bytes, std::string& error);

} // namespace quern::assetbuild
