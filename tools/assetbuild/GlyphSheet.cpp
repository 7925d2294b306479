#include "GlyphSheet.h"

#include "FontBaker.h"
#include "SourceText.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <map>

namespace quern::assetbuild {
namespace {

// Pixels left clear around every shape, so that filtering never draws a
// neighbouring cell's edge.
constexpr f32 kMargin = 1.0f;
// Sub-samples per pixel along each axis for the shapes' anti-aliased edges.
constexpr u32 kSamples = 4;

std::string at(u32 line) { return "glyph sheet line " + std::to_string(line) + ": "; }

bool fail(u32 line, const std::string& message, std::string& error)
{
    error = at(line) + message;
    return false;
}

bool readNumber(const SourceLine& line, size_t word, u32 low, u32 high, u32& value, std::string& error)
{
    if (parseNumber(line.words[word], high, value) && value >= low)
        return true;
    return fail(line.number,
        "\"" + line.words[word] + "\" is not a number between " + std::to_string(low) + " and " + std::to_string(high),
        error);
}

bool readShape(const std::string& word, GlyphShape& shape)
{
    static const std::map<std::string, GlyphShape> kShapes = { { "circle", GlyphShape::Circle },
        { "key", GlyphShape::Key }, { "pill", GlyphShape::Pill }, { "diamond", GlyphShape::Diamond } };
    const auto found = kShapes.find(word);
    if (found == kShapes.end())
        return false;
    shape = found->second;
    return true;
}

bool readColour(const std::string& word, GlyphCell& cell)
{
    if (word.size() != 6
        || !std::all_of(word.begin(), word.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); }))
        return false;
    const u32 value = static_cast<u32>(std::stoul(word, nullptr, 16));
    cell.red = static_cast<u8>(value >> 16);
    cell.green = static_cast<u8>(value >> 8);
    cell.blue = static_cast<u8>(value);
    return true;
}

// The text after the first `count` words, without surrounding blanks.
std::string textAfterWords(const std::string& text, u32 count)
{
    static const char* kBlanks = " \t\r\v\f";
    size_t at = 0;
    for (u32 i = 0; i < count; ++i) {
        at = text.find_first_not_of(kBlanks, at);
        at = text.find_first_of(kBlanks, at);
    }
    const size_t first = text.find_first_not_of(kBlanks, at);
    if (at == std::string::npos || first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(kBlanks) + 1 - first);
}

