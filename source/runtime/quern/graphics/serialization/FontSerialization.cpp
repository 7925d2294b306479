#include "quern/graphics/serialization/FontSerialization.h"

#include "quern/assets/AssetLoaderContext.h"
#include "quern/graphics/Font.h"
#include "quern/graphics/NullPixelBuffer.h"
#include "quern/graphics/Texture.h"
#include "quern/graphics/serialization/PixelBufferSerialization.h"
#include "quern/io/ByteSource.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/serialize/PODToken.h"
#include "quern/serialize/PODUtility.h"
#include "quern/strings/Format.h"

#include <algorithm>
#include <cstring>

namespace quern::graphics {
namespace {

static_assert(kGlyphDescriptor.byteSize() == sizeof(Glyph));
static_assert(kGlyphIndexDescriptor.byteSize() == sizeof(GlyphIndex));

using ull = unsigned long long;

[[noreturn]] void rejectFont(const char* reason)
{
    QUERN_FATAL(strings::format<256>("Invalid bitmap font: %s", reason));
}

// Measuring reads glyphs[g] and glyphIndex[g] for every glyph g an index
// record names.
void checkIndex(const Font& font)
{
    const u64 limit = std::min(font.glyphs.count(), font.glyphIndex.count());
    for (u64 i = 0; i < font.glyphIndex.count(); ++i) {
        const i32 glyph = font.glyphIndex.at<GlyphIndex>(i).glyph;
        if (glyph < 0 || static_cast<u64>(glyph) >= limit)
            rejectFont(strings::format<128>(
                "index record %llu names glyph %d of %llu", ull { i }, glyph, ull { font.glyphs.count() }));
    }
}

} // namespace

void readFont(ByteSource& source, serialize::PODToken& token, Font& font)
{
    const u32 start = serialize::expectChunk(source, token, kFontTypeId);
    char name[kMaxFontNameBytes + 1] = {};
    token.readString(source, name, sizeof name);
    font.name = name;
    token.readPOD(source, &font.firstChar, 1, &serialize::kU32Descriptor);
    token.readPOD(source, &font.lastChar, 1, &serialize::kU32Descriptor);
    token.readPOD(source, &font.defaultSize, 1, &kI32Descriptor);
    token.readPOD(source, &font.ascent, 1, &kI32Descriptor);
    token.readPOD(source, &font.descent, 1, &kI32Descriptor);
    token.readPOD(source, &font.lineGap, 1, &kI32Descriptor);
    serialize::readCountedArray(source, token, font.glyphs, kGlyphDescriptor, "glyphs", "bitmap font");
    serialize::readCountedArray(source, token, font.glyphIndex, kGlyphIndexDescriptor, "index records", "bitmap font");
    serialize::readCountedArray(source, token, font.extra, serialize::kU8Descriptor, "extra bytes", "bitmap font");
    token.endReadChunk(source, start);
    checkIndex(font);
}

namespace {

// What finalize needs of the load, kept in the load's scratch memory.
struct FontLoadScratch {
    PixelBuffer* page; // retained until finalize
    Texture* texture;
};
static_assert(sizeof(FontLoadScratch) == 16);

FontLoadScratch& scratchOf(assets::AssetLoaderContext& context)
{
    void* scratch = context.scratch();
    if (!scratch)
        QUERN_FATAL("Font loading needs its scratch memory");
    return *static_cast<FontLoadScratch*>(scratch);
}

} // namespace

void FontHandler::load(ByteSource& source, assets::AssetLoaderContext& context)
{
    FontLoadScratch& scratch = scratchOf(context);
    assets::ResourceRecord fontRecord;
    bool created = false;
    // The font is built only in memory the cache made for it just now; a
    // cached font may be in use and is never constructed over.
    Font* font = context.createResourceObject<Font>(kFontTypeId, 0, fontRecord, created);
    if (!font)
        QUERN_FATAL("Can't create font resource");
    if (!created)
        return;
    assets::ResourceRecord textureRecord;
    bool textureCreated = false;
    Texture* texture
        = context.createResourceObject<Texture>(assets::ResourceType::Texture, 0, textureRecord, textureCreated);
    if (!texture)
        QUERN_FATAL("Can't create font texture resource");

    serialize::PODToken& token = context.podToken(source);
    readFont(source, token, *font);

    PixelBuffer* page = new NullPixelBuffer;
    RefCounted::retain(page);
    scratch.page = page;
    if (!readPixelBuffer(source, token, *page))
        QUERN_FATAL("Failed to load bitmap font texture");
    font->texture = texture;
    scratch.texture = texture;
}

void FontHandler::finalize(assets::AssetLoaderContext& context)
{
    FontLoadScratch& scratch = scratchOf(context);
    if (!scratch.page)
        return;
    if (scratch.texture) {
        scratch.texture->pixelBuffer()->copyFrom(*scratch.page, 0);
        scratch.texture->markLoaded();
    }
    RefCounted::release(scratch.page);
    scratch.page = nullptr;
}

void FontHandler::describe(assets::AssetHandlerInfo& info)
{
    info.format = assets::kNativeAssetFormat;
    info.typeId = kFontTypeId;
    info.scratchBytes = sizeof(FontLoadScratch);
    info.mainThreadStages = true;
}

} // namespace quern::graphics
