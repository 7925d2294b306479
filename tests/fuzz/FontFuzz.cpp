// The bitmap-font and texture-atlas readers on arbitrary bytes: the font
// chunk and its page through both tokens, then every region of an atlas block
// that was accepted is looked up by its own name.

#include "FuzzSupport.h"

#include "quern/graphics/Font.h"
#include "quern/graphics/NullPixelBuffer.h"
#include "quern/graphics/TextureAtlas.h"
#include "quern/graphics/serialization/FontSerialization.h"
#include "quern/graphics/serialization/PixelBufferSerialization.h"
#include "quern/io/StringSource.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/serialize/BinaryPODToken.h"
#include "quern/serialize/TextPODToken.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const quern::u8* data, std::size_t size)
{
    using namespace quern;
    fuzz::initialize();
    serialize::BinaryPODToken binary;
    serialize::TextPODToken text;
    for (serialize::PODToken* token :
        { static_cast<serialize::PODToken*>(&binary), static_cast<serialize::PODToken*>(&text) }) {
        fuzz::runGuarded([&] {
            Ref holder(new graphics::Font);
            graphics::Font& font = *holder.get<graphics::Font>();
            StringSource source(data, size);
            graphics::readFont(source, *token, font);
            // An accepted font measures without reading outside its tables.
            (void)font.getTextWidth("Az\xC3\xA9\n\xE2\x82\xAC", 13.0f, 1.0f, true);
            (void)font.getTextHeight("a\r\nb", 13.0f, 1.0f);
            Ref page(new graphics::NullPixelBuffer);
            graphics::readPixelBuffer(source, *token, *page.get<graphics::PixelBuffer>());
        });
    }
    fuzz::runGuarded([&] {
        memory::Allocator* allocator = memory::getDefaultAllocator();
        void* block = size ? allocator->allocate(size, 8) : nullptr;
        if (size)
            std::memcpy(block, data, size);
        Ref holder(new graphics::TextureAtlas);
        graphics::TextureAtlas& atlas = *holder.get<graphics::TextureAtlas>();
        atlas.setData(block, size, allocator);
        for (u64 i = 0; i < atlas.regionCount(); ++i)
            (void)atlas.findRegion(atlas.regionName(atlas.region(i)));
    });
    return 0;
}
