#pragma once
// Bitmap fonts and texture atlases for the content tool.
//
// A "font" asset comes from a text file of keyword lines ('#' starts a comment):
//
//   file <TrueType file, relative to the source folder or absolute>
//   size <pixel height>            (default 16)
//   range <first> <last>           (code points, default 32 126)
//   page <width> <height>          (default 256 256)
//   name <font name>               (default: the asset's name)
//   form binary|text               (the POD-token form, default binary)
//
// The glyphs are rasterised into a white page whose alpha is their coverage
// and written with their metrics as the engine's font file.
//
// A "textureatlas" asset comes from a text file naming its texture (an asset
// the atlas lists as a dependency) and its regions:
//
//   texture <texture asset name>
//   glyphs <glyph-sheet texture asset name>   (in place of texture: its cells as regions)
//   region <name> <x> <y> <width> <height>

#include "AssetManifest.h"

#include "quern/graphics/Font.h"

#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace quern::serialize {
class PODToken;
}

namespace quern::assetbuild {

// The glyph page as the pixel-buffer chunk stores it.
struct FontPage {
    u8 type = 2; // 2D
    u32 width = 0, height = 0, depth = 1;
    u8 formatCode = 4; // A8B8G8R8
    u8 mipCount = 0;
    std::vector<u8> pixels;
};

struct FontDocument {
    std::string name;
    u32 firstChar = 0, lastChar = 0;
    i32 defaultSize = -1, ascent = 0, descent = 0, lineGap = 0;
    std::vector<graphics::Glyph> glyphs;
    std::vector<graphics::GlyphIndex> index;
    std::vector<u8> extra;
    FontPage page;
};

struct AtlasRegionSource {
    std::string name;
    u32 x = 0, y = 0, width = 0, height = 0;
    u32 reserved[5] = {};
};

// The Font chunk and the page's pixel-buffer chunk in the token's form. False
// with a message for a name over 255 bytes.
bool writeFontFile(std::ostream& out, serialize::PODToken& token, const FontDocument& font, std::string& error);
bool writeFontChunk(std::ostream& out, serialize::PODToken& token, const FontDocument& font, std::string& error);
void writeFontPageChunk(std::ostream& out, serialize::PODToken& token, const FontPage& page);

// The atlas file: 8 zero bytes, the texture's asset id, the region block.
std::vector<u8> buildAtlasFile(u64 textureAssetId, const std::vector<AtlasRegionSource>& regions);

// Turns the source bytes of a "font" or "textureatlas" asset into what the
// engine reads; other types are left as they are. False with a message naming
// the line for a source the tool cannot turn into an asset.
bool convertGraphicsContent(const ManifestAsset& asset, const std::string& sourceDirectory,
    const std::map<std::string, u64>& assetIds, std::vector<u8>& bytes, std::string& error);

} // namespace quern::assetbuild
