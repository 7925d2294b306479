#pragma once
// Videos ("video" type word, IVF files of VP8 frames) and sounds
// ("audiostream", Ogg Vorbis files) are stored as they are. The tool reads
// each one the way the engine will and refuses what the engine would refuse,
// so a broken file is found when the content is built.

#include "AssetManifest.h"

#include <string>
#include <vector>

namespace quern::assetbuild {

// True for assets of other types. For a video or a sound: false, with a
// message naming the line and what is wrong, unless the engine reads it.
bool checkMediaContent(const ManifestAsset& asset, const std::vector<u8>& bytes, std::string& error);

} // namespace quern::assetbuild
