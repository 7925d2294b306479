#include "GraphicsContent.h"

#include "FontBaker.h"
#include "GlyphSheet.h"
#include "SourceText.h"

#include "quern/assets/ResourceCache.h"
#include "quern/graphics/serialization/FontSerialization.h"
#include "quern/graphics/serialization/PixelBufferSerialization.h"
#include "quern/serialize/BinaryPODToken.h"
#include "quern/serialize/PODToken.h"
#include "quern/serialize/TextPODToken.h"
#include "quern/strings/Hashes.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace quern::assetbuild {
namespace {

void putLittleEndian(u8* out, u64 value, u32 bytes)
{
    for (u32 i = 0; i < bytes; ++i)
        out[i] = static_cast<u8>(value >> (8 * i));
}

void putU32(std::vector<u8>& out, u32 value)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<u8>(value >> (i * 8)));
}

void putU64(std::vector<u8>& out, u64 value)
{
    putU32(out, static_cast<u32>(value));
    putU32(out, static_cast<u32>(value >> 32));
}

std::string where(const ManifestAsset& asset, u32 line) { return asset.name + " line " + std::to_string(line) + ": "; }

struct FontSource {
    std::string file;
    std::string name;
    bool text = false;
    bool embed = false; // the TrueType file travels with the font
    fontbake::PackedLayout layout;
};

bool parseFontSource(const ManifestAsset& asset, const std::vector<u8>& bytes, FontSource& source, std::string& error)
{
    source.name = asset.name;
    for (const SourceLine& line : splitLines(bytes)) {
        const std::vector<std::string>& w = line.words;
        u32 a = 0, b = 0;
        bool good = false;
        if (w[0] == "file" && w.size() == 2) {
            source.file = w[1];
            good = true;
        } else if (w[0] == "name" && w.size() == 2) {
            source.name = w[1];
            good = true;
        } else if (w[0] == "size" && w.size() == 2 && parseNumber(w[1], 1024, a) && a > 0) {
            source.layout.pixelHeight = static_cast<f32>(a);
            good = true;
        } else if (w[0] == "range" && w.size() == 3 && parseNumber(w[1], 0x10FFFF, a) && parseNumber(w[2], 0x10FFFF, b)
            && a <= b) {
            source.layout.firstChar = a;
            source.layout.lastChar = b;
            good = true;
        } else if (w[0] == "page" && w.size() == 3 && parseNumber(w[1], 4096, a) && parseNumber(w[2], 4096, b) && a > 0
            && b > 0) {
            source.layout.pageWidth = a;
            source.layout.pageHeight = b;
            good = true;
        } else if (w[0] == "form" && w.size() == 2 && (w[1] == "binary" || w[1] == "text")) {
            source.text = w[1] == "text";
            good = true;
        } else if (w[0] == "embed" && w.size() == 1) {
            source.embed = true;
            good = true;
        }
        if (!good) {
            error = where(asset, line.number) + "expected file, name, size, range, page, form or embed with its values";
            return false;
        }
    }
    if (source.file.empty()) {
        error = asset.name + ": a font source needs a file line";
        return false;
    }
    return true;
}

FontDocument fontDocument(const FontSource& source, const fontbake::BakedFont& baked)
{
    FontDocument font;
    font.name = source.name;
    font.firstChar = source.layout.firstChar;
    font.lastChar = source.layout.lastChar;
    const i32 size = static_cast<i32>(std::lround(source.layout.pixelHeight));
    font.defaultSize = size;
    font.ascent = baked.ascent;
    font.descent = baked.descent;
    font.lineGap = baked.lineGap;
    const f32 pageWidth = static_cast<f32>(baked.pageWidth);
    const f32 pageHeight = static_cast<f32>(baked.pageHeight);
    for (const fontbake::BakedGlyph& g : baked.glyphs) {
        const i32 glyphNumber = static_cast<i32>(font.glyphs.size());
        font.glyphs.push_back(
            graphics::Glyph { static_cast<f32>(g.x0) / pageWidth, 1.0f - static_cast<f32>(g.y0) / pageHeight,
                static_cast<f32>(g.x1) / pageWidth, 1.0f - static_cast<f32>(g.y1) / pageHeight,
                static_cast<u32>(g.x1 - g.x0), static_cast<u32>(g.y1 - g.y0), g.offsetX, g.offsetY, g.advance });
        font.index.push_back(graphics::GlyphIndex { static_cast<i32>(g.codePoint), size, glyphNumber });
    }
    font.page.width = baked.pageWidth;
    font.page.height = baked.pageHeight;
    font.page.pixels.resize(baked.coverage.size() * 4);
    for (size_t i = 0; i < baked.coverage.size(); ++i) {
        font.page.pixels[i * 4 + 0] = 255;
        font.page.pixels[i * 4 + 1] = 255;
        font.page.pixels[i * 4 + 2] = 255;
        font.page.pixels[i * 4 + 3] = baked.coverage[i];
    }
    return font;
}

