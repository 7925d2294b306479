#include "quern/fontatlas/TrueTypeCheck.h"
#include "quern/fontatlas/FontAtlas.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <vector>

namespace quern::test {
namespace {

// A four-glyph font whose glyph 2 is one contour of a single off-curve point
// and whose glyph 3 places glyph 2 far to the left: the rasteriser would read
// the point after the lone one, past the outline, and take whatever lies there
// for a coordinate.
std::vector<u8> loneOffCurvePointFont()
{
    std::ifstream in(QUERN_TEST_SOURCE_DIR "/lone-off-curve-point.ttf", std::ios::binary);
    return std::vector<u8>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(TrueTypeCheck, ALoneOffCurvePointEndingTheOutlineIsRefusedAndSoIsWhatPlacesIt)
{
    const std::vector<u8> font = loneOffCurvePointFont();
    ASSERT_FALSE(font.empty());
    ASSERT_TRUE(fontatlas::checkTrueTypeFont(font.data(), font.size()));
    EXPECT_TRUE(fontatlas::checkTrueTypeGlyph(font.data(), font.size(), 1)); // no contours
    EXPECT_FALSE(fontatlas::checkTrueTypeGlyph(font.data(), font.size(), 2));
    EXPECT_FALSE(fontatlas::checkTrueTypeGlyph(font.data(), font.size(), 3));
}

TEST(TrueTypeCheck, TextInAFontWithARefusedOutlineDrawsWithoutIt)
{
    std::vector<u8> font = loneOffCurvePointFont();
    fontatlas::FontAtlasParams params;
    params.width = params.height = 256;
    fontatlas::FontAtlas* atlas = fontatlas::FontAtlas::create(params);
    ASSERT_NE(atlas, nullptr);
    ASSERT_EQ(fontatlas::FontAtlas::addFont(atlas, "lone", font.data(), static_cast<i32>(font.size())), 0);
    for (f32 pixels : { 14.0f, 90.0f }) {
        fontatlas::FontAtlas::getState(atlas)->size = pixels;
        EXPECT_TRUE(std::isfinite(fontatlas::FontAtlas::drawText(atlas, 0, 0, "ABCA\xC3\xA9z")));
    }
    fontatlas::FontAtlas::destroy(atlas);
}

} // namespace
} // namespace quern::test
