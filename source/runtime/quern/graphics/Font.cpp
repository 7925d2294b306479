#include "quern/graphics/Font.h"

#include "quern/graphics/Texture.h"
#include "quern/strings/Utf8.h"

#include <algorithm>
#include <cmath>

namespace quern::graphics {
namespace {

// The size code points without a glyph are measured at when the font names none.
constexpr i32 kFallbackDefaultSize = 12;

} // namespace

Font::Font()
    : glyphs(sizeof(Glyph), alignof(Glyph))
    , glyphIndex(sizeof(GlyphIndex), alignof(GlyphIndex))
    , extra(1, 1)
{
}

Font::~Font() = default;

void Font::holdTexture(Texture* page)
{
    texture = page;
    m_textureHold = page ? Ref(static_cast<RefCounted*>(page)) : Ref();
}

i32 Font::findGlyph(i32 codePoint, f32 size) const
{
    const GlyphIndex* records = glyphIndex.dataAs<GlyphIndex>();
    const u64 count = glyphIndex.count();
    i32 remembered = -1;
    f32 rememberedDistance = 0.0f;
    for (u64 i = 0; i < count; ++i) {
        const GlyphIndex& record = records[i];
        if (record.codePoint != codePoint)
            continue;
        const f32 recordSize = static_cast<f32>(record.size);
        if (recordSize == size)
            return record.glyph;
        const f32 distance = std::fabs(recordSize - size);
        if (remembered < 0 || distance < rememberedDistance) {
            remembered = record.glyph;
            rememberedDistance = std::fabs(glyphSize(remembered) - size);
        }
    }
    return remembered;
}

f32 Font::glyphSize(i32 g) const
{
    if (g >= 0 && static_cast<u64>(g) < glyphIndex.count())
        return static_cast<f32>(glyphIndex.at<GlyphIndex>(static_cast<u64>(g)).size);
    return static_cast<f32>(defaultSize == -1 ? kFallbackDefaultSize : defaultSize);
}

f32 Font::getTextWidth(const char* text, f32 size, f32 spacing, bool multiLine) const
{
    f32 cursor = 0.0f;
    f32 width = 0.0f;
    strings::forEachCodePoint(text, [&](u32 codePoint, const char*) {
        if (codePoint == '\n') {
            cursor = 0.0f;
            return multiLine;
        }
        const i32 g = findGlyph(static_cast<i32>(codePoint), size);
        f32 end = cursor;
        // A glyph missing from the font advances by nothing; a glyph whose
        // recorded size is no size is taken at its own pixels rather than
        // scaled by a division by zero.
        if (g >= 0 && static_cast<u64>(g) < glyphs.count()) {
            const f32 from = glyphSize(g);
            const f32 scale = from > 0.0f ? size / from : 1.0f;
            end = cursor + scale * glyph(g).advance;
        }
        width = std::max(width, end);
        cursor = end + spacing;
        return true;
    });
    return width;
}

f32 Font::getTextHeight(const char* text, f32 size, f32 spacing) const
{
    u32 lines = 1;
    bool afterReturn = false;
    strings::forEachCodePoint(text, [&](u32 codePoint, const char*) {
        if (codePoint == '\r' || (codePoint == '\n' && !afterReturn))
            ++lines;
        afterReturn = codePoint == '\r';
        return true;
    });
    const f32 lineCount = static_cast<f32>(lines);
    // Metrics come from files: wide arithmetic keeps extreme values defined.
    const i64 extent = i64 { ascent } - i64 { descent };
    // A font without vertical extent gives each line its pixel size.
    const f32 lineHeight
        = extent > 0 ? size / static_cast<f32>(extent) * static_cast<f32>(i64 { lineGap } + extent) : size;
    return lineHeight * lineCount + (lineCount - 1.0f) * spacing;
}

} // namespace quern::graphics
