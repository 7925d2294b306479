#include "quern/fontatlas/TrueTypeCheck.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace quern::fontatlas {

namespace {

u32 read16(const u8* p) { return (u32 { p[0] } << 8) | p[1]; }
u32 read32(const u8* p) { return (read16(p) << 16) | read16(p + 2); }

struct Table {
    u64 offset = 0;
    u64 length = 0;
    bool present = false;
};

struct Font {
    const u8* bytes;
    u64 length;
    Table cmap, head, hhea, hmtx, maxp, loca, glyf, kern;
};

bool readDirectory(Font& font)
{
    if (font.length < 12)
        return false;
    const u32 version = read32(font.bytes);
    if (version != 0x00010000u && version != 0x74727565u) // 1.0 or "true"
        return false;
    const u64 tables = read16(font.bytes + 4);
    if (12 + tables * 16 > font.length)
        return false;
    struct Named {
        const char* tag;
        Table* table;
    };
    const Named wanted[]
        = { { "cmap", &font.cmap }, { "head", &font.head }, { "hhea", &font.hhea }, { "hmtx", &font.hmtx },
              { "maxp", &font.maxp }, { "loca", &font.loca }, { "glyf", &font.glyf }, { "kern", &font.kern } };
    for (u64 i = 0; i < tables; ++i) {
        const u8* record = font.bytes + 12 + i * 16;
        const u64 offset = read32(record + 8), length = read32(record + 12);
        if (offset > font.length || length > font.length - offset)
            return false;
        for (const Named& n : wanted)
            if (std::memcmp(record, n.tag, 4) == 0 && !n.table->present)
                *n.table = { offset, length, true };
    }
    return font.cmap.present && font.head.present && font.hhea.present && font.hmtx.present && font.maxp.present
        && font.loca.present && font.glyf.present && font.head.length >= 54 && font.hhea.length >= 36
        && font.maxp.length >= 6 && font.cmap.length >= 4;
}

// Every glyph's range in glyf, ascending and inside it.
bool checkGlyphLocations(const Font& font, u64 glyphs)
{
    const bool longOffsets = read16(font.bytes + font.head.offset + 50) != 0;
    const u64 entry = longOffsets ? 4 : 2;
    if ((glyphs + 1) * entry > font.loca.length)
        return false;
    const u8* loca = font.bytes + font.loca.offset;
    u64 previous = 0;
    for (u64 g = 0; g <= glyphs; ++g) {
        const u64 at = longOffsets ? read32(loca + g * 4) : u64 { read16(loca + g * 2) } * 2;
        if (at < previous || at > font.glyf.length)
            return false;
        previous = at;
    }
    return true;
}

// The encoding records and the subtable stb will choose, with its own length.
bool checkCharacterMap(const Font& font)
{
    const u8* cmap = font.bytes + font.cmap.offset;
    const u64 records = read16(cmap + 2);
    if (4 + records * 8 > font.cmap.length)
        return false;
    for (u64 i = 0; i < records; ++i) {
        const u64 offset = read32(cmap + 4 + i * 8 + 4);
        if (offset + 8 > font.cmap.length)
            return false;
        const u8* sub = cmap + offset;
        const u32 format = read16(sub);
        const u64 length = (format >= 8) ? read32(sub + 4) : read16(sub + 2);
        if (length > font.cmap.length - offset)
            return false;
        if (format == 4) {
            const u64 segments = read16(sub + 6) / 2;
            if (16 + segments * 8 > length)
                return false;
        } else if (format == 12 || format == 13) {
            const u64 groups = read32(sub + 12);
            if (groups > (length - 16) / 12)
                return false;
        } else if (format == 6) {
            if (10 + u64 { read16(sub + 8) } * 2 > length)
                return false;
        } else if (format == 0) {
            if (length < 262)
                return false;
        }
    }
    return true;
}

bool checkKerning(const Font& font)
{
    if (!font.kern.present)
        return true;
    const u8* kern = font.bytes + font.kern.offset;
    if (font.kern.length < 4)
        return false;
    if (read16(kern + 2) < 1)
        return true;
    if (font.kern.length < 18)
        return false;
    return 18 + u64 { read16(kern + 10) } * 6 <= font.kern.length;
}

// The byte range of a glyph's outline within glyf.
void glyphRange(const Font& font, u32 glyph, u64& begin, u64& end)
{
    const bool longOffsets = read16(font.bytes + font.head.offset + 50) != 0;
    const u8* loca = font.bytes + font.loca.offset;
    begin = longOffsets ? read32(loca + glyph * 4) : u64 { read16(loca + glyph * 2) } * 2;
    end = longOffsets ? read32(loca + glyph * 4 + 4) : u64 { read16(loca + glyph * 2 + 2) } * 2;
}

// Walks one coordinate array (x: flag bits 2 and 16, y: 4 and 32) from
// `at`, keeping the largest magnitude; false when it runs past the outline or
// a coordinate leaves 16 bits (the rasteriser keeps them in shorts).
bool walkCoordinates(const u8* p, u64 size, const u8* flags, u64 points, u8 shortBit, u8 sameBit, u64& at, f32& bound)
{
    i32 value = 0;
    for (u64 i = 0; i < points; ++i) {
        if (flags[i] & shortBit) {
            if (at + 1 > size)
                return false;
            value += (flags[i] & sameBit) ? p[at] : -i32 { p[at] };
            at += 1;
        } else if (!(flags[i] & sameBit)) {
            if (at + 2 > size)
                return false;
            value += static_cast<i16>(read16(p + at));
            at += 2;
        }
        if (value > 32767 || value < -32767)
            return false;
        bound = std::max(bound, static_cast<f32>(value < 0 ? -value : value));
    }
    return true;
}

bool checkSimpleOutline(const u8* p, u64 size, u64 contours, f32& bound)
{
    u64 at = 10 + contours * 2;
    if (at + 2 > size)
        return false;
    const u64 points = u64 { read16(p + at - 2) } + 1;
    at += 2 + read16(p + at);
    std::vector<u8> flags;
    flags.reserve(points);
    while (flags.size() < points) {
        if (at >= size)
            return false;
        const u8 flag = p[at++];
        u64 repeat = 1;
        if (flag & 8) {
            if (at >= size)
                return false;
            repeat += p[at++];
        }
        for (u64 r = 0; r < repeat && flags.size() < points; ++r)
            flags.push_back(flag);
    }
    // Contours end at increasing points. A contour that starts off the curve
    // makes the rasteriser read the point after its start, which for a lone
    // off-curve point at the end of the outline lies past every point.
    u64 start = 0;
    for (u64 k = 0; k < contours; ++k) {
        const u64 end = read16(p + 10 + k * 2);
        if (end < start || end >= points || (end == start && !(flags[start] & 1)))
            return false;
        start = end + 1;
    }
    return walkCoordinates(p, size, flags.data(), points, 2, 16, at, bound)
        && walkCoordinates(p, size, flags.data(), points, 4, 32, at, bound);
}

f32 readF2Dot14(const u8* p) { return static_cast<f32>(static_cast<i16>(read16(p))) / 16384.0f; }

// `budget` bounds the outlines visited: components may share and nest.
// `bound` is the largest coordinate magnitude of the outline.
bool checkGlyph(const Font& font, u64 glyphs, u32 glyph, int depth, u32& budget, f32& bound)
{
    bound = 0.0f;
    if (glyph >= glyphs || depth > 8 || budget == 0)
        return false;
    --budget;
    u64 begin, end;
    glyphRange(font, glyph, begin, end);
    if (begin == end)
        return true;
    const u8* p = font.bytes + font.glyf.offset + begin;
    const u64 size = end - begin;
    if (size < 10)
        return false;
    const i16 contours = static_cast<i16>(read16(p));
    if (contours >= 0)
        return contours == 0 || checkSimpleOutline(p, size, static_cast<u64>(contours), bound);
    u64 at = 10;
    for (;;) {
        if (at + 4 > size)
            return false;
        const u32 flags = read16(p + at);
        const u32 component = read16(p + at + 2);
        // The rasteriser places components by offset only (it cannot match
        // points) and reads their glyph numbers as signed.
        if (!(flags & 2) || component >= 0x8000)
            return false;
        at += 4;
        const u64 argumentBytes = (flags & 1) ? 4 : 2;
        const u64 scaleBytes = (flags & 8) ? 2 : (flags & 0x40) ? 4 : (flags & 0x80) ? 8 : 0;
        if (at + argumentBytes + scaleBytes > size)
            return false;
        f32 e, f;
        if (flags & 1) {
            e = static_cast<i16>(read16(p + at));
            f = static_cast<i16>(read16(p + at + 2));
        } else {
            e = static_cast<i8>(p[at]);
            f = static_cast<i8>(p[at + 1]);
        }
        at += argumentBytes;
        f32 a = 1, b = 0, c = 0, d = 1;
        if (flags & 8) {
            a = d = readF2Dot14(p + at);
        } else if (flags & 0x40) {
            a = readF2Dot14(p + at);
            d = readF2Dot14(p + at + 2);
        } else if (flags & 0x80) {
            a = readF2Dot14(p + at);
            b = readF2Dot14(p + at + 2);
            c = readF2Dot14(p + at + 4);
            d = readF2Dot14(p + at + 6);
        }
        at += scaleBytes;
        f32 inner = 0.0f;
        if (!checkGlyph(font, glyphs, component, depth + 1, budget, inner))
            return false;
        // The rasteriser scales each axis again by its column's length.
        const f32 m = std::sqrt(a * a + b * b), n = std::sqrt(c * c + d * d);
        const f32 x = m * ((std::fabs(a) + std::fabs(c)) * inner + std::fabs(e));
        const f32 y = n * ((std::fabs(b) + std::fabs(d)) * inner + std::fabs(f));
        if (!(x < 32000.0f && y < 32000.0f))
            return false;
        bound = std::max(bound, std::max(x, y));
        if (!(flags & 0x20))
            return true;
    }
}

} // namespace

