#include "quern/graphics/Font.h"

#include "quern/graphics/Texture.h"
#include "quern/strings/Utf8.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace quern::graphics {
namespace {

// The size code points without a glyph are measured at when the font names none.
constexpr i32 kFallbackDefaultSize = 12;

constexpr i32 kLastCodePoint = 0x10FFFF;
constexpr u32 kPageBits = 8;
constexpr u32 kPageSize = 1u << kPageBits;
constexpr u32 kPageCount = (kLastCodePoint >> kPageBits) + 1;

// The nearest-size rule over the records `positions` lists, in index order: an
// exact size wins at once; otherwise the first record whose size is strictly
// nearer than the remembered glyph's own record wins.
template <typename Positions>
i32 nearestGlyph(const GlyphIndex* records, const Positions& positions, i32 codePoint, f32 size,
    f32 (*glyphSize)(const void*, i32), const void* font)
{
    i32 remembered = -1;
    f32 rememberedDistance = 0.0f;
    for (const u32 i : positions) {
        const GlyphIndex& record = records[i];
        if (record.codePoint != codePoint)
            continue;
        const f32 recordSize = static_cast<f32>(record.size);
        if (recordSize == size)
            return record.glyph;
        const f32 distance = std::fabs(recordSize - size);
        if (remembered < 0 || distance < rememberedDistance) {
            remembered = record.glyph;
            rememberedDistance = std::fabs(glyphSize(font, remembered) - size);
        }
    }
    return remembered;
}

// A range of record positions for the range-for loop of nearestGlyph.
struct Span {
    const u32* first;
    const u32* last;
    const u32* begin() const { return first; }
    const u32* end() const { return last; }
};

struct Count {
    u32 n;
    struct Iterator {
        u32 i;
        u32 operator*() const { return i; }
        Iterator& operator++()
        {
            ++i;
            return *this;
        }
        bool operator!=(const Iterator& other) const { return i != other.i; }
    };
    Iterator begin() const { return { 0 }; }
    Iterator end() const { return { n }; }
};

} // namespace

// Measuring asks for a glyph per character; scanning every record each time
// made text layout cost hundreds of nanoseconds per character. The records of
// each code point are listed together here, in index order, so a lookup weighs
// only that code point's few sizes and gives the same glyph as a full scan.
struct Font::GlyphLookup {
    // What the table was made from: a refilled or grown index makes it stale.
    const void* records = nullptr;
    u64 count = 0;
    GlyphLookup* replaced = nullptr;
    std::vector<i32> pageOfBlock; // per 256 code points: its page in `starts`, or -1
    std::vector<u32> starts; // per page, kPageSize + 1 offsets into `positions`
    std::vector<u32> positions; // record positions, by code point, index order within one

    GlyphLookup(const GlyphIndex* data, u64 n)
        : records(data)
        , count(n)
        , pageOfBlock(kPageCount, -1)
    {
        for (u64 i = 0; i < n; ++i) {
            const i32 c = data[i].codePoint;
            if (c < 0 || c > kLastCodePoint)
                continue; // no decoded character asks for it; findGlyph scans for such code points
            i32& page = pageOfBlock[static_cast<u32>(c) >> kPageBits];
            if (page < 0) {
                page = static_cast<i32>(starts.size() / (kPageSize + 1));
                starts.resize(starts.size() + kPageSize + 1, 0);
            }
        }
        // Count the records of every code point, turn the counts into offsets,
        // then place the positions in index order.
        auto slot = [&](i32 c) -> u32& {
            const u32 block = static_cast<u32>(c) >> kPageBits;
            return starts[static_cast<u64>(pageOfBlock[block]) * (kPageSize + 1)
                + (static_cast<u32>(c) & (kPageSize - 1)) + 1];
        };
        u64 listed = 0;
        for (u64 i = 0; i < n; ++i) {
            const i32 c = data[i].codePoint;
            if (c >= 0 && c <= kLastCodePoint) {
                ++slot(c);
                ++listed;
            }
        }
        u32 offset = 0;
        for (u64 page = 0; page < starts.size(); page += kPageSize + 1) {
            starts[page] = offset;
            for (u32 k = 1; k <= kPageSize; ++k) {
                offset += starts[page + k];
                starts[page + k] = offset;
            }
        }
        positions.resize(listed);
        std::vector<u32> next(starts);
        for (u64 i = 0; i < n; ++i) {
            const i32 c = data[i].codePoint;
            if (c < 0 || c > kLastCodePoint)
                continue;
            const u64 at = static_cast<u64>(pageOfBlock[static_cast<u32>(c) >> kPageBits]) * (kPageSize + 1)
                + (static_cast<u32>(c) & (kPageSize - 1));
            positions[next[at]++] = static_cast<u32>(i);
        }
    }

    ~GlyphLookup() { delete replaced; }

    // The positions of the code point's records; empty when it has none.
    Span find(i32 codePoint) const
    {
        const u32 c = static_cast<u32>(codePoint);
        const i32 page = pageOfBlock[c >> kPageBits];
        if (page < 0)
            return { nullptr, nullptr };
        const u32* s = starts.data() + static_cast<u64>(page) * (kPageSize + 1) + (c & (kPageSize - 1));
        return { positions.data() + s[0], positions.data() + s[1] };
    }
};

Font::Font()
    : glyphs(sizeof(Glyph), alignof(Glyph))
    , glyphIndex(sizeof(GlyphIndex), alignof(GlyphIndex))
    , extra(1, 1)
{
}

Font::~Font() { delete m_lookup.load(std::memory_order_acquire); }

const Font::GlyphLookup& Font::lookup() const
{
    const GlyphIndex* records = glyphIndex.dataAs<GlyphIndex>();
    const u64 count = glyphIndex.count();
    GlyphLookup* current = m_lookup.load(std::memory_order_acquire);
    while (!current || current->records != records || current->count != count) {
        auto made = std::make_unique<GlyphLookup>(records, count);
        made->replaced = current;
        if (m_lookup.compare_exchange_strong(current, made.get(), std::memory_order_acq_rel, std::memory_order_acquire))
            return *made.release();
        made->replaced = nullptr; // another thread published first: look at its table
    }
    return *current;
}

void Font::holdTexture(Texture* page)
{
    texture = page;
    m_textureHold = page ? Ref(static_cast<RefCounted*>(page)) : Ref();
}

i32 Font::findGlyph(i32 codePoint, f32 size) const
{
    const GlyphIndex* records = glyphIndex.dataAs<GlyphIndex>();
    auto sizeOf = [](const void* font, i32 g) { return static_cast<const Font*>(font)->glyphSize(g); };
    if (codePoint < 0 || codePoint > kLastCodePoint)
        return nearestGlyph(records, Count { static_cast<u32>(glyphIndex.count()) }, codePoint, size, sizeOf, this);
    return nearestGlyph(records, lookup().find(codePoint), codePoint, size, sizeOf, this);
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
