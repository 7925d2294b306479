// fontbake: writes the engine's built-in font page as C++ data.
//
//   fontbake [--font FILE.ttf] --out DIR
//
// Rasterises code points 32..255 of a monospaced font into 12 x 22 cells on a
// 256 x 256 page and writes DefaultFontData.h and DefaultFontData.cpp into
// DIR (the graphics source folder). Only the rows that hold glyphs are
// written; the engine clears the rest of the page.

#include "FontBaker.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace {

constexpr const char* kDefaultFontPath = "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf";

void printUsage() { std::fputs("usage: fontbake [--font FILE.ttf] --out DIR\n", stderr); }

std::string headerText(const quern::fontbake::BakedFont& font, quern::u32 coverageBytes)
{
    std::ostringstream out;
    out << "#pragma once\n"
           "// The built-in font's glyph page: written by tools/fontbake from DejaVu Sans\n"
           "// Mono (fonts-dejavu-core, DejaVu fonts licence). Regenerate, do not edit.\n\n"
           "#include \"quern/Types.h\"\n\n"
           "namespace quern::graphics {\n\n"
        << "inline constexpr u32 kDefaultFontPageSize = " << font.pageWidth << ";\n"
        << "inline constexpr u32 kDefaultFontCellWidth = 12;\n"
        << "inline constexpr u32 kDefaultFontCellHeight = 22;\n"
        << "inline constexpr u32 kDefaultFontFirstChar = " << font.glyphs.front().codePoint << ";\n"
        << "inline constexpr u32 kDefaultFontGlyphCount = " << font.glyphs.size() << ";\n"
        << "// Coverage of the rows that hold glyphs, one byte per pixel, top row first.\n"
        << "inline constexpr u32 kDefaultFontCoverageBytes = " << coverageBytes << ";\n\n"
        << "extern const u8 kDefaultFontCoverage[kDefaultFontCoverageBytes];\n"
        << "// Per glyph from the first code point on: x0, y0, x1, y1 in page pixels.\n"
        << "extern const u16 kDefaultFontGlyphRects[kDefaultFontGlyphCount][4];\n\n"
        << "} // namespace quern::graphics\n";
    return out.str();
}

std::string sourceText(const quern::fontbake::BakedFont& font, quern::u32 coverageBytes)
{
    std::ostringstream out;
    out << "// Written by tools/fontbake. Regenerate, do not edit.\n"
           "#include \"quern/graphics/DefaultFontData.h\"\n\n"
           "namespace quern::graphics {\n\n"
           "// clang-format off\n"
           "const u8 kDefaultFontCoverage[kDefaultFontCoverageBytes] = {\n";
    for (quern::u32 row = 0; row * font.pageWidth < coverageBytes; ++row) {
        for (quern::u32 x = 0; x < font.pageWidth; ++x)
            out << static_cast<unsigned>(font.coverage[row * font.pageWidth + x]) << ',';
        out << '\n';
    }
    out << "};\n\nconst u16 kDefaultFontGlyphRects[kDefaultFontGlyphCount][4] = {\n";
    for (const quern::fontbake::BakedGlyph& glyph : font.glyphs)
        out << "    {" << glyph.x0 << ", " << glyph.y0 << ", " << glyph.x1 << ", " << glyph.y1 << "}, // "
            << glyph.codePoint << '\n';
    out << "};\n// clang-format on\n\n} // namespace quern::graphics\n";
    return out.str();
}

bool writeText(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out)
        std::fprintf(stderr, "fontbake: cannot write %s\n", path.c_str());
    return static_cast<bool>(out);
}

} // namespace

int main(int argc, char** argv)
{
    std::string fontPath = kDefaultFontPath;
    std::string outDirectory;
    for (int i = 1; i < argc; ++i) {
        const std::string key = argv[i];
        if (i + 1 >= argc) {
            printUsage();
            return 2;
        }
        if (key == "--font")
            fontPath = argv[++i];
        else if (key == "--out")
            outDirectory = argv[++i];
        else {
            printUsage();
            return 2;
        }
    }
    if (outDirectory.empty()) {
        printUsage();
        return 2;
    }
    std::vector<quern::u8> file;
    std::string error;
    quern::fontbake::BakedFont font;
    if (!quern::fontbake::readFontFile(fontPath, file, error)
        || !quern::fontbake::bakeCells(file, quern::fontbake::CellLayout {}, font, error)) {
        std::fprintf(stderr, "fontbake: %s: %s\n", fontPath.c_str(), error.c_str());
        return 1;
    }
    quern::u32 usedRows = 0;
    for (const quern::fontbake::BakedGlyph& glyph : font.glyphs)
        usedRows = std::max<quern::u32>(usedRows, glyph.y1);
    const quern::u32 coverageBytes = usedRows * font.pageWidth;
    if (!writeText(outDirectory + "/DefaultFontData.h", headerText(font, coverageBytes))
        || !writeText(outDirectory + "/DefaultFontData.cpp", sourceText(font, coverageBytes)))
        return 1;
    return 0;
}