// Strict UTF-8: no overlong forms, surrogates or code points above U+10FFFF.
bool decodeUTF8(const std::string& text, std::vector<u32>& codePoints)
{
    for (size_t i = 0; i < text.size();) {
        const u8 lead = static_cast<u8>(text[i]);
        const u32 length = lead < 0x80 ? 1
            : (lead & 0xE0) == 0xC0    ? 2
            : (lead & 0xF0) == 0xE0    ? 3
            : (lead & 0xF8) == 0xF0    ? 4
                                       : 0;
        if (length == 0 || i + length > text.size())
            return false;
        u32 value = length == 1 ? lead : lead & (0x7Fu >> length);
        for (u32 k = 1; k < length; ++k) {
            const u8 next = static_cast<u8>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            value = (value << 6) | (next & 0x3F);
        }
        static const u32 kSmallest[] = { 0, 0, 0x80, 0x800, 0x10000 };
        if (value < kSmallest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
            return false;
        codePoints.push_back(value);
        i += length;
    }
    return true;
}

bool readGlyph(const SourceLine& line, GlyphCell& cell, std::string& error)
{
    const std::vector<std::string>& w = line.words;
    if (w.size() < 4)
        return fail(line.number, "glyph takes a name, a shape and a colour, then its label", error);
    cell.name = w[1];
    cell.line = line.number;
    if (!readShape(w[2], cell.shape))
        return fail(line.number, "unknown shape \"" + w[2] + "\" (circle, key, pill or diamond)", error);
    if (!readColour(w[3], cell))
        return fail(line.number, "\"" + w[3] + "\" is not a colour of six hexadecimal digits", error);
    if (!decodeUTF8(textAfterWords(line.text, 4), cell.label))
        return fail(line.number, "the label is not UTF-8", error);
    return true;
}

// One setting line; `seen` holds the line each setting was first given on.
bool readSetting(const SourceLine& line, GlyphSheet& sheet, std::map<std::string, u32>& seen, std::string& error)
{
    const std::vector<std::string>& w = line.words;
    static const std::map<std::string, size_t> kValueCounts
        = { { "font", 1 }, { "size", 1 }, { "cell", 2 }, { "columns", 1 } };
    const auto known = kValueCounts.find(w[0]);
    if (known == kValueCounts.end())
        return fail(line.number, "unknown keyword \"" + w[0] + "\" (font, size, cell, columns or glyph)", error);
    if (seen.count(w[0]))
        return fail(line.number, w[0] + " is given twice (first on line " + std::to_string(seen[w[0]]) + ")", error);
    seen[w[0]] = line.number;
    if (w.size() != known->second + 1)
        return fail(line.number, w[0] + " takes " + (known->second == 1 ? "one value" : "a width and a height"), error);
    if (w[0] == "font") {
        sheet.font = w[1];
        sheet.fontLine = line.number;
        return true;
    }
    if (w[0] == "size")
        return readNumber(line, 1, 1, kGlyphCellMaxSide, sheet.size, error);
    if (w[0] == "columns")
        return readNumber(line, 1, 1, kGlyphSheetMaxSide, sheet.columns, error);
    return readNumber(line, 1, kGlyphCellMinSide, kGlyphCellMaxSide, sheet.cellWidth, error)
        && readNumber(line, 2, kGlyphCellMinSide, kGlyphCellMaxSide, sheet.cellHeight, error);
}

// Places the cells along the rows; false naming the first glyph a sheet of
// the largest side cannot hold.
bool placeCells(GlyphSheet& sheet, u32 columnsLine, std::string& error)
{
    const u32 maxColumns = kGlyphSheetMaxSide / sheet.cellWidth;
    const u32 maxRows = kGlyphSheetMaxSide / sheet.cellHeight;
    if (sheet.columns > maxColumns)
        return fail(columnsLine,
            std::to_string(sheet.columns) + " columns of " + std::to_string(sheet.cellWidth)
                + " pixels make a sheet wider than " + std::to_string(kGlyphSheetMaxSide),
            error);
    const u32 columns = sheet.columns ? sheet.columns : maxColumns;
    const u64 capacity = u64 { columns } * maxRows;
    const u64 count = sheet.cells.size();
    if (count > capacity)
        return fail(sheet.cells[capacity].line,
            "a sheet of " + std::to_string(sheet.cellWidth) + " x " + std::to_string(sheet.cellHeight) + " cells in "
                + std::to_string(columns) + " columns holds at most " + std::to_string(capacity) + " glyphs",
            error);
    if (sheet.columns == 0) {
        const u64 square = static_cast<u64>(std::ceil(std::sqrt(static_cast<f64>(count))));
        sheet.columns
            = static_cast<u32>(std::min<u64>(std::max<u64>(square, (count + maxRows - 1) / maxRows), maxColumns));
    }
    sheet.rows = static_cast<u32>((count + sheet.columns - 1) / sheet.columns);
    for (u32 i = 0; i < count; ++i) {
        sheet.cells[i].x = (i % sheet.columns) * sheet.cellWidth;
        sheet.cells[i].y = (i / sheet.columns) * sheet.cellHeight;
    }
    return true;
}

bool insideShape(GlyphShape shape, f32 x, f32 y, f32 width, f32 height)
{
    const f32 left = kMargin, top = kMargin, right = width - kMargin, bottom = height - kMargin;
    const f32 halfWidth = (right - left) * 0.5f, halfHeight = (bottom - top) * 0.5f;
    const f32 dx = std::fabs(x - (left + halfWidth)), dy = std::fabs(y - (top + halfHeight));
    if (shape == GlyphShape::Diamond)
        return dx / halfWidth + dy / halfHeight <= 1.0f;
    // A circle, a pill and a key are rounded rectangles of different radii.
    const f32 shortest = std::min(halfWidth, halfHeight);
    const f32 radius = shape == GlyphShape::Key ? shortest * 0.5f : shortest;
    const f32 innerWidth = shape == GlyphShape::Circle ? 0.0f : halfWidth - radius;
    const f32 innerHeight = shape == GlyphShape::Circle ? 0.0f : halfHeight - radius;
    const f32 ox = std::max(dx - innerWidth, 0.0f), oy = std::max(dy - innerHeight, 0.0f);
    return ox * ox + oy * oy <= radius * radius;
}

u8 shapeCoverage(GlyphShape shape, u32 px, u32 py, f32 width, f32 height)
{
    u32 inside = 0;
    for (u32 sy = 0; sy < kSamples; ++sy)
        for (u32 sx = 0; sx < kSamples; ++sx)
            inside += insideShape(shape, static_cast<f32>(px) + (static_cast<f32>(sx) + 0.5f) / kSamples,
                static_cast<f32>(py) + (static_cast<f32>(sy) + 0.5f) / kSamples, width, height);
    return static_cast<u8>((inside * 255 + kSamples * kSamples / 2) / (kSamples * kSamples));
}

// The label over the shape with the "over" operator, colours not
// premultiplied. Pixels keep the shape's colour where nothing covers them, so
// that filtering at the shape's edge does not darken it.
void blendLabel(u8* pixel, u8 labelValue, u8 coverage)
{
    const u32 labelAlpha = coverage, shapeAlpha = pixel[3];
    const u32 alpha = labelAlpha * 255 + shapeAlpha * (255 - labelAlpha); // in 255ths of 255ths
    if (alpha == 0)
        return;
    for (u32 c = 0; c < 3; ++c)
        pixel[c] = static_cast<u8>(
            (u64 { labelValue } * labelAlpha * 255 + u64 { pixel[c] } * shapeAlpha * (255 - labelAlpha) + alpha / 2)
            / alpha);
    pixel[3] = static_cast<u8>((alpha + 127) / 255);
}

bool drawCell(const GlyphSheet& sheet, const GlyphCell& cell, const std::vector<u8>& fontFile, RGBAImage& image,
    std::string& error)
{
    const f32 width = static_cast<f32>(sheet.cellWidth), height = static_cast<f32>(sheet.cellHeight);
    for (u32 y = 0; y < sheet.cellHeight; ++y) {
        u8* row = image.pixels.data() + (u64 { cell.y + y } * image.width + cell.x) * 4;
        for (u32 x = 0; x < sheet.cellWidth; ++x) {
            u8* pixel = row + x * 4;
            pixel[0] = cell.red;
            pixel[1] = cell.green;
            pixel[2] = cell.blue;
            pixel[3] = shapeCoverage(cell.shape, x, y, width, height);
        }
    }
    fontbake::BakedFont text;
    const u32 margin = static_cast<u32>(kMargin);
    if (!fontbake::bakeText(fontFile, static_cast<f32>(sheet.size), cell.label, sheet.cellWidth - 2 * margin,
            sheet.cellHeight - 2 * margin, text, error))
        return fail(cell.line, "the label of " + cell.name + ": " + error, error);
    // Rec. 601 luma: dark labels on light shapes, white on dark ones.
    const u32 luma = 299 * cell.red + 587 * cell.green + 114 * cell.blue;
    const u8 labelValue = luma > 150 * 1000 ? 20 : 255;
    const u32 left = cell.x + (sheet.cellWidth - text.pageWidth) / 2;
    const u32 top = cell.y + (sheet.cellHeight - text.pageHeight) / 2;
    for (u32 y = 0; y < text.pageHeight; ++y)
        for (u32 x = 0; x < text.pageWidth; ++x)
            blendLabel(image.pixels.data() + (u64 { top + y } * image.width + left + x) * 4, labelValue,
                text.coverage[u64 { y } * text.pageWidth + x]);
    return true;
}

} // namespace

