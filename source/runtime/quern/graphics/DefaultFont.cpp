// The built-in font and the process-wide default font.

#include "quern/assets/ResourceCache.h"
#include "quern/debug/MutexImpl.h"
#include "quern/graphics/DefaultFontData.h"
#include "quern/graphics/Font.h"
#include "quern/graphics/NullPixelBuffer.h"
#include "quern/graphics/Texture.h"
#include "quern/strings/Hashes.h"

#include <cstring>
#include <string_view>

namespace quern::graphics {
namespace {

static_assert(kDefaultFontCoverageBytes <= kDefaultFontPageSize * kDefaultFontPageSize);

// The slot outlives every static object so that nothing touches a cache
// after the program's end has destroyed it.
struct DefaultFontSlot {
    debug::MutexImpl mutex;
    Ref font;
};

DefaultFontSlot& defaultFontSlot()
{
    static DefaultFontSlot* slot = new DefaultFontSlot;
    return *slot;
}

// White pixels carrying the glyph coverage as alpha; the rows below the
// glyphs stay clear.
void fillPage(PixelBuffer& page)
{
    u8* pixels = page.lockPixelsForWrite();
    const u64 bytes = page.format().dataSize;
    std::memset(pixels, 0, bytes);
    for (u32 i = 0; i < kDefaultFontCoverageBytes && u64 { i } * 4 + 3 < bytes; ++i) {
        pixels[i * 4 + 0] = 255;
        pixels[i * 4 + 1] = 255;
        pixels[i * 4 + 2] = 255;
        pixels[i * 4 + 3] = kDefaultFontCoverage[i];
    }
    page.unlockPixels();
}

void fillGlyphs(Font& font)
{
    constexpr f32 kPage = static_cast<f32>(kDefaultFontPageSize);
    constexpr i32 kSize = static_cast<i32>(kDefaultFontCellHeight);
    Glyph* glyphs = static_cast<Glyph*>(font.glyphs.expand(kDefaultFontGlyphCount));
    GlyphIndex* index = static_cast<GlyphIndex*>(font.glyphIndex.expand(kDefaultFontGlyphCount));
    for (u32 i = 0; i < kDefaultFontGlyphCount; ++i) {
        const u16* rect = kDefaultFontGlyphRects[i];
        glyphs[i] = Glyph { static_cast<f32>(rect[0]) / kPage, 1.0f - static_cast<f32>(rect[1]) / kPage,
            static_cast<f32>(rect[2]) / kPage, 1.0f - static_cast<f32>(rect[3]) / kPage, kDefaultFontCellWidth,
            kDefaultFontCellHeight, 0.0f, -static_cast<f32>(kDefaultFontCellHeight),
            static_cast<f32>(kDefaultFontCellWidth) };
        // Every record names a glyph the page really has, code point 255 included.
        index[i] = GlyphIndex { static_cast<i32>(kDefaultFontFirstChar + i), kSize, static_cast<i32>(i) };
    }
    font.firstChar = kDefaultFontFirstChar;
    font.lastChar = kDefaultFontFirstChar + kDefaultFontGlyphCount - 1;
    font.defaultSize = kSize;
    font.ascent = kSize;
    font.descent = 0;
    font.lineGap = 0;
    font.name = kDefaultFontName;
}

// The cached texture of the page: the one cached under the font's name when
// there is one, else a new one.
Texture* pageTexture(assets::ResourceCache& cache)
{
    const std::string_view name = kDefaultFontName;
    const u64 key
        = assets::resourceKey(strings::murmurHash64A(name.data(), name.size(), 0), assets::ResourceType::Texture);
    if (const u32 handle = cache.acquire(key)) {
        u64 typeId = 0;
        void* resource = cache.entry(handle, typeId);
        cache.release(handle);
        if (resource && typeId == assets::ResourceType::Texture)
            return static_cast<Texture*>(resource);
    }
    return createTexture(name, cache);
}

} // namespace

Font* createBuiltinFont(assets::ResourceCache* cache)
{
    Font* font = new Font;
    RefCounted::retain(font);
    NullPixelBuffer* page = new NullPixelBuffer(NullPixelBuffer::kFontPage);
    RefCounted::retain(page);
    fillPage(*page);
    fillGlyphs(*font);

    Texture* texture = nullptr;
    if (cache) {
        texture = pageTexture(*cache);
    } else {
        texture = new Texture(page);
    }
    if (texture->pixelBuffer() != page)
        texture->pixelBuffer()->copyFrom(*page, 0);
    texture->markLoaded();
    font->holdTexture(texture);

    RefCounted::decrementRef(font);
    RefCounted::release(page);
    return font;
}

Font* Font::getDefault()
{
    DefaultFontSlot& slot = defaultFontSlot();
    debug::MutexLock lock(slot.mutex);
    if (!slot.font)
        slot.font = Ref(createBuiltinFont(assets::ResourceCache::current()));
    return slot.font.get<Font>();
}

void Font::releaseDefault()
{
    DefaultFontSlot& slot = defaultFontSlot();
    debug::MutexLock lock(slot.mutex);
    slot.font.reset();
}

} // namespace quern::graphics