bool convertFont(
    const ManifestAsset& asset, const std::string& sourceDirectory, std::vector<u8>& bytes, std::string& error)
{
    FontSource source;
    if (!parseFontSource(asset, bytes, source, error))
        return false;
    const std::filesystem::path file = sourcePath(sourceDirectory, source.file);
    std::vector<u8> fontFile;
    fontbake::BakedFont baked;
    if (!fontbake::readFontFile(file.string(), fontFile, error)
        || !fontbake::bakePacked(fontFile, source.layout, baked, error)) {
        error = asset.name + ": " + file.string() + ": " + error;
        return false;
    }
    std::ostringstream out;
    serialize::BinaryPODToken binary;
    serialize::TextPODToken text;
    serialize::PODToken& token = source.text ? static_cast<serialize::PODToken&>(text) : binary;
    FontDocument document = fontDocument(source, baked);
    if (source.embed)
        document.extra = fontFile;
    if (!writeFontFile(out, token, document, error)) {
        error = asset.name + ": " + error;
        return false;
    }
    const std::string written = out.str();
    bytes.assign(written.begin(), written.end());
    return true;
}

// The regions of a glyph sheet's cells, read from the sheet's source.
bool addGlyphRegions(const ManifestAsset& asset, u32 line, const std::string& sourceDirectory,
    const std::string& texture, std::vector<AtlasRegionSource>& regions, std::string& error)
{
    const std::filesystem::path path = std::filesystem::path(sourceDirectory) / texture;
    std::ifstream in(path, std::ios::binary);
    std::vector<u8> bytes;
    if (in && !std::filesystem::is_directory(path))
        bytes.assign(std::istreambuf_iterator<char>(in), {});
    GlyphSheet sheet;
    if (!looksLikeGlyphSheet(bytes)) {
        error = where(asset, line) + "the texture " + path.string() + " is no glyph sheet";
        return false;
    }
    if (!readGlyphSheet(bytes, sheet, error)) {
        error = where(asset, line) + texture + ": " + error;
        return false;
    }
    for (const GlyphCell& cell : sheet.cells) {
        AtlasRegionSource region;
        region.name = cell.name;
        region.x = cell.x;
        region.y = cell.y;
        region.width = sheet.cellWidth;
        region.height = sheet.cellHeight;
        regions.push_back(region);
    }
    return true;
}

bool convertAtlas(const ManifestAsset& asset, const std::string& sourceDirectory,
    const std::map<std::string, u64>& assetIds, std::vector<u8>& bytes, std::string& error)
{
    std::string texture;
    std::vector<AtlasRegionSource> regions;
    std::map<std::string, u32> regionLines;
    for (const SourceLine& line : splitLines(bytes)) {
        const std::vector<std::string>& w = line.words;
        AtlasRegionSource region;
        if (w[0] == "texture" && w.size() == 2 && texture.empty()) {
            texture = w[1];
        } else if (w[0] == "glyphs" && w.size() == 2 && texture.empty()) {
            texture = w[1];
            if (!addGlyphRegions(asset, line.number, sourceDirectory, texture, regions, error))
                return false;
        } else if (w[0] == "region" && w.size() == 6 && parseNumber(w[2], 0xFFFFFFFFu, region.x)
            && parseNumber(w[3], 0xFFFFFFFFu, region.y) && parseNumber(w[4], 0xFFFFFFFFu, region.width)
            && parseNumber(w[5], 0xFFFFFFFFu, region.height)) {
            region.name = w[1];
            regions.push_back(region);
        } else {
            error = where(asset, line.number)
                + "expected one texture or glyphs line, or region <name> <x> <y> <width> <height>";
            return false;
        }
        // The atlas finds regions by name: a second region of a name could
        // never be found.
        for (size_t i = regionLines.size(); i < regions.size(); ++i)
            if (!regionLines.emplace(regions[i].name, line.number).second) {
                error = where(asset, line.number) + "region " + regions[i].name + " is named twice (first on line "
                    + std::to_string(regionLines[regions[i].name]) + ")";
                return false;
            }
    }
    if (texture.empty()) {
        error = asset.name + ": a texture atlas needs a texture or glyphs line";
        return false;
    }
    // The atlas finds its texture in the cache when it links, so the
    // texture must load first.
    if (std::find(asset.dependencies.begin(), asset.dependencies.end(), texture) == asset.dependencies.end()
        || !assetIds.count(texture)) {
        error = asset.name + ": its texture " + texture + " must be an asset it lists as a dependency";
        return false;
    }
    bytes = buildAtlasFile(assetIds.at(texture), regions);
    return true;
}

} // namespace

