#pragma once
// Bitmap font files, and the handler that loads them: one POD-token stream
// (binary or text) holding a Font chunk with the name, code-point range,
// metrics, glyph records, glyph index and extra bytes, followed by the glyph
// page as a pixel-buffer chunk.

#include "quern/Types.h"
#include "quern/assets/AssetHandler.h"
#include "quern/serialize/PODTypeDescriptor.h"

namespace quern {
class ByteSource;
}
namespace quern::serialize {
class PODToken;
}

namespace quern::graphics {

class Font;

inline constexpr u64 kFontTypeId = 0x0fd782389c07b29full;
// Longest font name a file may carry, in bytes.
inline constexpr u64 kMaxFontNameBytes = 255;

inline constexpr serialize::PODComponent kGlyphComponents[] = {
    { 4, serialize::PODKind::Float, 32 },
    { 2, serialize::PODKind::Unsigned, 32 },
    { 3, serialize::PODKind::Float, 32 },
};
inline constexpr serialize::PODTypeDescriptor kGlyphDescriptor { 3, kGlyphComponents };
inline constexpr serialize::PODComponent kGlyphIndexComponents[] = { { 3, serialize::PODKind::Signed, 32 } };
inline constexpr serialize::PODTypeDescriptor kGlyphIndexDescriptor { 1, kGlyphIndexComponents };
inline constexpr serialize::PODComponent kI32Components[] = { { 1, serialize::PODKind::Signed, 32 } };
inline constexpr serialize::PODTypeDescriptor kI32Descriptor { 1, kI32Components };

// Reads the Font chunk into `font` (the page chunk after it is left to the
// caller). A stream whose next chunk is not a Font chunk, counts the stream
// cannot hold, and index records naming glyphs the font does not have are
// fatal.
void readFont(ByteSource& source, serialize::PODToken& token, Font& font);

// Loads bitmap fonts ("native" format) into the resource cache: the font and
// its page texture under the same asset id. The page is read on the loading
// thread; the texture takes it on the main thread.
class FontHandler : public assets::AssetHandler {
public:
    // Creates the font and its texture and reads the font and its page. A font
    // the cache already holds is left alone. A missing or malformed page is
    // fatal: "Failed to load bitmap font texture".
    void load(ByteSource& source, assets::AssetLoaderContext& context) override;
    // Hands the page to the texture, which becomes loaded.
    void finalize(assets::AssetLoaderContext& context) override;
    void describe(assets::AssetHandlerInfo& info) override;
};

} // namespace quern::graphics