bool checkTrueTypeGlyph(const u8* bytes, u64 length, u32 glyph)
{
    Font font { bytes, length, {}, {}, {}, {}, {}, {}, {}, {} };
    if (!bytes || !readDirectory(font))
        return false;
    u32 budget = 256;
    f32 bound = 0.0f;
    return checkGlyph(font, read16(bytes + font.maxp.offset + 4), glyph, 0, budget, bound);
}

u32 findTrueTypeGlyph(const u8* bytes, u64 length, u64 map, u32 c)
{
    auto fits = [&](u64 offset, u64 size) { return offset <= length && size <= length - offset; };
    if (!bytes || !fits(map, 16))
        return 0;
    const u8* m = bytes + map;
    const u32 format = read16(m);
    if (format == 0) {
        const u64 size = read16(m + 2);
        return (c + 6 < size && fits(map + 6 + c, 1)) ? m[6 + c] : 0;
    }
    if (format == 6) {
        const u32 first = read16(m + 6), count = read16(m + 8);
        if (c < first || c >= first + count || !fits(map + 10 + u64 { c - first } * 2, 2))
            return 0;
        return read16(m + 10 + (c - first) * 2);
    }
    if (format == 4) {
        const u64 segments = read16(m + 6) / 2;
        if (c > 0xFFFF || !fits(map + 16, segments * 8))
            return 0;
        const u64 ends = map + 14, starts = ends + segments * 2 + 2;
        const u64 deltas = starts + segments * 2, ranges = deltas + segments * 2;
        for (u64 i = 0; i < segments; ++i) {
            if (c > read16(bytes + ends + i * 2))
                continue;
            const u32 start = read16(bytes + starts + i * 2);
            if (c < start)
                return 0;
            const u32 range = read16(bytes + ranges + i * 2);
            if (range == 0)
                return (c + read16(bytes + deltas + i * 2)) & 0xFFFF;
            const u64 at = ranges + i * 2 + range + u64 { c - start } * 2;
            return fits(at, 2) ? read16(bytes + at) : 0;
        }
        return 0;
    }
    if (format == 12 || format == 13) {
        const u64 groups = read32(m + 12);
        if (groups > (length - map - 16) / 12)
            return 0;
        for (u64 low = 0, high = groups; low < high;) {
            const u64 mid = low + (high - low) / 2;
            const u8* group = m + 16 + mid * 12;
            if (c < read32(group))
                high = mid;
            else if (c > read32(group + 4))
                low = mid + 1;
            else
                return format == 12 ? read32(group + 8) + (c - read32(group)) : read32(group + 8);
        }
    }
    return 0;
}

bool checkTrueTypeFont(const u8* bytes, u64 length)
{
    if (!bytes)
        return false;
    Font font { bytes, length, {}, {}, {}, {}, {}, {}, {}, {} };
    if (!readDirectory(font))
        return false;
    const u64 glyphs = read16(bytes + font.maxp.offset + 4);
    const u64 metrics = read16(bytes + font.hhea.offset + 34);
    if (metrics == 0 || metrics > glyphs || metrics * 4 > font.hmtx.length
        || (glyphs - metrics) * 2 + metrics * 4 > font.hmtx.length)
        return false;
    return checkGlyphLocations(font, glyphs) && checkCharacterMap(font) && checkKerning(font);
}

} // namespace quern::fontatlas
