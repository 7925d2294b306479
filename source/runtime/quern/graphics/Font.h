#pragma once
// Bitmap fonts: one glyph page (a texture), the page rectangle and metrics of
// every glyph, and an index that finds the glyph for a code point at a pixel
// size (a font may carry the same code point at several sizes). Text layout
// measures and draws with them; the built-in 12 x 22 font is made on demand.

#include "quern/Types.h"
#include "quern/containers/Array.h"
#include "quern/language/RefCounted.h"
#include "quern/strings/String.h"

#include <atomic>

namespace quern::assets {
class ResourceCache;
}

namespace quern::graphics {

class Texture;

// The built-in font's name; its page texture is cached under it.
inline constexpr const char* kDefaultFontName = "courier.mofo";

struct Glyph {
    // The glyph's rectangle on the page: corner 0, then corner 1; t counts
    // from the bottom row (t = 1 - y / page height).
    f32 s0, t0, s1, t1;
    u32 width, height; // pixels
    f32 offsetX, offsetY, advance; // pixels at the glyph's size
};
static_assert(sizeof(Glyph) == 36);

// Record i describes glyph i.
struct GlyphIndex {
    i32 codePoint;
    i32 size; // the pixel size the glyph was made for
    i32 glyph;
};
static_assert(sizeof(GlyphIndex) == 12);

class Font : public RefCounted {
public:
    // No texture, range 0..0, no default size, zero metrics, empty tables.
    Font();
    ~Font() override;

    // The glyph of the code point at the size, or at the nearest size the
    // font has it (the earlier record on a tie); -1 when it has none.
    i32 findGlyph(i32 codePoint, f32 size) const;
    // Width in pixels of UTF-8 text at the pixel size, with `spacing` pixels
    // between glyphs. A line feed starts a new line when `multiLine` is set
    // (the widest line counts) and ends the measurement otherwise.
    f32 getTextWidth(const char* text, f32 size, f32 spacing, bool multiLine) const;
    // Height in pixels of the lines of the text at the pixel size, with
    // `spacing` pixels between lines. LF, CR and CR LF each end a line.
    f32 getTextHeight(const char* text, f32 size, f32 spacing) const;

    // The process-wide default font, made from the built-in data with the
    // current resource cache the first time it is asked for.
    static Font* getDefault();
    // Drops the default font (the next getDefault makes it again). Call it
    // before the cache that holds its page texture goes away.
    static void releaseDefault();

    // The glyph page. Loaded fonts borrow it from the resource cache; the
    // built-in font holds a reference on it (see holdTexture).
    Texture* texture = nullptr;
    u32 firstChar = 0;
    u32 lastChar = 0;
    // The size of code points without a glyph; -1: none (12 is used).
    i32 defaultSize = -1;
    i32 ascent = 0;
    i32 descent = 0; // 0 or negative
    i32 lineGap = 0;
    containers::Array glyphs; // Glyph
    containers::Array glyphIndex; // GlyphIndex
    strings::String name;
    containers::Array extra; // bytes carried by the font file

    const Glyph& glyph(i32 index) const { return glyphs.at<Glyph>(static_cast<u64>(index)); }
    // Sets the texture and keeps a reference on it until the font goes.
    void holdTexture(Texture* page);

private:
    struct GlyphLookup;

    // The pixel size the measurement scales glyph g from.
    f32 glyphSize(i32 g) const;
    // The index records grouped by code point, made the first time the font
    // looks a glyph up and again whenever the index has moved or changed its
    // count. Loaders fill the index before the font is used; records rewritten
    // in place afterwards, keeping storage and count, are not seen.
    const GlyphLookup& lookup() const;

    Ref m_textureHold;
    // Published once made; tables it replaced stay alive (chained) until the
    // font goes, since another thread may still be reading one.
    mutable std::atomic<GlyphLookup*> m_lookup { nullptr };
};

// The built-in font: a 256 x 256 page of 12 x 22 glyphs for the code points
// 32..255, its page texture cached in `cache` under kDefaultFontName (an
// existing texture of that name is reused). Without a cache the page texture
// belongs to the font alone. The font is returned with no reference counted:
// the caller takes the first.
Font* createBuiltinFont(assets::ResourceCache* cache);
inline Font* createBuiltinFont(assets::ResourceCache& cache) { return createBuiltinFont(&cache); }

} // namespace quern::graphics
