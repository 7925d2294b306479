// The content tool's glyph sheets on arbitrary text: an accepted sheet places
// every cell inside the sheet, once per name, and draws with a real font
// without writing outside its image.

#include "FuzzSupport.h"

#include "FontBaker.h"
#include "GlyphSheet.h"

#include <set>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const quern::u8* data, std::size_t size)
{
    using namespace quern;
    fuzz::initialize();
    assetbuild::GlyphSheet sheet;
    std::string error;
    if (!assetbuild::readGlyphSheet(std::vector<u8>(data, data + size), sheet, error))
        return 0;
    const u64 width = u64 { sheet.columns } * sheet.cellWidth, height = u64 { sheet.rows } * sheet.cellHeight;
    if (sheet.cells.empty() || width > assetbuild::kGlyphSheetMaxSide || height > assetbuild::kGlyphSheetMaxSide)
        __builtin_trap();
    std::set<std::string> names;
    for (const assetbuild::GlyphCell& cell : sheet.cells)
        if (!names.insert(cell.name).second || cell.x + sheet.cellWidth > width || cell.y + sheet.cellHeight > height)
            __builtin_trap();
    // The font named by the sheet is the tool's business; a system font
    // stands in for it. Large sheets are read but not drawn, to keep runs fast.
    static const std::vector<u8> font = [] {
        std::vector<u8> bytes;
        std::string ignored;
        fontbake::readFontFile("/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf", bytes, ignored);
        return bytes;
    }();
    if (font.empty() || width * height > (1u << 20))
        return 0;
    assetbuild::RGBAImage image;
    if (assetbuild::drawGlyphSheet(sheet, font, image, error)
        && (image.width != width || image.height != height || image.pixels.size() != width * height * 4))
        __builtin_trap();
    return 0;
}
