#include "quern/fontatlas/FontAtlas.h"

#include "quern/fontatlas/TrueTypeCheck.h"

#include "quern/platform/ErrorReporting.h"
#include "quern/strings/Utf8.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

namespace quern::fontatlas {
namespace {
void* stbAllocate(u64 size, void* user);
}
} // namespace quern::fontatlas

// The one translation unit that holds stb_truetype: its temporary memory
// comes from the atlas that owns the font (the font information's user data).
#define STBTT_STATIC
#define STB_TRUETYPE_IMPLEMENTATION
#define STBTT_malloc(size, user) ::quern::fontatlas::stbAllocate((size), (user))
#define STBTT_free(pointer, user) ((void)(pointer), (void)(user))
#include <stb_truetype.h>

namespace quern::fontatlas {

namespace {

constexpr i32 kHashSize = 256;
constexpr i32 kFirstGlyphCapacity = 256;

void* stbAllocate(u64 size, void* user) { return static_cast<FontAtlas*>(user)->scratchAllocate(size); }

} // namespace

struct FontAtlasFont {
    char name[64];
    stbtt_fontinfo info;
    const u8* bytes;
    i32 length;
    u8 ownsBytes;
    f32 ascender, descender, lineHeight; // fractions of the em height
    FontAtlasGlyph* glyphs;
    i32 glyphCapacity;
    i32 glyphCount;
    i32 lookup[kHashSize];
};

namespace {

// Glyph records keep sizes and advances in 16 bits; fonts and states with
// wilder values are clamped instead of converted out of range.
i16 clampToI16(f32 value)
{
    if (!(value > -32768.0f))
        return -32768;
    return value < 32767.0f ? static_cast<i16>(value) : i16 { 32767 };
}

u32 hashCodePoint(u32 a)
{
    a += ~(a << 15);
    a ^= (a >> 10);
    a += (a << 3);
    a ^= (a >> 6);
    a += ~(a << 11);
    a ^= (a >> 16);
    return a;
}

void reportError(FontAtlas& atlas, i32 error, i32 value)
{
    if (atlas.errorCallback)
        atlas.errorCallback(atlas.errorUser, error, value);
}

void freeFont(FontAtlasFont* font)
{
    if (!font)
        return;
    std::free(font->glyphs);
    if (font->ownsBytes)
        std::free(const_cast<u8*>(font->bytes));
    std::free(font);
}

// The recursive blur of one run of pixels (a row or a column), both ways.
void blurRun(u8* pixel, i32 count, i32 step, i32 alpha)
{
    i32 z = 0;
    for (i32 i = 1; i < count; ++i) {
        u8& p = pixel[i * step];
        z += (alpha * ((static_cast<i32>(p) << 7) - z)) >> 16;
        p = static_cast<u8>(z >> 7);
    }
    pixel[(count - 1) * step] = 0;
    z = 0;
    for (i32 i = count - 2; i >= 0; --i) {
        u8& p = pixel[i * step];
        z += (alpha * ((static_cast<i32>(p) << 7) - z)) >> 16;
        p = static_cast<u8>(z >> 7);
    }
    pixel[0] = 0;
}

void blur(u8* image, i32 w, i32 h, i32 stride, i32 amount)
{
    const f32 sigma = static_cast<f32>(amount) * 0.57735f;
    const i32 alpha = static_cast<i32>((1.0f - std::exp(-2.3f / (sigma + 1.0f))) * 65536.0f);
    for (int pass = 0; pass < 2; ++pass) {
        for (i32 x = 0; x < w; ++x)
            blurRun(image + x, h, stride, alpha);
        for (i32 y = 0; y < h; ++y)
            blurRun(image + y * stride, w, 1, alpha);
    }
}

void growDirty(FontAtlas& atlas, i32 x0, i32 y0, i32 x1, i32 y1)
{
    atlas.dirty[0] = std::min(atlas.dirty[0], x0);
    atlas.dirty[1] = std::min(atlas.dirty[1], y0);
    atlas.dirty[2] = std::max(atlas.dirty[2], x1);
    atlas.dirty[3] = std::max(atlas.dirty[3], y1);
}

FontAtlasGlyph* appendGlyph(FontAtlasFont& font)
{
    if (font.glyphCount + 1 > font.glyphCapacity) {
        const i32 grown = font.glyphCapacity == 0 ? 8 : font.glyphCapacity * 2;
        auto* moved
            = static_cast<FontAtlasGlyph*>(std::realloc(font.glyphs, sizeof(FontAtlasGlyph) * static_cast<u64>(grown)));
        if (!moved)
            return nullptr;
        font.glyphs = moved;
        font.glyphCapacity = grown;
    }
    return &font.glyphs[font.glyphCount++];
}

FontAtlasGlyph* getGlyph(FontAtlas& atlas, FontAtlasFont& font, u32 codePoint, i16 isize, i16 iblur)
{
    if (isize < 2)
        return nullptr;
    iblur = std::clamp<i16>(iblur, 0, 20);
    const i32 pad = iblur + 2;
    atlas.scratchReset();

    const u32 h = hashCodePoint(codePoint) & (kHashSize - 1);
    for (i32 i = font.lookup[h]; i != -1; i = font.glyphs[i].next) {
        const FontAtlasGlyph& g = font.glyphs[i];
        if (g.codePoint == codePoint && g.size == isize && g.blur == iblur)
            return &font.glyphs[i];
    }

    const f32 size = static_cast<f32>(isize) / 10.0f;
    const f32 scale = stbtt_ScaleForPixelHeight(&font.info, size);
    i32 index = static_cast<i32>(
        findTrueTypeGlyph(font.bytes, static_cast<u64>(font.length), static_cast<u64>(font.info.index_map), codePoint));
    // A character map may name glyphs the font does not have, and an outline
    // may not fit its range: both draw as the missing glyph (0), or as nothing.
    if (index < 0 || index >= font.info.numGlyphs)
        index = 0;
    const bool drawable = checkTrueTypeGlyph(font.bytes, static_cast<u64>(font.length), static_cast<u32>(index));
    i32 advance = 0, lsb = 0, x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    stbtt_GetGlyphHMetrics(&font.info, index, &advance, &lsb);
    if (drawable)
        stbtt_GetGlyphBitmapBox(&font.info, index, scale, scale, &x0, &y0, &x1, &y1);
    if (x1 < x0 || y1 < y0)
        x1 = x0, y1 = y0; // a box turned inside out by a broken outline
    const i32 gw = x1 - x0 + pad * 2;
    const i32 gh = y1 - y0 + pad * 2;

    i32 gx = 0, gy = 0;
    if (!atlas.skyline.addRect(gw, gh, gx, gy)) {
        if (!atlas.errorCallback)
            return nullptr;
        reportError(atlas, AtlasFull, 0);
        if (!atlas.skyline.addRect(gw, gh, gx, gy))
            return nullptr;
    }

    FontAtlasGlyph* glyph = appendGlyph(font);
    if (!glyph)
        return nullptr;
    glyph->codePoint = codePoint;
    glyph->size = isize;
    glyph->blur = iblur;
    glyph->index = index;
    glyph->x0 = static_cast<i16>(gx);
    glyph->y0 = static_cast<i16>(gy);
    glyph->x1 = static_cast<i16>(gx + gw);
    glyph->y1 = static_cast<i16>(gy + gh);
    glyph->advance = clampToI16(scale * static_cast<f32>(advance) * 10.0f);
    glyph->xOffset = static_cast<i16>(x0 - pad);
    glyph->yOffset = static_cast<i16>(y0 - pad);
    glyph->next = font.lookup[h];
    font.lookup[h] = font.glyphCount - 1;

    const i32 stride = atlas.params.width;
    u8* corner = atlas.image + gx + gy * stride;
    if (drawable)
        stbtt_MakeGlyphBitmap(
            &font.info, corner + pad + pad * stride, gw - pad * 2, gh - pad * 2, stride, scale, scale, index);
    for (i32 y = 0; y < gh; ++y) {
        corner[y * stride] = 0;
        corner[gw - 1 + y * stride] = 0;
    }
    for (i32 x = 0; x < gw; ++x) {
        corner[x] = 0;
        corner[x + (gh - 1) * stride] = 0;
    }
    if (iblur > 0) {
        atlas.scratchReset();
        blur(corner, gw, gh, stride, iblur);
    }
    growDirty(atlas, glyph->x0, glyph->y0, glyph->x1, glyph->y1);
    return glyph;
}

struct Quad {
    f32 x0, y0, s0, t0, x1, y1, s1, t1;
};

void getQuad(FontAtlas& atlas, FontAtlasFont& font, i32 previous, const FontAtlasGlyph& glyph, f32 scale, f32 spacing,
    f32& x, f32 y, Quad& q)
{
    if (previous != -1) {
        const f32 kern = static_cast<f32>(stbtt_GetGlyphKernAdvance(&font.info, previous, glyph.index)) * scale;
        x += static_cast<f32>(static_cast<i32>(kern + spacing + 0.5f));
    }
    const f32 x0 = static_cast<f32>(glyph.x0 + 1), y0 = static_cast<f32>(glyph.y0 + 1);
    const f32 x1 = static_cast<f32>(glyph.x1 - 1), y1 = static_cast<f32>(glyph.y1 - 1);
    const f32 xoff = static_cast<f32>(glyph.xOffset + 1), yoff = static_cast<f32>(glyph.yOffset + 1);
    const f32 rx = static_cast<f32>(static_cast<i32>(x + xoff));
    if (atlas.params.flags & ZeroTopLeft) {
        const f32 ry = static_cast<f32>(static_cast<i32>(y + yoff));
        q = { rx, ry, 0, 0, rx + x1 - x0, ry + y1 - y0, 0, 0 };
    } else {
        const f32 ry = static_cast<f32>(static_cast<i32>(y - yoff));
        q = { rx, ry, 0, 0, rx + x1 - x0, ry - y1 + y0, 0, 0 };
    }
    q.s0 = x0 * atlas.inverseWidth;
    q.t0 = y0 * atlas.inverseHeight;
    q.s1 = x1 * atlas.inverseWidth;
    q.t1 = y1 * atlas.inverseHeight;
    x += static_cast<f32>(static_cast<i32>(static_cast<f32>(glyph.advance) / 10.0f + 0.5f));
}

f32 verticalAlign(const FontAtlas& atlas, const FontAtlasFont& font, i32 align, i16 isize)
{
    const f32 s = static_cast<f32>(isize) / 10.0f;
    f32 offset = 0.0f;
    if (align & AlignTop)
        offset = font.ascender * s;
    else if (align & AlignMiddle)
        offset = (font.ascender + font.descender) / 2.0f * s;
    else if (align & AlignBaseline)
        offset = 0.0f;
    else if (align & AlignBottom)
        offset = font.descender * s;
    return (atlas.params.flags & ZeroTopLeft) ? offset : -offset;
}

void flush(FontAtlas& atlas)
{
    if (atlas.dirty[0] < atlas.dirty[2] && atlas.dirty[1] < atlas.dirty[3]) {
        if (atlas.params.renderUpdate)
            atlas.params.renderUpdate(atlas.params.userPtr, atlas.dirty, atlas.image);
        atlas.dirty[0] = atlas.params.width;
        atlas.dirty[1] = atlas.params.height;
        atlas.dirty[2] = atlas.dirty[3] = 0;
    }
    if (atlas.vertexCount > 0) {
        if (atlas.params.renderDraw)
            atlas.params.renderDraw(
                atlas.params.userPtr, atlas.positions, atlas.texCoords, atlas.colours, atlas.vertexCount);
        atlas.vertexCount = 0;
    }
}

void addVertex(FontAtlas& atlas, f32 x, f32 y, f32 s, f32 t, u32 colour)
{
    const i32 i = atlas.vertexCount++;
    atlas.positions[i * 2] = x;
    atlas.positions[i * 2 + 1] = y;
    atlas.texCoords[i * 2] = s;
    atlas.texCoords[i * 2 + 1] = t;
    atlas.colours[i] = colour;
}

// The state's font, size and blur; false when the font cannot draw.
struct Run {
    FontAtlasFont* font;
    i16 isize;
    i16 iblur;
    f32 scale;
};

bool beginRun(FontAtlas& atlas, const FontAtlasState& state, Run& run)
{
    if (state.font < 0 || state.font >= atlas.fontCount)
        return false;
    run.font = atlas.fonts[state.font];
    if (!run.font->bytes)
        return false;
    run.isize = clampToI16(state.size * 10.0f);
    run.iblur = clampToI16(state.blur);
    run.scale = stbtt_ScaleForPixelHeight(&run.font->info, static_cast<f32>(run.isize) / 10.0f);
    return true;
}

// Walks the text's code points, laying out each glyph; emits vertices when asked.
f32 layOut(FontAtlas& atlas, const Run& run, const FontAtlasState& state, f32 x, f32 y, const char* text,
    const char* end, bool emit)
{
    u32 decoder = strings::kUtf8Accept, codePoint = 0;
    i32 previous = -1;
    for (const char* at = text; at != end && *at; ++at) {
        if (strings::utf8DecodeStep(decoder, codePoint, static_cast<u8>(*at)) != strings::kUtf8Accept)
            continue;
        const FontAtlasGlyph* glyph = getGlyph(atlas, *run.font, codePoint, run.isize, run.iblur);
        if (!glyph) {
            previous = -1;
            continue;
        }
        Quad q;
        getQuad(atlas, *run.font, previous, *glyph, run.scale, state.spacing, x, y, q);
        previous = glyph->index;
        if (!emit)
            continue;
        if (atlas.vertexCount + 6 > FontAtlas::kVertexCount)
            flush(atlas);
        addVertex(atlas, q.x0, q.y0, q.s0, q.t0, state.colour);
        addVertex(atlas, q.x1, q.y1, q.s1, q.t1, state.colour);
        addVertex(atlas, q.x1, q.y0, q.s1, q.t0, state.colour);
        addVertex(atlas, q.x0, q.y0, q.s0, q.t0, state.colour);
        addVertex(atlas, q.x0, q.y1, q.s0, q.t1, state.colour);
        addVertex(atlas, q.x1, q.y1, q.s1, q.t1, state.colour);
    }
    return x;
}

} // namespace

void* FontAtlas::scratchAllocate(u64 size)
{
    size = (size + 15) & ~u64 { 15 };
    if (scratchUsed + size <= kScratchSize) {
        void* at = scratch + scratchUsed;
        scratchUsed += size;
        return at;
    }
    // The rasteriser does not check every allocation, so none may fail.
    void** block = static_cast<void**>(std::malloc(size + 16));
    if (!block)
        QUERN_OUT_OF_MEMORY();
    *block = scratchOverflow;
    scratchOverflow = block;
    return reinterpret_cast<u8*>(block) + 16;
}

void FontAtlas::scratchReset()
{
    scratchUsed = 0;
    while (scratchOverflow) {
        void* next = *static_cast<void**>(scratchOverflow);
        std::free(scratchOverflow);
        scratchOverflow = next;
    }
}

FontAtlas* FontAtlas::create(const FontAtlasParams& params)
{
    if (params.width <= 0 || params.height <= 0 || params.width > 32767 || params.height > 32767)
        return nullptr;
    void* memory = std::calloc(1, sizeof(FontAtlas));
    if (!memory)
        return nullptr;
    auto* atlas = new (memory) FontAtlas();
    atlas->params = params;
    atlas->scratch = static_cast<u8*>(std::malloc(kScratchSize));
    if (!atlas->scratch) {
        destroy(atlas);
        return nullptr;
    }
    if (params.renderCreate && params.renderCreate(params.userPtr, params.width, params.height) == 0) {
        atlas->params.renderDelete = nullptr; // nothing was created
        destroy(atlas);
        return nullptr;
    }
    atlas->fontCapacity = 4;
    atlas->fonts = static_cast<FontAtlasFont**>(std::calloc(4, sizeof(FontAtlasFont*)));
    atlas->image = static_cast<u8*>(std::calloc(static_cast<u64>(params.width) * static_cast<u64>(params.height), 1));
    if (!atlas->skyline.init(params.width, params.height) || !atlas->fonts || !atlas->image) {
        destroy(atlas);
        return nullptr;
    }
    atlas->inverseWidth = 1.0f / static_cast<f32>(params.width);
    atlas->inverseHeight = 1.0f / static_cast<f32>(params.height);
    atlas->dirty[0] = params.width;
    atlas->dirty[1] = params.height;

    // The white rectangle: untextured quads sample it.
    i32 x = 0, y = 0;
    if (!atlas->skyline.addRect(2, 2, x, y)) {
        destroy(atlas);
        return nullptr;
    }
    for (i32 row = 0; row < 2; ++row)
        for (i32 column = 0; column < 2; ++column)
            atlas->image[(x + column) + (y + row) * params.width] = 0xFF;
    growDirty(*atlas, x, y, x + 2, y + 2);

    pushState(atlas);
    atlas->states[0] = FontAtlasState {};
    return atlas;
}

void FontAtlas::destroy(FontAtlas* atlas)
{
    if (!atlas)
        return;
    if (atlas->params.renderDelete)
        atlas->params.renderDelete(atlas->params.userPtr);
    for (i32 i = 0; i < atlas->fontCount; ++i)
        freeFont(atlas->fonts[i]);
    atlas->skyline.release();
    std::free(atlas->fonts);
    std::free(atlas->image);
    atlas->scratchReset();
    std::free(atlas->scratch);
    atlas->~FontAtlas();
    std::free(atlas);
}

void FontAtlas::pushState(FontAtlas* atlas)
{
    if (atlas->stateCount >= kMaxStates) {
        reportError(*atlas, StatesOverflow, 0);
        return;
    }
    if (atlas->stateCount > 0)
        atlas->states[atlas->stateCount] = atlas->states[atlas->stateCount - 1];
    ++atlas->stateCount;
}

FontAtlasState* FontAtlas::getState(FontAtlas* atlas) { return &atlas->states[atlas->stateCount - 1]; }

void FontAtlas::setErrorCallback(FontAtlas* atlas, void (*callback)(void*, i32, i32), void* user)
{
    atlas->errorCallback = callback;
    atlas->errorUser = user;
}

i32 FontAtlas::addFont(FontAtlas* atlas, const char* name, const u8* bytes, i32 length)
{
    if (atlas->fontCount + 1 > atlas->fontCapacity) {
        const i32 grown = atlas->fontCapacity == 0 ? 8 : atlas->fontCapacity * 2;
        auto* moved = static_cast<FontAtlasFont**>(
            std::realloc(atlas->fonts, sizeof(FontAtlasFont*) * static_cast<u64>(grown)));
        if (!moved)
            return -1;
        atlas->fonts = moved;
        atlas->fontCapacity = grown;
    }
    auto* font = static_cast<FontAtlasFont*>(std::calloc(1, sizeof(FontAtlasFont)));
    if (!font)
        return -1;
    font->glyphs = static_cast<FontAtlasGlyph*>(std::malloc(sizeof(FontAtlasGlyph) * kFirstGlyphCapacity));
    if (!font->glyphs) {
        freeFont(font);
        return -1;
    }
    font->glyphCapacity = kFirstGlyphCapacity;
    std::strncpy(font->name, name ? name : "", sizeof font->name - 1);
    std::fill(font->lookup, font->lookup + kHashSize, -1);
    font->bytes = bytes;
    font->length = length;
    font->ownsBytes = 0;
    atlas->scratchReset();
    font->info.userdata = atlas;
    i32 ascent = 0, descent = 0, lineGap = 0;
    if (length <= 0 || !checkTrueTypeFont(bytes, static_cast<u64>(length))
        || stbtt_InitFont(&font->info, bytes, 0) == 0) {
        freeFont(font);
        return -1;
    }
    // Kerning comes from the kern table, whose header was checked; the
    // positioning table's lookups are not, so they are never read.
    font->info.gpos = 0;
    stbtt_GetFontVMetrics(&font->info, &ascent, &descent, &lineGap);
    const i32 fh = ascent - descent;
    if (fh <= 0) {
        // A font without height has no scale: nothing in it could be drawn.
        freeFont(font);
        return -1;
    }
    font->ascender = static_cast<f32>(ascent) / static_cast<f32>(fh);
    font->descender = static_cast<f32>(descent) / static_cast<f32>(fh);
    font->lineHeight = static_cast<f32>(fh + lineGap) / static_cast<f32>(fh);
    atlas->fonts[atlas->fontCount] = font;
    return atlas->fontCount++;
}

f32 FontAtlas::drawText(FontAtlas* atlas, f32 x, f32 y, const char* text)
{
    const FontAtlasState& state = *getState(atlas);
    Run run;
    if (!text || !beginRun(*atlas, state, run))
        return x;
    if (state.align & AlignLeft) {
    } else if (state.align & AlignRight) {
        x -= measureText(atlas, x, y, text, nullptr);
    } else if (state.align & AlignCenter) {
        x -= measureText(atlas, x, y, text, nullptr) * 0.5f;
    }
    y += verticalAlign(*atlas, *run.font, state.align, run.isize);
    x = layOut(*atlas, run, state, x, y, text, nullptr, true);
    flush(*atlas);
    return x;
}

f32 FontAtlas::measureText(FontAtlas* atlas, f32 x, f32 y, const char* text, const char* end)
{
    const FontAtlasState& state = *getState(atlas);
    Run run;
    if (!text || !beginRun(*atlas, state, run))
        return 0.0f;
    y += verticalAlign(*atlas, *run.font, state.align, run.isize);
    return layOut(*atlas, run, state, x, y, text, end, false) - x;
}

const char* fontAtlasFontName(const FontAtlas* atlas, i32 font) { return atlas->fonts[font]->name; }

void fontAtlasFontMetrics(const FontAtlas* atlas, i32 font, f32& ascender, f32& descender, f32& lineHeight)
{
    ascender = atlas->fonts[font]->ascender;
    descender = atlas->fonts[font]->descender;
    lineHeight = atlas->fonts[font]->lineHeight;
}

i32 fontAtlasGlyphCount(const FontAtlas* atlas, i32 font) { return atlas->fonts[font]->glyphCount; }

const FontAtlasGlyph* fontAtlasGlyph(const FontAtlas* atlas, i32 font, i32 index)
{
    return &atlas->fonts[font]->glyphs[index];
}

} // namespace quern::fontatlas
