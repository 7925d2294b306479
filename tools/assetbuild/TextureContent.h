#pragma once
// Texture assets ("texture" type word) are DDS files, stored as they are, or
// plain-text PPM images and glyph sheets, written as uncompressed 32-bit DDS
// files. The tool
// refuses a file the engine's reader would refuse, so a bad texture is found
// when the content is built rather than when a level loads.

#include "AssetManifest.h"
#include "PlainPPM.h"

#include <string>
#include <vector>

namespace quern::assetbuild {

// One-level DDS file of 32-bit pixels, bytes in the order R, G, B, A.
std::vector<u8> writeRGBA32DDS(const RGBAImage& image);

// True for assets of other types. For a texture: a PPM source or a glyph
// sheet (whose font is found below `sourceDirectory`) becomes a DDS file;
// false, with a message naming the manifest line and what is wrong, for a
// source the reader refuses or bytes that are no DDS file the engine reads.
bool convertTextureContent(
    const ManifestAsset& asset, const std::string& sourceDirectory, std::vector<u8>& bytes, std::string& error);

} // namespace quern::assetbuild
