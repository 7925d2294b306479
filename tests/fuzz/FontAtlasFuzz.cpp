// The font atlas on arbitrary font bytes: a font that is accepted draws and
// measures text through every glyph kind (simple, missing, composite) and
// kerning, at a small and a large size.

#include "FuzzSupport.h"

#include "quern/fontatlas/FontAtlas.h"

extern "C" int LLVMFuzzerTestOneInput(const quern::u8* data, std::size_t size)
{
    using namespace quern;
    using namespace quern::fontatlas;
    fuzz::initialize();
    fuzz::runGuarded([&] {
        FontAtlasParams params;
        params.width = params.height = 256;
        FontAtlas* atlas = FontAtlas::create(params);
        if (!atlas)
            return;
        if (FontAtlas::addFont(atlas, "fuzz", data, static_cast<i32>(size)) == 0) {
            for (f32 pixels : { 14.0f, 90.0f }) {
                FontAtlas::getState(atlas)->size = pixels;
                FontAtlas::drawText(atlas, 0, 0, "ABCA\xC3\xA9z");
                (void)FontAtlas::measureText(atlas, 0, 0, "CBA", nullptr);
            }
        }
        FontAtlas::destroy(atlas);
    });
    return 0;
}
