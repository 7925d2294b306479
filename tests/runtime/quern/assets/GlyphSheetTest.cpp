// Glyph sheets: texture sources the content tool draws (a grid of shapes with
// labels) and writes as uncompressed DDS files.

#include "GlyphSheet.h"
#include "DepotTestContent.h"

#include "quern/graphics/serialization/ImportDDS.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

namespace quern::test {
namespace {

constexpr const char* kBoldFont = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";

std::string sheetHeader(const std::string& cell = "32 24", u32 size = 12)
{
    return std::string("glyphsheet\nfont ") + kBoldFont + "\nsize " + std::to_string(size) + "\ncell " + cell + "\n";
}

struct Image {
    u32 width = 0, height = 0;
    std::vector<u8> pixels;

    std::array<u8, 4> at(u32 x, u32 y) const
    {
        const u8* p = pixels.data() + (u64 { y } * width + x) * 4;
        return { p[0], p[1], p[2], p[3] };
    }
    u8 alpha(u32 x, u32 y) const { return at(x, y)[3]; }
};

// Builds the sheet as the only asset of a file-system depot and reads the
// texture the tool wrote.
Image builtSheet(const std::string& source)
{
    DepotContent content;
    content.build({ { "sheet.glyphs", source, "", "texture" } }, "files");
    assets::FileSystemDepot depot(content.out().c_str());
    const u32 handle = depot.open(assetId("sheet.glyphs"));
    EXPECT_NE(handle, 0u);
    std::vector<u8> file(depot.size(handle));
    depot.read(handle, file.size(), file.data());
    depot.close(handle);
    std::string reason;
    EXPECT_TRUE(graphics::checkDDSFile(file.data(), file.size(), reason)) << reason;
    u8 bytes[graphics::kDDSFileHeaderBytes] = {};
    std::copy(file.begin(), file.begin() + std::min<u64>(file.size(), sizeof bytes), bytes);
    const graphics::DDSHeader header = graphics::parseDDSHeader(bytes);
    Image image { header.width, header.height,
        std::vector<u8>(file.begin() + graphics::kDDSFileHeaderBytes, file.end()) };
    EXPECT_EQ(image.pixels.size(), u64 { image.width } * image.height * 4);
    return image;
}

TEST(GlyphSheet, ShapesFillTheirCellsOnANearSquareGrid)
{
    // Cells of 32 x 24 in two columns; a shape leaves its margin and the
    // corners a shape does not reach transparent, in the shape's own colour.
    const Image image = builtSheet(sheetHeader()
        + "glyph c circle ff0000\n"
          "glyph k key 00ff00\n"
          "glyph p pill 0000ff\n"
          "glyph d diamond 808080   # no label\n");
    EXPECT_EQ(image.width, 64u);
    EXPECT_EQ(image.height, 48u);
    const struct {
        const char* shape;
        u32 cellX, cellY;
        std::array<u8, 3> colour;
        u8 rounded, side; // alpha at (3, 3) and (3, 12) of the cell
    } cells[] = {
        { "circle", 0, 0, { 255, 0, 0 }, 0, 0 },
        { "key", 32, 0, { 0, 255, 0 }, 255, 255 },
        { "pill", 0, 24, { 0, 0, 255 }, 0, 255 },
        { "diamond", 32, 24, { 128, 128, 128 }, 0, 255 },
    };
    for (const auto& c : cells) {
        SCOPED_TRACE(c.shape);
        const std::array<u8, 4> centre = image.at(c.cellX + 16, c.cellY + 12);
        EXPECT_EQ(centre, (std::array<u8, 4> { c.colour[0], c.colour[1], c.colour[2], 255 }));
        for (auto [x, y] : { std::pair { 0u, 0u }, { 31u, 0u }, { 0u, 23u }, { 31u, 23u } }) {
            const std::array<u8, 4> corner = image.at(c.cellX + x, c.cellY + y);
            EXPECT_EQ(corner, (std::array<u8, 4> { c.colour[0], c.colour[1], c.colour[2], 0 })) << x << "," << y;
        }
        EXPECT_EQ(image.alpha(c.cellX + 3, c.cellY + 3), c.rounded);
        EXPECT_EQ(image.alpha(c.cellX + 3, c.cellY + 12), c.side);
    }
    // The circle's edge is anti-aliased: pixels it crosses are partly covered.
    u32 partial = 0;
    for (u32 y = 0; y < 24; ++y)
        for (u32 x = 0; x < 32; ++x)
            partial += image.alpha(x, y) > 0 && image.alpha(x, y) < 255;
    EXPECT_GT(partial, 20u);
}

TEST(GlyphSheet, LabelsAreCentredInTheColourThatStandsOut)
{
    // A full block (three bytes of UTF-8) covers the middle of its cell.
    const Image image = builtSheet(sheetHeader("24 24", 10)
        + "columns 3\n"
          "glyph dark circle 202040 \xE2\x96\x88\n"
          "glyph light key f0f0a0 \xE2\x96\x88\n"
          "glyph plain circle f0f0a0\n");
    EXPECT_EQ(image.width, 72u);
    EXPECT_EQ(image.height, 24u);
    EXPECT_EQ(image.at(12, 12), (std::array<u8, 4> { 255, 255, 255, 255 }));
    EXPECT_EQ(image.at(24 + 12, 12), (std::array<u8, 4> { 20, 20, 20, 255 }));
    EXPECT_EQ(image.at(48 + 12, 12), (std::array<u8, 4> { 240, 240, 160, 255 }));
    // The block is as far from the left edge of its cell as from the right.
    u32 left = 0, right = 0;
    while (image.at(left, 12)[0] != 255)
        ++left;
    while (image.at(23 - right, 12)[0] != 255)
        ++right;
    EXPECT_LE(left > right ? left - right : right - left, 1u);
}

TEST(GlyphSheet, SourcesTheToolCannotDrawStopTheBuildNamingTheirLine)
{
    const std::string head = sheetHeader("16 16", 10);
    std::string seventeen;
    for (int i = 0; i < 17; ++i)
        seventeen += "glyph g" + std::to_string(i) + " circle 000000\n";
    const struct {
        std::string source;
        std::string message;
    } cases[] = {
        { "glyphsheet 2\n", "glyph sheet line 1: a glyph sheet starts with the line glyphsheet" },
        { head + "colour 1\n", "glyph sheet line 5: unknown keyword \"colour\" (font, size, cell, columns or glyph)" },
        { head + "size 11\n", "glyph sheet line 5: size is given twice (first on line 3)" },
        { sheetHeader("16", 10), "glyph sheet line 4: cell takes a width and a height" },
        { sheetHeader("3 16", 10), "glyph sheet line 4: \"3\" is not a number between 4 and 1024" },
        { sheetHeader("16 1025", 10), "glyph sheet line 4: \"1025\" is not a number between 4 and 1024" },
        { sheetHeader("16 16", 0), "glyph sheet line 3: \"0\" is not a number between 1 and 1024" },
        { head + "columns x\n", "glyph sheet line 5: \"x\" is not a number between 1 and 4096" },
        { head + "glyph a\n", "glyph sheet line 5: glyph takes a name, a shape and a colour, then its label" },
        { head + "glyph a star ffffff\n", "glyph sheet line 5: unknown shape \"star\" (circle, key, pill or diamond)" },
        { head + "glyph a key fff\n", "glyph sheet line 5: \"fff\" is not a colour of six hexadecimal digits" },
        { head + "glyph a key 00ff0g\n", "glyph sheet line 5: \"00ff0g\" is not a colour of six hexadecimal digits" },
        { head + "glyph a key 000000 \xFF\n", "glyph sheet line 5: the label is not UTF-8" },
        { head + "glyph a key 000000 \xC0\x81\n", "glyph sheet line 5: the label is not UTF-8" },
        { head + "glyph a key 000000 \xED\xA0\x80\n", "glyph sheet line 5: the label is not UTF-8" },
        { head + "glyph a key 000000 \xE2\x96\n", "glyph sheet line 5: the label is not UTF-8" },
        { head + "glyph a key 000000\n\nglyph a pill 000000\n",
            "glyph sheet line 7: the glyph a is named twice (first on line 5)" },
        { head, "glyph sheet line 4: the sheet has no glyph" },
        { "glyphsheet\nsize 4\ncell 8 8\nglyph a key 000000\n", "glyph sheet line 4: the sheet has no font line" },
        { sheetHeader("1024 1024", 10) + seventeen,
            "glyph sheet line 21: a sheet of 1024 x 1024 cells in 4 columns holds at most 16 glyphs" },
        { sheetHeader("1024 1024", 10) + "glyph a key 000000\ncolumns 5\n",
            "glyph sheet line 6: 5 columns of 1024 pixels make a sheet wider than 4096" },
        { head + "glyph a key 000000 Start\n",
            "glyph sheet line 5: the label of a: the text is 25 x 8 pixels, more than 14 x 14" },
        { head + "glyph a key 000000 \xE6\xBC\xA2\n",
            "glyph sheet line 5: the label of a: the font has no glyph for U+6F22" },
        { "glyphsheet\nfont sheet.glyphs\nsize 4\ncell 8 8\nglyph a key 000000\n",
            "glyph sheet line 2: @/sheet.glyphs: not a TrueType font file" },
        { "glyphsheet\nfont missing.ttf\nsize 4\ncell 8 8\nglyph a key 000000\n",
            "glyph sheet line 2: cannot read @/missing.ttf" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.source);
        DepotContent content;
        std::string expected = "line 2: texture sheet.glyphs: " + c.message;
        if (const size_t at = expected.find('@'); at != std::string::npos)
            expected.replace(at, 1, content.directory().file("src"));
        EXPECT_EQ(content.tryBuild({ { "ok.glyphs", sheetHeader() + "glyph a key 000000 A\n", "", "texture" },
                      { "sheet.glyphs", c.source, "", "texture" } }),
            expected);
    }
}

TEST(GlyphSheet, OnlyAFileWhoseFirstWordIsTheKeywordIsASheet)
{
    const struct {
        const char* bytes;
        bool sheet;
    } cases[] = {
        { "glyphsheet", true },
        { "# prompts\n\n  glyphsheet\n", true },
        { "glyphsheet# a comment", true },
        { "glyphsheets\n", false },
        { "glyph", false },
        { "# glyphsheet\n", false },
        { "DDS glyphsheet", false },
        { "", false },
    };
    for (const auto& c : cases) {
        const std::string text = c.bytes;
        EXPECT_EQ(assetbuild::looksLikeGlyphSheet(std::vector<u8>(text.begin(), text.end())), c.sheet) << c.bytes;
    }
}

} // namespace
} // namespace quern::test