bool looksLikeGlyphSheet(const std::vector<u8>& bytes)
{
    size_t at = 0;
    while (at < bytes.size()) {
        const u8 c = bytes[at];
        if (c == '#') {
            while (at < bytes.size() && bytes[at] != '\n')
                ++at;
        } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f') {
            ++at;
        } else {
            break;
        }
    }
    static const std::string kKeyword = "glyphsheet";
    if (bytes.size() - at < kKeyword.size() || !std::equal(kKeyword.begin(), kKeyword.end(), bytes.begin() + at))
        return false;
    at += kKeyword.size();
    return at == bytes.size() || std::string(" \t\r\n\v\f#").find(static_cast<char>(bytes[at])) != std::string::npos;
}

bool readGlyphSheet(const std::vector<u8>& bytes, GlyphSheet& sheet, std::string& error)
{
    sheet = GlyphSheet {};
    const std::vector<SourceLine> lines = splitLines(bytes);
    if (lines.empty() || lines[0].words != std::vector<std::string> { "glyphsheet" })
        return fail(lines.empty() ? 1 : lines[0].number, "a glyph sheet starts with the line glyphsheet", error);
    std::map<std::string, u32> seen;
    std::map<std::string, u32> names;
    for (size_t i = 1; i < lines.size(); ++i) {
        const SourceLine& line = lines[i];
        if (line.words[0] != "glyph") {
            if (!readSetting(line, sheet, seen, error))
                return false;
            continue;
        }
        GlyphCell cell;
        if (!readGlyph(line, cell, error))
            return false;
        const auto [first, added] = names.emplace(cell.name, line.number);
        if (!added)
            return fail(line.number,
                "the glyph " + cell.name + " is named twice (first on line " + std::to_string(first->second) + ")",
                error);
        sheet.cells.push_back(std::move(cell));
    }
    const u32 end = lines.back().number;
    for (const char* setting : { "font", "size", "cell" })
        if (!seen.count(setting))
            return fail(end, std::string("the sheet has no ") + setting + " line", error);
    if (sheet.cells.empty())
        return fail(end, "the sheet has no glyph", error);
    return placeCells(sheet, seen.count("columns") ? seen["columns"] : 0, error);
}