bool writeFontChunk(std::ostream& out, serialize::PODToken& token, const FontDocument& font, std::string& error)
{
    if (font.name.size() > graphics::kMaxFontNameBytes) {
        error = "a font name has at most 255 bytes";
        return false;
    }
    const u32 start = token.beginWriteChunk(out, graphics::kFontTypeId);
    token.writeString(out, font.name.c_str(), "name");
    token.writePOD(out, &font.firstChar, 1, &serialize::kU32Descriptor, "firstChar");
    token.writePOD(out, &font.lastChar, 1, &serialize::kU32Descriptor, "lastChar");
    token.writePOD(out, &font.defaultSize, 1, &graphics::kI32Descriptor, "defaultSize");
    token.writePOD(out, &font.ascent, 1, &graphics::kI32Descriptor, "ascent");
    token.writePOD(out, &font.descent, 1, &graphics::kI32Descriptor, "descent");
    token.writePOD(out, &font.lineGap, 1, &graphics::kI32Descriptor, "lineGap");
    const u32 glyphCount = static_cast<u32>(font.glyphs.size());
    token.writePOD(out, &glyphCount, 1, &serialize::kU32Descriptor, "glyphCount");
    token.writePOD(out, font.glyphs.data(), glyphCount, &graphics::kGlyphDescriptor, "glyphs");
    const u32 indexCount = static_cast<u32>(font.index.size());
    token.writePOD(out, &indexCount, 1, &serialize::kU32Descriptor, "indexCount");
    token.writePOD(out, font.index.data(), indexCount, &graphics::kGlyphIndexDescriptor, "index");
    const u32 extraCount = static_cast<u32>(font.extra.size());
    token.writePOD(out, &extraCount, 1, &serialize::kU32Descriptor, "extraCount");
    token.writePOD(out, font.extra.data(), extraCount, &serialize::kU8Descriptor, "extra");
    token.endWriteChunk(out, start);
    return true;
}

void writeFontPageChunk(std::ostream& out, serialize::PODToken& token, const FontPage& page)
{
    const u32 pageStart = token.beginWriteChunk(out, assets::ResourceType::Texture);
    u8 header[graphics::kPixelBufferHeaderBytes] = {};
    header[0] = page.type;
    putLittleEndian(header + 1, page.width, 4);
    putLittleEndian(header + 5, page.height, 4);
    putLittleEndian(header + 9, page.depth, 4);
    header[13] = page.formatCode;
    header[14] = page.mipCount;
    putLittleEndian(header + 15, page.pixels.size(), 8);
    token.writePOD(out, header, 1, &graphics::kPixelBufferHeaderDescriptor, "format");
    token.writePOD(out, page.pixels.data(), page.pixels.size(), &serialize::kU8Descriptor, "pixels");
    token.endWriteChunk(out, pageStart);
}

bool writeFontFile(std::ostream& out, serialize::PODToken& token, const FontDocument& font, std::string& error)
{
    if (!writeFontChunk(out, token, font, error))
        return false;
    writeFontPageChunk(out, token, font.page);
    return true;
}

std::vector<u8> buildAtlasFile(u64 textureAssetId, const std::vector<AtlasRegionSource>& regions)
{
    std::vector<u8> out(8, 0);
    putU64(out, textureAssetId);
    if (regions.empty())
        return out;
    const size_t blockStart = out.size();
    putU32(out, static_cast<u32>(regions.size()));
    putU32(out, 0);
    u32 poolOffset = 0;
    for (const AtlasRegionSource& region : regions) {
        putU32(out, poolOffset);
        putU32(out, static_cast<u32>(region.name.size()));
        for (u32 value : { region.x, region.y, region.width, region.height })
            putU32(out, value);
        for (u32 value : region.reserved)
            putU32(out, value);
        poolOffset += static_cast<u32>(region.name.size());
    }
    while ((out.size() - blockStart) % 8 != 0)
        out.push_back(0);
    for (const AtlasRegionSource& region : regions)
        putU64(out, strings::murmurHash64A(region.name.data(), region.name.size(), strings::kInternerSeed));
    for (const AtlasRegionSource& region : regions)
        out.insert(out.end(), region.name.begin(), region.name.end());
    return out;
}

bool convertGraphicsContent(const ManifestAsset& asset, const std::string& sourceDirectory,
    const std::map<std::string, u64>& assetIds, std::vector<u8>& bytes, std::string& error)
{
    if (asset.type == "font")
        return convertFont(asset, sourceDirectory, bytes, error);
    if (asset.type == "textureatlas")
        return convertAtlas(asset, sourceDirectory, assetIds, bytes, error);
    return true;
}

} // namespace quern::assetbuild