bool drawGlyphSheet(const GlyphSheet& sheet, const std::vector<u8>& fontFile, RGBAImage& image, std::string& error)
{
    image = RGBAImage {};
    image.width = sheet.columns * sheet.cellWidth;
    image.height = sheet.rows * sheet.cellHeight;
    image.pixels.assign(u64 { image.width } * image.height * 4, 0);
    for (const GlyphCell& cell : sheet.cells)
        if (!drawCell(sheet, cell, fontFile, image, error)) {
            image = RGBAImage {};
            return false;
        }
    return true;
}

bool buildGlyphSheet(
    const std::vector<u8>& bytes, const std::string& sourceDirectory, RGBAImage& image, std::string& error)
{
    GlyphSheet sheet;
    if (!readGlyphSheet(bytes, sheet, error))
        return false;
    const std::filesystem::path path = sourcePath(sourceDirectory, sheet.font);
    std::vector<u8> fontFile;
    fontbake::BakedFont nothing;
    // An empty text checks the font once, so a bad file is told at its line.
    if (!fontbake::readFontFile(path.string(), fontFile, error))
        return fail(sheet.fontLine, error, error);
    if (!fontbake::bakeText(fontFile, static_cast<f32>(sheet.size), {}, 0, 0, nothing, error))
        return fail(sheet.fontLine, path.string() + ": " + error, error);
    return drawGlyphSheet(sheet, fontFile, image, error);
}

} // namespace quern::assetbuild
